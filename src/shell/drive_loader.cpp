#include "shell/drive_loader.h"

#include <system_error>
#include <thread>
#include <utility>

#include "shell/controls.h"

namespace kavo::shell {

namespace {

constexpr int kWaitMargin = 140;  // the wait text stays clear of the bottom of the page

// The loader thread. It touches nothing the page owns: what it found goes with the message, and
// with the thread when the page is gone by then.
void Run(HWND page, UINT message, uintptr_t loadId, const CDriveLoader::Enumerate& enumerate) {
  DriveLoad load;
  enumerate(load);
  SendMessageW(page, message, loadId, reinterpret_cast<LPARAM>(&load));
}

}  // namespace

void CDriveLoader::Start(HWND page, Enumerate enumerate, Done done) {
  m_loading = true;
  m_done = std::move(done);
  if (m_holdsFrame) SetFrameEnabled(false);
  // Numbered across all loaders, so that an answer meant for an earlier page is known as such.
  static uintptr_t loads = 0;
  m_loadId = ++loads;
  try {
    std::thread(&Run, page, m_message, m_loadId, std::move(enumerate)).detach();
  } catch (const std::system_error&) {
    // No thread: the page shows what it has rather than waiting for ever.
    DriveLoad nothing;
    Finish(nothing);
  }
}

bool CDriveLoader::Receive(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    Stop();
    return false;
  }
  if (message != m_message) return false;
  if (m_loading && wParam == m_loadId) Finish(*reinterpret_cast<DriveLoad*>(lParam));
  return true;
}

void CDriveLoader::Finish(DriveLoad& load) {
  m_loading = false;
  const Done done = std::exchange(m_done, nullptr);
  if (done) done(load);
  if (m_holdsFrame) SetFrameEnabled(true);
  for (const platform::SystemNotice& notice : load.notices) {
    m_context.prompter.Ask(notice.text, notice.caption,
                           notice.error ? PromptIcon::Error : PromptIcon::Information,
                           PromptButtons::Ok);
  }
}

void CDriveLoader::Stop() {
  if (m_loading && m_holdsFrame) SetFrameEnabled(true);
  m_loading = false;
  m_done = nullptr;
}

void CDriveLoader::SetFrameEnabled(bool enabled) const {
  if (m_context.frame != nullptr) EnableWindow(m_context.frame, enabled ? TRUE : FALSE);
}

void CDriveLoader::PaintPage(HWND page) const {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(page, &paint);
  RECT client = ClientRect(page);
  FillColour(dc, client, kWhite);
  if (m_loading) {
    client.bottom = client.bottom > kWaitMargin ? client.bottom - kWaitMargin : 0;
    const HGDIOBJ old = SelectObject(dc, PageFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    DrawTextW(dc, kLoadingDrivesText, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
  }
  EndPaint(page, &paint);
}

void CDriveLoader::PaintAt(HDC dc, int x, int y) const {
  if (m_loading) {
    TextOutW(dc, x, y, kLoadingDrivesText, static_cast<int>(wcslen(kLoadingDrivesText)));
  }
}

}  // namespace kavo::shell

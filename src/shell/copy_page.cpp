#include "shell/copy_page.h"

#include "base/messages.h"
#include "copy/copy_setup.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

// Lets the threads of earlier jobs end (they are past their last message to the pages once a
// setup page shows), handling what they still send meanwhile.
void WaitForWorkers(ShellContext& context) {
  for (const HANDLE thread : context.workers) {
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
  }
}

}  // namespace

std::wstring DriveRecordText(const DriveRecord& record) {
  return Wide(DriveItemText(record.model, record.serialNumber, record.size));
}

void CCopyPage::OnCreated() {
  m_white = CreateSolidBrush(kWhite);
  CreateControls();
  for (const HWND list : Lists()) EnableWindow(list, FALSE);
  m_loader.Start(
      Handle(),
      [](DriveLoad& load) {
        EnumerateDriveRecords(load.records, true, load.notices);
        EnumerateVolumeRecords(load.records, load.notices);
      },
      [this](DriveLoad& load) { OnLoaded(load); });
}

void CCopyPage::OnLoaded(DriveLoad& load) {
  m_records = std::move(load.records);
  for (const HWND list : Lists()) {
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const DriveRecordPtr& r : m_records.physical) {
      const std::wstring text = DriveRecordText(*r);
      const auto at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
      if (at >= 0) SendMessageW(list, CB_SETITEMDATA, at, reinterpret_cast<LPARAM>(r.get()));
    }
    for (const DriveRecordPtr& r : m_records.volumes) {
      const std::wstring text = Wide(r->caption);
      const auto at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
      if (at >= 0) SendMessageW(list, CB_SETITEMDATA, at, reinterpret_cast<LPARAM>(r.get()));
    }
    EnableWindow(list, TRUE);
  }
  InvalidateRect(Handle(), nullptr, TRUE);
}

const DriveRecord* CCopyPage::Selected(HWND list, int* index) const {
  const auto at = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (index != nullptr) *index = static_cast<int>(at);
  if (at < 0) return nullptr;
  const auto data = SendMessageW(list, CB_GETITEMDATA, at, 0);
  if (data == CB_ERR || data == 0) return nullptr;
  return reinterpret_cast<const DriveRecord*>(data);
}

std::u16string CCopyPage::Selector(const DriveRecord& record) {
  if (record.physical == 0) return record.caption;
  // The digits that end the drive's device name; its index when the system gave no name.
  size_t first = record.name.size();
  while (first > 0 && record.name[first - 1] >= u'0' && record.name[first - 1] <= u'9') --first;
  if (first < record.name.size()) return record.name.substr(first);
  const std::string index = std::to_string(record.driveIndex);
  return {index.begin(), index.end()};
}

HWND CCopyPage::MakeControl(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y,
                            int width, int height, UINT id) {
  const HWND control = CreateWindowExW(
      0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, Handle(),
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  return control;
}

HBRUSH CCopyPage::ControlBrush(HWND, HDC dc) {
  SetBkColor(dc, kWhite);
  return m_white;
}

void CCopyPage::StartCopy(std::unique_ptr<CDiskCopy> source, std::unique_ptr<CDiskCopy> destination,
                          uint64_t startByte, uint64_t endByte) {
  WaitForWorkers(m_context);
  Session& session = m_context.session;
  ProgressRecord& record = session.StartJob();
  record.SetPosition(startByte);
  record.SetEnd(endByte);
  source->m_pDestination = destination.get();
  source->m_pProgress = &record;
  source->m_pPrompter = &m_context.prompter;
  m_context.copyEngines[0] = std::move(source);
  m_context.copyEngines[1] = std::move(destination);
  m_context.copySource = m_context.copyEngines[0].get();
  SendMessageW(m_context.router->Handle(), UM_COPY_START, 0, 0);
}

LRESULT CCopyPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_loader.Receive(message, wParam, lParam)) return 0;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(Handle(), &paint);
      const RECT rect = ClientRect(Handle());
      FillColour(dc, rect, kWhite);
      const HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 0));
      m_loader.PaintAt(dc, 50, 40);
      PaintTexts(dc);
      SelectObject(dc, old);
      EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      if (const HBRUSH brush =
              ControlBrush(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam))) {
        return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_DESTROY:
      if (m_white != nullptr) DeleteObject(m_white);
      m_white = nullptr;
      return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

void CCopySBar::OnBack() {
  SendMessageW(m_context.router->Handle(), UM_COPY_BACK, 0, 0);
}

void CCopySBar::OnNext() {
  const std::wstring page = m_context.router->CurrentPage();
  if (page == L"CImagingWnd" || page == L"CCloningWnd") {
    auto* copyPage = static_cast<CCopyPage*>(m_context.router->Page());
    if (!copyPage->Loading()) copyPage->OnNext();
  }
}

}  // namespace kavo::shell

#include "shell/strip_wnd.h"

#include "shell/controls.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr int kTitleLeft = 12;

}  // namespace

void CStripWnd::OnCreated() {
  const RECT rect = ClientRect(Handle());
  m_label = CreateWindowExW(0, L"STATIC", m_title.c_str(), WS_CHILD | WS_VISIBLE | SS_OWNERDRAW,
                            kTitleLeft, 0, rect.right > kTitleLeft ? rect.right - kTitleLeft : 0,
                            rect.bottom, Handle(), nullptr, nullptr, nullptr);
}

void CStripWnd::SetTitle(const std::wstring& title) {
  m_title = title;
  if (m_label != nullptr) SetWindowTextW(m_label, m_title.c_str());
  InvalidateRect(m_label, nullptr, TRUE);
}

LRESULT CStripWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(Handle(), &paint);
      PaintBarBackground(Handle(), dc);
      EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.hwndItem != m_label) break;
      FillColour(item.hDC, item.rcItem, kBarGrey);
      RECT rect = item.rcItem;
      const HGDIOBJ old = SelectObject(item.hDC, PageFont(true));
      SetBkMode(item.hDC, TRANSPARENT);
      SetTextColor(item.hDC, kWhite);
      DrawTextW(item.hDC, m_title.c_str(), -1, &rect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      SelectObject(item.hDC, old);
      return TRUE;
    }
    case WM_SIZE:
      MoveWindow(m_label, kTitleLeft, 0,
                 LOWORD(lParam) > kTitleLeft ? LOWORD(lParam) - kTitleLeft : 0, HIWORD(lParam),
                 TRUE);
      return 0;
    case WM_ERASEBKGND: return 1;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

#include "shell/strip_wnd.h"

#include "shell/controls.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

LRESULT CStripWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(Handle(), &paint);
    PaintBarBackground(Handle(), dc);
    RECT rect = ClientRect(Handle());
    if (!m_title.empty()) {
      rect.left += 12;
      const HGDIOBJ old = SelectObject(dc, PageFont(true));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, kWhite);
      DrawTextW(dc, m_title.c_str(), -1, &rect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      SelectObject(dc, old);
    }
    EndPaint(Handle(), &paint);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

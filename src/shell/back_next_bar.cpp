#include "shell/back_next_bar.h"

#include "shell/controls.h"

namespace kavo::shell {

void CBackNextBar::OnCreated() {
  CreateNorvelButton(Handle(), L"Back", m_backId, 0, 4, 100, 27);
  CreateNorvelButton(Handle(), L"Next", m_nextId, 0, 4, 100, 27);
  Place(ClientRect(Handle()).right);
}

void CBackNextBar::Place(int width) {
  const int next = width > m_nextRight ? width - m_nextRight : 0;
  const int back = width > m_nextRight + 110 ? width - m_nextRight - 110 : 0;
  SetWindowPos(GetDlgItem(Handle(), m_backId), nullptr, back, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetWindowPos(GetDlgItem(Handle(), m_nextId), nullptr, next, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

LRESULT CBackNextBar::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == m_backId) OnBack();
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == m_nextId) OnNext();
      return 0;
    case WM_DRAWITEM:
      if (DrawNorvelButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
      break;
    case WM_SIZE: Place(LOWORD(lParam)); return 0;
    case WM_ERASEBKGND:
      FillColour(reinterpret_cast<HDC>(wParam), ClientRect(Handle()), kBarGrey);
      return 1;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

#include "shell/back_next_bar.h"

#include "shell/controls.h"
#include "shell/page_helpers.h"

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
  if (const auto drawn = DrawBar(Handle(), message, wParam, lParam)) return *drawn;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == m_backId) OnBack();
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == m_nextId) OnNext();
      return 0;
    case WM_SIZE: Place(LOWORD(lParam)); return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

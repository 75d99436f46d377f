#include "shell/picture_page.h"

#include "shell/base_wnd.h"

namespace kavo::shell {

void CPicturePage::OnCreated() {
  const int centre = ClientRect(Handle()).right / 2;
  for (const PictureButton& b : m_buttons) {
    CreateNorvelButton(Handle(), b.text, b.id, centre + b.left, kButtonTop, kButtonWidth,
                       kButtonHeight, m_picture);
  }
}

void CPicturePage::Place(int width) {
  for (const PictureButton& b : m_buttons) {
    SetWindowPos(GetDlgItem(Handle(), static_cast<int>(b.id)), nullptr, width / 2 + b.left,
                 kButtonTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
}

LRESULT CPicturePage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      for (const PictureButton& b : m_buttons) {
        if (LOWORD(wParam) == b.id && HIWORD(wParam) == BN_CLICKED) {
          SendMessageW(m_context.router->Handle(), b.message, 0, 0);
          return 0;
        }
      }
      break;
    case WM_DRAWITEM:
      if (DrawNorvelButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
      break;
    case WM_SIZE: Place(LOWORD(lParam)); return 0;
    case WM_ERASEBKGND: {
      DrawPageBackground(reinterpret_cast<HDC>(wParam), ClientRect(Handle()));
      return 1;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

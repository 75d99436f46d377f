#include "shell/persist_wnd.h"

#include "base/messages.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"

namespace kavo::shell {

namespace {

constexpr int kButtonWidth = 70;
constexpr int kButtonHeight = 26;

}  // namespace

void CPersistWnd::OnCreated() {
  CreateNorvelButton(Handle(), L"Home", kHomeCommand, 0, 2, kButtonWidth, kButtonHeight);
  CreateNorvelButton(Handle(), L"Help", kHelpCommand, 0, 2, kButtonWidth, kButtonHeight);
  Place(ClientRect(Handle()).right);
}

void CPersistWnd::Place(int width) {
  SetWindowPos(GetDlgItem(Handle(), kHomeCommand), nullptr, width - 2 * (kButtonWidth + 6), 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  SetWindowPos(GetDlgItem(Handle(), kHelpCommand), nullptr, width - (kButtonWidth + 6), 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
}

LRESULT CPersistWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case UM_SIDE_STRIP: {
      const std::wstring page =
          m_context.router != nullptr ? m_context.router->CurrentPage() : std::wstring();
      const HWND home = GetDlgItem(Handle(), kHomeCommand);
      const bool hide = wParam == 1 || page == L"CHomeWnd" || page == L"CScanWnd";
      ShowWindow(home, hide ? SW_HIDE : SW_SHOW);
      if (!hide) EnableWindow(home, TRUE);
      return 0;
    }
    case WM_COMMAND:
      // Home and Help act on the whole program: the frame handles them.
      return SendMessageW(GetParent(Handle()), message, wParam, lParam);
    case WM_DRAWITEM:
      if (DrawNorvelButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
      break;
    case WM_SIZE: Place(LOWORD(lParam)); return 0;
    case WM_ERASEBKGND:
      FillColour(reinterpret_cast<HDC>(wParam), ClientRect(Handle()), RGB(18, 40, 80));
      return 1;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

#include "shell/tab_ctrl.h"

#include <commctrl.h>

namespace kavo::shell {

void CXTabCtrl::OnCreated() {
  const RECT rect = ClientRect(Handle());
  // Below the pages in the order of siblings, and clipped by them, so a page is not overdrawn.
  m_tabs = CreateWindowExW(0, WC_TABCONTROLW, L"",
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 0, 0, rect.right,
                           rect.bottom, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(m_tabs, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
}

void CXTabCtrl::AddTab(const wchar_t* title, HWND page) {
  m_titles.emplace_back(title);
  m_pages.push_back(page);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = m_titles.back().data();
  const int index = static_cast<int>(m_titles.size()) - 1;
  TabCtrl_InsertItem(m_tabs, index, &item);
  if (index == 0) TabCtrl_SetCurSel(m_tabs, 0);
  SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Layout();
  ShowSelected();
}

void CXTabCtrl::Select(int index) {
  TabCtrl_SetCurSel(m_tabs, index);
  ShowSelected();
}

void CXTabCtrl::ShowSelected() {
  const int selected = TabCtrl_GetCurSel(m_tabs);
  for (size_t i = 0; i < m_pages.size(); ++i) {
    ShowWindow(m_pages[i], static_cast<int>(i) == selected ? SW_SHOW : SW_HIDE);
  }
}

void CXTabCtrl::Layout() {
  const RECT rect = ClientRect(Handle());
  MoveWindow(m_tabs, 0, 0, rect.right, rect.bottom, TRUE);
  // The pages keep the same margin on the right and at the bottom as on the left.
  const int width = rect.right - 2 * kPageLeft;
  const int height = rect.bottom - kPageTop - kPageLeft;
  for (const HWND page : m_pages) {
    MoveWindow(page, kPageLeft, kPageTop, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
  }
}

LRESULT CXTabCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: Layout(); return 0;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.hwndFrom == m_tabs && header.code == TCN_SELCHANGE) {
        ShowSelected();
        return 0;
      }
      break;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

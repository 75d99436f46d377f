// A `TAVR_CXTabCtrl`: a row of tabs over the pages they switch between. Each tab has a title and
// a page window; the selected tab's page shows, placed 5 pixels from the left and 30 from the top
// of the tab strip's rectangle, and the other pages are hidden.
#pragma once

#include <string>
#include <vector>

#include "shell/window.h"

namespace kavo::shell {

class CXTabCtrl final : public Window {
 public:
  static constexpr int kPageLeft = 5;
  static constexpr int kPageTop = 30;

  // Adds a tab titled `title` for `page`, a child window of this one. The first tab added is
  // selected; the pages of the others are hidden.
  void AddTab(const wchar_t* title, HWND page);
  // Selects tab `index` and shows its page.
  void Select(int index);
  // The system's tab strip.
  HWND Tabs() const { return m_tabs; }

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void ShowSelected();
  void Layout();

  HWND m_tabs = nullptr;
  std::vector<std::wstring> m_titles;
  std::vector<HWND> m_pages;
};

}  // namespace kavo::shell

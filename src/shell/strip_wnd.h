// A plain bar of a page: the command bars and button bars that hold no controls of their own
// show a title on the bar colour.
#pragma once

#include <string>

#include "shell/window.h"

namespace kavo::shell {

class CStripWnd : public Window {
 public:
  explicit CStripWnd(std::wstring title) : m_title(std::move(title)) {}
  // Shows `title` instead: a page that keeps the bar of the page before names itself there.
  void SetTitle(const std::wstring& title);

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  std::wstring m_title;
  HWND m_label = nullptr;  // the title, drawn by the bar
};

}  // namespace kavo::shell

// A plain bar of a page: the command bars and button bars that hold no controls of their own
// show a title on the bar colour.
#pragma once

#include <string>

#include "shell/window.h"

namespace kavo::shell {

class CStripWnd : public Window {
 public:
  explicit CStripWnd(std::wstring title) : m_title(std::move(title)) {}

 protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  std::wstring m_title;
};

}  // namespace kavo::shell

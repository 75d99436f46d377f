// A page of large picture buttons in one row, each sending a router message: the home page and
// the advanced-options page.
#pragma once

#include <vector>

#include "shell/controls.h"
#include "shell/shell_context.h"

namespace kavo::shell {

struct PictureButton {
  UINT id;
  const wchar_t* text;
  int left;  // from the page's horizontal centre
  UINT message;
};

class CPicturePage : public Window {
 public:
  static constexpr int kButtonWidth = 200;
  static constexpr int kButtonHeight = 320;
  static constexpr int kButtonTop = 40;

  CPicturePage(ShellContext& context, std::vector<PictureButton> buttons, ButtonPicture picture)
      : m_context(context), m_buttons(std::move(buttons)), m_picture(picture) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Place(int width);

  ShellContext& m_context;
  std::vector<PictureButton> m_buttons;
  ButtonPicture m_picture;
};

}  // namespace kavo::shell

// The home page: the four recovery operations, each a picture button.
#pragma once

#include "shell/picture_page.h"

namespace kavo::shell {

class CHomeWnd final : public CPicturePage {
 public:
  explicit CHomeWnd(ShellContext& context);
};

}  // namespace kavo::shell

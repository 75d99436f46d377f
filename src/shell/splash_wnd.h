// The advanced-options page: imaging, cloning and drive health.
#pragma once

#include "shell/picture_page.h"

namespace kavo::shell {

class CSplashWnd final : public CPicturePage {
 public:
  explicit CSplashWnd(ShellContext& context);
};

}  // namespace kavo::shell

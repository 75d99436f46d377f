// The strip along the top of the frame with the Home and Help buttons, shown on every page.
#pragma once

#include "shell/shell_context.h"

namespace kavo::shell {

inline constexpr UINT kHomeCommand = 1001;
inline constexpr UINT kHelpCommand = 1003;

class CPersistWnd final : public Window {
 public:
  explicit CPersistWnd(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Place(int width);

  ShellContext& m_context;
};

}  // namespace kavo::shell

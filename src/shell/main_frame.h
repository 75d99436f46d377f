// The main window: the strip with Home and Help on top and the page router below it. It asks
// before the program closes or goes home from a page with unsaved results.
#pragma once

#include <vector>

#include "shell/base_wnd.h"
#include "shell/persist_wnd.h"

namespace kavo::shell {

class CMainFrame final : public Window {
 public:
  static constexpr int kWidth = 1000;
  static constexpr int kHeight = 550;

  explicit CMainFrame(ShellContext& context)
      : m_context(context), m_strip(context), m_router(context) {}

  // Creates the frame with its strip and router, on the home page.
  bool CreateFrame();

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnClose();
  void OnHome();
  void OnHelp();
  bool AskToSavePartitions();

  ShellContext& m_context;
  CPersistWnd m_strip;
  CBaseWnd m_router;
  std::vector<HDEVNOTIFY> m_notifications;
};

}  // namespace kavo::shell

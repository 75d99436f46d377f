// The main window: the strip with Home and Help on top and the page router below it. It asks
// before the program closes or goes home from a page with unsaved results.
#pragma once

#include <vector>

#include "shell/base_wnd.h"
#include "shell/persist_wnd.h"

namespace kavo::shell {

// Sent by a job's thread to the frame with its results: lParam = the job's NodePtr, which the
// frame takes as the session's tree before the results page is shown.
inline constexpr UINT UM_JOB_RESULTS = WM_APP + 0x311;

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
  // Save dialogs for the result tree and the found partitions, written through the core.
  void OnSaveScan();
  void OnSavePartitions();
  void OnJobResults(NodePtr* tree);

  ShellContext& m_context;
  CPersistWnd m_strip;
  CBaseWnd m_router;
  std::vector<HDEVNOTIFY> m_notifications;
  // Trees replaced by a job's results, kept until the pages that showed them are freed.
  std::vector<NodePtr> m_oldTrees;
};

}  // namespace kavo::shell

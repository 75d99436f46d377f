// The results page's content pane: the children of the selected folder in a virtual report list,
// and the hand-over of a previewed file to the viewer.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>
#include <unordered_map>
#include <vector>

#include "shell/results_tree.h"

namespace kavo::shell {

// The list's own messages (its window is not the tree's, so the numbers may repeat the tree's).
inline constexpr UINT kNextFile = 32773;  // the viewer asks for the next file of the folder
inline constexpr UINT kPreviewTimer = 900;
inline constexpr UINT kPreviewCommand = 32771;

// The content of the selected folder: a virtual report list over the folder's children, so a
// folder of a million found files shows at once.
class TAVR_CNorvelList final : public Window {
 public:
  explicit TAVR_CNorvelList(ShellContext& context) : m_context(context) {}
  HWND Control() const { return m_list; }
  void SetTree(TAVR_CNorvelTree* tree) { m_tree = tree; }
  void Show(RecoveredNode* folder);
  // Shows `nodes` from any folders as the rows, a folder of their own (the finds of a search).
  void ShowNodes(std::vector<RecoveredNode*> nodes);
  // Selects, focuses and shows the row of `node`.
  void SelectRow(const RecoveredNode* node);

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  LRESULT OnNotify(NMHDR& header);
  void ToggleRow(int row);
  int FileIcon(const RecoveredNode& node);
  void Preview(RecoveredNode* node);
  void NextFile();
  bool ExtractForViewer(const RecoveredNode& node);
  void OnTimer();
  // Sends the previewed file's copy beside the program to the viewer, then deletes the copy.
  void HandOver(HWND viewer);

  ShellContext& m_context;
  HWND m_list = nullptr;
  TAVR_CNorvelTree* m_tree = nullptr;
  RecoveredNode* m_folder = nullptr;
  std::vector<RecoveredNode*> m_rows;
  std::unordered_map<std::wstring, int> m_icons;  // by upper-case extension
  RecoveredNode* m_previewed = nullptr;
};

// The Size column's text: "0 KB" for an empty file, else whole KB rounded up past the size,
// with the user's digit grouping.
std::wstring SizeText(uint64_t size);

}  // namespace kavo::shell

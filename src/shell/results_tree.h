// The results page's folder tree, and what its two panes share: the messages the panes and the
// page's bars exchange, the check-box pictures and the system's icons.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>
#include <unordered_set>
#include <vector>

#include "recovery/tree.h"
#include "shell/check_boxes.h"
#include "shell/shell_context.h"

namespace kavo::shell {

// Messages of the page's panes and bars.
inline constexpr UINT kShowRoot = 32769;        // tree: expand and select "Root"
inline constexpr UINT kPaneCommand = 32770;     // wParam one of the two below
inline constexpr WPARAM kShowNode = 32771;      // list: show children; tree: open the folder
inline constexpr WPARAM kMarksOfNode = 32772;   // list: refresh boxes; tree: a row changed
inline constexpr UINT kFillTree = 32773;        // tree: fill from the session's result tree
inline constexpr UINT kRunSearch = 32774;       // tree
inline constexpr UINT kListAllMatches = 32775;  // tree: every match of the search, in the list
inline constexpr UINT kMarksChanged = 1145;     // command bar; wParam = the root's mark
inline constexpr UINT kFindCaption = 1238;      // command bar; wParam 1 "Find Next", 0 "Find"

// The system's small-icon list, with the deleted-entry picture added once as overlay 1;
// `folderIcon` gets the folder's icon.
HIMAGELIST SystemIcons(int& folderIcon);
inline bool IsFolder(const RecoveredNode& node) {
  return (node.flags & NF_FOLDER) != 0;
}
// The overlay of a deleted entry's icon; 0 for a live one.
UINT Overlay(const RecoveredNode& node);

class TAVR_CNorvelList;

// The folder tree. Items carry their nodes; check boxes are state images 1, 2, 3 = mark + 1.
class TAVR_CNorvelTree final : public Window {
 public:
  explicit TAVR_CNorvelTree(ShellContext& context) : m_context(context) {}
  HWND Control() const { return m_tree; }
  void SetList(TAVR_CNorvelList* list) { m_list = list; }
  void MarkAll();
  void UnmarkAll();
  const TreeTotals& Totals() const { return m_totals; }

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  bool Fill();  // on the wait dialog's thread
  RecoveredNode* NodeOf(HTREEITEM item) const;
  HTREEITEM ChildItem(HTREEITEM parent, const RecoveredNode* node);  // inserts the children
  HTREEITEM ItemOf(const RecoveredNode* folder);                     // expands the way down
  HTREEITEM InsertFolder(RecoveredNode* node, HTREEITEM parent);
  // The folder items below `item`, once: when it first opens.
  void InsertChildren(HTREEITEM item);
  void Expand(HTREEITEM item);
  void ShowState(HTREEITEM item);
  void Toggle(HTREEITEM item);
  void RecomputeAncestors(HTREEITEM item);
  void RowChanged(RecoveredNode* node);
  void AfterChange();
  void Search();
  // The files the search text matches, in the order Find steps through them.
  std::vector<RecoveredNode*> Matches() const;
  void ListAllMatches();
  void ShowAllStates();
  LRESULT OnNotify(const NMHDR& header);

  ShellContext& m_context;
  HWND m_tree = nullptr;
  TAVR_CNorvelList* m_list = nullptr;
  TreeTotals m_totals;
  int m_folderIcon = 0;
  // The folders whose folder items are inserted.
  std::unordered_set<const RecoveredNode*> m_filled;
  // Find state: the text (upper case, from its first "*" on) and the files already shown.
  std::wstring m_search;
  std::unordered_set<const RecoveredNode*> m_found;
};

}  // namespace kavo::shell

// The results page: the folders of the result tree on the left, the content of the selected
// folder on the right, with check boxes that mark what to save, a search by extension, the
// preview of pictures in the viewer, and the saving of the marked files.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "recovery/tree.h"
#include "shell/back_next_bar.h"
#include "shell/shell_context.h"
#include "shell/splitter.h"

namespace kavo::shell {

// Messages of the page's panes and bars.
inline constexpr UINT kShowRoot = 32769;       // tree: expand and select "Root"
inline constexpr UINT kPaneCommand = 32770;    // wParam one of the two below
inline constexpr WPARAM kShowNode = 32771;     // list: show children; tree: open the folder
inline constexpr WPARAM kMarksOfNode = 32772;  // list: refresh boxes; tree: a row changed
inline constexpr UINT kFillOrNext = 32773;     // tree: fill; list: next file for the viewer
inline constexpr UINT kRunSearch = 32774;      // tree
inline constexpr UINT kMarkAllNodes = 1143;    // page
inline constexpr UINT kUnmarkAllNodes = 1144;  // page
inline constexpr UINT kMarksChanged = 1145;    // command bar; wParam = the root's mark
inline constexpr UINT kFindCaption = 1238;     // command bar; wParam 1 "Find Next", 0 "Find"
inline constexpr UINT kStartSearch = 1239;     // page; lParam = the search text
inline constexpr UINT kPreviewTimer = 900;

inline constexpr UINT kResultsMarkAll = 501, kResultsUnmarkAll = 502, kResultsFind = 503;
inline constexpr UINT kResultsSearchText = 500;
inline constexpr UINT kResultsNext = 503, kResultsBack = 504;
inline constexpr UINT kPreviewCommand = 32771;

inline constexpr wchar_t kSearchPlaceholder[] = L"for example, *.txt";
inline constexpr wchar_t kSaveScanQuestion[] =
    L"Would you like to save current scan info ? It could be reloaded later.";

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
  HTREEITEM ItemOf(const RecoveredNode* folder);  // expands the way down
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

// The content of the selected folder: a virtual report list over the folder's children, so a
// folder of a million found files shows at once.
class TAVR_CNorvelList final : public Window {
 public:
  explicit TAVR_CNorvelList(ShellContext& context) : m_context(context) {}
  HWND Control() const { return m_list; }
  void SetTree(TAVR_CNorvelTree* tree) { m_tree = tree; }
  void Show(RecoveredNode* folder);
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

  ShellContext& m_context;
  HWND m_list = nullptr;
  TAVR_CNorvelTree* m_tree = nullptr;
  RecoveredNode* m_folder = nullptr;
  std::vector<RecoveredNode*> m_rows;
  std::unordered_map<std::wstring, int> m_icons;  // by upper-case extension
  RecoveredNode* m_previewed = nullptr;
};

class CTreeListWnd final : public Window {
 public:
  explicit CTreeListWnd(ShellContext& context)
      : m_context(context), m_splitter(CExtndSplitterWnd::Split::Columns, 250) {}
  // Asks for a destination folder and saves the marked files there with a progress dialog.
  void SaveMarkedFiles();

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  ShellContext& m_context;
  // The folder tree (initially 250 pixels wide) and the folder's content, side by side; the two
  // panes are the splitter's, and each knows the other.
  CExtndSplitterWnd m_splitter;
  TAVR_CNorvelTree* m_tree = nullptr;
  TAVR_CNorvelList* m_list = nullptr;
};

// The search text box, "Find", "Mark All" and "Unmark All".
class CTreeListCmdWnd final : public Window {
 public:
  explicit CTreeListCmdWnd(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Find();
  ShellContext& m_context;
};

// "Next" (save the marked files) and "Back".
class CTreeListSBar final : public CBackNextBar {
 public:
  explicit CTreeListSBar(ShellContext& context)
      : CBackNextBar(kResultsBack, kResultsNext, 110), m_context(context) {}

 protected:
  // Both first offer to save the scan info; Next then saves the marked files, Back frees the
  // tree and goes back to the drive list.
  void OnBack() override;
  void OnNext() override;

 private:
  void AskToSaveScanInfo();
  ShellContext& m_context;
};

// The Size column's text: "0 KB" for an empty file, else whole KB rounded up past the size,
// with the user's digit grouping.
std::wstring SizeText(uint64_t size);

}  // namespace kavo::shell

// The results page: the folders of the result tree on the left, the content of the selected
// folder on the right, with check boxes that mark what to save, a search by extension, the
// preview of pictures in the viewer, and the saving of the marked files. The panes are in
// results_tree.h and results_list.h; here are the page and its two bars.
#pragma once

#include <windows.h>

#include "shell/back_next_bar.h"
#include "shell/results_list.h"
#include "shell/shell_context.h"
#include "shell/splitter.h"

namespace kavo::shell {

// Messages of the page.
inline constexpr UINT kMarkAllNodes = 1143;    // page
inline constexpr UINT kUnmarkAllNodes = 1144;  // page
inline constexpr UINT kStartSearch = 1239;     // page; lParam = the search text
inline constexpr UINT kShowAllMatches = 1250;  // page; lParam = the search text

// Control ids of the command bar.
inline constexpr UINT kResultsSearchText = 500;
inline constexpr UINT kResultsMarkAll = 501, kResultsUnmarkAll = 502, kCommandBarFind = 503;
inline constexpr UINT kResultsShowAll = 505;
// Control ids of the button bar, a window of its own: its ids may repeat the command bar's.
inline constexpr UINT kButtonBarNext = 503, kButtonBarBack = 504;

inline constexpr wchar_t kSearchPlaceholder[] = L"for example, *.txt";
inline constexpr wchar_t kSaveScanQuestion[] =
    L"Would you like to save current scan info ? It could be reloaded later.";

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

// The search text box, "Find", "Mark All", "Unmark All" and "Show all" (every match of the
// search listed at once).
class CTreeListCmdWnd final : public Window {
 public:
  explicit CTreeListCmdWnd(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // The search text as the search takes it (upper case, from its first "*" on); empty after
  // telling the user that there is none.
  std::wstring SearchText();
  void Find();
  void ShowAll();
  ShellContext& m_context;
};

// "Next" (save the marked files) and "Back".
class CTreeListSBar final : public CBackNextBar {
 public:
  explicit CTreeListSBar(ShellContext& context)
      : CBackNextBar(kButtonBarBack, kButtonBarNext, 110), m_context(context) {}

 protected:
  // Both first offer to save the scan info; Next then saves the marked files, Back frees the
  // tree and goes back to the drive list.
  void OnBack() override;
  void OnNext() override;

 private:
  void AskToSaveScanInfo();
  ShellContext& m_context;
};

}  // namespace kavo::shell

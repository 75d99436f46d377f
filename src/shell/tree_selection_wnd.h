// The format-selection page: the catalogue of formats as a check-box tree, the command bar with
// Mark All and Unmark All, and the button bar with Next and Back. When the page closes, the
// ticked formats become the formats of the next signature scan.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <utility>
#include <vector>

#include "scanners/catalogue.h"
#include "shell/back_next_bar.h"
#include "shell/shell_context.h"

namespace kavo::shell {

// Messages of the page and its bars.
inline constexpr UINT kSelectAllFormats = WM_USER + 119;      // 1143: tick every format
inline constexpr UINT kClearAllFormats = WM_USER + 120;       // 1144: clear every format
inline constexpr UINT kFormatTreeChanged = WM_USER + 121;     // 1145: wParam = the tree
inline constexpr UINT kCountSelectedFormats = WM_USER + 217;  // 1241: returns the count
inline constexpr UINT kFormatsNextCommand = 3001;
inline constexpr UINT kFormatsBackCommand = 3002;
inline constexpr UINT kMarkAllCommand = 3011;
inline constexpr UINT kUnmarkAllCommand = 3012;

inline constexpr wchar_t kNoFormatSelected[] =
    L"You have not selected any file format. Please select file formats.";

// The check-box tree over a FormatCatalogue: a tree-view control whose items carry their
// catalogue items. A click on a check box (or the space bar on the selected item) toggles the
// item in the catalogue and redraws every box from it; the control never toggles a box itself.
class CSignatureTreeWnd {
 public:
  CSignatureTreeWnd() = default;
  CSignatureTreeWnd(const CSignatureTreeWnd&) = delete;
  CSignatureTreeWnd& operator=(const CSignatureTreeWnd&) = delete;
  ~CSignatureTreeWnd();

  // Creates the control under `parent` and fills it with the catalogue, the root expanded.
  // `notify` is told (1145, wParam = the tree) after every change of a check state.
  bool Create(HWND parent, const RECT& rect, HWND notify);
  HWND Handle() const { return m_hwnd; }

  void SelectAll();
  void ClearAll();
  uint32_t CountSelected() const { return m_catalogue.CountSelected(); }
  // The texts of the ticked formats, in tree order.
  std::vector<std::u16string> SelectedFormats() const;
  // Destroys the control (its scanners go with the catalogue).
  void Destroy();

 private:
  static LRESULT CALLBACK Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR self);
  void Fill();
  HTREEITEM Insert(CatalogueItem& item, HTREEITEM parent, int icon);
  void Toggle(HTREEITEM item);
  // Shows every item's check box as its catalogue item's state, then tells the page.
  void ShowStates();
  // True when the point of a mouse message is on an item's check box; that item in `hit`.
  bool OnCheckBox(LPARAM point, HTREEITEM& hit) const;

  HWND m_hwnd = nullptr;
  HWND m_notify = nullptr;
  HIMAGELIST m_states = nullptr;
  FormatCatalogue m_catalogue;
  std::vector<std::pair<HTREEITEM, CatalogueItem*>> m_items;
};

// The picture beside the tree, stretched over its window.
class CSignatureContentWnd final : public Window {
 protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class CTreeSelectionWnd final : public Window {
 public:
  static constexpr int kTreeWidth = 400;

  explicit CTreeSelectionWnd(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  ShellContext& m_context;
  CSignatureTreeWnd m_tree;
  CSignatureContentWnd m_content;
};

// "Mark All" and "Unmark All", enabled by the root's check state.
class CTreeSelectionCmdWnd final : public Window {
 public:
  explicit CTreeSelectionCmdWnd(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  ShellContext& m_context;
};

// "Next" and "Back".
class CTreeSelectionSBar final : public CBackNextBar {
 public:
  explicit CTreeSelectionSBar(ShellContext& context)
      : CBackNextBar(kFormatsBackCommand, kFormatsNextCommand, 110), m_context(context) {}

 protected:
  void OnBack() override;
  void OnNext() override;

 private:
  ShellContext& m_context;
};

// The window of the current page, or null.
HWND CurrentPageWindow(const ShellContext& context);
// The window of the current command bar, or null.
HWND CurrentCommandBar(const ShellContext& context);

}  // namespace kavo::shell

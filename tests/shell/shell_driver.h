// Drives Kavo.exe from outside, as a user or the system could: starts it, finds its windows by
// their names, sends them messages, clicks buttons and reads and answers message boxes.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>
#include <vector>

namespace kavo::test {

// A message box of the program: its caption, its text and its window.
struct MessageBoxSeen {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
};

// An item of another process's tree-view control as its user sees it.
struct TreeItemSeen {
  HTREEITEM item = nullptr;
  std::wstring text;
  int checkState = 0;  // the state picture: 1 clear, 2 ticked, 3 partly ticked (0 none)
  int image = -1;      // the icon's index in the control's image list
  int depth = 0;       // 0 for the top items
};

class ShellDriver {
 public:
  explicit ShellDriver(std::wstring program) : m_program(std::move(program)) {}
  ~ShellDriver();
  ShellDriver(const ShellDriver&) = delete;
  ShellDriver& operator=(const ShellDriver&) = delete;

  // Starts the program and waits for its main window; false when it does not appear.
  bool Start();
  // Starts another copy of the program (its process only, no window awaited).
  HANDLE StartAnother();
  // Waits up to `ms` for the program to end; its exit code, or -1 while it still runs.
  int WaitForExit(DWORD ms);

  HWND Frame() const { return m_frame; }
  // The first window below the frame named `name` (at any depth), or null.
  HWND Find(const std::wstring& name) const;
  // The window name of the child of holder `holder` ("CActiveToolWnd"), or empty.
  std::wstring HolderChild(const std::wstring& holder) const;
  // The control `id` below window `parent`.
  HWND Control(HWND parent, int id) const { return GetDlgItem(parent, id); }

  // Sends `message` to the router and waits for it to be handled.
  LRESULT ToRouter(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // Posts a click to a button, as a user's click arrives.
  void Click(HWND button);
  // Lets the program handle what is queued.
  void Settle();

  // Waits up to `ms` for a message box of process `process` (the program's when null).
  MessageBoxSeen WaitForMessageBox(DWORD ms, HANDLE process = nullptr);
  // Presses button `id` (IDOK, IDYES, IDNO) of a message box.
  void Answer(const MessageBoxSeen& box, int id);

  // Every item of tree-view control `tree`, in tree order (collapsed branches included).
  std::vector<TreeItemSeen> TreeItems(HWND tree) const;
  // Clicks the check box of `item` in `tree` as the mouse does; false when the item shows none.
  bool ClickTreeCheckBox(HWND tree, HTREEITEM item);
  // Waits up to `ms` for a file dialog of the program, types `path` as the file name and presses
  // its Open button, as a user would. False when no file dialog appeared.
  bool AnswerFileDialog(DWORD ms, const std::wstring& path);

  // The texts of the first `columns` columns of every item of list view `list`, read from the
  // program's memory as the list view hands them out.
  std::vector<std::vector<std::wstring>> ListRows(HWND list, int columns) const;

  // Presses and releases key `key` in window `hwnd` (which has the keyboard focus meanwhile).
  void PressKey(HWND hwnd, UINT key);

  // Clicks row `row` of list view `list` as the mouse does; false when the row is not shown.
  bool ClickListRow(HWND list, int row);
  // Clicks the check box of row `row` of list view `list` as the mouse does; false when the row
  // shows none.
  bool ClickListCheckBox(HWND list, int row);

  // The titles of the tabs of tab control `tabs`, read from the program's memory.
  std::vector<std::wstring> TabTitles(HWND tabs) const;
  // Clicks tab `tab` of tab control `tabs` as the mouse does; false when it is not shown.
  bool ClickTab(HWND tabs, int tab);

 private:
  std::wstring m_program;
  PROCESS_INFORMATION m_process{};
  HWND m_frame = nullptr;
};

// The window text of `hwnd`.
std::wstring TextOf(HWND hwnd);

// The first child of `parent` (at any depth) of window class `cls`, or null.
HWND ChildOfClass(HWND parent, const std::wstring& cls);

// A file dialog of the program as its user sees it: the proposed file name and the chosen
// file type's text.
struct FileDialogSeen {
  HWND window = nullptr;
  std::wstring fileName;
  std::wstring fileType;
};

// Waits up to `ms` for a file dialog of `kavo`'s program and reads it, leaving it open.
FileDialogSeen WaitForFileDialog(ShellDriver& kavo, DWORD ms);

}  // namespace kavo::test

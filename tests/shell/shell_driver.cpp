#include "shell/shell_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

namespace kavo::test {

namespace {

struct Search {
  std::wstring name;
  HWND found = nullptr;
};

BOOL CALLBACK FindByName(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  if (TextOf(hwnd) == search->name) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

struct BoxSearch {
  DWORD process = 0;
  HWND found = nullptr;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process == search->process && std::wstring(cls) == L"#32770" && IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK LongestStatic(HWND hwnd, LPARAM lParam) {
  auto* text = reinterpret_cast<std::wstring*>(lParam);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (_wcsicmp(cls, L"Static") == 0) {
    std::wstring t = TextOf(hwnd);
    if (t.size() > text->size()) *text = std::move(t);
  }
  return TRUE;
}

// A block of memory in the process of window `hwnd`, for the messages whose parameters point to
// memory that the control reads or writes.
class RemoteBlock {
 public:
  RemoteBlock(HWND hwnd, size_t bytes) : m_bytes(bytes) {
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    m_process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
    if (m_process != nullptr) {
      m_address = VirtualAllocEx(m_process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    }
  }
  ~RemoteBlock() {
    if (m_address != nullptr) VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    if (m_process != nullptr) CloseHandle(m_process);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  bool Usable() const { return m_address != nullptr; }
  char* At(size_t offset) const { return static_cast<char*>(m_address) + offset; }
  bool Write(size_t offset, const void* data, size_t bytes) const {
    return offset + bytes <= m_bytes &&
           WriteProcessMemory(m_process, At(offset), data, bytes, nullptr) != FALSE;
  }
  bool Read(size_t offset, void* data, size_t bytes) const {
    return offset + bytes <= m_bytes &&
           ReadProcessMemory(m_process, At(offset), data, bytes, nullptr) != FALSE;
  }

 private:
  HANDLE m_process = nullptr;
  void* m_address = nullptr;
  size_t m_bytes;
};

// A list view's or tab control's item text: `item` (an LVITEMW or TCITEMW) and its text buffer
// live in the program's memory, in `block` of RemoteTextBytes<Item>(), where the control writes
// the text on `message` for item `index`.
constexpr size_t kRemoteTextUnits = 512;
template <typename Item>
constexpr size_t RemoteTextBytes() {
  return sizeof(Item) + kRemoteTextUnits * sizeof(wchar_t);
}
template <typename Item>
std::wstring RemoteText(const RemoteBlock& block, HWND control, UINT message, int index,
                        Item item) {
  item.pszText = reinterpret_cast<wchar_t*>(block.At(sizeof item));
  item.cchTextMax = kRemoteTextUnits;
  wchar_t text[kRemoteTextUnits] = {};
  block.Write(0, &item, sizeof item);
  block.Write(sizeof item, text, sizeof text);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(control, message, index, reinterpret_cast<LPARAM>(block.At(0)),
                      SMTO_ABORTIFHUNG, 2000, &ignored);
  block.Read(sizeof item, text, sizeof text);
  text[kRemoteTextUnits - 1] = L'\0';
  return text;
}

// Posts a mouse click to the middle of item `index` of `control`, whose rectangle the control
// writes on `message` into `rect` (which may say what part of the item is wanted).
bool ClickItem(HWND control, UINT message, int index, RECT rect) {
  const RemoteBlock block(control, sizeof rect);
  if (!block.Write(0, &rect, sizeof rect) ||
      SendMessageW(control, message, index, reinterpret_cast<LPARAM>(block.At(0))) == 0 ||
      !block.Read(0, &rect, sizeof rect)) {
    return false;
  }
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(control, WM_LBUTTONUP, 0, at);
  return true;
}

HTREEITEM NextTreeItem(HWND tree, UINT relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

struct ClassSearch {
  std::wstring cls;
  HWND found = nullptr;
};

BOOL CALLBACK FindByClass(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<ClassSearch*>(lParam);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (_wcsicmp(cls, search->cls.c_str()) == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The file-name field of a file dialog: the combo box of the Explorer-style dialog, the edit
// field of the old one.
HWND FileNameField(HWND dialog) {
  constexpr int kFileNameCombo = 0x47C;  // cmb13
  constexpr int kFileNameEdit = 0x480;   // edt1
  if (const HWND combo = GetDlgItem(dialog, kFileNameCombo)) {
    const HWND edit = ChildOfClass(combo, L"Edit");
    return edit != nullptr ? edit : combo;
  }
  return GetDlgItem(dialog, kFileNameEdit);
}

}  // namespace

HWND ChildOfClass(HWND parent, const std::wstring& cls) {
  ClassSearch search{cls};
  EnumChildWindows(parent, &FindByClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[512] = {};
  // Another process's window: WM_GETTEXT crosses the process, GetWindowText would not.
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                      &copied);
  return text;
}

ShellDriver::~ShellDriver() {
  if (m_process.hProcess != nullptr) {
    if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(m_process.hProcess, 1);
      WaitForSingleObject(m_process.hProcess, 5000);
    }
    CloseHandle(m_process.hProcess);
    CloseHandle(m_process.hThread);
  }
}

bool ShellDriver::Start() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring line = L"\"" + m_program + L"\"";
  if (!CreateProcessW(m_program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &m_process)) {
    return false;
  }
  for (int i = 0; i < 200 && m_frame == nullptr; ++i) {
    Sleep(50);
    HWND hwnd = nullptr;
    while ((hwnd = FindWindowExW(nullptr, hwnd, L"KavoWindow", L"Kavo")) != nullptr) {
      DWORD process = 0;
      GetWindowThreadProcessId(hwnd, &process);
      if (process == m_process.dwProcessId) m_frame = hwnd;
    }
  }
  if (m_frame != nullptr) Settle();
  return m_frame != nullptr;
}

HANDLE ShellDriver::StartAnother() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION other{};
  std::wstring line = L"\"" + m_program + L"\"";
  if (!CreateProcessW(m_program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &other)) {
    return nullptr;
  }
  CloseHandle(other.hThread);
  return other.hProcess;
}

int ShellDriver::WaitForExit(DWORD ms) {
  if (WaitForSingleObject(m_process.hProcess, ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(m_process.hProcess, &code);
  return static_cast<int>(code);
}

HWND ShellDriver::Find(const std::wstring& name) const {
  Search search{name};
  EnumChildWindows(m_frame, &FindByName, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring ShellDriver::HolderChild(const std::wstring& holder) const {
  const HWND h = Find(holder);
  if (h == nullptr) return L"<no " + holder + L">";
  const HWND child = GetWindow(h, GW_CHILD);
  return child != nullptr ? TextOf(child) : std::wstring();
}

LRESULT ShellDriver::ToRouter(UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(Find(L"CBaseWnd"), message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result);
  Settle();
  return static_cast<LRESULT>(result);
}

void ShellDriver::Click(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
  Settle();
}

void ShellDriver::Settle() {
  // A thread that fetches its next message takes the sent ones before the posted ones, so one
  // sent message may come back before a click posted just now is handled. Each round trip lets
  // the program's loop take at least one posted message first (a modal box that one of them opens
  // runs its own loop, which answers too), and a few cover the posts of one user action.
  constexpr int kRoundTrips = 4;
  for (int trip = 0; trip < kRoundTrips; ++trip) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(m_frame, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  }
}

MessageBoxSeen ShellDriver::WaitForMessageBox(DWORD ms, HANDLE process) {
  BoxSearch search{GetProcessId(process != nullptr ? process : m_process.hProcess)};
  for (DWORD waited = 0; waited <= ms && search.found == nullptr; waited += 50) {
    EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(50);
  }
  MessageBoxSeen box;
  box.window = search.found;
  if (box.window != nullptr) {
    box.caption = TextOf(box.window);
    EnumChildWindows(box.window, &LongestStatic, reinterpret_cast<LPARAM>(&box.text));
  }
  return box;
}

void ShellDriver::Answer(const MessageBoxSeen& box, int id) {
  PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.window, id)));
  Sleep(100);
}

std::vector<TreeItemSeen> ShellDriver::TreeItems(HWND tree) const {
  constexpr int kTextChars = 260;
  std::vector<TreeItemSeen> items;
  RemoteBlock block(tree, sizeof(TVITEMW) + kTextChars * sizeof(wchar_t));
  if (!block.Usable()) return items;
  // Depth first: an item, its children, then its next sibling.
  std::vector<std::pair<HTREEITEM, int>> pending;
  for (HTREEITEM top = NextTreeItem(tree, TVGN_ROOT, nullptr); top != nullptr;
       top = NextTreeItem(tree, TVGN_NEXT, top)) {
    pending.emplace_back(top, 0);
  }
  std::reverse(pending.begin(), pending.end());
  while (!pending.empty()) {
    const auto [item, depth] = pending.back();
    pending.pop_back();
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_IMAGE | TVIF_HANDLE;
    tv.hItem = item;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.pszText = reinterpret_cast<wchar_t*>(block.At(sizeof tv));
    tv.cchTextMax = kTextChars;
    wchar_t text[kTextChars] = {};
    block.Write(0, &tv, sizeof tv);
    block.Write(sizeof tv, text, sizeof text);
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.At(0)));
    block.Read(0, &tv, sizeof tv);
    block.Read(sizeof tv, text, sizeof text);
    text[kTextChars - 1] = 0;
    items.push_back(
        {item, text, static_cast<int>((tv.state & TVIS_STATEIMAGEMASK) >> 12), tv.iImage, depth});
    std::vector<std::pair<HTREEITEM, int>> children;
    for (HTREEITEM child = NextTreeItem(tree, TVGN_CHILD, item); child != nullptr;
         child = NextTreeItem(tree, TVGN_NEXT, child)) {
      children.emplace_back(child, depth + 1);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
  return items;
}

bool ShellDriver::ClickTreeCheckBox(HWND tree, HTREEITEM item) {
  SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
  RemoteBlock block(tree, sizeof(TVHITTESTINFO) + sizeof(RECT));
  if (!block.Usable()) return false;
  // The item's text rectangle; the check box lies to its left on the same row.
  // The message takes the item's handle in the rectangle's first bytes.
  RECT rect{};
  block.Write(0, &item, sizeof item);
  if (SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(block.At(0))) == 0) {
    return false;
  }
  block.Read(0, &rect, sizeof rect);
  const int y = (rect.top + rect.bottom) / 2;
  for (int x = rect.left - 1; x >= 0; --x) {
    TVHITTESTINFO test{};
    test.pt = {x, y};
    block.Write(0, &test, sizeof test);
    const auto hit = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(block.At(0))));
    block.Read(0, &test, sizeof test);
    if (hit == item && (test.flags & TVHT_ONITEMSTATEICON) != 0) {
      PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
      PostMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
      Settle();
      return true;
    }
  }
  return false;
}

bool ShellDriver::AnswerFileDialog(DWORD ms, const std::wstring& path) {
  HWND dialog = nullptr;
  HWND field = nullptr;
  for (DWORD waited = 0; waited <= ms && field == nullptr; waited += 50) {
    dialog = WaitForMessageBox(0).window;
    if (dialog != nullptr) field = FileNameField(dialog);
    if (field == nullptr) Sleep(50);
  }
  if (field == nullptr) return false;
  SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  for (DWORD waited = 0; waited <= 5000 && IsWindow(dialog); waited += 50) Sleep(50);
  Settle();
  return true;
}

std::vector<std::vector<std::wstring>> ShellDriver::ListRows(HWND list, int columns) const {
  std::vector<std::vector<std::wstring>> rows;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
  const RemoteBlock block(list, RemoteTextBytes<LVITEMW>());
  if (!block.Usable()) return rows;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    std::vector<std::wstring>& row = rows.emplace_back();
    for (int c = 0; c < columns; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      row.push_back(RemoteText(block, list, LVM_GETITEMTEXTW, i, item));
    }
  }
  return rows;
}

void ShellDriver::PressKey(HWND hwnd, UINT key) {
  PostMessageW(hwnd, WM_SETFOCUS, 0, 0);
  PostMessageW(hwnd, WM_KEYDOWN, key, 1);
  PostMessageW(hwnd, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
  Settle();
}

bool ShellDriver::ClickListRow(HWND list, int row) {
  SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
  // The message takes the part of the row wanted in the rectangle's left field.
  RECT label{};
  label.left = LVIR_LABEL;
  if (!ClickItem(list, LVM_GETITEMRECT, row, label)) return false;
  Settle();
  return true;
}

bool ShellDriver::ClickListCheckBox(HWND list, int row) {
  SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
  RemoteBlock block(list, sizeof(LVHITTESTINFO) + sizeof(RECT));
  if (!block.Usable()) return false;
  // The row's icon; the check box lies to its left.
  RECT icon{};
  icon.left = LVIR_ICON;
  if (!block.Write(0, &icon, sizeof icon) ||
      SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(block.At(0))) == 0 ||
      !block.Read(0, &icon, sizeof icon)) {
    return false;
  }
  const int y = (icon.top + icon.bottom) / 2;
  for (int x = icon.left - 1; x >= 0; --x) {
    LVHITTESTINFO test{};
    test.pt = {x, y};
    block.Write(0, &test, sizeof test);
    const auto hit = static_cast<int>(
        SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(block.At(0))));
    block.Read(0, &test, sizeof test);
    if (hit == row && (test.flags & LVHT_ONITEMSTATEICON) != 0) {
      PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
      PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
      Settle();
      return true;
    }
  }
  return false;
}

std::vector<std::wstring> ShellDriver::TabTitles(HWND tabs) const {
  const RemoteBlock block(tabs, RemoteTextBytes<TCITEMW>());
  const int count = block.Usable() ? static_cast<int>(TabCtrl_GetItemCount(tabs)) : 0;
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  std::vector<std::wstring> titles;
  for (int i = 0; i < count; ++i) titles.push_back(RemoteText(block, tabs, TCM_GETITEMW, i, item));
  return titles;
}

bool ShellDriver::ClickTab(HWND tabs, int tab) {
  if (!ClickItem(tabs, TCM_GETITEMRECT, tab, RECT{})) return false;
  Settle();
  return true;
}

FileDialogSeen WaitForFileDialog(ShellDriver& kavo, DWORD ms) {
  constexpr int kFileTypeCombo = 0x470;  // cmb1
  FileDialogSeen seen;
  for (DWORD waited = 0; waited <= ms; waited += 50) {
    const HWND dialog = kavo.WaitForMessageBox(0).window;
    if (const HWND field = dialog != nullptr ? FileNameField(dialog) : nullptr) {
      seen.window = dialog;
      seen.fileName = TextOf(field);
      seen.fileType = TextOf(GetDlgItem(dialog, kFileTypeCombo));
      return seen;
    }
    Sleep(50);
  }
  return seen;
}

}  // namespace kavo::test

#include "shell/shell_driver.h"

#include <commctrl.h>

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
  // A message sent after the posted ones returns once they are handled (a modal box that one of
  // them opens runs its own loop, which handles this message too).
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(m_frame, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
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
  constexpr size_t kUnits = 512;
  // The item and its text buffer live in the program, where the list view writes them.
  const size_t bytes = sizeof(LVITEMW) + kUnits * sizeof(wchar_t);
  auto* remote = static_cast<char*>(
      VirtualAllocEx(m_process.hProcess, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  if (remote == nullptr) return rows;
  auto* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
  for (int i = 0; i < static_cast<int>(count); ++i) {
    std::vector<std::wstring>& row = rows.emplace_back();
    for (int c = 0; c < columns; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      item.pszText = remoteText;
      item.cchTextMax = kUnits;
      wchar_t text[kUnits] = {};
      WriteProcessMemory(m_process.hProcess, remote, &item, sizeof item, nullptr);
      WriteProcessMemory(m_process.hProcess, remoteText, text, sizeof text, nullptr);
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote),
                          SMTO_ABORTIFHUNG, 2000, &ignored);
      ReadProcessMemory(m_process.hProcess, remoteText, text, sizeof text, nullptr);
      text[kUnits - 1] = L'\0';
      row.emplace_back(text);
    }
  }
  VirtualFreeEx(m_process.hProcess, remote, 0, MEM_RELEASE);
  return rows;
}

void ShellDriver::PressKey(HWND hwnd, UINT key) {
  PostMessageW(hwnd, WM_SETFOCUS, 0, 0);
  PostMessageW(hwnd, WM_KEYDOWN, key, 1);
  PostMessageW(hwnd, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
  Settle();
}

}  // namespace kavo::test

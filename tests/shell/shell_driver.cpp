#include "shell/shell_driver.h"

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

}  // namespace

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

}  // namespace kavo::test

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {
void (*g_onInterrupt)() = nullptr;
bool g_interrupted = false;

BOOL WINAPI HandleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupted) return FALSE;  // the second Ctrl-C ends the program
  g_interrupted = true;
  if (g_onInterrupt) g_onInterrupt();
  return TRUE;
}

HANDLE HandleOf(Stream stream) {
  return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}
}  // namespace

std::vector<std::u16string> CommandLineArguments(int, char**) {
  std::vector<std::u16string> args;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return args;
  for (int i = 1; i < count; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  LocalFree(argv);
  return args;
}

void Write(Stream stream, std::string_view utf8) {
  FILE* f = stream == Stream::Out ? stdout : stderr;
  if (IsTerminal(stream)) {
    // A console shows UTF-16 correctly whatever its code page.
    std::fflush(f);
    const std::u16string wide = Utf8ToUtf16(utf8);
    DWORD written = 0;
    WriteConsoleW(HandleOf(stream), wide.data(), static_cast<DWORD>(wide.size()), &written,
                  nullptr);
    return;
  }
  std::fwrite(utf8.data(), 1, utf8.size(), f);
  if (stream == Stream::Err) std::fflush(f);
}

bool IsTerminal(Stream stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

void OnInterrupt(void (*onInterrupt)()) {
  g_onInterrupt = onInterrupt;
  SetConsoleCtrlHandler(HandleControl, TRUE);
}

}  // namespace kavo::platform

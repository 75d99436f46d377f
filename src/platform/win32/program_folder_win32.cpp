#include <windows.h>

#include "platform/program_folder.h"

namespace kavo::platform {

std::filesystem::path ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, n);
  const size_t slash = file.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return file.substr(0, slash + 1);
}

}  // namespace kavo::platform

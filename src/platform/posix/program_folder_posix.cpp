#include <unistd.h>

#include <string>

#include "platform/program_folder.h"

namespace kavo::platform {

std::filesystem::path ProgramFolder() {
  std::string file(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", file.data(), file.size());
  if (n <= 0 || static_cast<size_t>(n) >= file.size()) return {};
  file.resize(static_cast<size_t>(n));
  const size_t slash = file.rfind('/');
  if (slash == std::string::npos) return {};
  return file.substr(0, slash + 1);
}

}  // namespace kavo::platform

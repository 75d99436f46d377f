#include "support/fixtures.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/process.h"
#include "support/test_paths.h"

namespace kavo::test {

std::filesystem::path FixturesDir(std::string& why) {
  if (const char* env = std::getenv("KAVO_FIXTURES"); env && *env) {
    std::string path = env;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
      for (char& c : path) c = c == '/' ? '\\' : c;
      path = "Z:" + path;
    }
#endif
    return path;
  }
#ifdef _WIN32
  why = "KAVO_FIXTURES is not set (tools/test-all.sh makes the images on the Linux side)";
  return {};
#else
  for (const char* tool : {"mkfs.fat", "mcopy", "sfdisk", "convert"}) {
    if (!HaveTool(tool)) {
      why = std::string(tool) + " is not installed";
      return {};
    }
  }
  // Made once per test program, removed when it ends.
  static ScratchDir dir;
  static const bool made = RunShell("bash '" + (ToolsDir() / "make-fixtures.sh").string() +
                                    "' '" + dir.path().string() + "' >/dev/null") == 0;
  if (!made) {
    why = "tools/make-fixtures.sh failed";
    return {};
  }
  return dir.path();
#endif
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kavo::test

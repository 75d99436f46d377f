// Scratch folders and helper-tool paths for tests.
#pragma once

#include <filesystem>
#include <string>

namespace kavo::test {

// A fresh folder under the system's temporary folder, removed when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

// The project's tools/ folder (scripts that build test images).
std::filesystem::path ToolsDir();

// Writes `bytes` bytes of a repeating pattern to a new file.
void WritePatternFile(const std::filesystem::path& path, uint64_t bytes);

}  // namespace kavo::test

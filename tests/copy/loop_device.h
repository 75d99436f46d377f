// Real block devices for copy tests (Linux): volume images made by the real formatters, attached
// as loop devices and detached again when the test ends.
#pragma once

#ifndef _WIN32

#include <filesystem>
#include <fstream>
#include <string>

#include "support/process.h"

namespace kavo::test {

inline std::u16string Utf16(const std::string& ascii) {
  return {ascii.begin(), ascii.end()};
}

inline std::string Quoted(const std::filesystem::path& p) {
  return "'" + p.string() + "'";
}

// The first line a shell command prints, or empty when it fails.
inline std::string ShellLine(const std::string& command, const std::filesystem::path& scratch) {
  const auto out = scratch / "shell-line.txt";
  if (RunShell(command + " > " + Quoted(out) + " 2>/dev/null") != 0) return {};
  std::ifstream in(out);
  std::string line;
  std::getline(in, line);
  return line;
}

class LoopDevice {
 public:
  // Attaches `file`; when that is not possible, path() is empty and `why` says so.
  LoopDevice(const std::filesystem::path& file, const std::filesystem::path& scratch,
             std::string& why) {
    if (!HaveTool("losetup")) {
      why = "losetup is not installed";
      return;
    }
    m_path = ShellLine("losetup -f --show " + Quoted(file), scratch);
    if (m_path.empty()) why = "no loop device could be attached (needs root and loop support)";
  }
  ~LoopDevice() {
    if (!m_path.empty()) RunShell("losetup -d " + m_path + " 2>/dev/null");
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// A FAT16 volume image of `megabytes` MiB holding a few files and a folder, made with mkfs.fat
// and mcopy. False when the tools are missing or fail.
inline bool MakeFatVolume(const std::filesystem::path& image, int megabytes,
                          const std::filesystem::path& scratch) {
  if (!HaveTool("mkfs.fat") || !HaveTool("mcopy")) return false;
  const auto tree = scratch / "fat-tree";
  std::filesystem::create_directories(tree / "Docs");
  {
    std::ofstream(tree / "readme.txt") << "a file on a cloned volume\n";
    std::ofstream big(tree / "Docs" / "numbers.dat", std::ios::binary);
    for (int i = 0; i < 200000; ++i) big << i << ',';
  }
  return RunShell("truncate -s " + std::to_string(megabytes) + "M " + Quoted(image) +
                  " && mkfs.fat -F 16 " + Quoted(image) + " >/dev/null && MTOOLS_SKIP_CHECK=1 " +
                  "mcopy -s -i " + Quoted(image) + " " + Quoted(tree / "readme.txt") + " " +
                  Quoted(tree / "Docs") + " ::/") == 0;
}

}  // namespace kavo::test

#endif  // _WIN32

#include "support/test_paths.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <vector>

namespace kavo::test {

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  m_path = std::filesystem::temp_directory_path() /
           ("kavo-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(m_path);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path ToolsDir() { return KAVO_TOOLS_DIR; }

void WritePatternFile(const std::filesystem::path& path, uint64_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block(1 << 16);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + (i >> 9));
  while (bytes > 0) {
    const auto n = static_cast<std::streamsize>(std::min<uint64_t>(bytes, block.size()));
    out.write(block.data(), n);
    bytes -= static_cast<uint64_t>(n);
  }
}

}  // namespace kavo::test

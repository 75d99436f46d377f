// Reads each image given on the command line from start to end through the sector source, 1 MiB
// at a time, and prints its rate in MB/s (10^6 bytes per second), best of ROUNDS passes (default
// 3). Usage: container_read_bench IMAGE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  const char* rounds = std::getenv("ROUNDS");
  const int passes = rounds ? std::max(1, std::atoi(rounds)) : 3;
  std::vector<uint8_t> buffer(1 << 20);
  for (int i = 1; i < argc; ++i) {
    kavo::CDisk disk;
    disk.m_nSourceKind = kavo::SourceKind::ImageFile;
    if (!disk.Open(kavo::platform::Utf8ToUtf16(argv[i]))) {
      std::fprintf(stderr, "%s: %s\n", argv[i], kavo::OpenFailureText(disk).c_str());
      return 1;
    }
    const uint64_t bytes = disk.m_nTotalSectors * disk.m_nSectorSize;
    double best = 0;
    for (int pass = 0; pass < passes; ++pass) {
      const auto start = std::chrono::steady_clock::now();
      for (uint64_t at = 0; at < bytes; at += buffer.size()) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), bytes - at));
        if (!disk.ReadSectors(buffer.data(), n, at / disk.m_nSectorSize)) {
          std::fprintf(stderr, "%s: read failed at byte %llu\n", argv[i],
                       static_cast<unsigned long long>(at));
          return 1;
        }
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best = std::max(best, static_cast<double>(bytes) / took.count() / 1e6);
    }
    std::printf("%-40s %10.0f MB/s\n", argv[i], best);
  }
  return 0;
}

// Writes an NTFS volume image whose MFT holds FILES file records spread over FOLDERS folders
// below the root, for measuring the memory of a listing of millions of entries.
//
//   make_big_mft IMAGE FILES [FOLDERS]   (FOLDERS default 1000)
//
// 4096-byte clusters and 1024-byte records; the MFT starts at cluster 4 and is one run. Each file
// record has a standard information, a file name of 12 characters and 100 resident data bytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "recovery/ntfs/synthetic_ntfs.h"

namespace {

using kavo::test::Bytes;
using kavo::test::RecordBuilder;

constexpr uint32_t kCluster = 4096;
constexpr uint32_t kRecord = 1024;
constexpr uint64_t kMftCluster = 4;
constexpr uint32_t kFirstFolder = 16;

std::u16string Name(const char* prefix, uint64_t number) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%08llu.txt", prefix, static_cast<unsigned long long>(number));
  return {text, text + std::char_traits<char>::length(text)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s IMAGE FILES [FOLDERS]\n", argv[0]);
    return 2;
  }
  const uint64_t files = std::strtoull(argv[2], nullptr, 10);
  const uint64_t folders = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1000;
  if (folders == 0) return 2;
  const uint64_t records = kFirstFolder + folders + files;
  const uint64_t mftClusters = (records * kRecord + kCluster - 1) / kCluster;
  const uint64_t clusters = kMftCluster + mftClusters + 16;

  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const Bytes mft =
      RecordBuilder(0)
          .StandardInformation(0, 0)
          .FileName(5, u"$MFT")
          .NonResident(0x80, kavo::test::RunPairs({{mftClusters, kMftCluster}}), records * kRecord)
          .Build();
  Bytes head(kMftCluster * kCluster, 0);
  uint8_t* b = head.data();
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  std::memcpy(b + 3, "NTFS    ", 8);
  kavo::StoreLe16(b + 0x0B, 512);
  b[0x0D] = kCluster / 512;
  kavo::StoreLe16(b + 0x24, 0x80);
  kavo::StoreLe64(b + 0x28, clusters * (kCluster / 512) - 1);
  kavo::StoreLe64(b + 0x30, kMftCluster);
  kavo::StoreLe64(b + 0x38, 2);
  b[0x40] = 0xF6;
  b[0x44] = 1;
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  std::memcpy(b + 2 * kCluster, mft.data(), mft.size());
  std::fwrite(head.data(), 1, head.size(), out);

  Bytes chunk;
  chunk.reserve(4 << 20);
  const Bytes data(100, 'k');
  const Bytes empty(kRecord, 0);
  for (uint64_t r = 0; r < records; ++r) {
    if (r == 0) {
      chunk.insert(chunk.end(), mft.begin(), mft.end());
    } else if (r == 5) {
      const Bytes root =
          RecordBuilder(5, 3).StandardInformation(0, 0).FileName(5, u".").IndexRoot(5).Build();
      chunk.insert(chunk.end(), root.begin(), root.end());
    } else if (r < kFirstFolder) {
      chunk.insert(chunk.end(), empty.begin(), empty.end());
    } else if (r < kFirstFolder + folders) {
      const Bytes folder = RecordBuilder(static_cast<uint32_t>(r), 3)
                               .StandardInformation(0, 0)
                               .FileName(5, Name("d", r - kFirstFolder))
                               .IndexRoot(static_cast<uint32_t>(r))
                               .Build();
      chunk.insert(chunk.end(), folder.begin(), folder.end());
    } else {
      const uint64_t n = r - kFirstFolder - folders;
      const Bytes file = RecordBuilder(static_cast<uint32_t>(r))
                             .StandardInformation(0, 0)
                             .FileName(kFirstFolder + n % folders, Name("f", n))
                             .Resident(0x80, data)
                             .Build();
      chunk.insert(chunk.end(), file.begin(), file.end());
    }
    if (chunk.size() >= (4u << 20) || r + 1 == records) {
      if (std::fwrite(chunk.data(), 1, chunk.size(), out) != chunk.size()) {
        std::perror(argv[1]);
        return 1;
      }
      chunk.clear();
    }
  }
  const Bytes tail((clusters - kMftCluster) * kCluster - records * kRecord, 0);
  std::fwrite(tail.data(), 1, tail.size(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}

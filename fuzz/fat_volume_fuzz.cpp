// Fuzzes the whole FAT12, FAT16, FAT32 and exFAT reader on a small volume given as bytes:
// detection, the listing, and the extraction of every file it lists.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/volume.h"
#include "recovery/fat/fat_reader.h"
#include "recovery/filesystem.h"
#include "support/memory_device.h"

namespace {

// Writes nothing anywhere, but counts, so that a size past the volume cannot fill memory.
class CountingOutput final : public kavo::FileOutput {
 public:
  bool Write(const uint8_t*, size_t bytes) override {
    written += bytes;
    return true;
  }
  uint64_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavo;
  if (size < 512 || size > (4u << 20)) return 0;
  const auto source = test::OpenBytes(data, size, 0, u"fuzz.img");
  if (source == nullptr || !DetectVolume(*source)) return 0;
  CDisk& disk = *source;
  if (disk.m_nFileSystem == FS_NTFS) return 0;
  ScanEntryPtr scan = NewScanData(RootFolderId(disk));
  NullSink sink;
  ProgressRecord progress;
  FatReader reader(disk);
  reader.List(scan.get(), &progress, sink);
  NodePtr tree = BuildFileSystemTree(std::move(scan));

  std::vector<const RecoveredNode*> stack{tree.get()};
  while (!stack.empty()) {
    const RecoveredNode* node = stack.back();
    stack.pop_back();
    for (const RecoveredNode* c = node->firstChild; c != nullptr; c = c->nextSibling) {
      if (c->firstChild != nullptr) stack.push_back(c);
      CountingOutput out;
      reader.ExtractFile(*c, out, &progress);
      if (out.written > c->size) __builtin_trap();
    }
  }
  return 0;
}

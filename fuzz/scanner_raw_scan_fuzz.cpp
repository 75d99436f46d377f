// The raw scan with the picture scanners over arbitrary source bytes: no crash, no read outside
// the source, every hit inside what the scanners may claim.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "disk/disk.h"
#include "operations/message_sink.h"
#include "recovery/tree.h"
#include "scanners/catalogue.h"
#include "scanners/raw_scan.h"
#include "support/memory_device.h"

namespace {

// The source bytes as a device that refuses reads not in whole sectors, as a drive does, and
// stops the run at a block read past the end, which the scan must never ask for.
class SectorDevice final : public kavo::test::MemoryDevice {
 public:
  using MemoryDevice::MemoryDevice;

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    if (bytes % 512 != 0) return Fail();
    if (m_position + bytes > Length() && bytes > 512) std::abort();
    return MemoryDevice::Read(buffer, bytes, got);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 512 || size > (4u << 20)) return 0;
  const auto source = kavo::test::OpenAsImage(
      [=] { return std::make_unique<SectorDevice>(data, size); }, u"fuzz.img");
  if (source == nullptr) return 0;
  kavo::CDisk& disk = *source;
  const std::vector<std::u16string> items = kavo::FormatItemTexts();
  kavo::ScannerRegistry registry = kavo::BuildRegistry(items, disk);
  kavo::NodePtr root = kavo::NewRoot();
  kavo::RecoveredNode* fileType = kavo::AttachFileType(root.get());
  kavo::ProgressRecord progress;
  kavo::NullSink sink;
  kavo::RawScan(disk, 0, disk.m_nTotalSectors, registry, fileType, &progress, sink);
  for (const kavo::RecoveredNode* folder = fileType->firstChild; folder;
       folder = folder->nextSibling) {
    for (const kavo::RecoveredNode* file = folder->firstChild; file; file = file->nextSibling) {
      if (file->location >= disk.m_nTotalSectors || file->endSector < file->location ||
          file->size == 0) {
        std::abort();
      }
    }
  }
  return 0;
}

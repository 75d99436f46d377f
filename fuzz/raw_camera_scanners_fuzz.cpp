// The camera RAW scanners over arbitrary source bytes: the directory walk and the trailer
// searches end on any input, read nothing outside the source, and claim sound hits. The first
// input byte picks a header for the first sector (TIFF in either byte order, ORF, RW2, CRW), so
// that the walks are reached at once, and the scanners: the TIFF family shares one registry
// key, so each member runs in a scan of its own, with one of the other three.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "disk/disk.h"
#include "operations/message_sink.h"
#include "recovery/tree.h"
#include "scanners/crw_scanner.h"
#include "scanners/mrw_scanner.h"
#include "scanners/orf_scanner.h"
#include "scanners/raf_scanner.h"
#include "scanners/raw_scan.h"
#include "scanners/tiff_scanner.h"
#include "scanners/x3f_scanner.h"
#include "support/memory_device.h"

namespace {

// Refuses reads not in whole sectors, as a drive does, and stops the run at a block read past
// the end, which the scan must never ask for.
class SectorDevice final : public kavo::test::MemoryDevice {
 public:
  using MemoryDevice::MemoryDevice;

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    if (bytes % 512 != 0) return Fail();
    if (m_position + bytes > Length() && bytes > 512) std::abort();
    return MemoryDevice::Read(buffer, bytes, got);
  }
};

void ScanWith(const std::vector<uint8_t>& bytes, std::unique_ptr<kavo::CBaseScanner> a,
              std::unique_ptr<kavo::CBaseScanner> b = nullptr) {
  const auto source = kavo::test::OpenAsImage(
      [&] { return std::make_unique<SectorDevice>(bytes.data(), bytes.size()); }, u"fuzz.img");
  if (source == nullptr) return;
  kavo::CDisk& disk = *source;
  kavo::ScannerRegistry registry;
  registry.Insert(std::move(a), &disk);
  if (b) registry.Insert(std::move(b), &disk);
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (4u << 20)) return 0;
  static const char* const kHeaders[] = {"II*\0", "MM\0*", "IIRO", "MMOR", "IIU\0", "II\x1a\0"};
  // Short inputs fill the first sectors; the rest of the source is zeros.
  std::vector<uint8_t> bytes(data + 1, data + size);
  bytes.resize(std::max<size_t>(bytes.size(), 2048));
  std::memcpy(bytes.data(), kHeaders[data[0] % 6], 4);
  if (data[0] % 6 == 5) std::memcpy(bytes.data() + 4, "\0\0HEAPCCDR", 10);
  switch (data[0] / 6 % 3) {
    case 0:
      ScanWith(bytes, std::make_unique<kavo::CTiffScanner>(),
               std::make_unique<kavo::CMRWScanner>());
      break;
    case 1:
      ScanWith(bytes, std::make_unique<kavo::CORFScanner>(), std::make_unique<kavo::CRAFScanner>());
      break;
    default:
      ScanWith(bytes, std::make_unique<kavo::CCRWScanner>(), std::make_unique<kavo::CX3FScanner>());
      break;
  }
  return 0;
}

// The raw scan of the fuzz targets: the input as a source that refuses reads not in whole
// sectors, as a drive does, and stops the run at a block read past the end, which the scan must
// never ask for; after the scan every hit must lie inside the source.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "base/message_sink.h"
#include "disk/disk.h"
#include "recovery/tree.h"
#include "scanners/raw_scan.h"
#include "support/memory_device.h"

namespace kavo::fuzz {

class SectorDevice final : public test::MemoryDevice {
 public:
  using MemoryDevice::MemoryDevice;

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    if (bytes % 512 != 0) return Fail();
    if (m_position + bytes > Length() && bytes > 512) std::abort();
    return MemoryDevice::Read(buffer, bytes, got);
  }
};

// Scans `size` bytes at `data` with the scanners `fill` registers, and aborts on a hit outside
// the source or of no length.
inline void ScanChecked(const uint8_t* data, size_t size,
                        const std::function<void(ScannerRegistry&, CDisk&)>& fill) {
  const auto source =
      test::OpenAsImage([=] { return std::make_unique<SectorDevice>(data, size); }, u"fuzz.img");
  if (source == nullptr) return;
  CDisk& disk = *source;
  ScannerRegistry registry;
  fill(registry, disk);
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  ProgressRecord progress;
  NullSink sink;
  RawScan(disk, 0, disk.m_nTotalSectors, registry, fileType, &progress, sink);
  for (const RecoveredNode* folder = fileType->firstChild; folder; folder = folder->nextSibling) {
    for (const RecoveredNode* file = folder->firstChild; file; file = file->nextSibling) {
      if (file->location >= disk.m_nTotalSectors || file->endSector < file->location ||
          file->size == 0) {
        std::abort();
      }
    }
  }
}

}  // namespace kavo::fuzz

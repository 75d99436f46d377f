// Bytes of a found file at offsets from its first byte, for the scanners that walk a file's
// pages, frames or chunks: fields that cross a sector end are assembled from both sectors. One
// sector is held at a time; the walks move forward, so each sector is read once.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "scanners/base_scanner.h"

namespace kavo {

class WalkReader {
 public:
  // Reads sector `sector` of the source into the buffer (the scanner's ReadSourceSector).
  using SectorReader = std::function<SectorRead(uint64_t sector, uint8_t* buffer)>;

  // Starts a file whose first sector (`sectorSize` bytes) is `first` and lies at source sector
  // `startSector`.
  void Start(const uint8_t* first, uint32_t sectorSize, uint64_t startSector, SectorReader read);

  WalkReader() = default;
  // A reader started on the file whose first sector is `first`.
  WalkReader(const uint8_t* first, uint32_t sectorSize, uint64_t startSector, SectorReader read) {
    Start(first, sectorSize, startSector, std::move(read));
  }

  // Copies `count` bytes at file offset `offset` to `out`; false when the source ends before
  // them. A sector whose read fails reads as zeros, as the scan's block reads give it.
  bool Read(uint64_t offset, void* out, uint32_t count);
  bool Byte(uint64_t offset, uint8_t* value) { return Read(offset, value, 1); }
  bool Be16(uint64_t offset, uint16_t* value);
  bool Be32(uint64_t offset, uint32_t* value);
  // Whether the `count` bytes at `offset` are `bytes` (false past the source's end).
  bool Equals(uint64_t offset, const char* bytes, uint32_t count);

  // Holds sector `k` of the file (0 is the first); false past the source's end.
  bool Load(uint64_t k);
  // The sector held, SectorSize() bytes.
  const uint8_t* Data() const { return m_buffer.data(); }
  // Whether the read of the sector held failed, so that it holds zeros.
  bool HeldFailed() const { return m_bHeldFailed; }
  uint32_t SectorSize() const { return m_nSectorSize; }

 private:
  SectorReader m_read;
  std::vector<uint8_t> m_buffer;
  uint32_t m_nSectorSize = 512;
  uint64_t m_nStartSector = 0;
  uint64_t m_nHeld = 0;
  bool m_bHeldFailed = false;
};

}  // namespace kavo

// The scan's reads of its source. The scan walks the source in 64 KiB blocks, but asks the device
// for a window of many blocks at once; scanners that measure a found file read its following
// sectors through the same object, which serves them from the window or from a read-ahead buffer
// instead of one device read per sector.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/disk.h"
#include "scanners/base_scanner.h"

namespace kavo {

class SourceReader {
 public:
  // Bytes the window asks the device for at once (a whole number of 64 KiB blocks).
  static constexpr uint32_t kWindowBytes = 1u << 20;
  // Bytes a scanner's read of a following sector fetches ahead.
  static constexpr uint32_t kReadAheadBytes = 256u << 10;

  // `readAheadBytes` 0 reads single sectors.
  explicit SourceReader(CDisk& source, uint32_t readAheadBytes = kReadAheadBytes);

  uint32_t SectorSize() const { return m_nSectorSize; }
  // Sectors of the source when its length is known, else the largest count.
  uint64_t SectorLimit() const { return m_nLimit; }

  // `count` sectors from `first`, as a block read gives them: zeros where the source has no data
  // or a read failed. Valid until the next call.
  const uint8_t* Block(uint64_t first, uint32_t count);

  // One sector for a scanner that measures a file.
  SectorRead ReadSector(uint64_t sector, uint8_t* buffer);

 private:
  // Reads up to `sectors` sectors at `first` into `buffer`; false when the read call failed.
  // `*got` receives the bytes read.
  bool ReadAt(uint8_t* buffer, uint64_t first, uint64_t sectors, uint32_t* got);
  void FillWindow(uint64_t first, uint32_t blockSectors);

  CDisk& m_source;
  uint32_t m_nSectorSize;
  uint64_t m_nLimit;
  uint32_t m_nReadAheadBytes;

  std::vector<uint8_t> m_window;
  uint64_t m_windowFirst = 0;
  uint64_t m_windowSectors = 0;  // sectors Block() may hand out (zero-filled where unread)
  uint64_t m_windowRead = 0;     // leading sectors that really came from the device

  std::vector<uint8_t> m_ahead;
  uint64_t m_aheadFirst = 0;
  uint64_t m_aheadSectors = 0;
};

}  // namespace kavo

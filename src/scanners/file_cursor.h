// Bytes of a found file by their offset from its start, for the scanners that walk a file's
// chunks, boxes or tags: the cursor reads the file's sectors one at a time as the walk reaches
// them, and puts together fields that straddle a sector end from both sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "scanners/base_scanner.h"

namespace kavo {

class FileCursor {
 public:
  // Reads source sector `sector` into `buffer`, as CBaseScanner::ReadSourceSector does.
  using SectorReader = std::function<SectorRead(uint64_t sector, uint8_t* buffer)>;

  // `buffer` holds the file's first sector, sector `startSector` of the source, and is reused
  // for the following ones (sectorSize bytes).
  FileCursor(uint8_t* buffer, uint32_t sectorSize, uint64_t startSector, SectorReader read);

  // Copies the `count` bytes at file offset `offset` to `out`. False when they reach past the
  // source's end. A sector that cannot be read reads as zeros, as the scan's block reads give it.
  bool Read(uint64_t offset, uint8_t* out, size_t count);

 private:
  bool Load(uint64_t k);

  uint8_t* m_pBuffer;
  uint32_t m_nSectorSize;
  uint64_t m_nStartSector;
  SectorReader m_read;
  uint64_t m_nLoaded = 0;  // the file's sector the buffer holds
};

}  // namespace kavo

#include "scanners/file_cursor.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace kavo {

FileCursor::FileCursor(uint8_t* buffer, uint32_t sectorSize, uint64_t startSector,
                       SectorReader read)
    : m_pBuffer(buffer),
      m_nSectorSize(sectorSize),
      m_nStartSector(startSector),
      m_read(std::move(read)) {}

bool FileCursor::Load(uint64_t k) {
  if (k == m_nLoaded) return true;
  if (k > std::numeric_limits<uint64_t>::max() - m_nStartSector) return false;
  switch (m_read(m_nStartSector + k, m_pBuffer)) {
    case SectorRead::PastEnd: return false;
    case SectorRead::Failed: std::memset(m_pBuffer, 0, m_nSectorSize); break;
    case SectorRead::Ok: break;
  }
  m_nLoaded = k;
  return true;
}

bool FileCursor::Read(uint64_t offset, uint8_t* out, size_t count) {
  if (count > std::numeric_limits<uint64_t>::max() - offset) return false;
  while (count > 0) {
    if (!Load(offset / m_nSectorSize)) return false;
    const size_t at = static_cast<size_t>(offset % m_nSectorSize);
    const size_t n = std::min<size_t>(count, m_nSectorSize - at);
    std::memcpy(out, m_pBuffer + at, n);
    out += n;
    offset += n;
    count -= n;
  }
  return true;
}

}  // namespace kavo

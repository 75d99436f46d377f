#include "scanners/walk_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/bytes.h"

namespace kavo {

void WalkReader::Start(const uint8_t* first, uint32_t sectorSize, uint64_t startSector,
                       SectorReader read) {
  m_read = std::move(read);
  m_nSectorSize = sectorSize;
  m_nStartSector = startSector;
  m_buffer.assign(first, first + sectorSize);
  m_nHeld = 0;
  m_bHeldFailed = false;
}

bool WalkReader::Load(uint64_t k) {
  if (k == m_nHeld) return true;
  if (k > std::numeric_limits<uint64_t>::max() - m_nStartSector) return false;
  const SectorRead read = m_read(m_nStartSector + k, m_buffer.data());
  if (read == SectorRead::PastEnd) return false;  // the buffer still holds the sector held before
  m_bHeldFailed = read == SectorRead::Failed;
  if (m_bHeldFailed) std::fill(m_buffer.begin(), m_buffer.end(), uint8_t{0});
  m_nHeld = k;
  return true;
}

bool WalkReader::Read(uint64_t offset, void* out, uint32_t count) {
  auto* to = static_cast<uint8_t*>(out);
  while (count > 0) {
    if (!Load(offset / m_nSectorSize)) return false;
    const uint32_t at = static_cast<uint32_t>(offset % m_nSectorSize);
    const uint32_t n = std::min(count, m_nSectorSize - at);
    std::memcpy(to, m_buffer.data() + at, n);
    to += n;
    offset += n;
    count -= n;
  }
  return true;
}

bool WalkReader::Be16(uint64_t offset, uint16_t* value) {
  uint8_t b[2];
  if (!Read(offset, b, 2)) return false;
  *value = LoadBe16(b);
  return true;
}

bool WalkReader::Be32(uint64_t offset, uint32_t* value) {
  uint8_t b[4];
  if (!Read(offset, b, 4)) return false;
  *value = LoadBe32(b);
  return true;
}

bool WalkReader::Equals(uint64_t offset, const char* bytes, uint32_t count) {
  uint8_t b[16];
  if (count > sizeof b || !Read(offset, b, count)) return false;
  return std::memcmp(b, bytes, count) == 0;
}

}  // namespace kavo

#include "scanners/png_scanner.h"

#include <algorithm>
#include <cstring>

namespace kavo {

namespace {

constexpr uint8_t kIend[4] = {'I', 'E', 'N', 'D'};

// Offset of the first "IEND" that lies wholly inside the sector; a tag split across two
// sectors is not seen.
const uint8_t* FindIend(const uint8_t* sector, size_t size) {
  const uint8_t* end = sector + size;
  const uint8_t* at = std::search(sector, end, std::begin(kIend), std::end(kIend));
  return at == end ? nullptr : at;
}

}  // namespace

CPngScanner::CPngScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(
      std::initializer_list<uint8_t>{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A});
}

int CPngScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || std::memcmp(sector + 12, "IHDR", 4) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  return 1;
}

int CPngScanner::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  const uint32_t maxSectors = std::max<uint32_t>(kSearchBytes / ss, 1);
  m_buffer.assign(sector, sector + ss);
  for (uint32_t k = 0; k < maxSectors; ++k) {
    if (StopRequested()) return 0;
    if (k > 0 && ReadSourceSector(m_nStartSector + k, m_buffer.data()) == SectorRead::PastEnd) {
      return 0;
    }
    if (const uint8_t* tag = FindIend(m_buffer.data(), ss)) {
      // The chunk ends with its 4-byte CRC after the tag.
      const uint64_t chunkEnd = uint64_t{k} * ss + static_cast<uint64_t>(tag - m_buffer.data()) + 8;
      m_nLength = static_cast<int64_t>(chunkEnd + kTrailingBytes);
      m_nEndSector = m_nStartSector + chunkEnd / ss;
      m_strExtension = u"PNG";
      return 1;
    }
  }
  return 0;
}

}  // namespace kavo

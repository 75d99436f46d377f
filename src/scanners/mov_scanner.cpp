#include "scanners/mov_scanner.h"

#include <cstring>
#include <limits>

#include "scanners/box_walk.h"
#include "scanners/walk_reader.h"

namespace kavo {

CMOVScanner::CMOVScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x66, 0x74, 0x79, 0x70});
}

int CMOVScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (std::memcmp(sector + 4, m_pSignature->Bytes(), 4) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"mov";
  return 1;
}

int CMOVScanner::ParseFile(uint8_t* sector) {
  return MeasureBoxedFile(
             sector, SectorSize(), m_nStartSector, SectorReads(),
             [this] { return StopRequested(); }, m_nLength, m_nEndSector)
             ? 1
             : 0;
}

}  // namespace kavo

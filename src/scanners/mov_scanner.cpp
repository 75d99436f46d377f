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
  const uint32_t ss = SectorSize();
  WalkReader file(sector, ss, m_nStartSector,
                  [this](uint64_t s, uint8_t* b) { return ReadSourceSector(s, b); });
  const std::optional<uint64_t> length =
      MeasureTopLevelBoxes(file, [this] { return StopRequested(); });
  if (!length || *length > uint64_t{std::numeric_limits<int64_t>::max()}) return 0;
  m_nLength = static_cast<int64_t>(*length);
  m_nEndSector = m_nStartSector + *length / ss;
  return 1;
}

}  // namespace kavo

#include "scanners/mrw_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

CMRWScanner::CMRWScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x00, 'M', 'R', 'M'});
}

int CMRWScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || std::memcmp(sector + 8, "\0PRD", 4) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  m_strExtension = u"mrw";
  return 1;
}

int CMRWScanner::ParseFile(uint8_t* sector) {
  const uint64_t height = LoadBe16(sector + 24);
  const uint64_t width = LoadBe16(sector + 26);
  const uint64_t blocks = LoadBe32(sector + 4);
  uint64_t size = 0;
  if (sector[34] == 'Y') {
    size = height * width * 3 / 2;  // 12-bit samples, packed
  } else if (sector[34] == 'R') {
    size = height * width * 2;
  } else {
    return 0;
  }
  const uint64_t length = size + blocks + 8;
  // The end rule names the sector before the last one; a file shorter than a sector would end
  // before it starts.
  const uint64_t sectors = length / SectorSize();
  if (sectors == 0) return 0;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + sectors - 1;
  return 1;
}

}  // namespace kavo

#include "scanners/au_scanner.h"

#include "platform/bytes.h"

namespace kavo {

CAUScanner::CAUScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'.', 's', 'n', 'd'});
}

int CAUScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || LoadBe32(sector + 4) < kMinHeaderSize) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  return 1;
}

int CAUScanner::ParseFile(uint8_t* sector) {
  const uint32_t dataSize = LoadBe32(sector + 8);
  if (dataSize == 0) return 0;
  const uint64_t length = uint64_t{dataSize} + LoadBe32(sector + 4);
  const uint64_t sectors = length / SectorSize();
  // The end sector is the one before start + length / sector size, so a file shorter than a
  // sector ends before it starts and yields no file. At sector 0 that end is not a sector number
  // at all, and the hit is refused instead.
  if (sectors == 0 && m_nStartSector == 0) return 0;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + sectors - 1;
  m_strExtension = LoadBe32(sector + 20) == 1 ? u"au" : u"snd";
  return 1;
}

}  // namespace kavo

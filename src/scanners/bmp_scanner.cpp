#include "scanners/bmp_scanner.h"

#include "platform/bytes.h"

namespace kavo {

CBmpScanner::CBmpScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x42, 0x4D});
}

int CBmpScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || LoadLe32(sector + 6) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  return 1;
}

int CBmpScanner::ParseFile(uint8_t* sector) {
  uint32_t length = LoadLe32(sector + 2);
  if (length >= kSizeLimit) length = kFallbackLength;
  m_nLength = length;
  m_nEndSector = m_nStartSector + length / SectorSize();
  m_strExtension = u"bmp";
  return 1;
}

}  // namespace kavo

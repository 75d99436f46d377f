#include "scanners/aiff_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

CAIFFScanner::CAIFFScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'F', 'O', 'R', 'M'});
}

int CAIFFScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  const bool compressed = std::memcmp(sector + 8, "AIFC", 4) == 0;
  if (!compressed && std::memcmp(sector + 8, "AIFF", 4) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  m_strExtension = compressed ? u"aif" : u"aiff";
  return 1;
}

int CAIFFScanner::ParseFile(uint8_t* sector) {
  // The FORM size counts the bytes after its 8-byte chunk header.
  const uint32_t size = LoadBe32(sector + 4);
  m_nLength = int64_t{size} + 8;
  m_nEndSector = m_nStartSector + size / SectorSize();
  return 1;
}

}  // namespace kavo

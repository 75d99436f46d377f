#include "scanners/onenote_scanner.h"

#include "platform/bytes.h"

namespace kavo {

COne::COne() {
  m_pSignature = std::make_unique<ScannerSignature>(
      std::initializer_list<uint8_t>{0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1,
                                     0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3});
}

int COne::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  return 1;
}

int COne::ParseFile(uint8_t* sector) {
  // The low half of the header's expected file length.
  const uint32_t length = LoadLe32(sector + 196);
  m_nLength = length;
  // The end sector is the one that holds the last byte.
  m_nEndSector = m_nStartSector + (length == 0 ? 0 : (length - 1) / SectorSize());
  m_strExtension = u"one";
  return 1;
}

}  // namespace kavo

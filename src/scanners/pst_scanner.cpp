#include "scanners/pst_scanner.h"

#include "platform/bytes.h"

namespace kavo {

Pst::Pst() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x21, 0x42, 0x44, 0x4E});
}

int Pst::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  // The client magic's first byte, the high bytes of the two version words, and the platform
  // bytes.
  if (!SignatureAtStart(sector) || sector[8] != 'S' || sector[11] != 0 || sector[13] != 0 ||
      sector[14] != 1 || sector[15] != 1) {
    return 0;
  }
  PositionAtMatch(blockFirstSector, index, false);
  return 1;
}

int Pst::ParseFile(uint8_t* sector) {
  const char16_t* extension = nullptr;
  if (sector[9] == 'M') {
    extension = u"pst";
  } else if (sector[9] == 'O') {
    extension = u"ost";
  } else {
    return 0;
  }
  // ANSI stores keep a 32-bit end-of-file offset, Unicode stores a 64-bit one further on.
  uint64_t length = 0;
  switch (sector[10]) {
    case 14:
    case 15: length = LoadLe32(sector + 168); break;
    case 21:
    case 23: length = LoadLe64(sector + 184); break;
    default: return 0;
  }
  m_nLength = static_cast<int64_t>(length);
  // The end sector is the one that holds the last byte.
  m_nEndSector = m_nStartSector + (length == 0 ? 0 : (length - 1) / SectorSize());
  m_strExtension = extension;
  return 1;
}

}  // namespace kavo

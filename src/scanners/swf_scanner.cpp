#include "scanners/swf_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

CSWFScanner::CSWFScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x57, 0x53});
}

bool CSWFScanner::CanMatchLeadByte(uint8_t byte) const {
  return byte == 'F' || byte == 'C' || byte == 'Z';
}

int CSWFScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (std::memcmp(sector + 1, m_pSignature->Bytes(), 2) != 0 || !CanMatchLeadByte(sector[0])) {
    return 0;
  }
  PositionAtMatch(blockFirstSector, index, false);
  m_strExtension = u"swf";
  return 1;
}

int CSWFScanner::ParseFile(uint8_t* sector) {
  const uint32_t length = LoadLe32(sector + 4);
  if (length == 0 || length > kMaxLength) return 0;
  m_nLength = length;
  // A compressed movie's end is reckoned from its expanded length, as a third of it.
  const uint32_t ss = SectorSize();
  m_nEndSector = m_nStartSector + (sector[0] == 'F' ? length / ss : length / (3 * ss));
  return 1;
}

}  // namespace kavo

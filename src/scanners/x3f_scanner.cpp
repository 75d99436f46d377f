#include "scanners/x3f_scanner.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace kavo {

CX3FScanner::CX3FScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'F', 'O', 'V', 'b'});
}

int CX3FScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || std::memcmp(sector + 232, "SEC", 3) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"X3F";
  return 1;
}

bool CX3FScanner::ReadLe32(uint64_t position, uint32_t* value) {
  uint8_t b[4];
  if (!m_file.Read(position, b, 4)) return false;
  *value = LoadLe32(b);
  return true;
}

int CX3FScanner::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  const uint64_t sectors = std::max<uint64_t>(kSearchBytes / ss, 1);
  m_file.Start(sector, ss, m_nStartSector, SectorReads());
  // "SECd" may be split over two sectors: the search carries its last bytes across.
  uint32_t window = 0;
  for (uint64_t k = 0; k < sectors; ++k) {
    if (StopRequested()) return 0;
    if (!m_file.Load(k)) return 0;
    const uint8_t* bytes = m_file.Data();
    for (uint32_t i = 0; i < ss; ++i) {
      window = (window << 8) | bytes[i];
      if (window != 0x53454364) continue;  // "SECd"
      const uint64_t at = k * ss + i - 3;
      uint32_t entries = 0;
      if (!ReadLe32(at + 8, &entries)) return 0;
      // The section header and 12 bytes per entry; the file's last four bytes point back at the
      // section, and belong to the file when they do.
      uint64_t length = at + 12 * (uint64_t{entries} + 1);
      uint32_t pointer = 0;
      if (ReadLe32(length, &pointer) && pointer == at) length += 4;
      const uint64_t lengthSectors = length / ss;
      // The end rule names the sector before the last one.
      if (lengthSectors == 0) return 0;
      m_nLength = static_cast<int64_t>(length);
      m_nEndSector = m_nStartSector + lengthSectors - 1;
      return 1;
    }
  }
  return 0;
}

}  // namespace kavo

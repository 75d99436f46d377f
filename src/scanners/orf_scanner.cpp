#include "scanners/orf_scanner.h"

#include <algorithm>

namespace kavo {

CORFScanner::CORFScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'I', 'I', 'R', 'O'});
}

int CORFScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!ByteOrderTest(sector)) return 0;
  const bool intel = m_nLittleEndian != 0;
  const uint8_t a = sector[2];
  const uint8_t b = sector[3];
  Kind kind;
  if ((intel && a == 'R' && (b == 'O' || b == 'S')) ||
      (!intel && ((a == 'O' && b == 'R') || (a == 'R' && b == 'S')))) {
    kind = Kind::Orf;
  } else if ((intel && a == 0x55 && b == 0x00) || (!intel && a == 0x00 && b == 0x55)) {
    kind = Kind::Raw;
  } else {
    return 0;
  }
  PositionAtMatch(blockFirstSector, index, true);
  SetKind(kind);
  return 1;
}

int CORFScanner::ParseFile(uint8_t* sector) {
  BeginFile(sector);
  ClearWalker();
  m_nLength = 0;
  uint32_t first = 0;
  uint64_t referenced = 0;
  if (!ReadU32(4, &first) || !WalkDirectory(first) || !ReferencedEnd(first, &referenced)) {
    ClearWalker();
    return 0;
  }
  // The image data ends the file; the directories never reference less than that in a sound
  // file, and a file whose data lies before its other parts keeps them.
  const int64_t data = m_nDataOffset + m_nDataByteCount;
  const uint64_t inSource = BytesInSource();
  uint64_t length =
      data > 0 && static_cast<uint64_t>(data) <= inSource ? static_cast<uint64_t>(data) : 0;
  length = std::max(length, referenced);
  ClearWalker();
  if (length == 0) return 0;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  return 1;
}

}  // namespace kavo

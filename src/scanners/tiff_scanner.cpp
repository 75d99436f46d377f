#include "scanners/tiff_scanner.h"

#include <algorithm>

namespace kavo {

int CTiffScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!ByteOrderTest(sector)) return 0;
  const bool intel = m_nLittleEndian != 0;
  if (sector[2] != (intel ? 0x2A : 0x00) || sector[3] != (intel ? 0x00 : 0x2A)) return 0;
  m_nLength = 0;
  PositionAtMatch(blockFirstSector, index, true);
  if ((intel && sector[8] == 'C' && sector[9] == 'R') ||
      (!intel && sector[8] == 'R' && sector[9] == 'C')) {
    SetKind(Kind::Cr2);
  } else if (sector[8] == 'I' && sector[9] == 'I' && sector[10] == 'I' && sector[11] == 'I') {
    SetKind(Kind::Iiq);
  } else {
    SetKind(Kind::Tiff);
  }
  return 1;
}

int CTiffScanner::Reject() {
  ClearWalker();
  return 0;
}

int CTiffScanner::ParseFile(uint8_t* sector) {
  BeginFile(sector);
  ClearWalker();
  uint32_t first = 0;
  uint32_t n = 0;
  if (!ReadU32(4, &first) || !ReadU16(first, &n)) return Reject();
  if (n < kMinEntries || n > kMaxEntries) {
    m_nEndSector = m_nStartSector + 1;
    return Reject();
  }
  const int64_t firstEnd = int64_t{first} + 12 * int64_t{n};
  m_nLength = firstEnd;
  if (!WalkDirectory(first)) return Reject();
  // A DNG whose first directory follows the image data ends with that directory (the measure
  // below keeps what the directory references after it).
  if (CurrentKind() == Kind::Dng && first > 512) m_nLength = firstEnd;
  uint32_t next = 0;
  // A damaged second directory of a CR2 does not lose the file; a stop request does.
  if (CurrentKind() == Kind::Cr2 && ReadU32(first + 2 + 12 * uint64_t{n}, &next) && next != 0 &&
      !WalkDirectory(next) && StopRequested()) {
    return Reject();
  }
  const uint64_t inSource = BytesInSource();
  if (CurrentKind() == Kind::Mef) m_nLength = m_nDataOffset + m_nDataByteCount;
  if (CurrentKind() == Kind::Sony100) {
    // The raw data of these files is found through a length stored after the image data.
    uint32_t tail = 0;
    const uint64_t at = static_cast<uint64_t>(m_nDataOffset + m_nDataByteCount) + 148;
    if (ReadU32(at, &tail)) m_nLength = m_nSubDirOffset + int64_t{tail};
    SetKind(Kind::Arw);
  }
  // The file holds every byte its directories reference: a length short of that (the end of a
  // directory's entries, or the image data before the values stored after it) would cut it.
  uint64_t referenced = 0;
  if (!ReferencedEnd(first, &referenced)) return Reject();
  uint64_t length = m_nLength > 0 && static_cast<uint64_t>(m_nLength) <= inSource
                        ? static_cast<uint64_t>(m_nLength)
                        : 0;
  length = std::max(length, referenced);
  if (length == 0) return Reject();
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  ClearWalker();
  return 1;
}

}  // namespace kavo

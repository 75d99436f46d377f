#include "scanners/chm_scanner.h"

#include <algorithm>

#include "platform/bytes.h"

namespace kavo {

namespace {

// The header: "ITSF" (4), version (4), header length (4), 1 (4), ... The first header section
// follows it: the mark FE 01 (and two zero bytes), 0 (4), then the file's size (64-bit), of
// which the low half is taken.
constexpr uint32_t kHeaderLengthAt = 8;
constexpr uint32_t kSectionFileSizeAt = 8;
constexpr uint32_t kSectionBytesRead = kSectionFileSizeAt + 4;

}  // namespace

CCHMScanner::CCHMScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x49, 0x54, 0x53, 0x46});
}

int CCHMScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || sector[12] != 0x01) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  return 1;
}

bool CCHMScanner::ReadAt(uint64_t offset, uint8_t* out, uint32_t count) {
  return !StopRequested() && m_walk.Read(offset, out, count);
}

int CCHMScanner::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  m_walk.Start(sector, ss, m_nStartSector, SectorReads());
  // The section may lie past the first sector (a long header, or small sectors), and its
  // fields may straddle a sector end.
  const uint64_t section = LoadLe32(sector + kHeaderLengthAt);
  uint8_t fields[kSectionBytesRead];
  if (!ReadAt(section, fields, kSectionBytesRead)) return 0;
  if (fields[0] != 0xFE || fields[1] != 0x01) return 0;
  const uint32_t length = LoadLe32(fields + kSectionFileSizeAt);
  m_nLength = length;
  m_nEndSector = m_nStartSector + (length < ss ? 0 : (length - 1) / ss);
  m_strExtension = u"chm";
  return 1;
}

}  // namespace kavo

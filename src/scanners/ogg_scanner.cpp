#include "scanners/ogg_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint32_t kPageHeader = 27;  // bytes before the segment table
constexpr uint32_t kMaxSegments = 255;

}  // namespace

COGGScanner::COGGScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'O', 'g', 'g', 'S'});
}

int COGGScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || LoadLe32(sector + 18) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"ogg";
  return 1;
}

int COGGScanner::ParseFile(uint8_t* sector) {
  m_reader.Start(sector, SectorSize(), m_nStartSector, SectorReads());
  // Page by page while the next page starts with its capture pattern. The whole pattern is
  // tested, not only its "O": a stray "O" after the last page is not taken for a page header,
  // and the source's end ends the walk. Every page is at least 27 bytes, so the walk ends.
  uint64_t length = 0;
  for (;;) {
    if (StopRequested()) return 0;
    uint8_t header[kPageHeader];
    if (!m_reader.Read(length, header, kPageHeader) || std::memcmp(header, "OggS", 4) != 0) break;
    const uint8_t segments = header[26];
    uint8_t table[kMaxSegments];
    if (!m_reader.Read(length + kPageHeader, table, segments)) break;
    uint64_t body = 0;
    for (uint32_t i = 0; i < segments; ++i) body += table[i];
    length += kPageHeader + segments + body;
  }
  if (length == 0) return 0;
  const uint32_t ss = SectorSize();
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / ss + (length % ss != 0 ? 1 : 0);
  return 1;
}

}  // namespace kavo

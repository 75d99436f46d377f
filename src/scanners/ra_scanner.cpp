#include "scanners/ra_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

// The header's field at 12 counts the bytes after the first 16.
constexpr uint64_t kFixedHeader = 16;

}  // namespace

CRAScanner::CRAScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'.', 'r', 'a', 0xFD});
}

int CRAScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || std::memcmp(sector + 8, ".ra", 3) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"ra";
  return 1;
}

int CRAScanner::ParseFile(uint8_t* sector) {
  const uint64_t record = LoadBe32(sector + 12) + kFixedHeader;
  if (record == kFixedHeader) return 0;
  if (StopRequested()) return 0;
  m_reader.Start(sector, SectorSize(), m_nStartSector, SectorReads());
  uint32_t count = 0;
  if (!m_reader.Equals(record, "RaTC", 4) || !m_reader.Be32(record + 4, &count)) return 0;
  m_nLength = static_cast<int64_t>(record + (uint64_t{count} + 4) * 2);
  m_nEndSector = m_nStartSector + record / SectorSize();
  return 1;
}

}  // namespace kavo

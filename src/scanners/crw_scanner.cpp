#include "scanners/crw_scanner.h"

#include <algorithm>
#include <cstring>

namespace kavo {

namespace {

// Records before the JPEG record in the root table that are tried.
constexpr uint32_t kMaxLeadingRecords = 8;
// Records a root table holds at most.
constexpr uint32_t kMaxRecords = 1024;

}  // namespace

CCRWScanner::CCRWScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{
      'I', 'I', 0x1A, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'});
}

int CCRWScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!ByteOrderTest(sector) || std::memcmp(sector + 6, "HEAPCCDR", 8) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  SetKind(Kind::Crw);
  return 1;
}

bool CCRWScanner::RootTableEnd(uint64_t tag, uint64_t* length) {
  // The table is a record count and 10-byte records (tag, size, offset); the heap, which runs
  // from the end of the header to the end of the file, ends with the table's offset within it.
  uint32_t header = 0;
  if (!ReadU32(2, &header)) return false;
  for (uint32_t j = 1; j <= kMaxLeadingRecords; ++j) {
    if (tag < 2 + 10 * uint64_t{j}) break;
    const uint64_t table = tag - 2 - 10 * uint64_t{j};
    uint32_t count = 0;
    uint32_t pointer = 0;
    if (table < header || !ReadU16(table, &count) || count <= j || count > kMaxRecords) continue;
    const uint64_t end = table + 2 + 10 * uint64_t{count};
    if (ReadU32(end, &pointer) && pointer == table - header) {
      *length = end + 4;
      return true;
    }
  }
  return false;
}

int CCRWScanner::ParseFile(uint8_t* sector) {
  BeginFile(sector);
  const uint32_t ss = SectorSize();
  const uint64_t sectors = std::max<uint64_t>(kSearchBytes / ss, 1);
  m_search.assign(sector, sector + ss);
  // The JPEG record (tag 0x2007) after the upper half of the preceding record's offset. The
  // search keeps the last bytes of each sector, so a run split over two sectors is found.
  uint32_t window = 0xFFFFFFFF;
  for (uint64_t k = 0; k < sectors; ++k) {
    if (StopRequested()) return 0;
    if (k > 0) {
      const SectorRead read = ReadSourceSector(m_nStartSector + k, m_search.data());
      if (read == SectorRead::PastEnd) return 0;
      if (read == SectorRead::Failed) std::fill(m_search.begin(), m_search.end(), 0);
    }
    for (uint32_t i = 0; i < ss; ++i) {
      window = (window << 8) | m_search[i];
      if (window != 0x00000720) continue;
      uint64_t length = 0;
      if (RootTableEnd(k * ss + i - 1, &length) && length >= kMinLength) {
        m_nLength = static_cast<int64_t>(length);
        m_nEndSector = m_nStartSector + length / ss;
        return 1;
      }
    }
  }
  return 0;
}

}  // namespace kavo

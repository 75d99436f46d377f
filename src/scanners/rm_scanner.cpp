#include "scanners/rm_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint64_t kFileHeader = 18;
constexpr uint64_t kDataHeader = 18;    // type, size, version, packet count, next DATA offset
constexpr uint16_t kPacketHeader = 12;  // the smallest media packet header

bool KnownChunk(const uint8_t* type) {
  for (const char* known : {"PROP", "CONT", "MDPR", "DATA", "INDX"}) {
    if (std::memcmp(type, known, 4) == 0) return true;
  }
  return false;
}

}  // namespace

CRMScanner::CRMScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'.', 'R', 'M', 'F'});
}

int CRMScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"rm";
  return 1;
}

int CRMScanner::Accept(uint64_t length) {
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  return 1;
}

// Some writers give the DATA chunk a size beyond its packets (ffmpeg's is 10 bytes over), so the
// chunk ends where its packets end when they fit in the size; packets that do not (or a chunk
// that counts none) leave the size as it is.
bool CRMScanner::DataEnd(uint64_t at, uint32_t size, uint64_t* end) {
  const uint64_t limit = at + size;
  *end = limit;
  uint32_t packets = 0;
  if (!m_reader.Be32(at + 10, &packets) || packets == 0) return true;
  uint64_t p = at + kDataHeader;
  for (uint32_t i = 0; i < packets; ++i) {
    if (StopRequested()) return false;
    uint16_t length = 0;
    if (!m_reader.Be16(p + 2, &length) || length < kPacketHeader || p + length > limit) {
      return true;
    }
    p += length;
  }
  *end = p;
  return true;
}

int CRMScanner::ParseFile(uint8_t* sector) {
  m_reader.Start(sector, SectorSize(), m_nStartSector, SectorReads());
  const uint32_t headers = LoadBe32(sector + 14);
  const uint64_t limit = uint64_t{headers} + kExtraChunks;
  // The walk reads at most header count + 5 chunks. A file may end sooner: after at least as
  // many chunks as its header announces, the first bytes that are no chunk end it; and 8 zero
  // bytes after a DATA chunk (the end mark ffmpeg writes in place of an index, its header count
  // one above its chunks) end it with them.
  uint64_t p = kFileHeader;
  uint64_t chunks = 0;
  bool data = false;
  while (chunks < limit) {
    if (StopRequested()) return 0;
    uint8_t head[8];
    if (!m_reader.Read(p, head, 8)) break;
    static constexpr uint8_t kZeros[8] = {};
    if (data && std::memcmp(head, kZeros, 8) == 0) return Accept(p + 8);
    const uint32_t size = LoadBe32(head + 4);
    if (!KnownChunk(head) || size == 0) break;
    if (std::memcmp(head, "DATA", 4) == 0) {
      if (!DataEnd(p, size, &p)) return 0;
      data = true;
    } else {
      p += size;
    }
    ++chunks;
  }
  if (chunks == limit || (chunks > 0 && chunks >= headers)) return Accept(p);
  return 0;
}

}  // namespace kavo

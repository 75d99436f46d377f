#include "scanners/flv_scanner.h"

#include <limits>

#include "platform/bytes.h"
#include "scanners/walk_reader.h"

namespace kavo {

namespace {

constexpr uint8_t kAudioTag = 8;
constexpr uint8_t kVideoTag = 9;
constexpr uint8_t kScriptTag = 18;
constexpr uint32_t kTagHeaderBytes = 11;

uint32_t LoadBe24(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

}  // namespace

CFLVScanner::CFLVScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x46, 0x4C, 0x56});
}

int CFLVScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || sector[3] != 1) return 0;
  if (sector[4] != 1 && sector[4] != 4 && sector[4] != 5) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"flv";
  return 1;
}

int CFLVScanner::ParseFile(uint8_t* sector) {
  const uint32_t dataOffset = LoadBe32(sector + 5);
  if (dataOffset == 0) return 0;
  const uint32_t ss = SectorSize();
  WalkReader file(sector, ss, m_nStartSector, SectorReads());

  // Past the header and the first previous-tag-size field. Every tag moves the walk on by at
  // least 15 bytes, so the walk ends where the source does at the latest.
  uint64_t p = uint64_t{dataOffset} + 4;
  for (;;) {
    if (StopRequested()) return 0;
    uint8_t tag[kTagHeaderBytes];
    if (!file.Read(p, tag, sizeof tag)) break;
    if (tag[0] != kAudioTag && tag[0] != kVideoTag && tag[0] != kScriptTag) break;
    // A tag belongs to the file only when its stream id is 0 and the previous-tag-size field
    // after it gives its own size: the bytes after a file's last tag are often another tag type
    // byte by chance.
    const uint32_t size = LoadBe24(tag + 1);
    uint8_t trailer[4];
    if (LoadBe24(tag + 8) != 0 || !file.Read(p + kTagHeaderBytes + size, trailer, 4) ||
        LoadBe32(trailer) != size + kTagHeaderBytes) {
      break;
    }
    p += uint64_t{size} + kTagHeaderBytes + 4;
  }
  if (p > uint64_t{std::numeric_limits<int64_t>::max()}) return 0;
  m_nLength = static_cast<int64_t>(p);
  m_nEndSector = m_nStartSector + p / ss;
  return 1;
}

}  // namespace kavo

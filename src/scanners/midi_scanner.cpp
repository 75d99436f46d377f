#include "scanners/midi_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint8_t kHeaderSize[4] = {0, 0, 0, 6};
constexpr uint64_t kFirstTrack = 14;  // after the 8-byte chunk header and 6 bytes of header data
constexpr uint64_t kChunkHeader = 8;

}  // namespace

CMIDIScanner::CMIDIScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'M', 'T', 'h', 'd'});
}

int CMIDIScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || std::memcmp(sector + 4, kHeaderSize, 4) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"midi";
  return 1;
}

int CMIDIScanner::ParseFile(uint8_t* sector) {
  const uint16_t tracks = LoadBe16(sector + 10);
  uint64_t length = 0;
  if (tracks == 0) {
    // A header that announces no track describes no music: nothing is recovered from it.
    return 0;
  }
  if (tracks == 1) {
    if (std::memcmp(sector + kFirstTrack, "MTrk", 4) != 0) return 0;
    length = kFirstTrack + kChunkHeader + LoadBe32(sector + 18);
  } else {
    m_strExtension = u"mid";
    m_reader.Start(sector, SectorSize(), m_nStartSector, SectorReads());
    length = kFirstTrack;
    for (uint32_t t = 0; t < tracks; ++t) {
      if (StopRequested()) return 0;
      uint32_t size = 0;
      if (!m_reader.Equals(length, "MTrk", 4) || !m_reader.Be32(length + 4, &size)) return 0;
      length += kChunkHeader + size;
    }
  }
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  return 1;
}

}  // namespace kavo

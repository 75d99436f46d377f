#include "scanners/jpeg_scanner.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint16_t kStartOfScan = 0xFFDA;

// The markers the walk steps over; anything else means the data is not a JPEG this scanner can
// measure.
bool KnownMarker(uint16_t marker) {
  switch (marker) {
    case 0xFFD8:
    case 0xFFE0:
    case 0xFFDB:
    case 0xFFE1:
    case 0xFFE2:
    case 0xFFE3:
    case 0xFFE4:
    case 0xFFE5:
    case 0xFFE6:
    case 0xFFE7:
    case 0xFFC0:
    case 0xFFC2:
    case 0xFFC4:
    case 0xFFDD:
    case 0xFFEF:
    case 0xFFD0:
    case 0xFFD1:
    case 0xFFD2:
    case 0xFFD3:
    case 0xFFD4:
    case 0xFFD5:
    case 0xFFD6:
    case 0xFFD7:
    case 0xFFDA:
    case 0xFFD9:
    case 0xFFED:
    case 0xFFEE:
    case 0xFFFE:
    case 0xFFEC: return true;
    default: return false;
  }
}

}  // namespace

CJpegScanner::CJpegScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0xFF, 0xD8, 0xFF});
}

int CJpegScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || (sector[3] != 0xE0 && sector[3] != 0xE1)) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"jpeg";
  return 1;
}

int CJpegScanner::Accept(uint64_t length) {
  if (length < kMinLength) return 0;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  return 1;
}

int CJpegScanner::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  m_file.Start(sector, ss, m_nStartSector, SectorReads());

  // Walk the segments from the one after the first APPn until the start of scan has been passed.
  // Each step moves at least two bytes, and the walk gives up past the length limit.
  uint64_t position = uint64_t{LoadBe16(sector + 4)} + 4;
  for (bool scanPassed = false; !scanPassed && position < kMaxLength;) {
    if (StopRequested()) return 0;
    uint8_t b[4];
    // A segment that runs off the source cannot be measured.
    if (!m_file.Read(position, b, 4)) return 0;
    const uint16_t marker = static_cast<uint16_t>((b[0] << 8) | b[1]);
    if (!KnownMarker(marker)) return 0;
    position += ((b[2] << 8) | b[3]) + 2u;
    scanPassed = marker == kStartOfScan;
  }

  // Search for FF D9. An end marker whose FF lies at kMaxLength - 1 or later would give a length
  // over the limit, which is cut to the limit, so the search stops there.
  constexpr uint64_t kSearchEnd = kMaxLength - 1;
  bool lastWasFF = false;  // the last byte of the previous sector was an FF
  for (uint64_t p = position; p < kSearchEnd;) {
    if (StopRequested()) return 0;
    // A picture cut off by the end of the source keeps what the source holds.
    if (!m_file.Load(p / ss)) return Accept((p / ss) * ss);
    const uint64_t offset = p % ss;
    const uint8_t* bytes = m_file.Data() + offset;
    const uint64_t n = std::min<uint64_t>(ss - offset, kSearchEnd - p);
    if (lastWasFF && bytes[0] == 0xD9) return Accept(p + 1);
    lastWasFF = false;
    for (const uint8_t* at = bytes;
         (at = static_cast<const uint8_t*>(std::memchr(at, 0xFF, bytes + n - at))) != nullptr;
         ++at) {
      if (offset + (at - bytes) + 1 < ss) {
        if (at[1] == 0xD9) return Accept(p + (at - bytes) + 2);
      } else {
        lastWasFF = true;
      }
    }
    p += n;
  }
  m_nLength = kMaxLength;
  m_nEndSector = m_nStartSector + kMaxLength / ss;
  return 1;
}

}  // namespace kavo

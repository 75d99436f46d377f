#include "scanners/rar_scanner.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint8_t kMarkerStart[6] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07};

// Version 4. Every block starts with CRC (2), type (1), flags (2) and header size (2); blocks
// with the long-block flag carry a 32-bit data size after that, which the file and service
// headers always do, with its high half at offset 32 under the large-file flag.
constexpr uint64_t kMarker4Bytes = 7;
constexpr uint16_t kBlock4Bytes = 7;
constexpr uint16_t kMainHeader4Bytes = 13;
constexpr uint32_t kDataSize4At = 7;
constexpr uint32_t kHighDataSize4At = 32;
constexpr uint16_t kLongBlock = 0x8000;
constexpr uint16_t kLargeFile = 0x0100;
constexpr uint8_t kFileHeader4 = 0x74;
constexpr uint8_t kServiceHeader4 = 0x7A;
constexpr uint8_t kOldCommentHeader4 = 0x75;
constexpr uint8_t kOldRecoveryHeader4 = 0x79;
constexpr uint8_t kEndOfArchive4 = 0x7B;

// Version 5. Every block starts with CRC (4) and the header size (a number counting the bytes
// after it), then type, flags and, by the flags, the extra-area and data sizes.
constexpr uint64_t kMarker5Bytes = 8;
constexpr uint64_t kHeaderCrc5Bytes = 4;
constexpr uint64_t kHasExtraArea = 0x0001;
constexpr uint64_t kHasData = 0x0002;
constexpr uint64_t kMainHeader5 = 1;
constexpr uint64_t kFileHeader5 = 2;
constexpr uint64_t kServiceHeader5 = 3;
constexpr uint64_t kEndOfArchive5 = 5;

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// `a` + `b` + `c` when it stays a file offset.
bool AddOffsets(uint64_t a, uint64_t b, uint64_t c, uint64_t* sum) {
  if (a > kMaxOffset || b > kMaxOffset - a || c > kMaxOffset - a - b) return false;
  *sum = a + b + c;
  return true;
}

}  // namespace

CRARScanner::CRARScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(
      std::initializer_list<uint8_t>{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00});
}

int CRARScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  // The signature is the version 4 marker; a version 5 marker differs from its seventh byte on.
  if (std::memcmp(sector, kMarkerStart, sizeof kMarkerStart) != 0) return 0;
  if (sector[6] != 0x00 && (sector[6] != 0x01 || sector[7] != 0x00)) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  return 1;
}

bool CRARScanner::ReadAt(uint64_t offset, uint8_t* out, uint32_t count) {
  return !StopRequested() && m_walk.Read(offset, out, count);
}

bool CRARScanner::ReadNumber(uint64_t* offset, uint64_t* value) {
  // Seven bits a byte, lowest first; a set top bit means another byte follows.
  *value = 0;
  for (uint32_t i = 0; i < 10; ++i) {
    uint8_t b = 0;
    if (!ReadAt(*offset + i, &b, 1)) return false;
    *value |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) {
      *offset += i + 1;
      return true;
    }
  }
  return false;
}

int CRARScanner::Accept(uint64_t length) {
  if (length == 0) return 0;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  m_strExtension = u"rar";
  return 1;
}

int CRARScanner::WalkVersion4() {
  // The walk starts after the marker block and the main archive header, which is as long as
  // its own size field says (13 bytes, or more with the optional fields).
  uint8_t head[11];
  if (!ReadAt(kMarker4Bytes, head, kBlock4Bytes)) return 0;
  const uint16_t mainSize = LoadLe16(head + 5);
  if (mainSize < kMainHeader4Bytes) return 0;
  uint64_t block = kMarker4Bytes + mainSize;
  // Every block moves the walk on by at least its 7-byte header, and offsets past the source
  // end it, so the walk ends.
  for (;;) {
    if (!ReadAt(block, head, kBlock4Bytes)) return 0;
    const uint8_t type = head[2];
    const uint16_t flags = LoadLe16(head + 3);
    const uint16_t size = LoadLe16(head + 5);
    // A header shorter than the common fields is damaged (a zero size would never move on).
    if (size < kBlock4Bytes) return 0;
    if (type == kEndOfArchive4) return Accept(block + size);
    uint64_t data = 0;
    if (type == kFileHeader4 || type == kServiceHeader4) {
      if (!ReadAt(block + kDataSize4At, head + 7, 4)) return 0;
      data = LoadLe32(head + 7);
      if ((flags & kLargeFile) != 0) {
        if (!ReadAt(block + kHighDataSize4At, head + 7, 4)) return 0;
        data |= static_cast<uint64_t>(LoadLe32(head + 7)) << 32;
      }
    } else if (type >= kOldCommentHeader4 && type <= kOldRecoveryHeader4) {
      if ((flags & kLongBlock) != 0) {
        if (!ReadAt(block + kDataSize4At, head + 7, 4)) return 0;
        data = LoadLe32(head + 7);
      }
    } else {
      return 0;
    }
    if (!AddOffsets(block, size, data, &block)) return 0;
  }
}

int CRARScanner::WalkVersion5() {
  // Every block moves the walk on by at least six bytes, and offsets past the source end it.
  uint64_t block = kMarker5Bytes;
  for (;;) {
    uint64_t at = block + kHeaderCrc5Bytes;
    uint64_t headerSize = 0;
    if (!ReadNumber(&at, &headerSize) || headerSize == 0 || headerSize > kMaxHeader5Bytes) {
      return 0;
    }
    const uint64_t headerEnd = at + headerSize;
    uint64_t type = 0;
    uint64_t flags = 0;
    uint64_t extra = 0;
    uint64_t data = 0;
    if (!ReadNumber(&at, &type) || !ReadNumber(&at, &flags)) return 0;
    if ((flags & kHasExtraArea) != 0 && !ReadNumber(&at, &extra)) return 0;
    if ((flags & kHasData) != 0 && !ReadNumber(&at, &data)) return 0;
    // Fields that run past the header's own size mean a damaged header.
    if (at > headerEnd) return 0;
    if (type == kEndOfArchive5) return Accept(headerEnd);
    // An archive-encryption header (type 4) hides the headers after it: they cannot be walked.
    if (type != kMainHeader5 && type != kFileHeader5 && type != kServiceHeader5) return 0;
    if (!AddOffsets(headerEnd, data, 0, &block)) return 0;
  }
}

int CRARScanner::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  m_walk.Start(sector, ss, m_nStartSector, SectorReads());
  return sector[6] == 0x01 ? WalkVersion5() : WalkVersion4();
}

}  // namespace kavo

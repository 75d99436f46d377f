#include "scanners/sevenzip_scanner.h"

#include <limits>

#include "platform/bytes.h"

namespace kavo {

namespace {

// The signature header: signature (6), version (2), CRC of the next 20 bytes (4), next-header
// offset from the end of this header (8), next-header size (8), next-header CRC (4).
constexpr uint32_t kSignatureHeaderBytes = 32;
constexpr uint32_t kStartHeaderCrcAt = 8;
constexpr uint32_t kNextHeaderOffsetAt = 12;
constexpr uint32_t kNextHeaderSizeAt = 20;

uint32_t Crc32(const uint8_t* bytes, size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace

C7Z::C7Z() {
  m_pSignature = std::make_unique<ScannerSignature>(
      std::initializer_list<uint8_t>{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C});
}

int C7Z::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  return 1;
}

int C7Z::ParseFile(uint8_t* sector) {
  // The archive ends with its next header. The low halves of its offset and size, summed in
  // 32 bits, measure every archive below 4 GiB; a larger one is measured by the whole 64-bit
  // fields, trusted only when the start header's CRC holds, so that a damaged high half cannot
  // make the scan jump over the rest of the source.
  uint64_t length =
      static_cast<uint32_t>(LoadLe32(sector + kNextHeaderOffsetAt) + kSignatureHeaderBytes +
                            LoadLe32(sector + kNextHeaderSizeAt));
  if (Crc32(sector + kNextHeaderOffsetAt, 20) == LoadLe32(sector + kStartHeaderCrcAt)) {
    const uint64_t offset = LoadLe64(sector + kNextHeaderOffsetAt);
    const uint64_t size = LoadLe64(sector + kNextHeaderSizeAt);
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (offset > kMax - kSignatureHeaderBytes || size > kMax - kSignatureHeaderBytes - offset) {
      return 0;
    }
    length = offset + kSignatureHeaderBytes + size;
  }
  const uint32_t ss = SectorSize();
  m_nLength = static_cast<int64_t>(length);
  // The sector that holds the last byte.
  m_nEndSector = m_nStartSector + (length < ss ? 0 : (length - 1) / ss);
  m_strExtension = u"7Z";
  return 1;
}

}  // namespace kavo

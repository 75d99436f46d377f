#include "scanners/cab_scanner.h"

#include "platform/bytes.h"

namespace kavo {

namespace {

// The cabinet header: signature (4), reserved (4), cabinet size (4), reserved (4), ... flags
// (16-bit at 30); with reserved areas present, the header's reserve size (16-bit at 36), the
// folder and data reserve sizes (8-bit at 38 and 39) and the header's reserve from offset 40.
constexpr uint32_t kCabinetSizeAt = 8;
constexpr uint32_t kFlagsAt = 30;
constexpr uint16_t kReservePresent = 0x0004;
constexpr uint32_t kHeaderReserveSizeAt = 36;
// A signed cabinet's header reserve: a tag (4), where the signature starts (4), its size (4).
constexpr uint32_t kSignatureOffsetAt = 44;
constexpr uint32_t kSignatureSizeAt = 48;
constexpr uint16_t kSignatureReserveBytes = 12;

}  // namespace

CabScanner::CabScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x4D, 0x53, 0x43, 0x46});
}

int CabScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) || LoadLe32(sector + 4) != 0 || LoadLe32(sector + 12) != 0) {
    return 0;
  }
  PositionAtMatch(blockFirstSector, index, false);
  return 1;
}

int CabScanner::ParseFile(uint8_t* sector) {
  // The cabinet's own size, plus the signature of a signed cabinet, which follows the cabinet.
  // Offset 48 holds the signature's size only in a header reserve that says the signature
  // starts where the cabinet ends; elsewhere it is a folder entry, a file entry or the names of
  // the neighbouring cabinets of a set, and counts for nothing.
  const uint32_t cabinet = LoadLe32(sector + kCabinetSizeAt);
  uint64_t length = cabinet;
  if ((LoadLe16(sector + kFlagsAt) & kReservePresent) != 0 &&
      LoadLe16(sector + kHeaderReserveSizeAt) >= kSignatureReserveBytes &&
      LoadLe32(sector + kSignatureOffsetAt) == cabinet) {
    length += LoadLe32(sector + kSignatureSizeAt);
  }
  const uint32_t ss = SectorSize();
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + (length < ss ? 0 : (length - 1) / ss);
  m_strExtension = u"cab";
  return 1;
}

}  // namespace kavo

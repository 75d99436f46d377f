#include "scanners/mpeg_scanner.h"

#include <cstring>
#include <limits>

#include "scanners/box_walk.h"
#include "scanners/walk_reader.h"

namespace kavo {

namespace {

// The name for the major brand `brand` (the four bytes at offset 8 of a sector whose first box
// is "ftyp"); the first rule that fits wins. Null for a brand this scanner does not take.
const char16_t* NameForBrand(const uint8_t* sector) {
  const uint8_t* brand = sector + 8;
  auto is = [brand](const char* text, size_t n) { return std::memcmp(brand, text, n) == 0; };
  if (is("3gp5", 4) || is("isom", 4) || is("avc1", 4) ||
      (is("MSNV", 4) && std::memcmp(sector + 16, "MSNV", 4) == 0)) {
    return u"mp4";
  }
  if (is("mp42", 4)) return u"m4v";
  if (is("M4A ", 4)) return u"m4a";
  if (is("3gp", 3)) return u"3gp";
  if (is("qt ", 3)) return u"qt";
  return nullptr;
}

}  // namespace

CMPEGScanner::CMPEGScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x66, 0x74, 0x79, 0x70});
}

int CMPEGScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (std::memcmp(sector + 4, m_pSignature->Bytes(), 4) != 0) return 0;
  const char16_t* name = NameForBrand(sector);
  if (!name) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = name;
  return 1;
}

int CMPEGScanner::ParseFile(uint8_t* sector) {
  return MeasureBoxedFile(
             sector, SectorSize(), m_nStartSector, SectorReads(),
             [this] { return StopRequested(); }, m_nLength, m_nEndSector)
             ? 1
             : 0;
}

}  // namespace kavo

#include "scanners/avi_scanner.h"

#include <cstring>

#include "platform/bytes.h"
#include "scanners/walk_reader.h"

namespace kavo {

namespace {

bool Is(const uint8_t* bytes, const char* text) {
  return std::memcmp(bytes, text, 4) == 0;
}

// The name of an AVI by the handler of its first stream header (offset 112 in the usual
// layout), or "avi".
const char16_t* AviName(const uint8_t* sector) {
  const uint8_t* handler = sector + 112;
  if (Is(handler, "divx") || Is(handler, "DIVX") || Is(handler, "DX50") || Is(handler, "Divx")) {
    return u"DIVX";
  }
  if (Is(handler, "XVID") || Is(handler, "xvid") || Is(handler, "Xvid")) return u"XVID";
  return u"avi";
}

}  // namespace

CAVIScanner::CAVIScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x52, 0x49, 0x46, 0x46});
}

int CAVIScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  const bool avi = Is(sector + 8, "AVI ") && (Is(sector + 12, "LIST") || Is(sector + 12, "JUNK"));
  if (!avi && !Is(sector + 8, "WAVE")) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  return 1;
}

int CAVIScanner::ParseFile(uint8_t* sector) {
  const uint32_t size = LoadLe32(sector + 4);
  if (size == 0) return 0;
  const bool avi = Is(sector + 8, "AVI ");
  m_strExtension = avi ? AviName(sector) : u"wav";
  uint64_t length = uint64_t{size} + 8;

  // A large AVI goes on in further RIFF chunks of form "AVIX", one after the other.
  if (avi) {
    const uint32_t ss = SectorSize();
    WalkReader file(sector, ss, m_nStartSector, SectorReads());
    uint8_t header[12];
    for (uint32_t n = 0; n < kMaxExtensions; ++n) {
      if (StopRequested()) return 0;
      if (!file.Read(length, header, sizeof header) || !Is(header, "RIFF") ||
          !Is(header + 8, "AVIX") || LoadLe32(header + 4) == 0) {
        break;
      }
      length += uint64_t{LoadLe32(header + 4)} + 8;
    }
  }
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  return 1;
}

}  // namespace kavo

#include "scanners/asf_scanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/bytes.h"
#include "scanners/walk_reader.h"

namespace kavo {

namespace {

constexpr Guid kCodecList = MakeGuid(0x86D15240, 0x311D, 0x11D0, 0xA3A400A0C90348F6);

// The objects a header may hold, the codec list among them.
constexpr Guid kHeaderObjects[] = {
    MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365),  // File Properties
    MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365),  // Stream Properties
    MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365),  // Header Extension
    kCodecList,
    MakeGuid(0x1EFB1A30, 0x0B62, 0x11D0, 0xA39B00A0C90348F6),  // Script Command
    MakeGuid(0xF487CD01, 0xA951, 0x11CF, 0x8EE600C00C205365),  // Marker
    MakeGuid(0xD6E229DC, 0x35DA, 0x11D1, 0x903400A0C90349BE),  // Bitrate Mutual Exclusion
    MakeGuid(0x75B22635, 0x668E, 0x11CF, 0xA6D900AA0062CE6C),  // Error Correction
    MakeGuid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6C),  // Content Description
    MakeGuid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850),  // Extended Content Description
    MakeGuid(0x2211B3FA, 0xBD23, 0x11D2, 0xB4B700A0C955FC6E),  // Content Branding
    MakeGuid(0x7BF875CE, 0x468D, 0x11D1, 0x8D82006097C9A2B2),  // Stream Bitrate Properties
    MakeGuid(0x2211B3FB, 0xBD23, 0x11D2, 0xB4B700A0C955FC6E),  // Content Encryption
    MakeGuid(0x298AE614, 0x2622, 0x4C17, 0xB935DAE07EE9289C),  // Extended Content Encryption
    MakeGuid(0x2211B3FC, 0xBD23, 0x11D2, 0xB4B700A0C955FC6E),  // Digital Signature
    MakeGuid(0x1806D474, 0xCADF, 0x4509, 0xA4BA9AABCB96AAE8),  // Padding
};

constexpr Guid kHeader = MakeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6C);

bool IsHeaderObject(const uint8_t* guid) {
  for (const Guid& g : kHeaderObjects) {
    if (std::memcmp(guid, g.data(), g.size()) == 0) return true;
  }
  return false;
}

enum CodecType : uint16_t { kVideoCodec = 1, kAudioCodec = 2 };

// The name by the codec list at `list` (an object of `size` bytes): "wmv" when any entry is a
// video codec, else "wma" when the first is a sound codec, else "asf". Each entry holds its type,
// a name and a description (counted in 16-bit units) and codec data (counted in bytes).
const char16_t* NameByCodecs(WalkReader& file, uint64_t list, uint64_t size) {
  uint8_t field[4];
  if (!file.Read(list + 40, field, 4)) return u"asf";
  const uint32_t count = std::min(LoadLe32(field), CASFScanner::kMaxCodecEntries);
  const uint64_t end = size > std::numeric_limits<uint64_t>::max() - list
                           ? std::numeric_limits<uint64_t>::max()
                           : list + size;
  uint16_t firstType = 0;
  auto byFirstEntry = [&firstType]() -> const char16_t* {
    return firstType == kAudioCodec ? u"wma" : u"asf";
  };
  uint64_t entry = list + 44;
  for (uint32_t i = 0; i < count && entry + 2 <= end; ++i) {
    if (!file.Read(entry, field, 2)) break;
    const uint16_t type = LoadLe16(field);
    if (type == kVideoCodec) return u"wmv";
    if (i == 0) firstType = type;
    // Step over the name, the description and the codec data.
    uint64_t at = entry + 2;
    for (uint32_t unit : {2u, 2u, 1u}) {
      if (at + 2 > end || !file.Read(at, field, 2)) return byFirstEntry();
      at += 2 + uint64_t{LoadLe16(field)} * unit;
    }
    entry = at;
  }
  return byFirstEntry();
}

}  // namespace

CASFScanner::CASFScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{
      kHeader[0], kHeader[1], kHeader[2], kHeader[3], kHeader[4], kHeader[5], kHeader[6],
      kHeader[7], kHeader[8], kHeader[9], kHeader[10], kHeader[11], kHeader[12], kHeader[13],
      kHeader[14], kHeader[15]});
}

int CASFScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"asf";
  return 1;
}

int CASFScanner::ParseFile(uint8_t* sector) {
  // The File Properties object comes first in the header; its file size lies at 70.
  const uint64_t length = LoadLe64(sector + 70);
  if (length == 0 || length > kMaxLength) return 0;
  const uint64_t headerSize = LoadLe64(sector + 16);
  if (headerSize == 0) return 0;

  const uint32_t ss = SectorSize();
  WalkReader file(sector, ss, m_nStartSector, SectorReads());
  const char16_t* name = u"asf";
  // The walk ends at the codec list, or where the header ends when it holds none. Each object
  // is shorter than the header, so each step stays within reach of it.
  for (uint64_t at = 30; at < headerSize;) {
    if (StopRequested()) return 0;
    uint8_t object[24];
    if (!file.Read(at, object, sizeof object)) return 0;
    const uint64_t size = LoadLe64(object + 16);
    if (std::memcmp(object, kCodecList.data(), kCodecList.size()) == 0) {
      name = NameByCodecs(file, at, size);
      break;
    }
    if (!IsHeaderObject(object) || size == 0 || size >= headerSize) return 0;
    if (size > std::numeric_limits<uint64_t>::max() - at) return 0;
    at += size;
  }
  m_strExtension = name;
  m_nLength = static_cast<int64_t>(length);
  // The end rule counts one sector less than the file's own last sector. A file within one
  // sector then ends before it starts and yields no file; at sector 0 that cannot be expressed.
  if (length < ss && m_nStartSector == 0) return 0;
  m_nEndSector = m_nStartSector + length / ss - 1;
  return 1;
}

}  // namespace kavo

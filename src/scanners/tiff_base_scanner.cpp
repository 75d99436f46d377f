#include "scanners/tiff_base_scanner.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "scanners/source_reader.h"

namespace kavo {

namespace {

constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;
constexpr uint16_t kJpegOffset = 513;
constexpr uint16_t kJpegLength = 514;
constexpr uint16_t kMake = 271;
constexpr uint16_t kModel = 272;
constexpr uint16_t kSubIfds = 330;
constexpr uint16_t kExifIfd = 34665;
constexpr uint16_t kGpsIfd = 34853;
constexpr uint16_t kInteropIfd = 40965;

// Entries the measure reads at most from one directory.
constexpr uint32_t kMaxMeasuredEntries = 512;
// Strips or tiles measured between two stop checks.
constexpr uint32_t kPiecesPerStopCheck = 4096;

bool IsDngTag(uint16_t tag) {
  return tag == 50706 || tag == 50707 || tag == 50708 || tag == 50721;
}

// The tags the walk acts on (and, for some files, takes the value fields of as offsets).
bool IsWalkedTag(uint16_t tag) {
  switch (tag) {
    case 270:
    case kMake:
    case kModel:
    case kStripOffsets:
    case kStripByteCounts:
    case kTileOffsets:
    case kTileByteCounts:
    case kSubIfds:
    case kJpegOffset:
    case kJpegLength:
    case kExifIfd: return true;
    default: return IsDngTag(tag);
  }
}

// Bytes of one value of a field type; 0 for types the file format does not define.
uint64_t TypeBytes(uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7: return 1;
    case 3:
    case 8: return 2;
    case 4:
    case 9:
    case 11:
    case 13: return 4;
    case 5:
    case 10:
    case 12: return 8;
    default: return 0;
  }
}

// Bytes of one value of an entry read as an integer: bytes and shorts by their size, anything
// else as a 32-bit number.
uint32_t IntegerBytes(uint16_t type) {
  switch (type) {
    case 1:
    case 6: return 1;
    case 3:
    case 8: return 2;
    default: return 4;
  }
}

// Four bytes of a text, in either order.
bool Group(const uint8_t* text, const char* four) {
  return (text[0] == four[0] && text[1] == four[1] && text[2] == four[2] && text[3] == four[3]) ||
         (text[0] == four[3] && text[1] == four[2] && text[2] == four[1] && text[3] == four[0]);
}

bool Pair(const uint8_t* text, const char* two) {
  return text[0] == two[0] && text[1] == two[1];
}

const char16_t* ExtensionOf(uint8_t kind) {
  static constexpr const char16_t* kNames[] = {
      u"tiff", u"cr2", u"iiq", u"PEF",     u"Richo", u"DNG", u"NEF", u"arw",
      u"3fr",  u"sr2", u"MEF", u"sony100", u"orf",   u"raw", u"crw",
  };
  return kNames[kind];
}

}  // namespace

CTiffBaseScanner::CTiffBaseScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'M', 'M'});
}

bool CTiffBaseScanner::ByteOrderTest(const uint8_t* sector) {
  if (sector[0] == 'M' && sector[1] == 'M') {
    m_nLittleEndian = 0;
    return true;
  }
  if (sector[0] == 'I' && sector[1] == 'I') {
    m_nLittleEndian = 1;
    return true;
  }
  return false;
}

void CTiffBaseScanner::SetKind(Kind kind) {
  m_kind = kind;
  m_strExtension = ExtensionOf(static_cast<uint8_t>(kind));
}

void CTiffBaseScanner::BeginFile(const uint8_t* sector) {
  m_file.Start(sector, SectorSize(), m_nStartSector, SectorReads());
  m_visited.clear();
}

uint64_t CTiffBaseScanner::BytesInSource() const {
  uint64_t limit = std::numeric_limits<uint64_t>::max();
  if (m_pReader) {
    limit = m_pReader->SectorLimit();
  } else if (m_pDisk && m_pDisk->m_nTotalSectors != 0) {
    limit = m_pDisk->m_nTotalSectors;
  }
  if (limit <= m_nStartSector) return 0;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(limit - m_nStartSector, uint64_t{SectorSize()}, &bytes)) {
    return std::numeric_limits<uint64_t>::max();
  }
  return bytes;
}

bool CTiffBaseScanner::ReadBytes(uint64_t offset, uint8_t* out, uint32_t count) {
  return m_file.Read(offset, out, count);
}

bool CTiffBaseScanner::ReadU16(uint64_t offset, uint32_t* value) {
  uint8_t b[2];
  if (!ReadBytes(offset, b, 2)) return false;
  *value = m_nLittleEndian ? (b[0] | (b[1] << 8)) : ((b[0] << 8) | b[1]);
  return true;
}

bool CTiffBaseScanner::ReadU32(uint64_t offset, uint32_t* value) {
  uint8_t b[4];
  if (!ReadBytes(offset, b, 4)) return false;
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t byte = b[m_nLittleEndian ? 3 - i : i];
    v = (v << 8) | byte;
  }
  *value = v;
  return true;
}

bool CTiffBaseScanner::ReadEntry(uint64_t offset, Entry* entry) {
  uint32_t tag = 0;
  uint32_t type = 0;
  if (!ReadU16(offset, &tag) || !ReadU16(offset + 2, &type) ||
      !ReadU32(offset + 4, &entry->count) || !ReadU32(offset + 8, &entry->field)) {
    return false;
  }
  entry->tag = static_cast<uint16_t>(tag);
  entry->type = static_cast<uint16_t>(type);
  entry->at = offset + 8;
  return true;
}

bool CTiffBaseScanner::EntryValue(const Entry& entry, uint32_t i, uint32_t* value) {
  if (i >= entry.count) return false;
  const uint32_t size = IntegerBytes(entry.type);
  // Values that fit in the four bytes of the value field are stored there.
  const uint64_t base = entry.count <= 4 / size ? entry.at : entry.field;
  const uint64_t at = base + uint64_t{i} * size;
  if (size == 4) return ReadU32(at, value);
  if (size == 2) return ReadU16(at, value);
  uint8_t b = 0;
  if (!ReadBytes(at, &b, 1)) return false;
  *value = b;
  return true;
}

void CTiffBaseScanner::ClearWalker() {
  m_nDataOffset = 0;
  m_nDataByteCount = 0;
  m_nSubDirOffset = 0;
  m_nExifDirOffset = 0;
  m_nSubDirCount = 0;
  m_visited.clear();
}

bool CTiffBaseScanner::Visit(uint64_t offset) {
  if (m_visited.size() >= kMaxDirectories ||
      std::find(m_visited.begin(), m_visited.end(), offset) != m_visited.end()) {
    return false;
  }
  m_visited.push_back(offset);
  return true;
}

void CTiffBaseScanner::TestMaker(const Entry& entry) {
  // The maker text, and the model text that follows it in the files of some makers.
  uint8_t t[12] = {};
  const uint64_t text = entry.count <= 4 ? entry.at : entry.field;
  if (!ReadBytes(text, t, sizeof t)) return;
  if ((Group(t, "Leic") || Group(t, "SAMS") || Group(t, "Cano") || Group(t, "PENT")) &&
      (Group(t + 4, "a Ca") || Group(t + 4, "UNG\0") || Group(t + 4, "n Ca") ||
       Group(t + 4, "AX C"))) {
    SetKind(Kind::Pef);
  }
  if (Group(t, "SONY")) SetKind(Kind::Arw);
  if (Group(t, "NIKO")) SetKind(Kind::Nef);
  if (Group(t, "Hass") && Group(t + 4, "elbl")) SetKind(Kind::ThreeFr);
  if (Group(t + 6, "DSC-")) SetKind(Kind::Sr2);
  if (Group(t, "RICO") && (Pair(t + 4, "H ") || Pair(t + 5, "H "))) SetKind(Kind::Richo);
  if (Group(t, "Mami") && (Pair(t + 4, "ya") || Pair(t + 5, "ya"))) SetKind(Kind::Mef);
}

void CTiffBaseScanner::TestModel(const Entry& entry) {
  uint8_t t[4] = {};
  const uint64_t text = entry.count <= 4 ? entry.at : entry.field;
  if (ReadBytes(text + 5, t, sizeof t) && Group(t, "A100")) SetKind(Kind::Sony100);
}

bool CTiffBaseScanner::WalkDirectory(uint64_t offset) {
  return Walk(offset, 0);
}

bool CTiffBaseScanner::Walk(uint64_t offset, uint32_t depth) {
  // The next-directory chain is followed in this loop; sub-directories and the Exif directory
  // recurse, at most kMaxDepth deep. Every directory is walked once.
  for (uint64_t d = offset;;) {
    const bool first = depth == 0 && d == offset;
    if (d > kMaxDirectoryOffset) return true;
    if (depth > kMaxDepth || !Visit(d)) return true;
    uint32_t n = 0;
    // A directory beyond the source is not followed; the first one cannot be measured.
    if (!ReadU16(d, &n)) return !first;
    if (n < kMinEntries || n > kMaxEntries) {
      if (!first) return true;  // a damaged sub-directory does not lose the file
      m_nEndSector = m_nStartSector + 1;
      return false;
    }
    m_nLength = std::max<int64_t>(m_nLength, static_cast<int64_t>(d + 2 + 12 * uint64_t{n}));

    uint32_t dngTags = 0;
    uint64_t subDirs = 0;
    uint32_t subDirCount = 0;
    uint64_t exifDir = 0;
    const uint64_t inSource = BytesInSource();
    for (uint32_t i = 0; i < n; ++i) {
      if (StopRequested()) return false;
      Entry e;
      if (!ReadEntry(d + 2 + 12 * uint64_t{i}, &e)) break;
      if (IsDngTag(e.tag) && ++dngTags >= 2 && (m_kind == Kind::Pef || m_kind == Kind::Richo)) {
        SetKind(Kind::Dng);
        m_nDataOffset = 0;
        m_nDataByteCount = 0;
        dngTags = 0;
      }
      if (!IsWalkedTag(e.tag)) continue;
      uint32_t value = 0;
      // A value stored in the value field is taken by its type: a short of a big-endian file
      // fills the field's first two bytes, and read as a long would be 65536 times too large.
      if (m_kind == Kind::ThreeFr || m_kind == Kind::Tiff) {
        uint64_t raise = e.field;
        if (TypeBytes(e.type) * e.count <= 4) raise = EntryValue(e, 0, &value) ? value : 0;
        if (raise <= inSource) m_nLength = std::max<int64_t>(m_nLength, raise);
      }
      switch (e.tag) {
        case kStripOffsets:
        case kTileOffsets:
        case kJpegOffset:
          if (e.count == 0 || !EntryValue(e, e.count - 1, &value)) break;
          if (e.tag == kJpegOffset && e.count == 1 && m_kind != Kind::Arw &&
              m_kind != Kind::ThreeFr && m_kind != Kind::Dng && m_kind != Kind::Nef) {
            value = 0;
          }
          m_nDataOffset = value;
          break;
        case kStripByteCounts:
        case kTileByteCounts:
        case kJpegLength: {
          if (e.count == 0 || !EntryValue(e, e.count - 1, &value)) break;
          if (e.tag == kJpegLength && e.count == 1 && m_kind != Kind::Sr2 && m_kind != Kind::Arw &&
              m_kind != Kind::ThreeFr && m_kind != Kind::Nef) {
            value = 0;
          }
          m_nDataByteCount = value;
          if (m_kind == Kind::Orf) return true;
          const int64_t end = m_nDataOffset + m_nDataByteCount;
          if (end > m_nLength || m_kind == Kind::Dng) m_nLength = end;
          break;
        }
        case kMake: TestMaker(e); break;
        case kModel: TestModel(e); break;
        case kSubIfds:
          m_nSubDirOffset = e.field;
          m_nSubDirCount = e.count;
          subDirs = e.field;
          subDirCount = e.count;
          if (m_kind != Kind::Sr2 && m_kind != Kind::Arw && m_kind != Kind::Nef &&
              m_kind != Kind::Mef) {
            m_nDataOffset = 0;
            m_nDataByteCount = 0;
          }
          break;
        case kExifIfd:
          if (m_kind == Kind::Sony100 || m_kind == Kind::Mef) {
            m_nExifDirOffset = e.field;
            exifDir = e.field;
          }
          break;
        default: break;
      }
    }
    uint32_t next = 0;
    if (!ReadU32(d + 2 + 12 * uint64_t{n}, &next)) next = 0;

    auto followSubDirs = [&]() {
      if (m_kind == Kind::Sony100) {
        m_nSubDirOffset = 0;
        return true;
      }
      if (subDirs == 0) return true;
      uint32_t count = std::min(std::max<uint32_t>(subDirCount, 1), kMaxSubDirectories);
      if (m_kind == Kind::Mef) count = 1;
      for (uint32_t j = 0; j < count; ++j) {
        uint32_t at = static_cast<uint32_t>(subDirs);
        if (subDirCount > 1 && !ReadU32(subDirs + 4 * uint64_t{j}, &at)) break;
        m_nDataOffset = at;
        if (!Walk(at, depth + 1)) return false;
      }
      return true;
    };
    auto followExif = [&]() {
      if (exifDir == 0 || m_kind == Kind::Sr2 || m_kind == Kind::Orf || m_kind == Kind::Arw ||
          m_kind == Kind::Dng || m_kind == Kind::Pef || m_kind == Kind::Nef) {
        return true;
      }
      return Walk(exifDir, depth + 1);
    };
    if (exifDir != 0 && (subDirs == 0 || exifDir < subDirs)) {
      if (!followExif() || !followSubDirs()) return false;
    } else if (!followSubDirs() || !followExif()) {
      return false;
    }
    if (next == 0 || m_kind == Kind::Arw || m_kind == Kind::Sr2 || m_kind == Kind::Nef) return true;
    d = next;
  }
}

bool CTiffBaseScanner::ReferencedEnd(uint64_t offset, uint64_t* end) {
  const uint64_t limit = BytesInSource();
  uint64_t furthest = 0;
  auto reach = [&](uint64_t from, uint64_t bytes) {
    if (from <= limit && bytes <= limit - from) furthest = std::max(furthest, from + bytes);
  };
  std::vector<uint64_t> pending = {offset};
  std::vector<uint64_t> seen;
  while (!pending.empty() && seen.size() < kMaxDirectories) {
    const uint64_t d = pending.back();
    pending.pop_back();
    if (d > kMaxDirectoryOffset || std::find(seen.begin(), seen.end(), d) != seen.end()) continue;
    seen.push_back(d);
    uint32_t n = 0;
    if (!ReadU16(d, &n) || n == 0 || n > kMaxMeasuredEntries) continue;
    // The entries and the next-directory pointer after them.
    reach(d, 2 + 12 * uint64_t{n} + 4);

    // Offset and byte-count entries of strips, tiles and an embedded JPEG, paired.
    Entry pieces[3][2];
    bool have[3][2] = {};
    for (uint32_t i = 0; i < n; ++i) {
      if (StopRequested()) return false;
      Entry e;
      if (!ReadEntry(d + 2 + 12 * uint64_t{i}, &e)) break;
      const uint64_t bytes = TypeBytes(e.type) * e.count;
      if (bytes > 4) reach(e.field, bytes);
      int piece = -1;
      int part = 0;
      switch (e.tag) {
        case kSubIfds:
        case kExifIfd:
        case kGpsIfd:
        case kInteropIfd:
          for (uint32_t j = 0; j < std::min(e.count, kMaxSubDirectories); ++j) {
            uint32_t at = 0;
            if (!EntryValue(e, j, &at)) break;
            if (at != 0) pending.push_back(at);
          }
          break;
        case kStripOffsets: piece = 0; break;
        case kStripByteCounts: piece = 0, part = 1; break;
        case kTileOffsets: piece = 1; break;
        case kTileByteCounts: piece = 1, part = 1; break;
        case kJpegOffset: piece = 2; break;
        case kJpegLength: piece = 2, part = 1; break;
        default: break;
      }
      if (piece >= 0) {
        pieces[piece][part] = e;
        have[piece][part] = true;
      }
    }
    for (int p = 0; p < 3; ++p) {
      if (!have[p][0] || !have[p][1]) continue;
      const uint32_t count = std::min({pieces[p][0].count, pieces[p][1].count, kMaxPieces});
      for (uint32_t j = 0; j < count; ++j) {
        if (j % kPiecesPerStopCheck == 0 && StopRequested()) return false;
        uint32_t at = 0;
        uint32_t bytes = 0;
        if (!EntryValue(pieces[p][0], j, &at) || !EntryValue(pieces[p][1], j, &bytes)) break;
        reach(at, bytes);
      }
    }
    uint32_t next = 0;
    if (ReadU32(d + 2 + 12 * uint64_t{n}, &next) && next != 0) pending.push_back(next);
  }
  *end = furthest;
  return true;
}

}  // namespace kavo

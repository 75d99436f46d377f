#include "scanners/zip_scanner.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/bytes.h"

namespace kavo {

namespace {

// Record types: the two bytes after "PK".
constexpr uint16_t kLocalHeader = 0x0304;
constexpr uint16_t kCentralHeader = 0x0102;
constexpr uint16_t kEndRecord = 0x0506;
constexpr uint16_t kZip64EndRecord = 0x0606;
constexpr uint16_t kZip64Locator = 0x0607;

constexpr uint16_t kEncryptedFlag = 0x0001;
constexpr uint16_t kDescriptorFlag = 0x0008;
constexpr uint16_t kStoredMethod = 0;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr size_t kNameCopyBytes = 256;

// A data descriptor without its signature holds the CRC and the two sizes, of 4 or 8 bytes.
constexpr uint32_t kUnsignedDescriptorBytes[] = {12, 20};

constexpr uint8_t kSigningBlockMagic[16] = {'A', 'P', 'K', ' ', 'S', 'i', 'g', ' ',
                                            'B', 'l', 'o', 'c', 'k', ' ', '4', '2'};

bool Add(uint64_t a, uint64_t b, uint64_t* sum) {
  return !__builtin_add_overflow(a, b, sum);
}

template <size_t N>
bool NameIs(const uint8_t* name, const char (&text)[N]) {
  return std::memcmp(name, text, N - 1) == 0;
}

// Office Open XML packages are told apart by the relationships of their main part.
const char16_t* RelationshipExtension(const std::string& name) {
  if (name == "word/_rels/document.xml.rels") return u"docx";
  if (name == "xl/_rels/workbook.xml.rels") return u"xlsx";
  if (name == "ppt/slides/_rels/slide1.xml.rels") return u"pptx";
  return nullptr;
}

}  // namespace

CZipScanner::CZipScanner() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x50, 0x4B, 0x03, 0x04});
}

int CZipScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  // The first entry's name; OpenDocument packages store their "mimetype" entry first and
  // uncompressed, so its content follows the name.
  const uint8_t* name = sector + 30;
  if (NameIs(name, "0.IIQ")) {
    m_strExtension = u"eip";
  } else if (NameIs(name, "mimetypeapplication/vnd.oasis.opendocument.text")) {
    m_strExtension = u"odt";
  } else if (NameIs(name, "mimetypeapplication/vnd.oasis.opendocument.spreadsheet")) {
    m_strExtension = u"ods";
  } else if (NameIs(name, "mimetypeapplication/vnd.oasis.opendocument.presentation")) {
    m_strExtension = u"odp";
  } else if (NameIs(name, "META-INF/")) {
    m_strExtension = u"jar";
  } else if (NameIs(name, "AndroidManifest.xml")) {
    m_strExtension = u"apk";
  } else {
    m_strExtension = u"zip";
  }
  PositionAtMatch(blockFirstSector, index, true);
  return 1;
}

int CZipScanner::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  m_file.Start(sector, ss, m_nStartSector, [this](uint64_t at, uint8_t* buffer) {
    return StopRequested() ? SectorRead::PastEnd : ReadSourceSector(at, buffer);
  });
  if (StopRequested()) return 0;

  // Packages named by their first entry keep that name; other archives may be Office Open XML
  // packages, named by their relationship entries. Microsoft Office writes the content types
  // first, LibreOffice the package relationships, other writers the content types anywhere.
  const bool mayBeOffice = m_strExtension == u"zip";
  bool officeWalk = false;
  bool sawContentTypes = false;
  const char16_t* officeExtension = nullptr;

  // Every record moves the walk on by at least 12 bytes, and a record past the source's end
  // ends it.
  uint64_t offset = 0;
  for (;;) {
    if (StopRequested()) return 0;
    uint8_t head[4];
    if (!Read(offset, head, sizeof head)) return 0;
    const uint16_t type = head[0] == 'P' && head[1] == 'K' ? LoadBe16(head + 2) : 0;
    uint64_t next = 0;
    switch (type) {
      case kLocalHeader: {
        LocalEntry entry;
        if (!WalkLocalEntry(offset, mayBeOffice, &entry)) return 0;
        if (mayBeOffice) {
          const bool contentTypes = entry.name == "[Content_Types].xml";
          if (offset == 0) officeWalk = contentTypes || entry.name == "_rels/.rels";
          sawContentTypes = sawContentTypes || contentTypes;
          if (!officeExtension) officeExtension = RelationshipExtension(entry.name);
        }
        next = entry.next;
        break;
      }
      case kCentralHeader: {
        uint8_t lengths[6];
        if (!Read(offset + 28, lengths, sizeof lengths)) return 0;
        next = offset + 46 + LoadLe16(lengths) + LoadLe16(lengths + 2) + LoadLe16(lengths + 4);
        break;
      }
      case kZip64EndRecord: {
        uint64_t size = 0;
        if (!Read64(offset + 4, &size) || !Add(offset + 12, size, &next)) return 0;
        break;
      }
      case kZip64Locator: next = offset + 20; break;
      case kEndRecord: {
        uint16_t comment = 0;
        if (!Read16(offset + 20, &comment)) return 0;
        const uint64_t length = offset + 22 + comment;
        if (length > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return 0;
        if (officeExtension && (officeWalk || sawContentTypes)) m_strExtension = officeExtension;
        m_nLength = static_cast<int64_t>(length);
        m_nEndSector = m_nStartSector + length / ss;
        return 1;
      }
      default:
        // Anything else is damage, except the signing block of an Android package.
        if (!SigningBlockAt(offset, &next)) return 0;
        break;
    }
    offset = next;
  }
}

bool CZipScanner::WalkLocalEntry(uint64_t offset, bool wantName, LocalEntry* entry) {
  uint8_t h[30];
  if (!Read(offset, h, sizeof h)) return false;
  const uint16_t flags = LoadLe16(h + 6);
  const uint16_t method = LoadLe16(h + 8);
  const uint32_t compressed32 = LoadLe32(h + 18);
  const uint32_t uncompressed32 = LoadLe32(h + 22);
  const uint16_t nameLength = LoadLe16(h + 26);
  const uint16_t extraLength = LoadLe16(h + 28);
  if (wantName) {
    entry->name.resize(std::min<size_t>(nameLength, kNameCopyBytes));
    if (!Read(offset + 30, reinterpret_cast<uint8_t*>(entry->name.data()),
              static_cast<uint32_t>(entry->name.size()))) {
      return false;
    }
  }
  const uint64_t extraStart = offset + 30 + nameLength;
  const uint64_t dataStart = extraStart + extraLength;

  uint64_t compressed = compressed32;
  bool zip64 = false;
  if ((flags & kDescriptorFlag) != 0 || compressed32 == kZip64Marker) {
    if (!Zip64CompressedSize(extraStart, extraLength, uncompressed32, &compressed, &zip64)) {
      return false;
    }
  }
  if ((flags & kDescriptorFlag) == 0) return Add(dataStart, compressed, &entry->next);

  // The sizes follow the data in a descriptor. A writer that knew them put them in the header
  // too; one that streamed left them 0 there, and the descriptor is found by searching the data
  // for one whose size matches the distance walked.
  const bool stored = method == kStoredMethod && (flags & kEncryptedFlag) == 0;
  if (compressed == 0) {
    return FindDescriptor(dataStart, stored, zip64 ? kMaxStreamedZip64Bytes : kMaxStreamedBytes,
                          &entry->next);
  }
  uint64_t dataEnd = 0;
  if (!Add(dataStart, compressed, &dataEnd)) return false;
  if (SignedDescriptorAt(dataStart, dataEnd, stored, &entry->next)) return true;
  for (uint32_t width : kUnsignedDescriptorBytes) {
    if (UnsignedDescriptorAt(dataStart, dataEnd, width, stored, &entry->next)) return true;
  }
  entry->next = dataEnd;
  return true;
}

bool CZipScanner::Zip64CompressedSize(uint64_t extraStart, uint16_t extraLength,
                                      uint32_t uncompressed, uint64_t* compressed, bool* zip64) {
  const uint64_t end = extraStart + extraLength;
  for (uint64_t at = extraStart; at + 4 <= end;) {
    uint8_t field[4];
    if (!Read(at, field, sizeof field)) return false;
    const uint16_t size = LoadLe16(field + 2);
    if (LoadLe16(field) == kZip64ExtraId) {
      *zip64 = true;
      // The field holds the 64-bit sizes whose 32-bit fields are marked, original size first.
      if (*compressed == kZip64Marker) {
        const uint32_t skip = uncompressed == kZip64Marker ? 8 : 0;
        if (skip + 8u <= size && !Read64(at + 4 + skip, compressed)) return false;
      }
      return true;
    }
    at += 4u + size;
  }
  return true;
}

bool CZipScanner::FindDescriptor(uint64_t dataStart, bool stored, uint64_t limit, uint64_t* next) {
  const uint32_t ss = SectorSize();
  uint64_t end = 0;
  if (!Add(dataStart, limit + 24, &end)) end = std::numeric_limits<uint64_t>::max();
  // Every candidate starts with "PK": the signature of a descriptor, or the record after a
  // descriptor without one.
  for (uint64_t at = dataStart; at < end;) {
    if (StopRequested() || !m_file.Load(at / ss)) return false;
    const uint64_t within = at % ss;
    const uint8_t* bytes = m_file.Data();
    // Compressed or encrypted data never holds a whole sector of zeros: the entry's data is
    // lost there (a sector that could not be read does not count).
    if (within == 0 && !stored && !m_file.HeldFailed() &&
        std::all_of(bytes, bytes + ss, [](uint8_t b) { return b == 0; })) {
      return false;
    }
    const auto* found = static_cast<const uint8_t*>(std::memchr(bytes + within, 'P', ss - within));
    if (!found) {
      at += ss - within;
      continue;
    }
    const uint64_t candidate = at - within + static_cast<uint64_t>(found - bytes);
    uint8_t head[2];
    // Nothing can follow a "P" in the source's last byte.
    if (!Read(candidate, head, sizeof head)) return false;
    if (head[1] == 'K') {
      if (SignedDescriptorAt(dataStart, candidate, stored, next)) return true;
      for (uint32_t width : kUnsignedDescriptorBytes) {
        if (candidate - dataStart >= width &&
            UnsignedDescriptorAt(dataStart, candidate - width, width, stored, next)) {
          return true;
        }
      }
    }
    at = candidate + 1;
  }
  return false;
}

bool CZipScanner::SignedDescriptorAt(uint64_t dataStart, uint64_t at, bool stored, uint64_t* next) {
  uint8_t d[24];
  if (!Read(at, d, 4) || std::memcmp(d, "PK\x07\x08", 4) != 0) return false;
  if (!Read(at + 4, d + 4, 12)) return false;
  const uint64_t length = at - dataStart;
  if (LoadLe32(d + 8) == length && (!stored || LoadLe32(d + 12) == length) && RecordAt(at + 16)) {
    *next = at + 16;
    return true;
  }
  // The zip64 form, with 8-byte sizes.
  if (!Read(at + 16, d + 16, 8)) return false;
  if (LoadLe64(d + 8) == length && (!stored || LoadLe64(d + 16) == length) && RecordAt(at + 24)) {
    *next = at + 24;
    return true;
  }
  return false;
}

bool CZipScanner::UnsignedDescriptorAt(uint64_t dataStart, uint64_t at, uint32_t width, bool stored,
                                       uint64_t* next) {
  // The CRC, then the compressed and the original size, of 4 or 8 bytes each.
  const uint32_t sizeBytes = (width - 4) / 2;
  uint8_t sizes[16];
  if (!Read(at + 4, sizes, 2 * sizeBytes)) return false;
  const uint64_t length = at - dataStart;
  const uint64_t packed = sizeBytes == 4 ? LoadLe32(sizes) : LoadLe64(sizes);
  const uint64_t unpacked = sizeBytes == 4 ? LoadLe32(sizes + 4) : LoadLe64(sizes + 8);
  if (packed != length || (stored && unpacked != length) || !RecordAt(at + width)) return false;
  *next = at + width;
  return true;
}

bool CZipScanner::RecordAt(uint64_t offset) {
  uint8_t head[4];
  if (!Read(offset, head, sizeof head) || head[0] != 'P' || head[1] != 'K') return false;
  const uint16_t type = LoadBe16(head + 2);
  return type == kLocalHeader || type == kCentralHeader || type == kZip64EndRecord ||
         type == kEndRecord;
}

bool CZipScanner::SigningBlockAt(uint64_t offset, uint64_t* next) {
  // The block's size (excluding its own first field), its pairs, the size again and the magic.
  uint64_t size = 0;
  uint64_t end = 0;
  if (!Read64(offset, &size) || size < 24 || !Add(offset + 8, size, &end)) return false;
  uint8_t tail[24];
  if (!Read(end - 24, tail, sizeof tail) || LoadLe64(tail) != size ||
      std::memcmp(tail + 8, kSigningBlockMagic, sizeof kSigningBlockMagic) != 0) {
    return false;
  }
  *next = end;
  return true;
}

bool CZipScanner::Read(uint64_t offset, uint8_t* out, uint32_t count) {
  return offset <= std::numeric_limits<uint64_t>::max() - count && m_file.Read(offset, out, count);
}

bool CZipScanner::Read16(uint64_t offset, uint16_t* value) {
  uint8_t b[2];
  if (!Read(offset, b, sizeof b)) return false;
  *value = LoadLe16(b);
  return true;
}

bool CZipScanner::Read64(uint64_t offset, uint64_t* value) {
  uint8_t b[8];
  if (!Read(offset, b, sizeof b)) return false;
  *value = LoadLe64(b);
  return true;
}

}  // namespace kavo

#include "recovery/fat/fat_folder.h"

#include <algorithm>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr size_t kEntryBytes = 32;
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kLongNameAttribute = 0x0F;
constexpr uint8_t kFolderAttribute = 0x10;
constexpr uint8_t kLabelAttribute = 0x08;
// Bits of byte 12 of a short entry: base name and extension stored in lower case.
constexpr uint8_t kLowerBase = 0x08;
constexpr uint8_t kLowerExtension = 0x10;
// A file name has at most 255 characters, that is at most 20 long-name entries.
constexpr size_t kMaxLongNamePieces = 20;
constexpr size_t kMaxNameLength = 255;

// Code page 437, the OEM code page of DOS and the default of other systems, for the bytes
// 0x80 ... 0xFF of short names.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

char16_t OemUnit(uint8_t byte, bool lower) {
  if (byte >= 0x80) return kCp437High[byte - 0x80];
  if (lower && byte >= 'A' && byte <= 'Z') return static_cast<char16_t>(byte + ('a' - 'A'));
  return byte;
}

// The 8.3 name of a short entry; a deleted entry's lost first character shows as X.
std::u16string ShortName(const uint8_t* e) {
  std::u16string name;
  size_t base = 8;
  while (base > 0 && e[base - 1] == ' ') --base;
  size_t extension = 3;
  while (extension > 0 && e[8 + extension - 1] == ' ') --extension;
  for (size_t i = 0; i < base; ++i) {
    // 0x05 stands for a first character 0xE5, which would otherwise read as the deleted mark.
    const uint8_t byte = (i == 0 && e[0] == 0x05) ? kDeletedMark : e[i];
    name += OemUnit(byte, (e[12] & kLowerBase) != 0);
  }
  if (extension != 0) {
    name += u'.';
    for (size_t i = 0; i < extension; ++i)
      name += OemUnit(e[8 + i], (e[12] & kLowerExtension) != 0);
  }
  if (e[0] == kDeletedMark && !name.empty()) name[0] = u'X';
  return name;
}

}  // namespace

uint8_t ShortNameChecksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) {
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  }
  return sum;
}

bool HasDotEntries(std::span<const uint8_t> data) {
  static constexpr uint8_t kDot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  static constexpr uint8_t kDotDot[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  return data.size() >= 2 * kEntryBytes && std::equal(kDot, kDot + 11, data.data()) &&
         std::equal(kDotDot, kDotDot + 11, data.data() + kEntryBytes);
}

FatFolderParser::FatFolderParser(uint8_t fileSystem, const VolumeParams& volume, ScanEntry& folder)
    : m_fileSystem(fileSystem), m_volume(volume), m_folder(folder) {}

FolderParse FatFolderParser::Parse(std::span<const uint8_t> piece) {
  size_t offset = 0;
  if (m_first && piece.size() >= kEntryBytes) {
    m_first = false;
    const uint8_t attribute = piece[11];
    if (attribute == 0x08 || attribute == 0x28 || attribute == 0x38) offset = kEntryBytes;
    if (HasDotEntries(piece)) offset = 2 * kEntryBytes;
  }
  for (; offset + kEntryBytes <= piece.size(); offset += kEntryBytes) {
    const uint8_t* e = piece.data() + offset;
    const uint8_t attribute = e[11];
    // The attribute's two top bits are never set, and a folder cannot be a volume label: such an
    // entry, like the end mark, means the rest is not folder data.
    if (e[0] == 0 || attribute > 0x3F || attribute == 0x18) return FolderParse::End;
    ParseEntry(e);
  }
  return FolderParse::More;
}

void FatFolderParser::AddLongNamePiece(const uint8_t* e) {
  static constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  LongNamePiece piece{};
  piece.checksum = e[13];
  piece.deleted = e[0] == kDeletedMark;
  // A live entry flagged as the last part starts a new name: whatever was collected before it
  // belongs to no short entry.
  if (!piece.deleted && (e[0] & 0x40) != 0) m_longName.clear();
  for (size_t offset : kUnitOffsets) {
    const char16_t unit = LoadLe16(e + offset);
    if (unit == 0 || unit == 0xFFFF) break;
    piece.units[piece.count++] = unit;
  }
  if (m_longName.size() == kMaxLongNamePieces) m_longName.erase(m_longName.begin());
  m_longName.push_back(piece);
}

bool FatFolderParser::TakeLongName(const uint8_t* e, std::u16string& name) const {
  if (m_longName.empty()) return false;
  // The pieces of one name carry the checksum of its short name. A deleted short entry has lost
  // its first byte, so there the pieces need only agree with each other; a live one must match
  // them, and it never owns deleted pieces.
  const bool deleted = e[0] == kDeletedMark;
  const uint8_t checksum = deleted ? m_longName.front().checksum : ShortNameChecksum(e);
  for (const LongNamePiece& piece : m_longName) {
    if (piece.checksum != checksum || (!deleted && piece.deleted)) return false;
  }
  name.clear();
  for (auto piece = m_longName.rbegin(); piece != m_longName.rend(); ++piece) {
    name.append(piece->units, piece->count);
  }
  return !name.empty();
}

void FatFolderParser::ParseEntry(const uint8_t* e) {
  const uint8_t attribute = e[11];
  if (attribute == kLongNameAttribute && e[12] == 0) {
    AddLongNamePiece(e);
    return;
  }

  const uint32_t cluster = (uint32_t{LoadLe16(e + 20)} << 16) | LoadLe16(e + 26);
  const uint32_t size = LoadLe32(e + 28);
  const bool folder = (attribute & kFolderAttribute) != 0;
  bool accepted = attribute < 0x39 && attribute != 0x18 && (e[12] & ~0x18) == 0;
  if (cluster == 0) {
    // An empty file owns no cluster.
    accepted = accepted && !folder && (attribute & kLabelAttribute) == 0 && size == 0;
  } else {
    // Cluster 2 is the FAT32 root folder's.
    const uint32_t lowest = m_fileSystem == FS_FAT32 ? 3 : 2;
    accepted = accepted && cluster >= lowest && cluster - 2 < m_volume.clusterCount &&
               cluster != m_folder.id;
  }
  if (!accepted) {
    m_longName.clear();
    return;
  }

  ScanEntryPtr entry = NewScanEntry();
  if (!TakeLongName(e, entry->name)) entry->name = ShortName(e);
  m_longName.clear();
  if (entry->name.size() > kMaxNameLength) entry->name.resize(kMaxNameLength);
  entry->nameLength = static_cast<uint8_t>(entry->name.size());
  if (cluster >= 2) {
    entry->location =
        (uint64_t{cluster} - 2) * 128 + m_volume.firstDataSector + m_volume.partitionStart + 32;
  }
  entry->createdDate = LoadLe16(e + 16);
  entry->modifiedDate = LoadLe16(e + 18);
  entry->size = folder ? 0 : size;
  entry->id = cluster;
  entry->parentId = m_folder.id;
  entry->flags =
      static_cast<uint8_t>((folder ? NF_FOLDER : 0) | (e[0] == kDeletedMark ? 0 : NF_PRESENT));
  // Everything inside a deleted folder is deleted with it.
  if ((m_folder.flags & NF_PRESENT) == 0) entry->flags &= ~NF_PRESENT;
  PrependScanChild(&m_folder, std::move(entry));
}

FolderParse ParseFatFolder(std::span<const uint8_t> buffer, uint8_t fileSystem,
                           const VolumeParams& volume, ScanEntry& folder) {
  FatFolderParser parser(fileSystem, volume, folder);
  return parser.Parse(buffer);
}

}  // namespace kavo

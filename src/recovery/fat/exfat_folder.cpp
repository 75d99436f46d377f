#include <algorithm>

#include "base/messages.h"
#include "platform/bytes.h"
#include "recovery/fat/fat_folder.h"

namespace kavo {

namespace {

constexpr size_t kEntryBytes = 32;
constexpr uint8_t kInUse = 0x80;
constexpr uint16_t kFolderAttribute = 0x10;
constexpr size_t kNameUnitsPerEntry = 15;

}  // namespace

ExfatFolderParser::ExfatFolderParser(const VolumeParams& volume, ScanEntry& folder,
                                     ExfatProgress& progress, ExfatValidLengths* validLengths)
    : m_volume(volume), m_folder(folder), m_progress(progress), m_validLengths(validLengths) {}

FolderParse ExfatFolderParser::Parse(std::span<const uint8_t> piece) {
  const uint64_t clusterBytes = std::max<uint64_t>(m_volume.bytesPerCluster, kEntryBytes);
  for (size_t at = 0; at + kEntryBytes <= piece.size();
       at += kEntryBytes, m_offset += kEntryBytes) {
    if (m_offset < m_skipTo) continue;
    const uint8_t* e = piece.data() + at;
    const uint8_t type = e[0];
    // A secondary entry counts only inside a set of the same state: deleting a file clears the
    // in-use bit of every entry of its set.
    const bool secondaryOfSet = m_inSet && ((type & kInUse) != 0) == m_setInUse;
    switch (type) {
      case 0x81:  // allocation bitmap
      case 0x82:  // up-case table
      case 0x83:  // volume label
      case 0x03:
      case 0xA0:  // volume GUID, padding and other benign entries of the root
      case 0xA1:
      case 0xA2:
      case 0x20:
      case 0x21:
      case 0x22: continue;
      case 0x85:
      case 0x05: {
        const uint16_t attributes = LoadLe16(e + 4);
        if (attributes >= 0x37 || attributes == 0x18) return FolderParse::End;
        m_inSet = e[1] != 0;
        m_setInUse = (type & kInUse) != 0;
        m_haveStream = false;
        m_remaining = e[1];
        m_nameLength = 0;
        m_size = 0;
        m_validLength = 0;
        m_firstCluster = 0;
        m_name.clear();
        m_createdDate = static_cast<uint16_t>(LoadLe32(e + 0x0C) >> 16);
        m_modifiedDate = static_cast<uint16_t>(LoadLe32(e + 0x10) >> 16);
        m_flags = static_cast<uint8_t>(((attributes & kFolderAttribute) != 0 ? NF_FOLDER : 0) |
                                       (type == 0x85 ? NF_PRESENT : 0));
        continue;
      }
      case 0xC0:
      case 0x40:
        if (!secondaryOfSet) continue;
        if (!m_haveStream) {
          m_haveStream = true;
          m_nameLength = e[3];
          // The data length is the file's size; the valid data length before it says how much
          // of that was written (Windows leaves the rest unwritten when it extends a file).
          m_validLength = LoadLe64(e + 8);
          m_size = LoadLe64(e + 0x18);
          m_firstCluster = LoadLe32(e + 0x14);
          // Bit 0: clusters allocated; bit 1: they are contiguous and the table is not kept.
          if ((e[1] & 0x03) == 0x01) m_flags |= NF_FATCHAIN;
        }
        break;
      case 0xC1:
      case 0x41:
        if (!secondaryOfSet) continue;
        if (m_haveStream) {
          const size_t units =
              std::min(kNameUnitsPerEntry,
                       size_t{m_nameLength} - std::min<size_t>(m_name.size(), m_nameLength));
          for (size_t i = 0; i < units; ++i)
            m_name += static_cast<char16_t>(LoadLe16(e + 2 + 2 * i));
        }
        break;
      case 0xE0:  // vendor extensions of a set
      case 0xE1:
      case 0x60:
      case 0x61:
        if (!secondaryOfSet) continue;
        break;
      default:
        // The end mark, or an entry this walk does not know: the rest of this cluster is passed
        // over, and so is any set it interrupted.
        m_inSet = false;
        m_skipTo = (m_offset / clusterBytes + 1) * clusterBytes;
        continue;
    }
    if (--m_remaining == 0) {
      m_inSet = false;
      if (FinishSet() == FolderParse::Stopped) return FolderParse::Stopped;
    }
  }
  return FolderParse::More;
}

FolderParse ExfatFolderParser::FinishSet() {
  if (!m_haveStream) return FolderParse::More;
  const bool folder = (m_flags & NF_FOLDER) != 0;
  const uint32_t cluster = m_firstCluster;
  bool kept = false;
  if (cluster == 0) {
    // An empty file owns no cluster; a deleted file may have lost its first cluster, and is
    // still listed by its name and size, although its data cannot be found.
    kept = !folder && (m_size == 0 || (m_flags & NF_PRESENT) == 0);
  } else {
    kept = cluster > m_volume.rootCluster && cluster >= 2 && cluster - 2 < m_volume.clusterCount &&
           cluster != m_folder.id;
  }
  if (!kept) return FolderParse::More;

  ScanEntryPtr entry = NewScanEntry();
  entry->name = m_name;
  entry->nameLength = static_cast<uint8_t>(m_name.size());
  entry->createdDate = m_createdDate;
  entry->modifiedDate = m_modifiedDate;
  entry->size = m_size;
  entry->flags = m_flags;
  entry->id = cluster;
  entry->parentId = m_folder.id;
  if (cluster >= 2) {
    entry->location = (uint64_t{cluster} - 2) * m_volume.sectorsPerCluster +
                      m_volume.firstDataSector + m_volume.partitionStart;
  }
  if ((m_folder.flags & NF_PRESENT) == 0) entry->flags &= ~NF_PRESENT;

  if (!folder) {
    if (m_validLengths != nullptr && m_validLength < m_size) {
      // Two descriptions of one file: the longer valid length loses no data.
      uint64_t& valid =
          m_validLengths->try_emplace({cluster, m_size, entry->name}, 0).first->second;
      valid = std::max(valid, m_validLength);
    }
    PrependScanChild(&m_folder, std::move(entry));
  } else if (auto known = m_folders.find(cluster); known != m_folders.end()) {
    // The same folder described twice (a renamed folder leaves its old, deleted entry set): one
    // entry stays. A live description always wins over a deleted one, else the newer one.
    ScanEntry& older = *known->second;
    const bool newLive = (entry->flags & NF_PRESENT) != 0;
    const bool oldLive = (older.flags & NF_PRESENT) != 0;
    if ((newLive && !oldLive) || (newLive == oldLive && entry->createdDate >= older.createdDate)) {
      older.createdDate = entry->createdDate;
      older.modifiedDate = entry->modifiedDate;
      older.flags = entry->flags;
      older.size = entry->size;
      older.nameLength = entry->nameLength;
      older.name = std::move(entry->name);
    }
  } else {
    m_folders.emplace(cluster, PrependScanChild(&m_folder, std::move(entry)));
  }

  if (cluster > m_progress.largestCluster && m_volume.clusterCount != 0) {
    m_progress.largestCluster = cluster;
    const uint32_t percent = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{cluster} * 100 / m_volume.clusterCount, 90));
    if (percent > 0 && percent != m_progress.lastPercent && m_progress.window != nullptr) {
      m_progress.lastPercent = percent;
      m_progress.window->Send(UM_SET_PERCENT, percent, 0);
    }
  }
  return ShouldStop(m_progress.record) ? FolderParse::Stopped : FolderParse::More;
}

FolderParse ParseExfatFolder(std::span<const uint8_t> buffer, const VolumeParams& volume,
                             ScanEntry& folder, ExfatProgress& progress) {
  ExfatFolderParser parser(volume, folder, progress);
  return parser.Parse(buffer);
}

}  // namespace kavo

// What the drive-listing page shows of the drive list: one item per row with the texts of its
// four columns, in the groups the page puts them in. Window-free, so that the same model serves
// a list view with group view and one without (where the items stand in group order).
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "partition/drive_rows.h"

namespace kavo {

struct DriveListGroup {
  int id;  // the list view's group id
  const char16_t* title;
  SourceKind kind;  // the rows it holds
};

// The groups in the order they are shown.
inline constexpr DriveListGroup kDriveListGroups[] = {
    {1, u"Logical Drives", SourceKind::LogicalDrive},
    {0, u"Physical Drives", SourceKind::PhysicalDrive},
    {2, u"Partitions ", SourceKind::Partition},
    {3, u"Image File ", SourceKind::ImageFile},
};

inline constexpr const char16_t* kDriveListColumns[] = {u"Disk Name", u"File System", u"Size",
                                                        u"Start Sector"};

struct DriveListItem {
  const DriveListEntry* entry = nullptr;
  int group = -1;
  std::u16string columns[4];  // Disk Name, File System, Size, Start Sector
};

namespace drive_list_detail {

inline std::u16string Widen(const char* text) {
  std::u16string out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

}  // namespace drive_list_detail

// The group id of a row's kind; -1 for a kind no group holds.
inline int DriveListGroupOf(SourceKind kind) {
  for (const DriveListGroup& g : kDriveListGroups) {
    if (g.kind == kind) return g.id;
  }
  return -1;
}

// The first column: a partition's label or a drive's caption (the second text); a volume's or an
// image's name.
inline std::u16string DriveListItemText(const DriveListEntry& entry) {
  return entry.kind == SourceKind::Partition || entry.kind == SourceKind::PhysicalDrive
             ? entry.secondText
             : entry.name;
}

// The file system the row's record names; empty without a record or for an unrecognised one.
inline std::u16string DriveListFileSystemText(const DriveListEntry& entry) {
  if (entry.record == nullptr) return u"";
  switch (entry.record->fileSystem) {
    case FS_NTFS: return u"NTFS";
    case FS_EXFAT: return u"exFAT";
    case FS_FAT32: return u"FAT32";
    case FS_FAT16: return u"FAT16";
    case FS_FAT12: return u"FAT12";
    default: return u"";
  }
}

// The row's bytes: "%.2f GB" (2^30 bytes to the GB) from 1 GB on, "%.2f MB" (2^20) below; empty
// for an image file whose size is not known.
inline std::u16string DriveListSizeText(const DriveListEntry& entry) {
  if (entry.kind == SourceKind::ImageFile && entry.sizeInSectors == 0) return u"";
  const double bytes =
      static_cast<double>(entry.sizeInSectors) * static_cast<double>(entry.bytesPerSector);
  constexpr double kGiB = 1073741824.0, kMiB = 1048576.0;
  char text[64];
  if (bytes >= kGiB) {
    std::snprintf(text, sizeof text, "%.2f GB", bytes / kGiB);
  } else {
    std::snprintf(text, sizeof text, "%.2f MB", bytes / kMiB);
  }
  return drive_list_detail::Widen(text);
}
// The first sector of the row's volume on its source, in full (a volume past sector 2^31 is not
// shown as a negative number); "0" for rows without a record.
inline std::u16string DriveListStartText(const DriveListEntry& entry) {
  const uint64_t start = entry.record != nullptr ? entry.record->firstSector : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64, start);
  return drive_list_detail::Widen(text);
}

// The drive list in its one order: the enumerated rows, then the image-file row (when there is
// one), then the found partitions, newest first.
inline std::vector<const DriveListEntry*> DriveListChain(const DriveList& enumerated,
                                                         const DriveListEntry* imageRow,
                                                         const PartitionList& foundPartitions) {
  std::vector<const DriveListEntry*> chain;
  for (const DriveListEntryPtr& row : enumerated) chain.push_back(row.get());
  if (imageRow != nullptr) chain.push_back(imageRow);
  for (const DriveListEntryPtr& row : foundPartitions) chain.push_back(row.get());
  return chain;
}

// The items of the rows, group by group in the shown order, each group keeping the rows' order.
// The partitions found in an image stand right under it, in its group. A row of a kind no group
// holds is left out.
inline std::vector<DriveListItem> DriveListItems(const std::vector<const DriveListEntry*>& chain) {
  const auto fromImage = [&chain](const DriveListEntry& row) {
    if (row.kind != SourceKind::Partition) return false;
    for (const DriveListEntry* e : chain) {
      if (e != nullptr && e->kind == SourceKind::ImageFile && e->name == row.name) return true;
    }
    return false;
  };
  std::vector<DriveListItem> items;
  const auto add = [&items](const DriveListEntry* entry, int group) {
    DriveListItem item;
    item.entry = entry;
    item.group = group;
    item.columns[0] = DriveListItemText(*entry);
    item.columns[1] = DriveListFileSystemText(*entry);
    item.columns[2] = DriveListSizeText(*entry);
    item.columns[3] = DriveListStartText(*entry);
    items.push_back(std::move(item));
  };
  for (const DriveListGroup& g : kDriveListGroups) {
    for (const DriveListEntry* entry : chain) {
      if (entry == nullptr || entry->kind != g.kind || fromImage(*entry)) continue;
      add(entry, g.id);
      if (entry->kind != SourceKind::ImageFile) continue;
      for (const DriveListEntry* part : chain) {
        if (part != nullptr && part->kind == SourceKind::Partition && part->name == entry->name) {
          add(part, g.id);
        }
      }
    }
  }
  return items;
}

// The row Load Image adds: the path as name and second text, 512-byte sectors, the size of a file
// of `bytes` bytes (0: not known).
inline DriveListEntryPtr ImageFileRow(const std::u16string& path, uint64_t bytes = 0) {
  auto row = std::make_unique<DriveListEntry>();
  row->kind = SourceKind::ImageFile;
  row->name = path;
  row->secondText = path;
  row->bytesPerSector = 512;
  row->sizeInSectors = (bytes + 511) / 512;
  return row;
}

}  // namespace kavo

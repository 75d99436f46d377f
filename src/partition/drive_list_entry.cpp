#include "partition/drive_list_entry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr size_t kNameOffset = 12;
constexpr size_t kSecondTextOffset = 524;
constexpr size_t kRecordLinkOffset = 1036;

void StoreText(uint8_t* p, const std::u16string& text) {
  const size_t units = std::min(text.size(), kEntryTextUnits - 1);
  for (size_t i = 0; i < units; ++i) StoreLe16(p + 2 * i, text[i]);
}

std::u16string LoadText(const uint8_t* p) {
  std::u16string text;
  for (size_t i = 0; i < kEntryTextUnits; ++i) {
    const char16_t unit = LoadLe16(p + 2 * i);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

std::u16string Ascii(const char* text) {
  return std::u16string(text, text + std::strlen(text));
}

}  // namespace

void SerializeDriveListEntry(const DriveListEntry& e,
                             std::span<uint8_t, kDriveListEntryBytes> out) {
  uint8_t* p = out.data();
  std::fill(out.begin(), out.end(), uint8_t{0});
  StoreLe64(p, e.sizeInSectors);
  StoreLe16(p + 8, static_cast<uint16_t>(e.kind));
  StoreLe16(p + 10, e.bytesPerSector);
  StoreText(p + kNameOffset, e.name);
  StoreText(p + kSecondTextOffset, e.secondText);
  StoreLe32(p + kRecordLinkOffset, e.record ? 1 : 0);
}

DriveListEntry ParseDriveListEntry(std::span<const uint8_t, kDriveListEntryBytes> in,
                                   bool& hasRecord) {
  const uint8_t* p = in.data();
  DriveListEntry e;
  e.sizeInSectors = LoadLe64(p);
  const uint16_t kind = LoadLe16(p + 8);
  e.kind = kind <= 4 ? static_cast<SourceKind>(kind) : SourceKind::None;
  e.bytesPerSector = LoadLe16(p + 10);
  e.name = LoadText(p + kNameOffset);
  e.secondText = LoadText(p + kSecondTextOffset);
  hasRecord = LoadLe32(p + kRecordLinkOffset) != 0;
  return e;
}

std::u16string PublishedLabel(const PartitionRecord& record, uint32_t n) {
  char text[48];
  switch (record.fileSystem) {
    case FS_FAT12: std::snprintf(text, sizeof text, "FAT12 - %u", n); break;
    case FS_FAT16: std::snprintf(text, sizeof text, "FAT16 - %u", n); break;
    case FS_FAT32: std::snprintf(text, sizeof text, "FAT32 - %u", n); break;
    case FS_NTFS: std::snprintf(text, sizeof text, "NTFS - %u", n); break;
    case FS_EXFAT: std::snprintf(text, sizeof text, "ExFAT - %u", n); break;
    default:
      std::snprintf(text, sizeof text, "Unknown (type %02Xh) - %u", record.partitionType, n);
      break;
  }
  return Ascii(text);
}

std::u16string FoundVolumeRowName(SourceKind sourceKind, const std::u16string& sourceName) {
  switch (sourceKind) {
    case SourceKind::PhysicalDrive: return u"PHY " + sourceName;
    case SourceKind::LogicalDrive: return u"Volume - " + sourceName;
    default: return sourceName;
  }
}

size_t PublishFoundVolumes(FoundVolumeList& volumes, SourceKind sourceKind,
                           const std::u16string& sourceName, PartitionList& foundPartitions) {
  const std::u16string rowName = FoundVolumeRowName(sourceKind, sourceName);
  uint32_t n = 1;
  // A volume of this source listed before (a search run again finds it at the same start with
  // the same size) keeps its row; it is not listed twice.
  const auto listed = [&](const PartitionRecord& record) {
    for (const DriveListEntryPtr& row : foundPartitions) {
      if (row && row->record && row->name == rowName &&
          row->record->firstSector == record.firstSector &&
          row->record->totalSectors == record.totalSectors) {
        return true;
      }
    }
    return false;
  };
  for (PartitionRecordPtr& record : volumes) {
    if (!record || listed(*record)) continue;
    auto entry = std::make_unique<DriveListEntry>();
    entry->kind = SourceKind::Partition;
    entry->name = rowName;
    entry->bytesPerSector = record->bytesPerSector;
    entry->sizeInSectors = record->totalSectors;
    record->label = PublishedLabel(*record, n) + u", " + rowName;
    if (record->label.size() >= kLabelUnits) record->label.resize(kLabelUnits - 1);
    entry->secondText = record->label.substr(0, kEntryTextUnits - 1);
    entry->record = std::move(record);
    foundPartitions.push_front(std::move(entry));
    ++n;
  }
  const size_t made = n - 1;
  volumes.clear();
  return made;
}

uint32_t LabelNumber(const std::u16string& label) {
  const size_t dash = label.find(u" - ");
  if (dash == std::u16string::npos) return 0;
  uint64_t value = 0;
  size_t i = dash + 3;
  const size_t first = i;
  while (i < label.size() && label[i] >= u'0' && label[i] <= u'9' && value <= UINT32_MAX) {
    value = value * 10 + static_cast<uint32_t>(label[i] - u'0');
    ++i;
  }
  if (i == first || value > UINT32_MAX) return 0;
  return static_cast<uint32_t>(value);
}

}  // namespace kavo

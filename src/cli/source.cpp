#include "cli/source.h"

#include "cli/commands.h"
#include "cli/output.h"
#include "disk/volume.h"
#include "partition/partition_scan.h"
#include "platform/text.h"
#include "recovery/selected_volume.h"

namespace kavo::cli {

std::unique_ptr<CDisk> OpenSource(const std::u16string& selector) {
  auto disk = std::make_unique<CDisk>();
  disk->m_nSourceKind = SourceKindForSelector(selector);
  if (disk->m_nSourceKind == SourceKind::None) {
    ErrorLine(
        "Failed to open disk. The source is not a drive number, a volume, a device or an "
        "image file.");
    return nullptr;
  }
  if (!disk->Open(selector)) {
    ErrorLine("Failed to open disk. " + OpenFailureText(*disk));
    return nullptr;
  }
  return disk;
}

bool SelectVolume(CDisk& disk, std::optional<uint64_t> start) {
  if (start && *start >= disk.m_nTotalSectors) {
    ErrorLine("sector " + std::to_string(*start) + " is past the end of the source (" +
              std::to_string(disk.m_nTotalSectors) + " sectors)");
    return false;
  }
  disk.m_nStartSector = start.value_or(0);
  if (DetectVolume(disk)) return true;
  if (start) {
    ErrorLine("no FAT12, FAT16, FAT32, exFAT or NTFS volume starts at sector " +
              std::to_string(*start));
  } else {
    ErrorLine(
        "no FAT12, FAT16, FAT32, exFAT or NTFS volume starts at sector 0; if this is a whole disk, "
        "give --start SECTOR with the first sector of one of its volumes");
  }
  return false;
}

bool SelectVolume(std::unique_ptr<CDisk>& source, std::optional<uint64_t> start,
                  const ParsedArgs& args) {
  CDisk& disk = *source;
  const auto partition = args.Value("--partition");
  const bool lost = args.Has("--lost");
  const bool formatted = args.Has("--formatted");
  if (!partition) {
    if (lost || formatted) {
      ErrorLine("--lost and --formatted say where --partition N is found; give --partition too");
      return false;
    }
    return SelectVolume(disk, start);
  }
  const auto number = ParseUnsigned(*partition);
  if (start || (lost && formatted) || !number || *number == 0 || *number > UINT32_MAX) {
    ErrorLine(
        "--partition takes a row number (1, 2, ...), without --start, with at most one of "
        "--lost and --formatted");
    return false;
  }
  const auto load = args.Value("--load");
  if (load && (lost || formatted)) {
    ErrorLine(
        "--load takes the rows from a saved partition list; it goes without --lost and "
        "--formatted");
    return false;
  }
  PartitionList rows;
  if (load) {
    std::optional<PartitionList> loaded = LoadPartitionsFile(*load);
    if (!loaded) return false;
    rows = std::move(*loaded);
  } else if (lost || formatted) {
    bool stopped = false;
    if (!RunVolumeSearch(source, lost, rows, stopped) || stopped) {
      ErrorLine(stopped ? "the search was stopped" : "the source cannot be searched");
      return false;
    }
  } else {
    FoundVolumeList volumes;
    ReadPartitionTables(disk, volumes);
    PublishFoundVolumes(volumes, disk.m_nSourceKind, disk.GetName(), rows);
  }
  for (const DriveListEntryPtr& row : rows) {
    if (LabelNumber(row->secondText) != *number) continue;
    if (SetUpSelectedVolume(disk, *row, kOpPartitionRecovery)) return true;
    ErrorLine("partition " + std::to_string(*number) + " (" +
              platform::Utf16ToUtf8(row->secondText) + ") holds no readable volume");
    return false;
  }
  ErrorLine("there is no partition " + std::to_string(*number) + "; the " +
            (load        ? "partition list"
             : lost      ? "search for lost volumes"
             : formatted ? "search for earlier volumes"
                         : "partition tables") +
            " gave " + std::to_string(rows.size()));
  return false;
}

const char* SourceKindName(SourceKind kind) {
  switch (kind) {
    case SourceKind::Partition: return "Partition";
    case SourceKind::PhysicalDrive: return "Physical drive";
    case SourceKind::LogicalDrive: return "Logical drive";
    case SourceKind::ImageFile: return "Image file";
    case SourceKind::None: break;
  }
  return "None";
}

const char* DeviceTypeName(uint32_t deviceType) {
  switch (deviceType) {
    case 1: return "physical drive";
    case 2: return "volume";
    case 3: return "image file";
  }
  return "none";
}

}  // namespace kavo::cli

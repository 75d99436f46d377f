#include "cli/source.h"

#include "cli/output.h"
#include "recovery/volume.h"

namespace kavo::cli {

std::unique_ptr<CDisk> OpenSource(const std::u16string& selector) {
  auto disk = std::make_unique<CDisk>();
  disk->m_nSourceKind = SourceKindForSelector(selector);
  if (disk->m_nSourceKind == SourceKind::None) {
    ErrorLine("Failed to open disk. The source is not a drive number, a volume, a device or an "
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
    ErrorLine("no FAT16, FAT32, exFAT or NTFS volume starts at sector " + std::to_string(*start));
  } else {
    ErrorLine("no FAT16, FAT32, exFAT or NTFS volume starts at sector 0; if this is a whole disk, "
              "give --start SECTOR with the first sector of one of its volumes");
  }
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

#include "partition/drive_rows.h"

#include "disk/drive_records.h"

namespace kavo {

size_t EnumerateLogicalRows(DriveList& rows, const std::vector<platform::VolumeInfo>& volumes) {
  size_t made = 0;
  for (const platform::VolumeInfo& v : volumes) {
    if (v.removable || v.size == 0) continue;
    auto row = std::make_unique<DriveListEntry>();
    row->kind = SourceKind::LogicalDrive;
    row->name = (v.volumeName.empty() ? u"Local Disk" : v.volumeName) + u" - " + v.caption;
    row->secondText = v.caption;
    row->bytesPerSector = static_cast<uint16_t>(v.bytesPerSector);
    row->sizeInSectors = v.bytesPerSector != 0 ? v.totalBytes / v.bytesPerSector : 0;
    auto record = std::make_unique<PartitionRecord>();
    record->label = row->name;
    record->bytesPerSector = row->bytesPerSector;
    record->totalSectors = row->sizeInSectors;
    record->sectorsPerCluster = static_cast<uint16_t>(v.sectorsPerCluster);
    // The system's name where it says which file system; else the boot sector, as for a Linux
    // vfat volume, which may be FAT12, FAT16 or FAT32. Windows calls FAT12 and FAT16 both "FAT":
    // the boot sector tells them apart when it can be read.
    uint8_t code = FileSystemFromName(v.fileSystem);
    uint32_t serial = 0;
    if (code == FS_NONE || code == FS_FAT16) ReadVolumeIdentity(v.devicePath, code, serial);
    record->fileSystem = code;
    row->record = std::move(record);
    rows.push_front(std::move(row));
    ++made;
  }
  return made;
}

size_t EnumerateLogicalRows(DriveList& rows, platform::SystemNotices& notices) {
  return EnumerateLogicalRows(rows, platform::ListVolumes(notices, platform::VolumeQuery::Rows));
}

size_t EnumeratePhysicalRows(DriveList& rows,
                             const std::vector<platform::PhysicalDriveInfo>& drives) {
  size_t made = 0;
  for (const platform::PhysicalDriveInfo& d : drives) {
    if (d.bytesPerSector == 0) continue;
    auto row = std::make_unique<DriveListEntry>();
    row->kind = SourceKind::PhysicalDrive;
    row->name = d.name;
    row->secondText =
        d.caption + u" ( PHY " + (d.name.empty() ? u"" : d.name.substr(d.name.size() - 1)) + u" )";
    row->bytesPerSector = static_cast<uint16_t>(d.bytesPerSector);
    row->sizeInSectors = d.size / d.bytesPerSector;
    rows.push_front(std::move(row));
    ++made;
  }
  return made;
}

size_t EnumeratePhysicalRows(DriveList& rows, platform::SystemNotices& notices) {
  return EnumeratePhysicalRows(rows, platform::ListPhysicalDrives(notices));
}

}  // namespace kavo

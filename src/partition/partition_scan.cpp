#include "partition/partition_scan.h"

#include <algorithm>
#include <vector>

#include "disk/volume.h"
#include "partition/partition_tables.h"
#include "platform/device.h"

namespace kavo {

namespace {

// Whether a file system found in an MBR entry of `type` makes a record. mkfs tools choose FAT12,
// FAT16 or FAT32 by the volume's size whatever type the partitioning tool wrote, so every FAT
// kind is taken from every FAT type.
bool FitsMbrType(uint8_t type, FileSystemCode code) {
  switch (type) {
    case 0x07: return code == FS_NTFS || code == FS_EXFAT;
    case 0x01:
    case 0x0B:
    case 0x0C:
    case 0x04:
    case 0x06:
    case 0x0E: return IsFat12Or16(code) || code == FS_FAT32;
  }
  return false;
}

// The types that promise a FAT volume with a fixed root area (FAT12 0x01, FAT16 the others).
bool IsSmallFatType(uint8_t type) {
  return type == 0x01 || type == 0x04 || type == 0x06 || type == 0x0E;
}

// An exFAT volume whose main boot sector is damaged, described by the copy of its boot region
// that starts twelve of its sectors in: the parameters come from that copy, the volume still
// starts at the record's first sector.
bool DetectExfatBackup(CDisk& source, const PartitionRecord& record) {
  const uint32_t sectorSize = source.m_nSectorSize;
  if (sectorSize == 0) return false;
  const uint64_t scale =
      record.bytesPerSector > sectorSize ? record.bytesPerSector / sectorSize : 1;
  const uint64_t copy = record.firstSector + 12 * scale;
  if (copy >= source.m_nTotalSectors) return false;
  std::vector<uint8_t> sector(std::max<uint32_t>(sectorSize, 512));
  if (!source.ReadSectors(sector.data(), sectorSize, copy)) return false;
  VolumeParams params;
  if (DetectBootSector(sector, sectorSize, record.firstSector,
                       source.m_nTotalSectors - record.firstSector, params) != FS_EXFAT) {
    return false;
  }
  source.m_volume = params;
  source.m_nFileSystem = FS_EXFAT;
  return true;
}

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return text;
}

}  // namespace

bool ReadPartitionTables(CDisk& source, FoundVolumeList& volumes) {
  const size_t before = volumes.size();
  const uint32_t sectorSize = source.m_nSectorSize;
  std::vector<uint8_t> sector(std::max<uint32_t>(sectorSize, 512));
  for (const TableEntry& entry : ReadTableEntries(source)) {
    std::fill(sector.begin(), sector.end(), uint8_t{0});
    FileSystemCode code = FS_NONE;
    VolumeParams params;
    if (source.ReadSectors(sector.data(), sectorSize, entry.firstSector)) {
      code = DetectBootSector(sector, sectorSize, entry.firstSector,
                              source.m_nTotalSectors - entry.firstSector, params);
    }
    if (entry.scheme == TableScheme::Mbr && code != FS_NONE && !FitsMbrType(entry.mbrType, code)) {
      code = FS_NONE;
    }
    if (code != FS_NONE) {
      volumes.push_back(std::make_unique<PartitionRecord>(RecordFromBootSector(
          code, sector, entry.firstSector, entry.sectors, sectorSize, RecordOrigin::Table)));
    } else if (entry.scheme == TableScheme::Mbr && IsSmallFatType(entry.mbrType)) {
      volumes.push_back(std::make_unique<PartitionRecord>(
          UnrecognisedRecord(entry.firstSector, entry.sectors, entry.mbrType)));
    }
  }
  return volumes.size() > before;
}

std::u16string RowSelector(const DriveListEntry& entry, bool byDriveNumber) {
  if (entry.kind == SourceKind::LogicalDrive) return entry.secondText;
  const std::u16string upper = Upper(entry.name);
  if (upper.find(u".IMG") != std::u16string::npos || IsImageFileSelector(entry.name)) {
    return entry.name;
  }
  // A row named by a device path (a Linux drive, /dev/sda) opens by that path.
  if (platform::IsDevicePathSelector(entry.name)) return entry.name;
  // Rows of found volumes carry the source's name after a prefix; that name is the selector
  // whole (drive 12 is "12", a device path is the path), not only its last characters.
  for (const std::u16string_view prefix :
       {std::u16string_view(u"PHY "), std::u16string_view(u"Volume - ")}) {
    if (entry.name.size() > prefix.size() && entry.name.compare(0, prefix.size(), prefix) == 0) {
      return entry.name.substr(prefix.size());
    }
  }
  const size_t keep = byDriveNumber ? 1 : 2;
  return upper.size() <= keep ? upper : upper.substr(upper.size() - keep);
}

bool SetUpRowVolume(CDisk& source, const DriveListEntry& entry, bool geometryFromRecord) {
  const PartitionRecord* record = entry.record.get();
  if (record == nullptr) {
    source.m_nStartSector = 0;
    return DetectVolume(source);
  }
  source.m_nStartSector = record->firstSector;
  bool usable = DetectVolume(source);
  if (!usable && geometryFromRecord && record->fileSystem == FS_EXFAT) {
    usable = DetectExfatBackup(source, *record);
  }
  if (!usable) source.m_nFileSystem = record->fileSystem;
  VolumeParams& v = source.m_volume;
  const bool fatOrExfat = IsFat12Or16(record->fileSystem) || record->fileSystem == FS_FAT32 ||
                          record->fileSystem == FS_EXFAT;
  if (!usable && geometryFromRecord && fatOrExfat) {
    v = VolumeParams{};
    v.partitionStart = record->firstSector;
    v.bytesPerSector = static_cast<uint16_t>(source.m_nSectorSize);
    const uint64_t available = source.m_nTotalSectors > record->firstSector
                                   ? source.m_nTotalSectors - record->firstSector
                                   : 0;
    v.volumeSectors = std::min(record->totalSectors, available);
    v.clusterCount = record->clusterCount;
    switch (record->fileSystem) {
      case FS_FAT12:
      case FS_FAT16:
      case FS_FAT32:
        v.firstDataSector = record->FatFirstDataSector();
        v.sectorsPerCluster = record->sectorsPerCluster;
        v.reservedSectors =
            static_cast<uint16_t>(std::min<uint64_t>(record->FatFirstSector(), 0xFFFF));
        v.sectorsPerFat = record->FatSectorsPerFat();
        v.fatSectorBase = record->FatSecondSector();
        v.rootCluster = record->fileSystem == FS_FAT32 ? 2 : 1;
        break;
      case FS_EXFAT:
        v.firstDataSector = record->ExfatHeapOffset();
        v.fatSectorBase = record->ExfatFatOffset();
        // The record does not keep the FAT's length; it ends before the cluster heap at the
        // latest.
        if (v.firstDataSector > v.fatSectorBase) {
          v.sectorsPerFat = static_cast<uint32_t>(
              std::min<uint64_t>(v.firstDataSector - v.fatSectorBase, UINT32_MAX));
        }
        v.sectorsPerCluster = record->sectorsPerCluster;
        v.rootCluster = static_cast<uint32_t>(record->ExfatRootCluster());
        break;
    }
    v.bytesPerCluster = v.sectorsPerCluster * v.bytesPerSector;
    usable = v.sectorsPerCluster != 0;
  }
  if (source.m_nFileSystem == FS_NTFS && geometryFromRecord && record->fileSystem == FS_NTFS) {
    v.partitionStart = record->firstSector;
    v.bytesPerSector = static_cast<uint16_t>(source.m_nSectorSize);
    // The record counts in the volume's own sectors, the reader in the source's: a volume
    // formatted with 4096-byte sectors on a 512-byte disk has eight source sectors to one.
    const uint32_t sectorSize = std::max<uint32_t>(source.m_nSectorSize, 1);
    if (v.volumeSectors == 0) {
      const uint64_t available =
          source.m_nTotalSectors - std::min(source.m_nTotalSectors, record->firstSector);
      v.volumeSectors = std::min(
          record->totalSectors * std::max<uint32_t>(record->bytesPerSector, 1) / sectorSize,
          available);
    }
    v.bytesPerCluster = record->bytesPerCluster;
    v.sectorsPerCluster = record->bytesPerCluster / sectorSize;
    v.mftCluster = record->MftCluster();
    v.mftMirrorCluster = record->MftMirrorCluster();
    v.bytesPerMftRecord = record->mftRecordBytes;
    v.sectorsPerMftRecord = record->mftRecordBytes / sectorSize;
    v.mftStartSector = v.mftCluster * v.sectorsPerCluster;
  }
  return usable;
}

QuickScanResult QuickScanImage(CDisk& source, PartitionList& foundPartitions) {
  FoundVolumeList volumes;
  if (ReadPartitionTables(source, volumes)) {
    PublishFoundVolumes(volumes, source.m_nSourceKind, source.GetName(), foundPartitions);
    return QuickScanResult::FoundVolumes;
  }
  source.m_nStartSector = 0;
  if (!DetectVolume(source)) return QuickScanResult::NothingFound;
  auto entry = std::make_unique<DriveListEntry>();
  entry->kind = SourceKind::Partition;
  entry->name = source.GetName();
  entry->secondText = source.GetName();
  entry->bytesPerSector = 512;
  entry->sizeInSectors = source.m_nTotalSectors;
  entry->record = std::make_unique<PartitionRecord>();
  foundPartitions.push_front(std::move(entry));
  return QuickScanResult::WholeImage;
}

}  // namespace kavo

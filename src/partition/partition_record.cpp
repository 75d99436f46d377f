#include "partition/partition_record.h"

#include <algorithm>

#include "disk/volume.h"
#include "platform/bytes.h"

namespace kavo {

namespace {

// Offsets of the stored form.
constexpr size_t kLinkOffset = 68;
constexpr size_t kLabelOffset = 72;

}  // namespace

void SerializePartitionRecord(const PartitionRecord& r,
                              std::span<uint8_t, kPartitionRecordBytes> out) {
  uint8_t* p = out.data();
  std::fill(out.begin(), out.end(), uint8_t{0});
  StoreLe64(p + 0, r.reserved0);
  StoreLe64(p + 8, r.firstSector);
  StoreLe64(p + 16, r.totalSectors);
  StoreLe64(p + 24, r.serialNumber);
  StoreLe64(p + 32, r.geometry32);
  StoreLe64(p + 40, r.geometry40);
  StoreLe64(p + 48, r.geometry48);
  StoreLe32(p + 56, r.geometry56);
  StoreLe32(p + 60, r.geometry60);
  StoreLe16(p + 64, r.mftRecordBytes);
  p[66] = r.mftRecordSectors;
  p[67] = r.indexRecordSectors;
  StoreLe32(p + kLinkOffset, 0);
  const size_t units = std::min(r.label.size(), kLabelUnits - 1);
  for (size_t i = 0; i < units; ++i) StoreLe16(p + kLabelOffset + 2 * i, r.label[i]);
  StoreLe32(p + 592, r.clusterCount);
  StoreLe32(p + 596, r.bytesPerCluster);
  StoreLe16(p + 600, r.bytesPerSector);
  StoreLe16(p + 602, r.sectorsPerCluster);
  p[604] = r.fileSystem;
  p[605] = r.duplicate;
  p[606] = r.partitionType;
}

PartitionRecord ParsePartitionRecord(std::span<const uint8_t, kPartitionRecordBytes> in) {
  const uint8_t* p = in.data();
  PartitionRecord r;
  r.reserved0 = LoadLe64(p + 0);
  r.firstSector = LoadLe64(p + 8);
  r.totalSectors = LoadLe64(p + 16);
  r.serialNumber = LoadLe64(p + 24);
  r.geometry32 = LoadLe64(p + 32);
  r.geometry40 = LoadLe64(p + 40);
  r.geometry48 = LoadLe64(p + 48);
  r.geometry56 = LoadLe32(p + 56);
  r.geometry60 = LoadLe32(p + 60);
  r.mftRecordBytes = LoadLe16(p + 64);
  r.mftRecordSectors = p[66];
  r.indexRecordSectors = p[67];
  for (size_t i = 0; i < kLabelUnits; ++i) {
    const char16_t unit = LoadLe16(p + kLabelOffset + 2 * i);
    if (unit == 0) break;
    r.label.push_back(unit);
  }
  r.clusterCount = LoadLe32(p + 592);
  r.bytesPerCluster = LoadLe32(p + 596);
  r.bytesPerSector = LoadLe16(p + 600);
  r.sectorsPerCluster = LoadLe16(p + 602);
  r.fileSystem = p[604];
  r.duplicate = p[605];
  r.partitionType = p[606];
  return r;
}

PartitionRecord RecordFromBootSector(FileSystemCode code, std::span<const uint8_t> boot,
                                     uint64_t firstSector, uint64_t entrySectors,
                                     uint32_t sourceSectorSize, RecordOrigin origin) {
  PartitionRecord r;
  if (boot.size() < 512) return r;
  const uint8_t* b = boot.data();
  const bool search = origin == RecordOrigin::Search;
  r.fileSystem = code;
  r.firstSector = firstSector;

  switch (code) {
    case FS_FAT12:
    case FS_FAT16:
    case FS_FAT32: {
      const bool fat16 = code != FS_FAT32;  // FAT12 and FAT16 share the boot sector's layout
      const uint64_t reserved = LoadLe16(b + 0x0E);
      const uint32_t perFat = fat16 ? LoadLe16(b + 0x16) : LoadLe32(b + 0x24);
      r.totalSectors = fat16 || search ? FatBootSectorTotal(b) : entrySectors;
      if (!fat16 && search) r.totalSectors = LoadLe32(b + 0x20);
      if (search) r.serialNumber = LoadLe32(b + (fat16 ? 0x27 : 0x43));
      r.geometry32 = reserved;
      r.geometry40 = reserved + perFat;
      r.geometry48 = reserved + 2 * uint64_t{perFat};
      r.geometry56 = perFat;
      r.sectorsPerCluster = b[0x0D];
      r.bytesPerSector = search ? static_cast<uint16_t>(sourceSectorSize) : LoadLe16(b + 0x0B);
      // The cluster count in 32-bit arithmetic, as the stored field holds it; a volume smaller
      // than its own tables has none.
      const uint64_t overhead = uint64_t{b[0x10]} * perFat + reserved;
      const uint32_t total32 = static_cast<uint32_t>(r.totalSectors);
      if (r.sectorsPerCluster != 0 && total32 > overhead) {
        r.clusterCount = static_cast<uint32_t>((total32 - overhead) / r.sectorsPerCluster);
      }
      break;
    }
    case FS_NTFS: {
      const uint16_t bps = LoadLe16(b + 0x0B);
      r.bytesPerSector = bps != 0 && bps % 512 == 0 ? bps : static_cast<uint16_t>(sourceSectorSize);
      // The 16-bit field holds every cluster size NTFS allows (2 MiB is 4096 sectors).
      r.sectorsPerCluster =
          static_cast<uint16_t>(std::min<uint32_t>(NtfsSectorsPerCluster(b[0x0D]), 0xFFFF));
      r.bytesPerCluster = uint32_t{r.bytesPerSector} * r.sectorsPerCluster;
      // Counted in the volume's own sectors, as the boot sector counts them; a table entry
      // counts the disk's.
      r.totalSectors =
          search ? LoadLe64(b + 0x28)
                 : entrySectors * sourceSectorSize / std::max<uint32_t>(r.bytesPerSector, 1);
      r.serialNumber = LoadLe64(b + 0x48);
      r.geometry40 = LoadLe64(b + 0x30);
      r.geometry48 = LoadLe64(b + 0x38);
      uint32_t bytes = 0;
      uint32_t sectors = 0;
      NtfsRecordSize(static_cast<int8_t>(b[0x40]), r.sectorsPerCluster, r.bytesPerSector, bytes,
                     sectors);
      r.mftRecordBytes = static_cast<uint16_t>(std::min<uint32_t>(bytes, 0xFFFF));
      r.mftRecordSectors = static_cast<uint8_t>(std::min<uint32_t>(sectors, 0xFF));
      NtfsRecordSize(static_cast<int8_t>(b[0x44]), r.sectorsPerCluster, r.bytesPerSector, bytes,
                     sectors);
      r.geometry60 = bytes;
      r.indexRecordSectors = static_cast<uint8_t>(std::min<uint32_t>(sectors, 0xFF));
      break;
    }
    case FS_EXFAT: {
      // Shifts beyond 15 do not fit the 16-bit fields; the boot-sector check admits far less.
      const uint8_t sectorShift = b[0x6C];
      const uint8_t clusterShift = b[0x6D];
      r.bytesPerSector = sectorShift == 0   ? static_cast<uint16_t>(sourceSectorSize)
                         : sectorShift < 16 ? static_cast<uint16_t>(1u << sectorShift)
                                            : 0;
      r.sectorsPerCluster = clusterShift < 16 ? static_cast<uint16_t>(1u << clusterShift) : 0;
      r.bytesPerCluster = uint32_t{r.bytesPerSector} * r.sectorsPerCluster;
      r.totalSectors = search ? LoadLe64(b + 0x48) : entrySectors;
      r.serialNumber = LoadLe32(b + 0x64);
      r.geometry32 = LoadLe32(b + 0x50);
      r.geometry40 = LoadLe32(b + 0x58);
      r.geometry48 = LoadLe32(b + 0x60);
      const uint64_t root = r.geometry48 >= 2 ? r.geometry48 - 2 : 0;
      r.SetExfatRootSector(root * r.sectorsPerCluster + r.geometry40);
      r.clusterCount = LoadLe32(b + 0x5C);
      break;
    }
    default: r.fileSystem = FS_NONE; break;
  }
  return r;
}

PartitionRecord UnrecognisedRecord(uint64_t firstSector, uint64_t sectors, uint8_t partitionType) {
  PartitionRecord r;
  r.fileSystem = FS_UNRECOGNISED;
  r.firstSector = firstSector;
  r.totalSectors = sectors;
  r.bytesPerSector = 512;
  r.sectorsPerCluster = 128;
  r.bytesPerCluster = 65536;
  r.partitionType = partitionType;
  return r;
}

}  // namespace kavo

// The description of the file system of the selected volume, filled by volume detection (or
// copied from a found partition) and kept with the opened source.
#pragma once

#include <cstdint>

namespace kavo {

// Sectors per cluster from byte 0x0D of an NTFS boot sector: the byte itself up to 128; from
// 0xF4 on, clusters of 128 KiB and more, it holds the negated power of two.
inline uint32_t NtfsSectorsPerCluster(uint8_t v) {
  if (v <= 0x80) return v;
  const int shift = 256 - v;
  return shift <= 16 ? (1u << shift) : 0;
}

// An NTFS record-size byte (0x40 for MFT records, 0x44 for index records): a negative value is
// 2^-v bytes, a positive one v clusters.
inline void NtfsRecordSize(int8_t v, uint32_t sectorsPerCluster, uint32_t sectorSize,
                           uint32_t& bytes, uint32_t& sectors) {
  if (v < 0) {
    const int shift = -v;
    bytes = shift < 31 ? (1u << shift) : 0;
    sectors = sectorSize != 0 ? bytes / sectorSize : 0;
  } else {
    sectors = sectorsPerCluster * static_cast<uint32_t>(v);
    bytes = sectors * sectorSize;
  }
}

// File-system codes. Scan-info and partition-list files store them, so a code keeps its value;
// 5 is taken in partition-list files by the records of partitions whose type promised FAT but
// whose boot sector is none (FS_UNRECOGNISED), so FAT12 came after it.
enum FileSystemCode : uint8_t {
  FS_NONE = 0,
  FS_FAT16 = 1,
  FS_FAT32 = 2,
  FS_NTFS = 3,
  FS_EXFAT = 4,
  FS_FAT12 = 6
};

// FAT12 and FAT16: the kinds with a fixed root area and a 16-bit FAT size in the boot sector.
inline bool IsFat12Or16(uint8_t code) {
  return code == FS_FAT12 || code == FS_FAT16;
}

struct VolumeParams {
  uint64_t partitionStart = 0;  // first sector of the volume on the source
  uint64_t volumeSectors = 0;   // sectors of the volume
  uint16_t bytesPerSector = 0;  // the source's sector size, not the boot sector's
  uint32_t sectorsPerCluster = 0;
  uint32_t bytesPerCluster = 0;

  // NTFS
  uint64_t mftCluster = 0;
  uint64_t mftMirrorCluster = 0;
  uint64_t mftStartSector = 0;  // relative to the volume
  uint16_t bytesPerMftRecord = 0;
  uint8_t sectorsPerMftRecord = 0;
  uint8_t sectorsPerIndexRecord = 0;
  uint32_t bytesPerIndexRecord = 0;

  // FAT12, FAT16, FAT32 and exFAT; sector numbers relative to the volume
  uint16_t reservedSectors = 0;
  uint32_t sectorsPerFat = 0;
  uint64_t fatSectorBase = 0;    // where allocation-table entries are read
  uint64_t firstDataSector = 0;  // FAT: start of the root area / data; exFAT: cluster heap
  uint32_t clusterCount = 0;
  uint32_t rootCluster =
      0;  // FAT12/16 1 (the fixed root area), FAT32 and exFAT from the boot sector
};

}  // namespace kavo

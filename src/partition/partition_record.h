// The description of one volume found on a source: by the partition-table reader, by the volume
// searches, or loaded from a partition-list file. Its 607-byte stored form is written and read
// field by field; in memory the record is an ordinary object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "disk/volume_params.h"

namespace kavo {

// File-system code of a record for a partition whose type promises FAT12/16 but whose first sector
// passes no boot-sector check; such a volume can still be scanned for signatures.
inline constexpr uint8_t FS_UNRECOGNISED = 5;

// Duplicate marks set by the volume searches.
inline constexpr uint8_t kFoundAgain = 8;    // the volume was met again from another boot sector
inline constexpr uint8_t kMftConfirmed = 2;  // matching MFT copies confirmed (or rebuilt) it

inline constexpr size_t kPartitionRecordBytes = 607;
inline constexpr size_t kLabelUnits = 260;

struct PartitionRecord {
  // The stored fields in stored order. The three geometry words at 32, 40 and 48 and the two at
  // 56 and 60 mean different things per file system; the accessors below name them.
  uint64_t reserved0 = 0;     // 0
  uint64_t firstSector = 0;   // 8: first sector of the volume on the source
  uint64_t totalSectors = 0;  // 16
  uint64_t serialNumber = 0;  // 24
  uint64_t geometry32 = 0;    // FAT: reserved sectors (first FAT); exFAT: FAT offset
  uint64_t geometry40 = 0;    // FAT: second FAT; NTFS: MFT cluster; exFAT: cluster-heap offset
  uint64_t geometry48 = 0;    // FAT: first data sector; NTFS: mirror cluster; exFAT: root cluster
  uint32_t geometry56 = 0;    // FAT: sectors per FAT; exFAT: root-folder sector, low half
  uint32_t geometry60 = 0;    // NTFS: index-record bytes; exFAT: root-folder sector, high half
  uint16_t mftRecordBytes = 0;
  uint8_t mftRecordSectors = 0;
  uint8_t indexRecordSectors = 0;
  // 68: the link of a found-volume list; not kept here (lists own their records) and stored as 0.
  std::u16string label;  // 72: at most 259 units are stored, zero-terminated
  uint32_t clusterCount = 0;
  uint32_t bytesPerCluster = 0;
  uint16_t bytesPerSector = 0;
  uint16_t sectorsPerCluster = 0;
  uint8_t fileSystem = FS_NONE;  // FileSystemCode, or FS_UNRECOGNISED
  uint8_t duplicate = 0;         // kFoundAgain | kMftConfirmed
  // 606: MBR partition type of an FS_UNRECOGNISED record (0 otherwise), so that its row can say
  // what the table promised.
  uint8_t partitionType = 0;

  uint64_t FatFirstSector() const { return geometry32; }
  uint64_t FatSecondSector() const { return geometry40; }
  uint64_t FatFirstDataSector() const { return geometry48; }
  uint32_t FatSectorsPerFat() const { return geometry56; }
  uint64_t MftCluster() const { return geometry40; }
  uint64_t MftMirrorCluster() const { return geometry48; }
  uint32_t IndexRecordBytes() const { return geometry60; }
  uint64_t ExfatFatOffset() const { return geometry32; }
  uint64_t ExfatHeapOffset() const { return geometry40; }
  uint64_t ExfatRootCluster() const { return geometry48; }
  uint64_t ExfatRootSector() const { return geometry56 | (uint64_t{geometry60} << 32); }
  void SetExfatRootSector(uint64_t sector) {
    geometry56 = static_cast<uint32_t>(sector);
    geometry60 = static_cast<uint32_t>(sector >> 32);
  }
};

using PartitionRecordPtr = std::unique_ptr<PartitionRecord>;

// The found-volume list of a source, in the order the reader or search found the volumes.
using FoundVolumeList = std::vector<PartitionRecordPtr>;

// The 607 stored bytes of a record.
void SerializePartitionRecord(const PartitionRecord& record,
                              std::span<uint8_t, kPartitionRecordBytes> out);
// Reads a record from its stored bytes. The label ends at its first zero unit.
PartitionRecord ParsePartitionRecord(std::span<const uint8_t, kPartitionRecordBytes> in);

// Who is describing the volume: the partition-table reader takes sizes from the table entry,
// the searches from the boot sector itself.
enum class RecordOrigin { Table, Search };

// Builds the record of the volume whose boot sector `boot` (at least 512 bytes) passed the check
// for `code` (FS_FAT12, FS_FAT16 ... FS_EXFAT). `firstSector` is where the volume starts on the
// source, `entrySectors` the sector count of its table entry (ignored for searches and for
// FAT12/16, which take the boot sector's), `sourceSectorSize` the source's sector size.
PartitionRecord RecordFromBootSector(FileSystemCode code, std::span<const uint8_t> boot,
                                     uint64_t firstSector, uint64_t entrySectors,
                                     uint32_t sourceSectorSize, RecordOrigin origin);

// The record of a partition whose type promises FAT12/16 but whose boot sector is not one.
PartitionRecord UnrecognisedRecord(uint64_t firstSector, uint64_t sectors, uint8_t partitionType);

}  // namespace kavo

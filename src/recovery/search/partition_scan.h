// Reading the partition tables of a source into its found-volume list, and opening a found
// volume (or any drive-list row) as the selected source.
#pragma once

#include <cstdint>
#include <string>

#include "disk/disk.h"
#include "operations/operation_codes.h"
#include "partition/drive_list_entry.h"
#include "partition/partition_record.h"

namespace kavo {

// Reads the MBR/EBR, GPT or LDM tables of `source` and appends one record per volume found, in
// table order: MBR type 0x07 holds NTFS or exFAT, 0x0B/0x0C FAT32 (or FAT16), 0x04/0x06/0x0E
// FAT16 (or FAT32) and otherwise an FS_UNRECOGNISED record; GPT basic-data and LDM partitions
// hold whichever of the four file systems their first sector shows. True when a record was made.
bool ReadPartitionTables(CDisk& source, FoundVolumeList& volumes);

// The selector that opens a row: a logical drive's designation (second text); for partitions and
// physical drives the name itself when it names an image file, else its last character (Partition
// Recovery: a drive number) or its last two ("C:").
std::u16string SelectorForEntry(const DriveListEntry& entry, uint32_t operation);

// On a source opened for a Partition or LogicalDrive row: sets the start sector and file-system
// code from the row's record and detects the volume there. When detection fails (outside Deleted
// Recovery) the geometry is taken from the record, so that a volume whose boot sector is lost
// can still be read; for NTFS the MFT geometry always comes from the record outside Deleted
// Recovery, and the MFT is located. True when the source then describes a readable volume.
bool SetUpSelectedVolume(CDisk& source, const DriveListEntry& entry, uint32_t operation);

enum class QuickScanResult { FoundVolumes, WholeImage, NothingFound };

// The quick scan of an image file: its partition tables, published at the head of
// `foundPartitions`; without any, one row for the whole image when it holds a volume at sector 0.
QuickScanResult QuickScanImage(CDisk& source, PartitionList& foundPartitions);

}  // namespace kavo

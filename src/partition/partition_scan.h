// Reading the partition tables of a source into its found-volume list, the quick scan of an
// image file, and setting up the volume of a drive-list row on the source opened for it.
#pragma once

#include <cstdint>
#include <string>

#include "disk/disk.h"
#include "partition/drive_list_entry.h"
#include "partition/partition_record.h"

namespace kavo {

// Reads the MBR/EBR, GPT or LDM tables of `source` and appends one record per volume found, in
// table order: MBR type 0x07 holds NTFS or exFAT, 0x01/0x04/0x06/0x0B/0x0C/0x0E any FAT kind,
// and a type with a fixed root area (0x01, 0x04, 0x06, 0x0E) that holds none an FS_UNRECOGNISED
// record; GPT basic-data and LDM partitions hold whichever file system their first sector shows.
// True when a record was made.
bool ReadPartitionTables(CDisk& source, FoundVolumeList& volumes);

// The selector that opens a row: a logical drive's designation (second text); for partitions and
// physical drives the name itself when it names an image file, else its last character when the
// drive is opened by its number (Partition Recovery) or its last two ("C:").
std::u16string RowSelector(const DriveListEntry& entry, bool byDriveNumber);

// On a source opened for a Partition or LogicalDrive row: sets the start sector and file-system
// code from the row's record and detects the volume there. With `geometryFromRecord` (every
// operation but Deleted Recovery), when detection fails the geometry is taken from the record,
// so that a volume whose boot sector is lost can still be read, and the MFT geometry of an NTFS
// volume always comes from the record. A row without a record has its volume detected at sector
// 0. True when the source then describes a volume; an NTFS volume is readable only once its MFT
// is located, which is the NTFS reader's part.
bool SetUpRowVolume(CDisk& source, const DriveListEntry& entry, bool geometryFromRecord);

enum class QuickScanResult { FoundVolumes, WholeImage, NothingFound };

// The quick scan of an image file: its partition tables, published at the head of
// `foundPartitions`; without any, one row for the whole image when it holds a volume at sector 0.
QuickScanResult QuickScanImage(CDisk& source, PartitionList& foundPartitions);

}  // namespace kavo

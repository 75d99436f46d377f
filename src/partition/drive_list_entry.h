// A row of the drive list: a physical drive, a logical drive, an image file or a found partition,
// with its 1040-byte stored form; and the publication of found volumes as rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>

#include "disk/storage.h"
#include "partition/partition_record.h"

namespace kavo {

inline constexpr size_t kDriveListEntryBytes = 1040;  // stored; the in-memory row adds `next`
inline constexpr size_t kEntryTextUnits = 256;

struct DriveListEntry {
  uint64_t sizeInSectors = 0;
  SourceKind kind = SourceKind::None;  // stored as 16 bits
  uint16_t bytesPerSector = 0;
  std::u16string name;        // at most 255 units are stored, zero-terminated
  std::u16string secondText;  // drive designation, caption or partition label
  PartitionRecordPtr record;  // null for physical drives and image files
};

using DriveListEntryPtr = std::unique_ptr<DriveListEntry>;

// Rows of kind Partition, newest first: the front is the row published last.
using PartitionList = std::deque<DriveListEntryPtr>;

// The first 1040 bytes of the row. The record link is stored as 1 when the row has a record, so
// that a reader knows one follows, and 0 otherwise.
void SerializeDriveListEntry(const DriveListEntry& entry,
                             std::span<uint8_t, kDriveListEntryBytes> out);
// Reads a row from its stored bytes (without a record); `hasRecord` tells whether the stored
// link announced one.
DriveListEntry ParseDriveListEntry(std::span<const uint8_t, kDriveListEntryBytes> in,
                                   bool& hasRecord);

// "NTFS - 3": the label of the n-th published record before the source name is appended. A
// record the table promised as FAT12/16 that is none says so with its partition type:
// "Unknown (type 06h) - 3".
std::u16string PublishedLabel(const PartitionRecord& record, uint32_t n);

// The row name of a found volume: "PHY " + source name for a physical drive, "Volume - " +
// source name for a logical drive, the source name for an image file (and anything else).
std::u16string FoundVolumeRowName(SourceKind sourceKind, const std::u16string& sourceName);

// Turns the found-volume list into rows of kind Partition at the head of `foundPartitions`: the
// records are numbered 1, 2, ... in list order, labelled "<label> - n, <row name>", and each row
// takes its record over, so the last record of the list ends up first. A record whose volume has
// a row of the same source already (same first sector and size) is dropped. Empties `volumes`.
// Returns the number of rows made.
size_t PublishFoundVolumes(FoundVolumeList& volumes, SourceKind sourceKind,
                           const std::u16string& sourceName, PartitionList& foundPartitions);

// The number n of a published row's label ("NTFS - 3, disk.img" gives 3); 0 when it has none.
uint32_t LabelNumber(const std::u16string& label);

}  // namespace kavo

// The drive-list rows of the system's drives: logical drives (Formatted and Deleted Recovery) and
// physical drives (Partition Recovery).
#pragma once

#include <deque>
#include <vector>

#include "partition/drive_list_entry.h"
#include "platform/drives.h"

namespace kavo {

// The drive list: the enumerated rows, then the image-file row, then the found partitions.
using DriveList = std::deque<DriveListEntryPtr>;

// Puts one row per volume at the head of `rows` (so they end up in reverse system order):
// "<label or Local Disk> - <designation>", the designation as second text, the size in sectors
// of the file system's total bytes, and a record holding the row name as label, the sector size
// and count, sectors per cluster and the file-system code (from the system's file-system name,
// or from the boot sector when the name is none of "exFAT", "NTFS", "FAT32" and "FAT"). Removable
// volumes, CD-ROMs and volumes of size 0 are left out. Returns the number of rows made.
size_t EnumerateLogicalRows(DriveList& rows, const std::vector<platform::VolumeInfo>& volumes);
size_t EnumerateLogicalRows(DriveList& rows, platform::SystemNotices& notices);

// Puts one row per physical drive at the head of `rows`: the drive's name, its caption followed
// by " ( PHY %c )" with the name's last character, its sector size and its size in sectors. A
// drive the system gives no sector size for is left out. Returns the number of rows made.
size_t EnumeratePhysicalRows(DriveList& rows,
                             const std::vector<platform::PhysicalDriveInfo>& drives);
size_t EnumeratePhysicalRows(DriveList& rows, platform::SystemNotices& notices);

}  // namespace kavo

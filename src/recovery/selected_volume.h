// Opening a drive-list row as the selected source for one of the recovery operations: the
// operation decides how the row's selector is cut and whether the row's record may stand in for
// a lost boot sector; an NTFS volume then has its MFT located.
#pragma once

#include <cstdint>
#include <string>

#include "base/operation_codes.h"
#include "disk/disk.h"
#include "partition/drive_list_entry.h"

namespace kavo {

// The selector that opens a row for `operation` (Partition Recovery opens physical drives by
// their number).
std::u16string SelectorForEntry(const DriveListEntry& entry, uint32_t operation);

// On a source opened for a Partition or LogicalDrive row: sets up the row's volume (outside
// Deleted Recovery with the row's record standing in for what detection cannot read) and, for
// NTFS, locates the MFT. True when the source then describes a readable volume.
bool SetUpSelectedVolume(CDisk& source, const DriveListEntry& entry, uint32_t operation);

}  // namespace kavo

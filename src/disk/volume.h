// Recognising the file system of a volume from its boot sector.
#pragma once

#include <cstdint>
#include <span>

#include "disk/disk.h"
#include "disk/volume_params.h"

namespace kavo {

// FAT12 and FAT16 are told apart by their cluster count, as the allocation table's entry width
// follows from it: volumes with fewer clusters than this have 12-bit entries.
inline constexpr uint64_t kMinFat16Clusters = 4085;

// Total sectors of a FAT boot sector, in its own sectors: the 16-bit count at 0x13, or the
// 32-bit one at 0x20 when that is 0.
uint64_t FatBootSectorTotal(const uint8_t* boot);

// Applies the FAT12/16, FAT32, exFAT and NTFS boot-sector checks, in that order, to one sector
// and fills `params` for the first that passes. `sectorSize` is the source's sector size,
// `partitionStart` the sector the boot sector was read from, `availableSectors` how many sectors
// of the source follow it (bounds the volume's size). Returns FS_NONE when no check passes.
FileSystemCode DetectBootSector(std::span<const uint8_t> sector, uint32_t sectorSize,
                                uint64_t partitionStart, uint64_t availableSectors,
                                VolumeParams& params);

// Reads the sector at the source's start sector and sets its file-system code and volume
// parameters. False when the sector cannot be read or no check passes.
bool DetectVolume(CDisk& source);

// "NTFS", "FAT32", ... for a file-system code; "" for FS_NONE.
const char* FileSystemName(uint8_t code);

}  // namespace kavo

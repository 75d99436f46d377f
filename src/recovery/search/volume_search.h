// The searches for lost volumes on a drive and for earlier (formatted) volumes inside a volume:
// every sector is tested for the structures of FAT12, FAT16, FAT32, exFAT and NTFS volumes, and one
// record per volume found is collected.
#pragma once

#include <cstdint>

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/disk.h"
#include "partition/partition_record.h"

namespace kavo {

// Sectors per read of the walk; progress is reported once per read.
inline constexpr uint32_t kSearchChunkSectors = 128;
// Volumes smaller than this many sectors (256 MiB of 512-byte sectors) are not listed.
inline constexpr uint64_t kSmallestFoundVolume = 0x80000;
// FAT12 volumes are all far smaller (below 16 MiB): they are listed from 360 KiB, the smallest
// floppy still met, so that tiny boot-sector-like leftovers stay out while floppy images, small
// memory cards and firmware partitions are found.
inline constexpr uint64_t kSmallestFoundFat12Bytes = 360 * 1024;

// Walks sectors [firstSector, firstSector + sectorCount) of `source` (clamped to the source) and
// appends the volumes found to `volumes`: from boot sectors, from the $MFT and $MFTMirr records
// of an NTFS volume whose boot sectors are gone, and from the allocation tables and folder
// clusters of a FAT volume whose boot sectors are gone. Volumes that end beyond the source are
// dropped. A stop request ends the walk; what was found so far is kept. Non-zero when the search
// ran (also after a stop); 0 when the source cannot be searched.
uint32_t SearchLostVolumes(CDisk& source, uint64_t firstSector, uint64_t sectorCount,
                           ProgressRecord* progress, MessageSink& progressWindow,
                           FoundVolumeList& volumes);

// Walks the whole source (a volume) for the boot sectors of earlier volumes.
uint32_t SearchFormattedVolume(CDisk& source, ProgressRecord* progress, MessageSink& progressWindow,
                               FoundVolumeList& volumes);

}  // namespace kavo

// The partition tables of a disk: the MBR with its chain of extended boot records, the GPT, and
// the database of a dynamic disk (LDM). The reader lists the entries that may hold a FAT12,
// FAT12, FAT16, FAT32, exFAT or NTFS volume; what each holds is decided from its first sector by the
// caller.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/disk.h"

namespace kavo {

enum class TableScheme : uint8_t { Mbr, Gpt, Ldm };

struct TableEntry {
  TableScheme scheme = TableScheme::Mbr;
  uint8_t mbrType = 0;       // the MBR partition type (MBR entries only)
  uint64_t firstSector = 0;  // absolute, inside the source
  uint64_t sectors = 0;      // as the table gives it
};

// Limits that keep damaged tables from driving the reader.
inline constexpr uint32_t kMaxExtendedTables = 4096;     // boot records in one EBR chain
inline constexpr uint32_t kMaxGptArrayBytes = 1u << 20;  // GPT partition-entry array
inline constexpr uint32_t kMaxGptEntryBytes = 4096;
inline constexpr uint32_t kLdmConfigSectors = 2048;  // the LDM database area

// MBR partition types that the reader passes on.
bool IsMbrVolumeType(uint8_t type);

// Reads the tables of `source` (sector 0 first: a protective MBR leads to the GPT, type 0x42 to
// the LDM database, anything else is walked as MBR and EBR chain) and returns the candidate
// entries in table order: MBR entries of the volume types, GPT basic-data entries, LDM partition
// records. Every table sector read lies inside the source; loops, absurd counts and sizes end
// the walk of that table. Empty when sector 0 is no partition table.
std::vector<TableEntry> ReadTableEntries(CDisk& source);

}  // namespace kavo

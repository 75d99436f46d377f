// The allocation table of a FAT12, FAT16, FAT32 or exFAT volume: entries read through a block
// cache, and the cluster chains built from them.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "disk/disk.h"
#include "disk/volume_params.h"

namespace kavo {

class FatTable {
 public:
  // `fileSystem` is FS_FAT12, FS_FAT16, FS_FAT32 or FS_EXFAT; the entries are read from
  // volume.fatSectorBase on, never past volume.sectorsPerFat sectors.
  FatTable(CDisk& source, uint8_t fileSystem, const VolumeParams& volume);

  // True for the clusters of the data area: 2 ... clusterCount + 1.
  bool IsDataCluster(uint32_t cluster) const {
    return cluster >= 2 && cluster - 2 < m_clusterCount;
  }

  // The entry of `cluster` (12 bits on FAT12, the low 28 on FAT32). Sectors that cannot be read,
  // and entries beyond the table, read as 0 (free), which ends any chain.
  uint32_t Entry(uint32_t cluster);

  // The chain that starts at `first`: data clusters only, none twice, so at most clusterCount of
  // them. It ends at an end-of-chain or bad-cluster mark, at a free entry, at a value outside
  // the data area, or before a cluster already in it (a cyclic chain). Empty when `first` is not
  // a data cluster.
  std::vector<uint32_t> Chain(uint32_t first);

 private:
  // The next cluster after `cluster`, or 0 at the end of the chain.
  uint32_t Next(uint32_t cluster);
  const uint8_t* Block(uint64_t index);
  // The table's byte at `offset`, valid until the next lookup; null beyond the table.
  const uint8_t* ByteAt(uint64_t offset);

  CDisk& m_source;
  uint32_t m_entryBytes;  // FAT16 2, FAT32 and exFAT 4; unused on FAT12
  uint32_t m_sectorSize;
  uint32_t m_sectorsPerBlock;
  uint64_t m_firstSector;  // absolute sector of the table on the source
  uint64_t m_tableSectors;
  uint32_t m_clusterCount;
  uint8_t m_fileSystem;

  std::unordered_map<uint64_t, std::vector<uint8_t>> m_blocks;
  uint64_t m_lastIndex = UINT64_MAX;
  const uint8_t* m_lastBlock = nullptr;
  std::vector<bool> m_inChain;  // scratch for Chain; all clear between calls
};

}  // namespace kavo

// Listing and reading FAT12, FAT16, FAT32 and exFAT volumes: every file and folder that the folder
// structure still describes, live or deleted, and the data of one file.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/disk.h"
#include "recovery/fat/fat_folder.h"
#include "recovery/fat/fat_table.h"
#include "recovery/output.h"
#include "recovery/tree.h"

namespace kavo {

class FatReader {
 public:
  // On a source whose m_nFileSystem (FS_FAT12, FS_FAT16, FS_FAT32 or FS_EXFAT) and m_volume were
  // set by DetectVolume. The source must outlive the reader.
  explicit FatReader(CDisk& source);

  // Hangs the volume's entries under `data`, made by NewScanData with the root folder's id
  // (FAT12/16 1, FAT32 2, exFAT the root-folder cluster). Live folders are walked before deleted
  // ones, and no cluster is read as folder data twice, so a folder whose cluster belongs to
  // another folder (an ancestor, or a live folder reusing a deleted one's cluster) stays empty.
  // FAT listings send UM_PROGRESS for each entry, exFAT listings UM_SET_PERCENT (at most 90).
  // Returns the progress state after the walk (0 without a record).
  uint32_t List(ScanEntry* data, ProgressRecord* progress, MessageSink& progressWindow);

  // Writes the data of a file node: `size` bytes from cluster `id`, through the cluster chain
  // when it fits the size (within one cluster), else from consecutive clusters, as a deleted
  // file is read. exFAT files without NF_FATCHAIN are always consecutive, and the bytes of an
  // exFAT file past its valid data length, which its folder's entry set (the node's parent)
  // gives, are written as zeros. Folders and empty files write nothing. Unreadable sectors are
  // written as zeros; the data stops at the end of the volume. Adds what it writes to the record's
  // position and ends early, with true, on a stop request. False when a write fails or nothing
  // could be read.
  bool ExtractFile(const RecoveredNode& node, FileOutput& output, ProgressRecord* progress);

  // The cluster chains of the allocation table (see FatTable::Chain); empty on the other kind of
  // volume.
  std::vector<uint32_t> BuildFatChain(uint32_t first);
  std::vector<uint32_t> BuildExfatChain(uint32_t first);

 private:
  struct Run {
    uint32_t first;
    uint64_t count;
  };

  // Reads `count` sectors from volume sector `sector`. Sectors past the source or unreadable read
  // as zeros. True when at least one sector was read.
  bool ReadVolume(uint8_t* buffer, uint64_t sector, uint32_t count);
  uint64_t ClusterSector(uint32_t cluster) const;
  // Consecutive clusters joined into runs.
  static std::vector<Run> ToRuns(const std::vector<uint32_t>& clusters);
  // The clusters of `clusters` in disk order, cut before the first one already read as folder
  // data, and marked as read.
  std::vector<Run> ClaimFolderClusters(const std::vector<uint32_t>& clusters);
  // Reads up to `bytes` bytes of the runs in pieces and passes each to `consume`, which returns
  // false to stop. Returns true when at least one sector was read.
  template <typename Consume>
  bool ReadRuns(const std::vector<Run>& runs, uint64_t bytes, Consume consume);

  // Lists one folder; false when a stop request was honoured.
  bool ListFatFolder(ScanEntry& folder, bool root);
  bool ListExfatFolder(ScanEntry& folder, bool root, ExfatProgress& progress);
  // The clusters of an exFAT folder and how many of their bytes hold entries: the root's whole
  // chain; another folder's `size` bytes (one cluster when 0, at most 256 MiB) through its chain
  // when `fatChain`, else (or when the chain falls short) from consecutive clusters.
  std::vector<uint32_t> ExfatFolderClusters(uint32_t id, uint64_t size, bool fatChain, bool root,
                                            uint64_t& bytes);
  // The valid data length of an exFAT file node, read again from its parent folder's entry
  // sets; its size when they do not give a shorter one.
  uint64_t ExfatValidLength(const RecoveredNode& node);

  CDisk& m_source;
  uint8_t m_fileSystem;
  VolumeParams m_volume;
  uint64_t m_dataStart;      // volume sector of cluster 2
  uint32_t m_rootBytes = 0;  // FAT12/16: the root area
  uint32_t m_rootSectors = 0;
  FatTable m_table;
  std::vector<bool> m_folderClusters;  // clusters already read as folder data
  // Extraction: the valid data lengths of the folders read again, by folder cluster.
  std::unordered_map<uint32_t, ExfatValidLengths> m_validLengths;
};

}  // namespace kavo

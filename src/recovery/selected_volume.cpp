#include "recovery/selected_volume.h"

#include "partition/partition_scan.h"
#include "recovery/ntfs/ntfs_reader.h"

namespace kavo {

std::u16string SelectorForEntry(const DriveListEntry& entry, uint32_t operation) {
  return RowSelector(entry, operation == kOpPartitionRecovery);
}

bool SetUpSelectedVolume(CDisk& source, const DriveListEntry& entry, uint32_t operation) {
  const bool usable = SetUpRowVolume(source, entry, operation != kOpDeletedRecovery);
  // A row without a record is the whole source, detected at sector 0 and used as detected.
  if (entry.record == nullptr || source.m_nFileSystem != FS_NTFS) return usable;
  return NtfsReader(source).LocateMft();
}

}  // namespace kavo

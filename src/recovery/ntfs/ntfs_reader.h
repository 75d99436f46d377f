// The NTFS reader: finds the Master File Table, lists every file and folder it still
// describes, live or deleted, and reads the data of one file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/disk.h"
#include "recovery/ntfs/ntfs_record.h"
#include "recovery/ntfs/record_index.h"
#include "recovery/output.h"
#include "recovery/tree.h"

namespace kavo {

// One listing or extraction session on an opened source whose volume parameters were set by
// DetectVolume. Reads only; the source must outlive the reader.
class NtfsReader final : private NtfsRecordSource {
 public:
  explicit NtfsReader(CDisk& source);

  // Reads MFT record 0, or its copy in the MFT mirror when it fails its checks, and fills the MFT
  // run list, following an attribute list when the MFT is spread over several records. Sets
  // `end` of `progress` to the number of MFT records. True when the run list is not empty.
  bool LocateMft(ProgressRecord* progress = nullptr);

  // Walks the MFT 128 sectors at a time, sending one UM_PROGRESS per chunk to `progressWindow`
  // after setting `position` to the running record number, and hangs the entries under `data`
  // (made by NewScanData(5)) and its "Lost+Found": folders by their parent's record number,
  // entries of missing folders under placeholders named "#<number>", unattached folders and
  // folders caught in parent cycles in Lost+Found. Locates the MFT first when that has not been
  // done. Returns the progress state after the walk (PS_IDLE without a record).
  uint32_t ListNtfs(ScanEntry* data, ProgressRecord* progress, MessageSink& progressWindow);

  // Writes the unnamed data of the file node (location: sector of its MFT record), at most
  // `size` bytes: resident data, clusters 16 at a time, holes and bytes past the initialized
  // length as zeros, compressed data decompressed unit by unit, extents spread over attribute-list
  // records in order. Adds the written bytes to `position` of `progress` and honours its stop
  // requests before each piece. False when the record cannot be read or checked, a write fails,
  // the job is stopped, the data cannot be read in full (what could be read is written), or a
  // compression unit is damaged (written as far as it decompressed, zeros after it).
  bool ExtractNtfsFile(const RecoveredNode& node, FileOutput& output, ProgressRecord* progress);

  const RunList& MftRuns() const { return m_mftRuns; }
  uint64_t MftRecordCount() const { return m_mftRecords; }
  // Compression units of the last extraction that failed to decompress.
  uint32_t DamagedUnits() const { return m_damagedUnits; }

 private:
  struct DataStream;

  // NtfsRecordSource, for ParseRecord and the readers of attribute lists.
  const uint8_t* ReadRecord(uint64_t number) override;
  bool ReadValue(const RunList& runs, uint32_t bytes, std::vector<uint8_t>& out) override;

  // A folder's index allocation and bitmap, read after the MFT walk for the names of deleted
  // files that only the index still holds.
  struct PendingIndex {
    uint32_t folder = 0;
    RunList runs;
    uint64_t bytes = 0;
    std::vector<uint8_t> bitmap;  // bit i: index record i in use; empty when unknown
  };
  // A name from the free space of a folder's index.
  struct IndexName {
    uint32_t folder = 0;
    uint32_t record = 0;    // 0 when the entry's header was overwritten
    uint16_t sequence = 0;  // of the file reference
    bool isFolder = false;
    std::u16string name;
    uint64_t size = 0;
    uint16_t createdDate = 0;
    uint16_t modifiedDate = 0;
  };

  bool ReadClusters(uint64_t lcn, uint64_t count, uint8_t* out);
  // Calls `take` with each extent of the attribute of `type` named `name` that an attribute list
  // names, from the record that holds it; `take` returns false to end the walk. False when a
  // holder record cannot be read or lacks its extent.
  template <typename Take>
  bool ForEachExtent(std::span<const uint8_t> list, uint32_t type, std::span<const uint8_t> name,
                     Take take);
  // Notes the index of a folder record: the free space of its index root now, its index
  // allocation for ReadIndexes.
  void CollectIndex(const uint8_t* record, uint32_t folder);
  class KnownNames;
  // Takes the names in the free space of one index node (entries that are no longer in use), or
  // in the whole node when `inUse` is false. With `known`, a name the folder already has is left
  // out at once (the set is made from the folder's entries on first use).
  void ScanIndexNode(const uint8_t* header, size_t available, uint32_t folder, bool inUse,
                     std::unique_ptr<KnownNames>* known = nullptr);
  void ReadIndexes(ProgressRecord* progress);
  // Lists the index names that no entry of their folder already gives as deleted entries.
  void AttachIndexNames();
  // Points a file named only by an index at its record when the record still holds that file
  // (same sequence number, or the next one when the record was freed); its size then comes from
  // the record.
  void FindIndexNameRecord(const IndexName& found, ScanEntry& entry);
  // The sector of record `number` when its bytes lie in one run of the MFT; 0 otherwise.
  uint64_t RecordSector(uint64_t number) const;
  // Reads `bytes` bytes at byte `offset` of the MFT through its run list.
  bool ReadMftBytes(uint64_t offset, uint32_t bytes, uint8_t* out);
  bool AddMftExtent(const Attribute& data);
  // The attribute list of a record: its resident value, or its clusters read into `owned`.
  std::span<const uint8_t> AttributeList(const Attribute& list, std::vector<uint8_t>& owned);

  void ProcessRecord(uint8_t* record, uint64_t number, uint64_t sector);
  void AttachEntry(ScanEntry* entry);
  ScanEntry* FindOrIndexFolder(ScanEntry* entry);
  void BreakCycles();
  void PlaceOrphans();

  bool CollectData(const uint8_t* record, DataStream& stream);
  bool WriteRuns(const DataStream& stream, uint64_t limit, FileOutput& output,
                 ProgressRecord* progress);
  bool WriteCompressed(const DataStream& stream, uint64_t limit, FileOutput& output,
                       ProgressRecord* progress);
  bool Emit(uint8_t* data, uint64_t bytes, uint64_t written, uint64_t initialized,
            FileOutput& output, ProgressRecord* progress);

  CDisk& m_source;
  bool m_valid = false;  // the volume parameters describe a readable NTFS geometry
  uint32_t m_sectorSize = 0;
  uint32_t m_sectorsPerCluster = 0;
  uint32_t m_clusterBytes = 0;
  uint32_t m_recordBytes = 0;
  uint32_t m_sectorsPerRecord = 0;
  uint64_t m_partitionStart = 0;
  uint64_t m_volumeSectors = 0;
  uint64_t m_clusterCount = 0;

  RunList m_mftRuns;  // sorted by VCN
  uint64_t m_mftRecords = 0;

  // The record being parsed or extracted, for references of its attribute list to itself.
  const uint8_t* m_current = nullptr;
  uint64_t m_currentNumber = UINT64_MAX;
  std::vector<uint8_t> m_extension;  // the last extension record read

  uint32_t m_indexRecordBytes = 0;
  std::vector<PendingIndex> m_pendingIndexes;
  std::vector<IndexName> m_indexNames;

  // The listing's hierarchy.
  std::unique_ptr<RecordIndex> m_index;
  ScanEntry* m_data = nullptr;
  ScanEntry* m_lostFound = nullptr;

  uint32_t m_damagedUnits = 0;
};

}  // namespace kavo

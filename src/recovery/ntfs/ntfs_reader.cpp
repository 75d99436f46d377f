// How the NTFS reader works.
//
// Finding the MFT: the boot sector gives the cluster of MFT record 0 (and of its mirror, read
// when record 0 fails its checks). Record 0 describes the MFT itself: its unnamed $DATA run list
// is the MFT's place on the volume. A fragmented MFT whose run list outgrew record 0 keeps an
// $ATTRIBUTE_LIST there instead; its $DATA entries name the extension records that hold the
// later extents, and each is read through the runs gathered so far (the first extent, in record
// 0, comes first). The run list is kept sorted by VCN; records past the initialized length or not
// covered by any run are not read.
//
// From record to node: the MFT is read run by run, 128 sectors at a time. Each base record that
// passes its checks (signature, fix-ups, attribute layout) is parsed into a ScanEntry: name and
// parent from its first non-DOS $FILE_NAME, dates from $STANDARD_INFORMATION, size from the
// unnamed $DATA (through the attribute list when the record has one). Files hang under their
// parent folder by record number; folders go into an index by record number, and a child met
// before its folder hangs under a placeholder "#<number>" that the folder's record takes over.
// Each folder's $I30 index is read after the walk for names in its free space: files whose
// records are gone or reused, listed as deleted. Folders caught in parent cycles and
// placeholders whose record never came go to Lost+Found. The tree layer then turns the entries
// into nodes; a file node keeps the sector of its record, from which saving reads its data.
#include "recovery/ntfs/ntfs_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "base/messages.h"
#include "platform/bytes.h"
#include "recovery/ntfs/lznt1.h"

namespace kavo {

namespace {

constexpr uint32_t kChunkSectors = 128;  // the MFT walk reads 128 sectors at a time
constexpr uint64_t kPieceClusters = 16;  // file data is read 16 clusters at a time
constexpr uint32_t kMaxClusterBytes = 2u << 20;
constexpr uint64_t kMaxUnitBytes = 4u << 20;
constexpr uint32_t kMaxIndexRecordBytes = 64u << 10;
// A folder index read for deleted names is read up to this size (a folder of a few hundred
// thousand files); the names past it are not looked for.
constexpr uint64_t kMaxIndexBytes = 256u << 20;
constexpr uint32_t kIndexPieceBytes = 1u << 20;
// The attribute name of folder indexes.
constexpr uint8_t kI30[] = {'$', 0, 'I', 0, '3', 0, '0', 0};
constexpr uint32_t kAttrBitmap = 0xB0;

// Index nodes: the index header follows the 16-byte header of an index root and the 24-byte
// header of an INDX record; it gives the offsets of the entries, the end of those in use and the
// end of the node.
constexpr size_t kIndexRootHeader = 0x10;
constexpr size_t kIndexRecordHeader = 0x18;
constexpr size_t kNodeEntries = 0x00;
constexpr size_t kNodeInUse = 0x04;
constexpr size_t kNodeAllocated = 0x08;
// Index entries: the file reference, the entry and key lengths, flags, then the key (a $FILE_NAME
// value: parent reference, times, sizes, flags, name length, namespace, name).
constexpr size_t kEntryLength = 0x08;
constexpr size_t kEntryKeyLength = 0x0A;
constexpr size_t kEntryFlags = 0x0C;
constexpr size_t kIndexEntryKey = 0x10;
constexpr uint16_t kIndexEntryLast = 0x0002;
constexpr size_t kKeyCreated = 0x08;
constexpr size_t kKeyModified = 0x10;
constexpr size_t kKeyRealSize = 0x30;
constexpr size_t kKeyFlags = 0x38;
constexpr size_t kKeyNameLength = 0x40;
constexpr size_t kKeyNamespace = 0x41;
constexpr size_t kFileNameNameOffset = 0x42;
constexpr uint32_t kFileNameDirectory = 0x10000000;
constexpr uint8_t kDosNamespace = 2;

// "#<number>": the name of entries without one and of placeholder folders.
void SetNumberName(ScanEntry& entry, uint32_t number) {
  const std::string digits = std::to_string(number);
  entry.name.assign(1, u'#');
  for (char c : digits) entry.name.push_back(static_cast<char16_t>(c));
  entry.nameLength = static_cast<uint8_t>(entry.name.size());
}

// Walks the clusters of an attribute in VCN order over a sorted run list; clusters that no run
// covers (gaps between extents) read as holes.
class ClusterCursor {
 public:
  struct Piece {
    uint64_t lcn = 0;
    uint64_t count = 0;
    bool hole = false;
  };

  explicit ClusterCursor(const RunList& runs) : m_runs(runs) {}

  // The next `clusters` clusters (fewer at the end of the run list); false once it has ended.
  bool Take(uint64_t clusters, std::vector<Piece>& pieces) {
    pieces.clear();
    while (clusters > 0) {
      while (m_next < m_runs.size() && m_runs[m_next].vcn + m_runs[m_next].length <= m_vcn) {
        ++m_next;
      }
      if (m_next == m_runs.size()) break;
      const Run& run = m_runs[m_next];
      Piece piece;
      if (run.vcn > m_vcn) {
        piece.hole = true;
        piece.count = std::min(run.vcn - m_vcn, clusters);
      } else {
        const uint64_t skip = m_vcn - run.vcn;
        piece.count = std::min(run.length - skip, clusters);
        piece.hole = run.sparse;
        piece.lcn = run.lcn + skip;
      }
      pieces.push_back(piece);
      m_vcn += piece.count;
      clusters -= piece.count;
    }
    return !pieces.empty();
  }

 private:
  const RunList& m_runs;
  size_t m_next = 0;
  uint64_t m_vcn = 0;
};

void SortRuns(RunList& runs) {
  std::stable_sort(runs.begin(), runs.end(),
                   [](const Run& a, const Run& b) { return a.vcn < b.vcn; });
}

}  // namespace

// The unnamed data of a file, gathered from its record and its extension records.
struct NtfsReader::DataStream {
  bool found = false;
  bool resident = false;
  std::vector<uint8_t> value;
  RunList runs;
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;
  bool compressed = false;
  uint8_t compressionUnit = 0;
};

NtfsReader::NtfsReader(CDisk& source) : m_source(source) {
  const VolumeParams& v = source.m_volume;
  m_sectorSize = v.bytesPerSector;
  m_sectorsPerCluster = v.sectorsPerCluster;
  m_clusterBytes = v.bytesPerCluster;
  m_recordBytes = v.bytesPerMftRecord;
  m_partitionStart = v.partitionStart;
  m_volumeSectors = v.volumeSectors;
  m_valid = m_sectorSize >= 512 && m_sectorSize % 512 == 0 && m_sectorsPerCluster != 0 &&
            m_clusterBytes == m_sectorSize * m_sectorsPerCluster &&
            m_clusterBytes <= kMaxClusterBytes && m_recordBytes >= kFixupStride &&
            m_recordBytes % kFixupStride == 0 && m_recordBytes % m_sectorSize == 0;
  if (!m_valid) return;
  m_sectorsPerRecord = m_recordBytes / m_sectorSize;
  // Index records are 4 KiB on every volume Windows or other systems write; the boot sector's
  // value is taken when it is a sound size.
  const uint32_t indexBytes = v.bytesPerIndexRecord;
  m_indexRecordBytes = indexBytes >= kFixupStride && indexBytes <= kMaxIndexRecordBytes &&
                               indexBytes % kFixupStride == 0 &&
                               (indexBytes & (indexBytes - 1)) == 0
                           ? indexBytes
                           : 4096;
  m_clusterCount = m_volumeSectors / m_sectorsPerCluster;
  m_valid = m_clusterCount != 0;
}

bool NtfsReader::ReadClusters(uint64_t lcn, uint64_t count, uint8_t* out) {
  if (lcn >= m_clusterCount || count > m_clusterCount - lcn) return false;
  const uint64_t bytes = count * m_clusterBytes;
  if (bytes > UINT32_MAX) return false;
  return m_source.ReadSectors(out, static_cast<uint32_t>(bytes),
                              m_partitionStart + lcn * m_sectorsPerCluster);
}

bool NtfsReader::ReadMftBytes(uint64_t offset, uint32_t bytes, uint8_t* out) {
  while (bytes > 0) {
    const uint64_t vcn = offset / m_clusterBytes;
    const auto after = std::upper_bound(m_mftRuns.begin(), m_mftRuns.end(), vcn,
                                        [](uint64_t v, const Run& r) { return v < r.vcn; });
    if (after == m_mftRuns.begin()) return false;
    const Run& run = *(after - 1);
    if (run.sparse || vcn >= run.vcn + run.length) return false;
    if (run.lcn >= m_clusterCount || run.length > m_clusterCount - run.lcn) return false;
    const uint64_t within = offset - run.vcn * m_clusterBytes;
    const uint64_t available = run.length * m_clusterBytes - within;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(bytes, available));
    const uint64_t byteOnVolume = run.lcn * m_clusterBytes + within;
    if (!m_source.ReadSectors(out, n, m_partitionStart + byteOnVolume / m_sectorSize)) {
      return false;
    }
    out += n;
    offset += n;
    bytes -= n;
  }
  return true;
}

const uint8_t* NtfsReader::ReadRecord(uint64_t number) {
  if (number == m_currentNumber) return m_current;
  if (number >= m_mftRecords) return nullptr;
  m_extension.resize(m_recordBytes);
  if (!ReadMftBytes(number * m_recordBytes, m_recordBytes, m_extension.data()) ||
      !CheckRecord(m_extension.data(), m_recordBytes)) {
    return nullptr;
  }
  // An extension record must still belong to the record being read.
  if ((LoadLe64(m_extension.data() + kRecordBaseReference) & kRecordNumberMask) !=
      m_currentNumber) {
    return nullptr;
  }
  return m_extension.data();
}

bool NtfsReader::ReadValue(const RunList& runs, uint32_t bytes, std::vector<uint8_t>& out) {
  out.assign(bytes, 0);
  std::vector<uint8_t> piece;
  uint64_t pos = 0;
  for (const Run& run : runs) {
    for (uint64_t c = 0; c < run.length && pos < bytes; c += kPieceClusters) {
      if (run.sparse) return false;
      const uint64_t count = std::min(kPieceClusters, run.length - c);
      piece.resize(count * m_clusterBytes);
      if (!ReadClusters(run.lcn + c, count, piece.data())) return false;
      const uint64_t n = std::min<uint64_t>(piece.size(), bytes - pos);
      std::memcpy(out.data() + pos, piece.data(), n);
      pos += n;
    }
  }
  return pos == bytes;
}

std::span<const uint8_t> NtfsReader::AttributeList(const Attribute& list,
                                                   std::vector<uint8_t>& owned) {
  if (!list.nonResident) return list.value;
  RunList runs;
  DecodeRunList(list.mappingPairs, 0, runs);
  const auto bytes =
      static_cast<uint32_t>(std::min<uint64_t>(list.realSize, kMaxAttributeListBytes));
  if (!ReadValue(runs, bytes, owned)) return {};
  return owned;
}

bool NtfsReader::AddMftExtent(const Attribute& data) {
  if (!data.nonResident) return false;
  if (data.lowVcn == 0) {
    // Records past the initialized length were never written.
    uint64_t bytes = data.realSize;
    if (data.initializedSize != 0 && data.initializedSize < bytes) bytes = data.initializedSize;
    m_mftRecords = bytes / m_recordBytes;
  }
  RunList runs;
  DecodeRunList(data.mappingPairs, 0, runs, data.lowVcn);
  // The MFT cannot be larger than the volume; this also keeps VCN arithmetic far from overflow.
  for (const Run& run : runs) {
    if (run.vcn >= m_clusterCount) break;
    m_mftRuns.push_back(run);
  }
  return !runs.empty();
}

bool NtfsReader::LocateMft(ProgressRecord* progress) {
  m_mftRuns.clear();
  m_mftRecords = 0;
  if (!m_valid) return false;
  std::vector<uint8_t> record0(m_recordBytes);
  const VolumeParams& v = m_source.m_volume;
  bool good = false;
  for (uint64_t cluster : {v.mftCluster, v.mftMirrorCluster}) {
    if (cluster >= m_clusterCount) continue;
    if (m_source.ReadSectors(record0.data(), m_recordBytes,
                             m_partitionStart + cluster * m_sectorsPerCluster) &&
        CheckRecord(record0.data(), m_recordBytes)) {
      good = true;
      break;
    }
  }
  if (!good) return false;

  // The record being extracted may be waiting for the run list; it is the current one again after.
  const uint8_t* const savedCurrent = m_current;
  const uint64_t savedNumber = m_currentNumber;
  m_current = record0.data();
  m_currentNumber = 0;
  AttributeWalker walker(record0.data(), m_recordBytes);
  Attribute a;
  const Attribute* data = nullptr;
  Attribute list;
  bool hasList = false;
  while (walker.Next(a) && a.type <= kAttrData) {
    if (a.type == kAttrAttributeList) {
      list = a;
      hasList = true;
      break;
    }
    if (a.type == kAttrData && a.name.empty()) {
      data = &a;
      break;
    }
  }
  if (hasList) {
    // Extension records are found through the runs gathered so far, so the first extent
    // (normally in record 0 itself) comes first, as the list is sorted by VCN.
    std::vector<uint8_t> owned;
    const std::span<const uint8_t> entries = AttributeList(list, owned);
    m_mftRecords = UINT32_MAX;  // until the first extent tells
    ForEachExtent(entries, kAttrData, {}, [this](const Attribute& extent) {
      if (!AddMftExtent(extent)) return false;
      SortRuns(m_mftRuns);
      return true;
    });
    if (m_mftRuns.empty()) m_mftRecords = 0;
  } else if (data != nullptr) {
    AddMftExtent(*data);
  }
  m_current = savedCurrent;
  m_currentNumber = savedNumber;
  SortRuns(m_mftRuns);

  // Records the runs do not cover cannot be read.
  uint64_t covered = 0;
  for (const Run& run : m_mftRuns) covered = std::max(covered, run.vcn + run.length);
  m_mftRecords =
      std::min({m_mftRecords, covered * m_clusterBytes / m_recordBytes, uint64_t{UINT32_MAX}});
  if (progress != nullptr) progress->SetEnd(m_mftRecords);
  return !m_mftRuns.empty();
}

uint32_t NtfsReader::ListNtfs(ScanEntry* data, ProgressRecord* progress,
                              MessageSink& progressWindow) {
  m_data = data;
  m_lostFound = nullptr;
  for (ScanEntry* child = data->firstChild; child != nullptr; child = child->nextSibling) {
    if (child->name == u"Lost+Found" && (child->flags & NF_FOLDER) != 0) m_lostFound = child;
  }
  if (m_lostFound == nullptr) {
    ScanEntryPtr lostFound = NewScanEntry();
    lostFound->parentId = data->id;
    lostFound->flags = NF_FOLDER;
    lostFound->name = u"Lost+Found";
    lostFound->nameLength = 10;
    m_lostFound = PrependScanChild(data, std::move(lostFound));
  }
  m_pendingIndexes.clear();
  m_indexNames.clear();
  m_index = std::make_unique<RecordIndex>();
  m_index->FindOrIndex(m_data);
  m_index->FindOrIndex(m_lostFound);

  if (m_valid && m_mftRuns.empty()) LocateMft(progress);
  if (m_valid && m_mftRecords != 0) {
    const uint32_t chunkRecords =
        std::max<uint32_t>(1, kChunkSectors * m_sectorSize / m_recordBytes);
    std::vector<uint8_t> chunk(size_t{chunkRecords} * m_recordBytes);
    bool stopped = false;
    for (const Run& run : m_mftRuns) {
      if (stopped) break;
      if (run.sparse || run.lcn >= m_clusterCount) continue;
      const uint64_t clusters = std::min(run.length, m_clusterCount - run.lcn);
      const uint64_t startByte = run.vcn * m_clusterBytes;
      const uint64_t endByte = (run.vcn + clusters) * m_clusterBytes;
      // A record that straddles two runs (clusters smaller than records) is not read.
      const uint64_t first = (startByte + m_recordBytes - 1) / m_recordBytes;
      const uint64_t last = std::min(endByte / m_recordBytes, m_mftRecords);
      for (uint64_t number = first; number < last;) {
        if (ShouldStop(progress)) {
          stopped = true;
          break;
        }
        if (progress != nullptr) progress->SetPosition(number);
        progressWindow.Send(UM_PROGRESS, 0, 0);
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(chunkRecords, last - number));
        const uint64_t sector = m_partitionStart + run.lcn * m_sectorsPerCluster +
                                (number * m_recordBytes - startByte) / m_sectorSize;
        if (m_source.ReadSectors(chunk.data(), count * m_recordBytes, sector)) {
          for (uint32_t i = 0; i < count; ++i) {
            ProcessRecord(chunk.data() + size_t{i} * m_recordBytes, number + i,
                          sector + uint64_t{i} * m_sectorsPerRecord);
          }
        }
        number += count;
      }
    }
  }
  if (!ShouldStop(progress)) ReadIndexes(progress);
  AttachIndexNames();
  BreakCycles();
  PlaceOrphans();
  m_index.reset();
  m_current = nullptr;
  m_currentNumber = UINT64_MAX;
  return progress != nullptr ? progress->State() : PS_IDLE;
}

void NtfsReader::ProcessRecord(uint8_t* record, uint64_t number, uint64_t sector) {
  // Extension records are read through their base record's attribute list.
  if (LoadLe64(record + kRecordBaseReference) != 0) return;
  if (!CheckRecord(record, m_recordBytes)) return;
  ScanEntryPtr entry = NewScanEntry();
  m_current = record;
  m_currentNumber = number;
  bool hasData = false;
  if (!ParseRecord(record, m_recordBytes, *entry, this, &hasData)) {
    // The root folder is never listed itself ("Data" stands for it), but its index is read.
    if (RecordNumberOf(record, number) == m_data->id && (entry->flags & NF_FOLDER) != 0) {
      CollectIndex(record, m_data->id);
    }
    return;
  }
  if (LoadLe16(record + kRecordUsaOffsetField) == 48) {
    entry->id = LoadLe32(record + kRecordOwnNumber);
  } else if (entry->id == 0) {
    entry->id = static_cast<uint32_t>(number);
  }
  if (entry->name.empty()) SetNumberName(*entry, entry->id);

  if ((entry->flags & NF_FOLDER) == 0) {
    // An empty file has an empty unnamed $DATA attribute; a record without one holds no file.
    if (!hasData) return;
    entry->location = sector;
    AttachEntry(entry.release());
    return;
  }
  CollectIndex(record, entry->id);
  // A folder that names itself as its parent is a cycle of one; it goes to Lost+Found.
  if (entry->parentId == entry->id) entry->parentId = kUnknownParentId;
  ScanEntry* kept = FindOrIndexFolder(entry.get());
  if (kept == entry.get()) {
    entry.release();
  } else if (kept->parent == nullptr && kept != m_data) {
    // A placeholder made for this folder's children (or an unplaced folder): it takes the
    // record's details and keeps the children.
    kept->createdDate = entry->createdDate;
    kept->modifiedDate = entry->modifiedDate;
    kept->flags = entry->flags;
    kept->name = std::move(entry->name);
    kept->nameLength = entry->nameLength;
    if (entry->parentId != 0) kept->parentId = entry->parentId;
  } else {
    // A second folder record with the number of a placed folder (damage): listed, not indexed.
    if (entry->parentId == kUnknownParentId) entry->parentId = m_lostFound->id;
    kept = entry.release();
  }
  if (kept->parentId != kUnknownParentId) AttachEntry(kept);
}

template <typename Take>
bool NtfsReader::ForEachExtent(std::span<const uint8_t> list, uint32_t type,
                               std::span<const uint8_t> name, Take take) {
  bool whole = true;
  ForEachListEntry(list, type, [&](const AttributeListEntry& e) {
    if (e.type != type || !std::ranges::equal(e.name, name)) return true;
    const uint8_t* holder = ReadRecord(e.record);
    Attribute extent;
    if (holder == nullptr || !FindAttribute(holder, m_recordBytes, type, name, e.lowVcn, extent)) {
      whole = false;
      return false;
    }
    return take(extent);
  });
  return whole;
}

void NtfsReader::CollectIndex(const uint8_t* record, uint32_t folder) {
  PendingIndex pending;
  pending.folder = folder;
  const auto addAllocation = [&pending](const Attribute& a) {
    if (!a.nonResident) return true;
    DecodeRunList(a.mappingPairs, 0, pending.runs, a.lowVcn);
    if (a.lowVcn == 0) pending.bytes = std::min(a.realSize, kMaxIndexBytes);
    return true;
  };
  std::span<const uint8_t> list;
  std::vector<uint8_t> owned;
  AttributeWalker walker(record, m_recordBytes);
  Attribute a;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList) {
      list = AttributeList(a, owned);
      continue;
    }
    if (!std::ranges::equal(a.name, kI30)) continue;
    if (a.type == kAttrIndexRoot && !a.nonResident && a.value.size() > kIndexRootHeader) {
      ScanIndexNode(a.value.data() + kIndexRootHeader, a.value.size() - kIndexRootHeader, folder,
                    true);
    } else if (a.type == kAttrIndexAllocation && list.empty()) {
      addAllocation(a);
    } else if (a.type == kAttrBitmap && !a.nonResident) {
      pending.bitmap.assign(a.value.begin(), a.value.end());
    }
  }
  // With an attribute list, the extents of the allocation are spread over records in its order
  // (the base record's own among them).
  if (!list.empty()) ForEachExtent(list, kAttrIndexAllocation, kI30, addAllocation);
  if (pending.runs.empty() || pending.bytes == 0) return;
  SortRuns(pending.runs);
  m_pendingIndexes.push_back(std::move(pending));
}

// The names a folder already has, hashed with and without their record, for telling the names in
// its index's free space that add something from the copies of entries it already holds. The
// folder's own names are kept sorted (8 bytes each, no allocation per name); the few names taken
// from the index on top of them in sets.
class NtfsReader::KnownNames {
 public:
  // The names of `folder`'s entries; none when it is null.
  explicit KnownNames(const ScanEntry* folder) {
    for (const ScanEntry* c = folder != nullptr ? folder->firstChild : nullptr; c != nullptr;
         c = c->nextSibling) {
      const uint64_t h = Hash(std::u16string_view(c->name).substr(0, c->nameLength));
      m_names.push_back(h);
      m_pairs.push_back(Pair(h, c->id));
    }
    std::sort(m_names.begin(), m_names.end());
    std::sort(m_pairs.begin(), m_pairs.end());
  }
  // True when the name adds nothing: the folder gives it for the same record, or the entry's
  // header is gone and the folder has the name (index reorganisations leave such copies of live
  // entries behind). Otherwise the name is noted and false returned.
  bool Known(std::u16string_view name, uint32_t record) {
    const uint64_t h = Hash(name);
    const uint64_t pair = Pair(h, record);
    if (record == 0 &&
        (std::binary_search(m_names.begin(), m_names.end(), h) || m_addedNames.count(h) != 0)) {
      return true;
    }
    if (std::binary_search(m_pairs.begin(), m_pairs.end(), pair) ||
        !m_addedPairs.insert(pair).second) {
      return true;
    }
    m_addedNames.insert(h);
    return false;
  }

 private:
  static uint64_t Hash(std::u16string_view name) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (char16_t c : name) h = (h ^ c) * 0x100000001B3ull;
    return h;
  }
  static uint64_t Pair(uint64_t hash, uint32_t record) {
    return hash * 0x9E3779B97F4A7C15ull ^ record;
  }
  std::vector<uint64_t> m_names;
  std::vector<uint64_t> m_pairs;
  std::unordered_set<uint64_t> m_addedNames;
  std::unordered_set<uint64_t> m_addedPairs;
};

void NtfsReader::ScanIndexNode(const uint8_t* header, size_t available, uint32_t folder, bool inUse,
                               std::unique_ptr<KnownNames>* known) {
  if (available < kIndexRootHeader) return;
  const uint64_t entries = LoadLe32(header + kNodeEntries);
  const uint64_t allocated = std::min<uint64_t>(LoadLe32(header + kNodeAllocated), available);
  const uint64_t used =
      inUse ? std::min<uint64_t>(LoadLe32(header + kNodeInUse), allocated) : entries;
  if (entries < kIndexRootHeader || entries >= allocated) return;

  // Past the entries in use, the bytes of removed entries stay until they are overwritten. Keys
  // are looked for rather than entries: the end marker of the entries in use is often written
  // over the header of the first removed entry, its file reference lost with it. A key is taken
  // only when it is a whole $FILE_NAME of this folder, which rules out stray bytes and the remains
  // of keys cut by later ones; the record is taken from the entry's header while that is intact.
  uint64_t off = std::max(used, entries + kIndexEntryKey);
  off = (off + 7) & ~uint64_t{7};
  while (off + kFileNameNameOffset + 2 <= allocated) {
    const uint8_t* key = header + off;
    const uint8_t length = key[kKeyNameLength];
    const uint8_t nameSpace = key[kKeyNamespace];
    const uint64_t keyBytes = kFileNameNameOffset + 2 * uint64_t{length};
    bool taken = length != 0 && nameSpace <= 3 && off + keyBytes <= allocated &&
                 (LoadLe64(key) & kRecordNumberMask) == folder;
    char16_t name[255];
    for (uint8_t i = 0; taken && i < length; ++i) {
      name[i] = static_cast<char16_t>(LoadLe16(key + kFileNameNameOffset + 2 * i));
      if (name[i] < 0x20 || name[i] == u'/') taken = false;
    }
    if (!taken) {
      off += 8;
      continue;
    }
    const uint8_t* e = key - kIndexEntryKey;
    const uint64_t reference = LoadLe64(e) & kRecordNumberMask;
    const bool headerIntact = LoadLe16(e + kEntryLength) >= kIndexEntryKey + keyBytes &&
                              LoadLe16(e + kEntryKeyLength) >= keyBytes &&
                              (LoadLe16(e + kEntryFlags) & kIndexEntryLast) == 0 &&
                              reference <= UINT32_MAX;
    const uint32_t record = headerIntact ? static_cast<uint32_t>(reference) : 0;
    const std::u16string_view nameView(name, length);
    bool wanted = nameSpace != kDosNamespace;
    if (wanted && known != nullptr) {
      if (!*known) *known = std::make_unique<KnownNames>(m_index->Find(folder));
      wanted = !(*known)->Known(nameView, record);
    }
    if (wanted) {
      IndexName found;
      found.name = nameView;
      found.folder = folder;
      found.record = record;
      found.sequence = static_cast<uint16_t>(LoadLe64(e) >> 48);
      found.isFolder = (LoadLe32(key + kKeyFlags) & kFileNameDirectory) != 0;
      found.size = found.isFolder ? 0 : LoadLe64(key + kKeyRealSize);
      found.createdDate = FileTimeToDosDate(LoadLe64(key + kKeyCreated));
      found.modifiedDate = FileTimeToDosDate(LoadLe64(key + kKeyModified));
      m_indexNames.push_back(std::move(found));
    }
    off += (keyBytes + kIndexEntryKey + 7) & ~uint64_t{7};
  }
}

void NtfsReader::ReadIndexes(ProgressRecord* progress) {
  // In disk order, so that a volume's indexes are read in one sweep.
  std::sort(m_pendingIndexes.begin(), m_pendingIndexes.end(),
            [](const PendingIndex& a, const PendingIndex& b) {
              return a.runs.front().lcn < b.runs.front().lcn;
            });
  const uint32_t unit = std::max(m_indexRecordBytes, m_clusterBytes);
  const uint64_t pieceClusters = std::max(kIndexPieceBytes, unit) / m_clusterBytes;
  std::vector<uint8_t> buffer(pieceClusters * m_clusterBytes);
  std::vector<ClusterCursor::Piece> pieces;
  for (const PendingIndex& index : m_pendingIndexes) {
    if (ShouldStop(progress)) break;
    ClusterCursor cursor(index.runs);
    uint64_t recordNumber = 0;
    // The folder's entries are complete now: a name is checked against them as it is found, so
    // that a large folder's many copies of live entries are never held.
    std::unique_ptr<KnownNames> known;
    for (uint64_t read = 0; read < index.bytes;) {
      if (!cursor.Take(pieceClusters, pieces)) break;
      uint64_t filled = 0;
      for (const auto& piece : pieces) {
        uint8_t* at = buffer.data() + filled * m_clusterBytes;
        if (piece.hole || !ReadClusters(piece.lcn, piece.count, at)) {
          std::memset(at, 0, piece.count * m_clusterBytes);
        }
        filled += piece.count;
      }
      const uint64_t bytes = std::min(filled * m_clusterBytes, index.bytes - read);
      for (uint64_t at = 0; at + m_indexRecordBytes <= bytes; at += m_indexRecordBytes) {
        uint8_t* r = buffer.data() + at;
        const uint64_t n = recordNumber++;
        if (std::memcmp(r, "INDX", 4) != 0) continue;
        // Fix-ups that match are applied; a block whose check fails keeps its two bytes, which
        // can only spoil the names across it.
        const uint16_t usaOffset = LoadLe16(r + 4);
        const uint16_t usaCount = LoadLe16(r + 6);
        if (usaCount == m_indexRecordBytes / kFixupStride + 1 &&
            usaOffset + 2u * usaCount <= m_indexRecordBytes) {
          const uint16_t usn = LoadLe16(r + usaOffset);
          for (uint32_t k = 1; k < usaCount; ++k) {
            uint8_t* tail = r + k * kFixupStride - 2;
            if (LoadLe16(tail) == usn) std::memcpy(tail, r + usaOffset + 2 * k, 2);
          }
        }
        const bool inUse = index.bitmap.empty() ||
                           (n / 8 < index.bitmap.size() && (index.bitmap[n / 8] >> (n % 8)) & 1);
        ScanIndexNode(r + kIndexRecordHeader, m_indexRecordBytes - kIndexRecordHeader, index.folder,
                      inUse, &known);
      }
      read += filled * m_clusterBytes;
    }
  }
  m_pendingIndexes.clear();
}

void NtfsReader::AttachIndexNames() {
  std::stable_sort(m_indexNames.begin(), m_indexNames.end(),
                   [](const IndexName& a, const IndexName& b) { return a.folder < b.folder; });
  // Each name is listed once in its folder.
  for (size_t group = 0; group < m_indexNames.size();) {
    size_t end = group;
    while (end < m_indexNames.size() && m_indexNames[end].folder == m_indexNames[group].folder) {
      ++end;
    }
    ScanEntry* folder = m_index->Find(m_indexNames[group].folder);
    KnownNames known(folder);
    for (size_t i = group; folder != nullptr && i < end; ++i) {
      IndexName& found = m_indexNames[i];
      if (known.Known(found.name, found.record)) continue;
      // A placeholder made for the children of a folder whose record is gone gets its name back.
      ScanEntry* placeholder =
          found.isFolder && found.record != 0 ? m_index->Find(found.record) : nullptr;
      ScanEntry* entry = nullptr;
      if (placeholder != nullptr && placeholder->parent == nullptr &&
          placeholder->parentId == kUnknownParentId && placeholder != folder) {
        entry = placeholder;
      } else {
        entry = NewScanEntry().release();
        entry->id = found.record;
        entry->size = found.size;
        if (!found.isFolder && found.record != 0) FindIndexNameRecord(found, *entry);
      }
      entry->flags = found.isFolder ? NF_FOLDER : 0;
      entry->parentId = found.folder;
      entry->createdDate = found.createdDate;
      entry->modifiedDate = found.modifiedDate;
      if (found.name.size() > 255) found.name.resize(255);
      entry->nameLength = static_cast<uint8_t>(found.name.size());
      entry->name = std::move(found.name);
      PrependScanChild(folder, ScanEntryPtr(entry));
    }
    group = end;
  }
  m_indexNames.clear();
}

void NtfsReader::FindIndexNameRecord(const IndexName& found, ScanEntry& entry) {
  const uint64_t sector = RecordSector(found.record);
  std::vector<uint8_t> record(m_recordBytes);
  if (sector == 0 || !m_source.ReadSectors(record.data(), m_recordBytes, sector) ||
      !CheckRecord(record.data(), m_recordBytes) ||
      LoadLe64(record.data() + kRecordBaseReference) != 0) {
    return;
  }
  const uint16_t sequence = LoadLe16(record.data() + kRecordSequence);
  const bool inUse = (LoadLe16(record.data() + kRecordFlags) & 1) != 0;
  if (sequence != found.sequence && (inUse || sequence != uint16_t(found.sequence + 1))) return;
  ScanEntry parsed;
  bool hasData = false;
  m_current = record.data();
  m_currentNumber = found.record;
  const bool kept = ParseRecord(record.data(), m_recordBytes, parsed, this, &hasData);
  m_current = nullptr;
  m_currentNumber = UINT64_MAX;
  if (!kept || !hasData || (parsed.flags & NF_FOLDER) != 0) return;
  entry.location = sector;
  entry.size = parsed.size;
}

uint64_t NtfsReader::RecordSector(uint64_t number) const {
  if (number >= m_mftRecords) return 0;
  const uint64_t offset = number * m_recordBytes;
  for (const Run& run : m_mftRuns) {
    const uint64_t start = run.vcn * m_clusterBytes;
    if (offset < start || offset - start >= run.length * m_clusterBytes) continue;
    if (run.sparse || offset + m_recordBytes > start + run.length * m_clusterBytes ||
        run.lcn >= m_clusterCount) {
      return 0;
    }
    return m_partitionStart + (run.lcn * m_clusterBytes + offset - start) / m_sectorSize;
  }
  return 0;
}

ScanEntry* NtfsReader::FindOrIndexFolder(ScanEntry* entry) {
  return m_index->FindOrIndex(entry);
}

void NtfsReader::AttachEntry(ScanEntry* entry) {
  ScanEntry* folder = m_index->Find(entry->parentId);
  if (folder == nullptr) {
    ScanEntryPtr placeholder = NewScanEntry();
    placeholder->id = entry->parentId;
    placeholder->parentId = kUnknownParentId;
    placeholder->flags = NF_FOLDER;
    SetNumberName(*placeholder, placeholder->id);
    folder = placeholder.release();
    m_index->FindOrIndex(folder);
  }
  PrependScanChild(folder, ScanEntryPtr(entry));
}

void NtfsReader::BreakCycles() {
  // Parent links of indexed folders may loop on a damaged volume (A in B, B in A). Each folder's
  // chain of parents is followed until it reaches the top, a folder already known to reach it
  // (mark 2), or a folder on the chain itself (mark 1): that closes a cycle, which is cut there.
  // Every folder is visited once; the marks are cleared afterwards.
  std::vector<ScanEntry*> chain;
  m_index->VisitInOrder([&](ScanEntry* member) {
    chain.clear();
    ScanEntry* x = member;
    while (x != nullptr && x->mark == 0) {
      x->mark = 1;
      chain.push_back(x);
      x = x->parent;
    }
    if (x != nullptr && x->mark == 1) {
      ScanEntry* folder = x->parent;
      ScanEntry** link = &folder->firstChild;
      while (*link != x) link = &(*link)->nextSibling;
      *link = x->nextSibling;
      x->nextSibling = nullptr;
      x->parent = nullptr;
      x->parentId = kUnknownParentId;
    }
    for (ScanEntry* e : chain) e->mark = 2;
  });
  m_index->VisitInOrder([](ScanEntry* member) { member->mark = 0; });
}

void NtfsReader::PlaceOrphans() {
  uint32_t ordinal = 0;
  m_index->VisitInOrder([&](ScanEntry* member) {
    if (member->parent != nullptr || member == m_data || member == m_lostFound) return;
    member->orphanOrdinal = ordinal++;
    member->parentId = m_lostFound->id;
    PrependScanChild(m_lostFound, ScanEntryPtr(member));
  });
}

bool NtfsReader::CollectData(const uint8_t* record, DataStream& stream) {
  const auto add = [&stream](const Attribute& a) {
    if (!a.nonResident) {
      if (stream.found) return;
      stream.resident = true;
      stream.value.assign(a.value.begin(), a.value.end());
      stream.realSize = stream.initializedSize = a.value.size();
    } else {
      if (stream.resident) return;
      DecodeRunList(a.mappingPairs, 0, stream.runs, a.lowVcn);
      if (a.lowVcn == 0) {
        stream.realSize = a.realSize;
        stream.initializedSize = std::min(a.initializedSize, a.realSize);
        stream.compressed = a.Compressed();
        stream.compressionUnit = a.compressionUnit;
      }
    }
    stream.found = true;
  };

  AttributeWalker walker(record, m_recordBytes);
  Attribute a;
  while (walker.Next(a) && a.type <= kAttrData) {
    if (a.type == kAttrAttributeList) {
      std::vector<uint8_t> owned;
      const std::span<const uint8_t> entries = AttributeList(a, owned);
      // Only the unnamed stream is the file's data; named streams are other data. Extension
      // records are found through the MFT's run list.
      if (m_mftRuns.empty()) LocateMft(nullptr);
      if (!ForEachExtent(entries, kAttrData, {}, [&](const Attribute& extent) {
            add(extent);
            return true;
          })) {
        return false;
      }
      SortRuns(stream.runs);
      return stream.found;
    }
    if (a.type == kAttrData && a.name.empty()) {
      add(a);
      return true;
    }
  }
  return false;
}

bool NtfsReader::Emit(uint8_t* data, uint64_t bytes, uint64_t written, uint64_t initialized,
                      FileOutput& output, ProgressRecord* progress) {
  // Bytes past the initialized length read as zeros, whatever the clusters hold.
  if (written + bytes > initialized) {
    const uint64_t from = initialized > written ? initialized - written : 0;
    std::memset(data + from, 0, bytes - from);
  }
  if (!output.Write(data, bytes)) return false;
  if (progress != nullptr) progress->SetPosition(progress->Position() + bytes);
  return true;
}

bool NtfsReader::WriteRuns(const DataStream& stream, uint64_t limit, FileOutput& output,
                           ProgressRecord* progress) {
  std::vector<uint8_t> buffer(kPieceClusters * m_clusterBytes);
  std::vector<ClusterCursor::Piece> pieces;
  ClusterCursor cursor(stream.runs);
  uint64_t written = 0;
  while (written < limit) {
    if (ShouldStop(progress)) return false;
    if (!cursor.Take(kPieceClusters, pieces)) return false;
    uint64_t filled = 0;
    bool readable = true;
    for (const auto& piece : pieces) {
      const uint64_t bytes = piece.count * m_clusterBytes;
      if (piece.hole) {
        std::memset(buffer.data() + filled, 0, bytes);
      } else if (!ReadClusters(piece.lcn, piece.count, buffer.data() + filled)) {
        readable = false;
        break;
      }
      filled += bytes;
    }
    // What was read before an unreadable run is still written.
    const uint64_t n = std::min(filled, limit - written);
    if (!Emit(buffer.data(), n, written, stream.initializedSize, output, progress)) return false;
    written += n;
    if (!readable) return false;
  }
  return true;
}

bool NtfsReader::WriteCompressed(const DataStream& stream, uint64_t limit, FileOutput& output,
                                 ProgressRecord* progress) {
  if (stream.compressionUnit > 16) return false;
  const uint64_t unitClusters = uint64_t{1} << stream.compressionUnit;
  const uint64_t unitBytes = unitClusters * m_clusterBytes;
  if (unitBytes > kMaxUnitBytes) return false;
  std::vector<uint8_t> packed(unitBytes);
  std::vector<uint8_t> unit(unitBytes);
  std::vector<ClusterCursor::Piece> pieces;
  ClusterCursor cursor(stream.runs);
  uint64_t written = 0;
  bool intact = true;
  while (written < limit) {
    if (ShouldStop(progress)) return false;
    if (!cursor.Take(unitClusters, pieces)) return false;
    uint64_t covered = 0;
    uint64_t stored = 0;
    for (const auto& piece : pieces) {
      covered += piece.count;
      if (piece.hole) continue;
      if (!ReadClusters(piece.lcn, piece.count, packed.data() + stored * m_clusterBytes)) {
        return false;
      }
      stored += piece.count;
    }
    // A unit whose clusters are all stored is kept uncompressed; one with none is a hole;
    // otherwise its stored clusters hold LZNT1 data followed by holes.
    std::fill(unit.begin(), unit.end(), 0);
    if (stored == covered) {
      std::memcpy(unit.data(), packed.data(), stored * m_clusterBytes);
    } else if (stored != 0) {
      size_t produced = 0;
      if (!DecompressLznt1(packed.data(), stored * m_clusterBytes, unit.data(), unitBytes,
                           &produced)) {
        ++m_damagedUnits;
        intact = false;
      }
    }
    const uint64_t n = std::min(unitBytes, limit - written);
    if (!Emit(unit.data(), n, written, stream.initializedSize, output, progress)) return false;
    written += n;
  }
  return intact;
}

bool NtfsReader::ExtractNtfsFile(const RecoveredNode& node, FileOutput& output,
                                 ProgressRecord* progress) {
  m_damagedUnits = 0;
  // Location 0: a name that only a folder's index still holds, its record gone.
  if (!m_valid || node.location == 0 || node.location < m_partitionStart ||
      node.location - m_partitionStart >= m_volumeSectors ||
      m_volumeSectors - (node.location - m_partitionStart) < m_sectorsPerRecord) {
    return false;
  }
  std::vector<uint8_t> record(m_recordBytes);
  if (!m_source.ReadSectors(record.data(), m_recordBytes, node.location) ||
      !CheckRecord(record.data(), m_recordBytes)) {
    return false;
  }
  m_current = record.data();
  m_currentNumber = RecordNumberOf(record.data(), node.id);
  DataStream stream;
  const bool collected = CollectData(record.data(), stream);
  m_current = nullptr;
  m_currentNumber = UINT64_MAX;
  if (!collected) return false;

  const uint64_t limit = std::min(node.size, stream.realSize);
  if (stream.resident) {
    const uint64_t n = std::min<uint64_t>(limit, stream.value.size());
    return n == 0 || Emit(stream.value.data(), n, 0, n, output, progress);
  }
  if (stream.compressed && stream.compressionUnit != 0) {
    return WriteCompressed(stream, limit, output, progress);
  }
  return WriteRuns(stream, limit, output, progress);
}

}  // namespace kavo

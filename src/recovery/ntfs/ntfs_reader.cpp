#include "recovery/ntfs/ntfs_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/messages.h"
#include "platform/bytes.h"
#include "recovery/ntfs/lznt1.h"

namespace kavo {

namespace {

constexpr uint32_t kChunkSectors = 128;  // the MFT walk reads 128 sectors at a time
constexpr uint64_t kPieceClusters = 16;  // file data is read 16 clusters at a time
constexpr uint32_t kMaxClusterBytes = 2u << 20;
constexpr uint64_t kMaxUnitBytes = 4u << 20;
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;

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
  if ((LoadLe64(m_extension.data() + 0x20) & kRecordNumberMask) != m_currentNumber) return nullptr;
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
    for (size_t off = 0; off + 0x1A <= entries.size();) {
      const uint8_t* e = entries.data() + off;
      const uint32_t type = LoadLe32(e);
      const uint16_t length = LoadLe16(e + 4);
      if (length < 0x1A || off + length > entries.size() || type > kAttrData) break;
      off += length;
      if (type != kAttrData || e[6] != 0) continue;
      const uint64_t number = LoadLe64(e + 0x10) & kRecordNumberMask;
      const uint8_t* holder = ReadRecord(number);
      Attribute extent;
      if (holder == nullptr || !FindUnnamedData(holder, m_recordBytes, LoadLe64(e + 8), extent) ||
          !AddMftExtent(extent)) {
        break;
      }
      SortRuns(m_mftRuns);
    }
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
  BreakCycles();
  PlaceOrphans();
  m_index.reset();
  m_current = nullptr;
  m_currentNumber = UINT64_MAX;
  return progress != nullptr ? progress->State() : PS_IDLE;
}

void NtfsReader::ProcessRecord(uint8_t* record, uint64_t number, uint64_t sector) {
  // Extension records are read through their base record's attribute list.
  if (LoadLe64(record + 0x20) != 0) return;
  if (!CheckRecord(record, m_recordBytes)) return;
  ScanEntryPtr entry = NewScanEntry();
  m_current = record;
  m_currentNumber = number;
  if (!ParseRecord(record, m_recordBytes, *entry, this)) return;
  if (LoadLe16(record + 4) == 48) {
    entry->id = LoadLe32(record + 0x2C);
  } else if (entry->id == 0) {
    entry->id = static_cast<uint32_t>(number);
  }
  if (entry->name.empty()) SetNumberName(*entry, entry->id);

  if ((entry->flags & NF_FOLDER) == 0) {
    if (entry->size == 0) return;
    entry->location = sector;
    AttachEntry(entry.release());
    return;
  }
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
      for (size_t off = 0; off + 0x1A <= entries.size();) {
        const uint8_t* e = entries.data() + off;
        const uint32_t type = LoadLe32(e);
        const uint16_t length = LoadLe16(e + 4);
        if (length < 0x1A || off + length > entries.size() || type > kAttrData) break;
        off += length;
        // Only the unnamed stream is the file's data; named streams are other data.
        if (type != kAttrData || e[6] != 0) continue;
        const uint64_t number = LoadLe64(e + 0x10) & kRecordNumberMask;
        if (number != m_currentNumber && m_mftRuns.empty()) LocateMft(nullptr);
        const uint8_t* holder = ReadRecord(number);
        Attribute extent;
        if (holder == nullptr || !FindUnnamedData(holder, m_recordBytes, LoadLe64(e + 8), extent)) {
          return false;
        }
        add(extent);
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
  if (!m_valid || node.location < m_partitionStart ||
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
  m_currentNumber = LoadLe16(record.data() + 4) == 48 ? LoadLe32(record.data() + 0x2C) : node.id;
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

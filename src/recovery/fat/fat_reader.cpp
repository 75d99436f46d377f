#include "recovery/fat/fat_reader.h"

#include <algorithm>

#include "base/messages.h"
#include "platform/bytes.h"

namespace kavo {

namespace {

// Data is read in pieces of at most 1 MiB, whatever the cluster size.
constexpr uint32_t kPieceBytes = 1024 * 1024;
// The FAT12/16 root area, when the boot sector cannot be read again: 512 entries of 32 bytes.
constexpr uint32_t kUsualRootEntries = 512;
// An exFAT folder holds at most 256 MiB of entries.
constexpr uint64_t kMaxExfatFolderBytes = 256ull * 1024 * 1024;
// Folders whose valid data lengths an extraction keeps at once.
constexpr size_t kMaxValidLengthFolders = 64;

}  // namespace

FatReader::FatReader(CDisk& source)
    : m_source(source),
      m_fileSystem(source.m_nFileSystem),
      m_volume(source.m_volume),
      m_dataStart(m_volume.firstDataSector),
      m_table(source, source.m_nFileSystem, source.m_volume) {
  if (m_volume.bytesPerSector == 0) m_volume.bytesPerSector = 512;
  if (IsFat12Or16(m_fileSystem)) {
    // The root area's size is the boot sector's root-entry count.
    uint32_t entries = kUsualRootEntries;
    std::vector<uint8_t> boot(m_volume.bytesPerSector);
    if (ReadVolume(boot.data(), 0, 1) && boot.size() >= 0x13) {
      const uint32_t declared = LoadLe16(boot.data() + 0x11);
      if (declared != 0) entries = declared;
    }
    m_rootBytes = entries * 32;
    m_rootSectors = (m_rootBytes + m_volume.bytesPerSector - 1) / m_volume.bytesPerSector;
    m_dataStart += m_rootSectors;
  }
}

std::vector<uint32_t> FatReader::BuildFatChain(uint32_t first) {
  if (!IsFat12Or16(m_fileSystem) && m_fileSystem != FS_FAT32) return {};
  return m_table.Chain(first);
}

std::vector<uint32_t> FatReader::BuildExfatChain(uint32_t first) {
  if (m_fileSystem != FS_EXFAT) return {};
  return m_table.Chain(first);
}

uint64_t FatReader::ClusterSector(uint32_t cluster) const {
  return (uint64_t{cluster} - 2) * m_volume.sectorsPerCluster + m_dataStart;
}

bool FatReader::ReadVolume(uint8_t* buffer, uint64_t sector, uint32_t count) {
  const uint32_t sectorSize = m_volume.bytesPerSector;
  std::fill(buffer, buffer + size_t{count} * sectorSize, 0);
  const uint64_t absolute = m_volume.partitionStart + sector;
  if (absolute >= m_source.m_nTotalSectors) return false;
  const uint32_t available =
      static_cast<uint32_t>(std::min<uint64_t>(count, m_source.m_nTotalSectors - absolute));
  if (m_source.ReadSectors(buffer, available * sectorSize, absolute)) return true;
  // Salvage what can be read around a bad sector.
  bool any = false;
  for (uint32_t s = 0; s < available; ++s) {
    uint8_t* at = buffer + size_t{s} * sectorSize;
    if (m_source.ReadSectors(at, sectorSize, absolute + s)) {
      any = true;
    } else {
      std::fill(at, at + sectorSize, 0);
    }
  }
  return any;
}

template <typename Consume>
bool FatReader::ReadRuns(const std::vector<Run>& runs, uint64_t bytes, Consume consume) {
  const uint32_t sectorSize = m_volume.bytesPerSector;
  const uint32_t pieceSectors = std::max<uint32_t>(kPieceBytes / sectorSize, 1);
  std::vector<uint8_t> buffer(size_t{pieceSectors} * sectorSize);
  bool any = false;
  for (const Run& run : runs) {
    uint64_t sector = ClusterSector(run.first);
    uint64_t sectors = run.count * m_volume.sectorsPerCluster;
    while (sectors != 0 && bytes != 0) {
      const uint64_t wanted = bytes / sectorSize + (bytes % sectorSize != 0 ? 1 : 0);
      const uint32_t count =
          static_cast<uint32_t>(std::min<uint64_t>({pieceSectors, sectors, wanted}));
      any = ReadVolume(buffer.data(), sector, count) || any;
      const size_t length =
          static_cast<size_t>(std::min<uint64_t>(bytes, uint64_t{count} * sectorSize));
      if (!consume(std::span<const uint8_t>(buffer.data(), length))) return any;
      bytes -= length;
      sector += count;
      sectors -= count;
    }
  }
  return any;
}

std::vector<FatReader::Run> FatReader::ToRuns(const std::vector<uint32_t>& clusters) {
  std::vector<Run> runs;
  for (uint32_t cluster : clusters) {
    if (!runs.empty() && uint64_t{runs.back().first} + runs.back().count == cluster) {
      ++runs.back().count;
    } else {
      runs.push_back({cluster, 1});
    }
  }
  return runs;
}

std::vector<FatReader::Run> FatReader::ClaimFolderClusters(const std::vector<uint32_t>& clusters) {
  std::vector<uint32_t> claimed;
  for (uint32_t cluster : clusters) {
    if (!m_table.IsDataCluster(cluster) || m_folderClusters[cluster]) break;
    m_folderClusters[cluster] = true;
    claimed.push_back(cluster);
  }
  return ToRuns(claimed);
}

bool FatReader::ListFatFolder(ScanEntry& folder, bool root) {
  FatFolderParser parser(m_fileSystem, m_volume, folder);
  if (root && IsFat12Or16(m_fileSystem)) {
    // The fixed root area, read whole whatever its entries.
    std::vector<uint8_t> area(size_t{m_rootSectors} * m_volume.bytesPerSector);
    ReadVolume(area.data(), m_volume.firstDataSector, m_rootSectors);
    parser.Parse(std::span<const uint8_t>(area.data(), m_rootBytes));
    return true;
  }
  const std::vector<Run> runs = ClaimFolderClusters(m_table.Chain(folder.id));
  bool first = true;
  ReadRuns(runs, UINT64_MAX, [&](std::span<const uint8_t> piece) {
    // A subfolder whose first cluster lacks "." and ".." has been reused for other data.
    if (first && !root && !HasDotEntries(piece)) return false;
    first = false;
    return parser.Parse(piece) == FolderParse::More;
  });
  return true;
}

std::vector<uint32_t> FatReader::ExfatFolderClusters(uint32_t id, uint64_t size, bool fatChain,
                                                     bool root, uint64_t& bytes) {
  const uint64_t clusterBytes = m_volume.bytesPerCluster;
  bytes = UINT64_MAX;
  // The root folder has no recorded length: all of its chain.
  if (root) return m_table.Chain(id);
  std::vector<uint32_t> clusters;
  bytes = std::min(size != 0 ? size : clusterBytes, kMaxExfatFolderBytes);
  const uint64_t needed = (bytes + clusterBytes - 1) / clusterBytes;
  if (fatChain) clusters = m_table.Chain(id);
  if (clusters.size() > needed) clusters.resize(needed);
  // A contiguous folder, or one whose chain is gone: the clusters that follow its first.
  for (uint64_t i = clusters.size(); i < needed; ++i) {
    const uint64_t cluster = uint64_t{id} + i;
    if (cluster > UINT32_MAX || !m_table.IsDataCluster(static_cast<uint32_t>(cluster))) break;
    clusters.push_back(static_cast<uint32_t>(cluster));
  }
  return clusters;
}

bool FatReader::ListExfatFolder(ScanEntry& folder, bool root, ExfatProgress& progress) {
  uint64_t bytes = 0;
  const std::vector<Run> runs = ClaimFolderClusters(
      ExfatFolderClusters(folder.id, folder.size, (folder.flags & NF_FATCHAIN) != 0, root, bytes));
  ExfatFolderParser parser(m_volume, folder, progress);
  bool stopped = false;
  ReadRuns(runs, bytes, [&](std::span<const uint8_t> piece) {
    const FolderParse result = parser.Parse(piece);
    stopped = result == FolderParse::Stopped;
    return result == FolderParse::More;
  });
  return !stopped;
}

uint64_t FatReader::ExfatValidLength(const RecoveredNode& node) {
  const RecoveredNode* parent = node.parent;
  if (parent == nullptr || !m_table.IsDataCluster(parent->id)) return node.size;
  auto known = m_validLengths.find(parent->id);
  if (known == m_validLengths.end()) {
    if (m_validLengths.size() >= kMaxValidLengthFolders) m_validLengths.clear();
    ExfatValidLengths& lengths = m_validLengths[parent->id];
    uint64_t bytes = 0;
    const std::vector<uint32_t> clusters =
        ExfatFolderClusters(parent->id, parent->size, (parent->flags & NF_FATCHAIN) != 0,
                            parent->id == m_volume.rootCluster, bytes);
    // The folder is parsed again into a scratch entry whose children are dropped with it.
    ScanEntry scratch;
    scratch.id = parent->id;
    scratch.flags = static_cast<uint8_t>(parent->flags);
    ExfatProgress none;
    ExfatFolderParser parser(m_volume, scratch, none, &lengths);
    ReadRuns(ToRuns(clusters), bytes, [&](std::span<const uint8_t> piece) {
      return parser.Parse(piece) == FolderParse::More;
    });
    known = m_validLengths.find(parent->id);
  }
  const auto found = known->second.find({node.id, node.size, std::u16string(NodeName(node))});
  return found != known->second.end() ? found->second : node.size;
}

uint32_t FatReader::List(ScanEntry* data, ProgressRecord* progress, MessageSink& progressWindow) {
  const auto state = [progress] { return progress != nullptr ? progress->State() : 0u; };
  if (!IsFat12Or16(m_fileSystem) && m_fileSystem != FS_FAT32 && m_fileSystem != FS_EXFAT) {
    return state();
  }
  m_folderClusters.assign(size_t{m_volume.clusterCount} + 2, false);
  ExfatProgress percent{progress, &progressWindow};

  // Depth first with explicit stacks: live folders first, so that a live folder whose cluster
  // once belonged to a deleted one is read as itself.
  std::vector<ScanEntry*> live{data};
  std::vector<ScanEntry*> deleted;
  std::vector<ScanEntry*> found;
  while (!live.empty() || !deleted.empty()) {
    std::vector<ScanEntry*>& stack = live.empty() ? deleted : live;
    ScanEntry* folder = stack.back();
    stack.pop_back();
    if (ShouldStop(progress)) break;
    const bool root = folder == data;
    if (m_fileSystem == FS_EXFAT) {
      if (!ListExfatFolder(*folder, root, percent)) break;
    } else {
      ListFatFolder(*folder, root);
    }

    found.clear();
    for (ScanEntry* child = folder->firstChild; child != nullptr; child = child->nextSibling) {
      if (m_fileSystem != FS_EXFAT) {
        if (ShouldStop(progress)) return state();
        progressWindow.Send(UM_PROGRESS, 0, 0);
      }
      if ((child->flags & NF_FOLDER) != 0 && m_table.IsDataCluster(child->id)) {
        found.push_back(child);
      }
    }
    // Pushed in reverse, so that the folders are walked in list order.
    for (auto child = found.rbegin(); child != found.rend(); ++child) {
      ((*child)->flags & NF_PRESENT) != 0 ? live.push_back(*child) : deleted.push_back(*child);
    }
  }
  m_folderClusters.clear();
  m_folderClusters.shrink_to_fit();
  return state();
}

bool FatReader::ExtractFile(const RecoveredNode& node, FileOutput& output,
                            ProgressRecord* progress) {
  if ((node.flags & NF_FOLDER) != 0 || node.size == 0) return true;
  const uint64_t clusterBytes = m_volume.bytesPerCluster;
  if (clusterBytes == 0 || !m_table.IsDataCluster(node.id)) return false;

  std::vector<Run> runs;
  if (m_fileSystem != FS_EXFAT || (node.flags & NF_FATCHAIN) != 0) {
    const std::vector<uint32_t> chain = m_table.Chain(node.id);
    const uint64_t chainBytes = chain.size() * clusterBytes;
    // A chain is trusted when it is as long as the size asks for; a deleted file's chain is gone
    // (its first cluster's entry is free, or taken by another file).
    if (chainBytes >= node.size && chainBytes - node.size <= clusterBytes) runs = ToRuns(chain);
  }
  if (runs.empty()) {
    const uint64_t needed = (node.size + clusterBytes - 1) / clusterBytes;
    const uint64_t available = uint64_t{m_volume.clusterCount} + 2 - node.id;
    runs.push_back({node.id, std::min(needed, available)});
  }

  bool written = true;
  bool stopped = false;
  const auto put = [&](std::span<const uint8_t> piece) {
    if (ShouldStop(progress)) {
      stopped = true;
      return false;
    }
    if (!output.Write(piece.data(), piece.size())) {
      written = false;
      return false;
    }
    if (progress != nullptr) progress->SetPosition(progress->Position() + piece.size());
    return true;
  };
  // The data stops where the volume's clusters do, zeros included.
  uint64_t clusters = 0;
  for (const Run& run : runs) clusters += run.count;
  const uint64_t end = std::min(node.size, clusters * clusterBytes);
  const uint64_t valid =
      m_fileSystem == FS_EXFAT ? std::min(ExfatValidLength(node), end) : node.size;
  const bool any = valid == 0 || ReadRuns(runs, valid, put);
  // The bytes past the valid data length were never written: they read as zeros.
  if (valid < end && written && !stopped) {
    const std::vector<uint8_t> zeros(
        static_cast<size_t>(std::min<uint64_t>(end - valid, kPieceBytes)), 0);
    for (uint64_t left = end - valid; left != 0;) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(left, zeros.size()));
      if (!put(std::span<const uint8_t>(zeros.data(), length))) break;
      left -= length;
    }
  }
  return written && any;
}

}  // namespace kavo

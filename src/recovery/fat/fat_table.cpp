#include "recovery/fat/fat_table.h"

#include <algorithm>

#include "platform/bytes.h"

namespace kavo {

namespace {

// The table is read in blocks of 64 KiB, and at most 64 blocks are kept: enough for the chains
// of a whole folder tree or a large file without one read per cluster, and a fixed memory bound.
constexpr uint32_t kBlockBytes = 64 * 1024;
constexpr size_t kMaxBlocks = 64;

}  // namespace

FatTable::FatTable(CDisk& source, uint8_t fileSystem, const VolumeParams& volume)
    : m_source(source),
      m_entryBytes(fileSystem == FS_FAT16 ? 2 : 4),
      m_sectorSize(std::max<uint32_t>(volume.bytesPerSector, 1)),
      m_sectorsPerBlock(std::max<uint32_t>(kBlockBytes / m_sectorSize, 1)),
      m_firstSector(volume.partitionStart + volume.fatSectorBase),
      m_tableSectors(volume.sectorsPerFat),
      m_clusterCount(volume.clusterCount),
      m_fileSystem(fileSystem) {}

const uint8_t* FatTable::Block(uint64_t index) {
  if (index == m_lastIndex) return m_lastBlock;
  auto found = m_blocks.find(index);
  if (found == m_blocks.end()) {
    if (m_blocks.size() >= kMaxBlocks) m_blocks.clear();
    std::vector<uint8_t> block(size_t{m_sectorsPerBlock} * m_sectorSize, 0);
    const uint64_t first = index * m_sectorsPerBlock;
    // Only the sectors of the table that the source holds are read; the rest stays zero.
    uint64_t sectors = std::min<uint64_t>(m_sectorsPerBlock, m_tableSectors - first);
    const uint64_t absolute = m_firstSector + first;
    if (absolute >= m_source.m_nTotalSectors) {
      sectors = 0;
    } else {
      sectors = std::min<uint64_t>(sectors, m_source.m_nTotalSectors - absolute);
    }
    if (sectors != 0 &&
        !m_source.ReadSectors(block.data(), static_cast<uint32_t>(sectors * m_sectorSize),
                              absolute)) {
      // A bad sector spoils only its own entries: retry the block sector by sector.
      for (uint64_t s = 0; s < sectors; ++s) {
        uint8_t* at = block.data() + s * m_sectorSize;
        if (!m_source.ReadSectors(at, m_sectorSize, absolute + s)) {
          std::fill(at, at + m_sectorSize, 0);
        }
      }
    }
    found = m_blocks.emplace(index, std::move(block)).first;
  }
  m_lastIndex = index;
  m_lastBlock = found->second.data();
  return m_lastBlock;
}

const uint8_t* FatTable::ByteAt(uint64_t offset) {
  const uint64_t sector = offset / m_sectorSize;
  if (sector >= m_tableSectors) return nullptr;
  const uint8_t* block = Block(sector / m_sectorsPerBlock);
  return block + (sector % m_sectorsPerBlock) * m_sectorSize + offset % m_sectorSize;
}

uint32_t FatTable::Entry(uint32_t cluster) {
  if (m_fileSystem == FS_FAT12) {
    // Cluster c's 12 bits start at byte c * 1.5: the low 12 bits of the little-endian pair there
    // for an even c, the high 12 for an odd one. The pair may straddle two sectors (and two
    // blocks), so its bytes are taken one at a time.
    const uint64_t offset = uint64_t{cluster} * 3 / 2;
    const uint8_t* low = ByteAt(offset);
    if (low == nullptr) return 0;
    const uint8_t lowByte = *low;  // the next lookup may replace the block it lies in
    const uint8_t* high = ByteAt(offset + 1);
    if (high == nullptr) return 0;
    const uint32_t pair = lowByte | (uint32_t{*high} << 8);
    return (cluster & 1) != 0 ? pair >> 4 : pair & 0x0FFF;
  }
  const uint8_t* at = ByteAt(uint64_t{cluster} * m_entryBytes);
  if (at == nullptr) return 0;
  if (m_entryBytes == 2) return LoadLe16(at);
  const uint32_t value = LoadLe32(at);
  return m_fileSystem == FS_FAT32 ? (value & 0x0FFFFFFF) : value;
}

uint32_t FatTable::Next(uint32_t cluster) {
  const uint32_t value = Entry(cluster);
  // Bad-cluster and end-of-chain marks; the values just below them are ordinary clusters on
  // volumes large enough to have them, and the data-area check below covers the rest.
  uint32_t firstMark = 0xFFFFFFF7;
  switch (m_fileSystem) {
    case FS_FAT12: firstMark = 0xFF7; break;
    case FS_FAT16: firstMark = 0xFFF7; break;
    case FS_FAT32: firstMark = 0x0FFFFFF7; break;
  }
  if (value >= firstMark || !IsDataCluster(value)) return 0;
  return value;
}

std::vector<uint32_t> FatTable::Chain(uint32_t first) {
  std::vector<uint32_t> chain;
  if (!IsDataCluster(first)) return chain;
  if (m_inChain.empty()) m_inChain.assign(size_t{m_clusterCount} + 2, false);
  for (uint32_t cluster = first; cluster != 0 && !m_inChain[cluster]; cluster = Next(cluster)) {
    m_inChain[cluster] = true;
    chain.push_back(cluster);
  }
  for (uint32_t cluster : chain) m_inChain[cluster] = false;
  return chain;
}

}  // namespace kavo

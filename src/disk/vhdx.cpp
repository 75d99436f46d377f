// VHDX: a Hyper-V virtual disk. Two headers (the valid one with the larger sequence number is
// current), a region table naming the block allocation table (BAT) and the metadata region, and
// payload blocks in 1 MiB units. Sector-bitmap entries sit in the BAT after every `chunk ratio`
// payload entries; a differencing disk reads the sectors its bitmap does not mark from its parent.
// Entries of the log that were not yet applied are replayed in memory over every read of the
// file; the file is never written.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "disk/container.h"
#include "disk/container_reads.h"
#include "platform/bytes.h"

namespace kavo {
namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * kKiB;
constexpr uint64_t kHeaderOffsets[2] = {64 * kKiB, 128 * kKiB};
constexpr uint64_t kRegionOffsets[2] = {192 * kKiB, 256 * kKiB};
constexpr uint32_t kHeaderBytes = 4096;
constexpr uint32_t kRegionBytes = 64 * kKiB;
constexpr uint32_t kPage = 4096;
constexpr uint64_t kMaxOverlayPages = 262144;  // 1 GiB of log changes held in memory

constexpr Guid kBatRegion = MakeGuid(0x2DC27766, 0xF623, 0x4200, 0x9D64115E9BFD4A08);
constexpr Guid kMetadataRegion = MakeGuid(0x8B7CA206, 0x4790, 0x4B9A, 0xB8FE575F050F886E);
constexpr Guid kFileParameters = MakeGuid(0xCAA16737, 0xFA36, 0x4D43, 0xB3B633F0AA44E76B);
constexpr Guid kVirtualDiskSize = MakeGuid(0x2FA54224, 0xCD1B, 0x4876, 0xB2115DBED83BF4B8);
constexpr Guid kLogicalSectorSize = MakeGuid(0x8141BF1D, 0xA96F, 0x4709, 0xBA47F233A8FAAB5F);
constexpr Guid kParentLocator = MakeGuid(0xA8D35F2D, 0xB30B, 0x454D, 0xABF7D3D84834AB0C);

enum PayloadState : uint8_t {
  kNotPresent = 0,
  kUndefined = 1,
  kZero = 2,
  kUnmapped = 3,
  kFullyPresent = 6,
  kPartiallyPresent = 7,
};

Guid GuidAt(const uint8_t* p) {
  Guid g;
  std::memcpy(g.data(), p, g.size());
  return g;
}

// CRC-32C (Castagnoli), the checksum of the headers, region tables and log entries.
uint32_t Crc32c(const uint8_t* data, size_t bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < bytes; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// The checksum of a structure whose own 4-byte checksum field at offset 4 counts as zero.
bool ChecksumMatches(std::vector<uint8_t> bytes) {
  const uint32_t stored = LoadLe32(bytes.data() + 4);
  std::memset(bytes.data() + 4, 0, 4);
  return Crc32c(bytes.data(), bytes.size()) == stored;
}

class VhdxDisk final : public VirtualDisk {
 public:
  explicit VhdxDisk(ContainerFile file) : m_file(std::move(file)) {}

  std::string Open();

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override;

 private:
  // Reads the file with the replayed log laid over it. False on a read error or past its end.
  bool ReadFile(uint64_t offset, void* buffer, size_t bytes, platform::ErrorCode* error);
  bool ReadRaw(uint64_t offset, void* buffer, size_t bytes, platform::ErrorCode* error);
  std::string ReplayLog(const uint8_t* header);
  std::string ReadMetadata(uint64_t offset, uint32_t length, bool* leaveAllocated, bool* hasParent,
                           std::vector<std::u16string>* parentPaths);
  bool ReadParent(uint64_t offset, uint8_t* buffer, uint32_t bytes, platform::ErrorCode* error);
  // Whether sector `sector` of the virtual disk is held by this file rather than its parent.
  bool SectorPresent(uint64_t sector, bool* present, platform::ErrorCode* error);

  ContainerFile m_file;
  std::map<uint64_t, std::vector<uint8_t>> m_overlay;  // page -> bytes; empty: zeros
  std::vector<uint64_t> m_bat;
  uint32_t m_nBlockSize = 0;
  uint32_t m_nSectorSize = 0;
  uint64_t m_nChunkRatio = 0;
  std::unique_ptr<platform::RawDevice> m_parent;
  // The sector bitmap last read, by its BAT index.
  uint64_t m_nBitmapIndex = UINT64_MAX;
  std::vector<uint8_t> m_bitmap;
};

bool VhdxDisk::ReadRaw(uint64_t offset, void* buffer, size_t bytes, platform::ErrorCode* error) {
  return containers::ReadExact(*m_file.device, offset, buffer, bytes, error);
}

bool VhdxDisk::ReadFile(uint64_t offset, void* buffer, size_t bytes, platform::ErrorCode* error) {
  auto* out = static_cast<uint8_t*>(buffer);
  if (m_overlay.empty()) return ReadRaw(offset, out, bytes, error);
  // Page by page: a page the log wrote comes from memory, the others from the file (a log may
  // also write past the file's end).
  while (bytes > 0) {
    const uint64_t page = offset / kPage;
    const uint32_t within = static_cast<uint32_t>(offset % kPage);
    const size_t part = std::min<size_t>(bytes, kPage - within);
    auto it = m_overlay.find(page);
    if (it == m_overlay.end()) {
      if (!ReadRaw(offset, out, part, error)) return false;
    } else if (it->second.empty()) {
      std::memset(out, 0, part);
    } else {
      std::memcpy(out, it->second.data() + within, part);
    }
    out += part;
    offset += part;
    bytes -= part;
  }
  return true;
}

// Finds the log's active sequence (the valid run of entries, tail to head, whose head has the
// largest sequence number) and lays its writes over the file in memory.
std::string VhdxDisk::ReplayLog(const uint8_t* header) {
  const Guid logGuid = GuidAt(header + 48);
  const uint32_t logLength = LoadLe32(header + 68);
  const uint64_t logOffset = LoadLe64(header + 72);
  if (logLength == 0 || logLength % kMiB != 0 || logOffset % kMiB != 0 || logOffset > m_file.size ||
      logLength > m_file.size - logOffset)
    return "the log lies outside the file";
  std::vector<uint8_t> log(logLength);
  platform::ErrorCode error = 0;
  if (!ReadRaw(logOffset, log.data(), log.size(), &error)) return "the log cannot be read";

  // Entries that are whole and valid, by their offset in the log.
  struct Entry {
    uint32_t offset;
    uint32_t length;
    uint32_t tail;
    uint64_t sequence;
  };
  std::map<uint32_t, Entry> entries;
  for (uint32_t at = 0; at + kPage <= logLength; at += kPage) {
    const uint8_t* e = log.data() + at;
    if (std::memcmp(e, "loge", 4) != 0) continue;
    const uint32_t length = LoadLe32(e + 8);
    if (length < kPage || length % kPage != 0 || length > logLength - at) continue;
    if (GuidAt(e + 32) != logGuid) continue;
    if (!ChecksumMatches(std::vector<uint8_t>(e, e + length))) continue;
    entries[at] = Entry{at, length, LoadLe32(e + 12), LoadLe64(e + 16)};
  }
  std::vector<Entry> heads;
  for (const auto& [at, entry] : entries) heads.push_back(entry);
  std::sort(heads.begin(), heads.end(),
            [](const Entry& a, const Entry& b) { return a.sequence > b.sequence; });
  std::vector<Entry> sequence;
  for (const Entry& head : heads) {
    sequence.clear();
    uint32_t at = head.tail;
    for (size_t step = 0; step <= entries.size(); ++step) {
      auto it = entries.find(at);
      if (it == entries.end()) break;
      if (!sequence.empty() && it->second.sequence != sequence.back().sequence + 1) break;
      sequence.push_back(it->second);
      if (it->second.offset == head.offset) break;
      at = (at + it->second.length) % logLength;
    }
    if (!sequence.empty() && sequence.back().offset == head.offset) break;
    sequence.clear();
  }

  for (const Entry& entry : sequence) {
    const uint8_t* e = log.data() + entry.offset;
    const uint32_t count = LoadLe32(e + 24);
    const uint64_t descriptorBytes = 64 + 32 * static_cast<uint64_t>(count);
    const uint64_t dataStart = (descriptorBytes + kPage - 1) / kPage * kPage;
    if (dataStart > entry.length) return "a log entry's descriptors run past its end";
    uint64_t dataIndex = 0;
    for (uint32_t d = 0; d < count; ++d) {
      const uint8_t* desc = e + 64 + 32 * static_cast<uint64_t>(d);
      const uint64_t fileOffset = LoadLe64(desc + 16);
      if (fileOffset % kPage != 0) return "a log entry writes at an unaligned offset";
      if (LoadLe64(desc + 24) != entry.sequence)
        return "a log descriptor does not belong to its entry";
      if (std::memcmp(desc, "zero", 4) == 0) {
        const uint64_t zeroLength = LoadLe64(desc + 8);
        if (zeroLength % kPage != 0 || zeroLength / kPage > kMaxOverlayPages)
          return "a log entry zeroes too much";
        for (uint64_t p = 0; p < zeroLength / kPage; ++p) m_overlay[fileOffset / kPage + p].clear();
      } else if (std::memcmp(desc, "desc", 4) == 0) {
        const uint64_t sectorAt = dataStart + dataIndex * kPage;
        if (sectorAt + kPage > entry.length) return "a log entry's data runs past its end";
        const uint8_t* data = e + sectorAt;
        if (std::memcmp(data, "data", 4) != 0 || LoadLe32(data + 4) != entry.sequence >> 32 ||
            LoadLe32(data + kPage - 4) != static_cast<uint32_t>(entry.sequence))
          return "a log entry's data sector is not valid";
        std::vector<uint8_t> page(data, data + kPage);
        std::memcpy(page.data(), desc + 8, 8);              // the leading bytes
        std::memcpy(page.data() + kPage - 4, desc + 4, 4);  // the trailing bytes
        m_overlay[fileOffset / kPage] = std::move(page);
        ++dataIndex;
      } else {
        return "a log entry holds an unknown descriptor";
      }
      if (m_overlay.size() > kMaxOverlayPages) return "the log holds too many changes";
    }
  }
  return {};
}

std::string VhdxDisk::ReadMetadata(uint64_t offset, uint32_t length, bool* leaveAllocated,
                                   bool* hasParent, std::vector<std::u16string>* parentPaths) {
  if (length < 64 * kKiB || length > 64 * kMiB) return "the metadata region has a bad size";
  std::vector<uint8_t> meta(length);
  platform::ErrorCode error = 0;
  if (!ReadFile(offset, meta.data(), meta.size(), &error)) return "the metadata cannot be read";
  if (std::memcmp(meta.data(), "metadata", 8) != 0) return "the metadata region is not valid";
  const uint16_t count = LoadLe16(meta.data() + 10);
  if (count > 2047) return "the metadata region is not valid";
  bool haveParameters = false, haveSize = false, haveSectorSize = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* item = meta.data() + 32 + 32 * i;
    const Guid id = GuidAt(item);
    const uint32_t at = LoadLe32(item + 16);
    const uint32_t bytes = LoadLe32(item + 20);
    if (at > length || bytes > length - at) return "a metadata item lies outside its region";
    const uint8_t* v = meta.data() + at;
    if (id == kFileParameters && bytes >= 8) {
      m_nBlockSize = LoadLe32(v);
      *leaveAllocated = (LoadLe32(v + 4) & 1) != 0;
      *hasParent = (LoadLe32(v + 4) & 2) != 0;
      haveParameters = true;
    } else if (id == kVirtualDiskSize && bytes >= 8) {
      m_nVirtualSize = LoadLe64(v);
      haveSize = true;
    } else if (id == kLogicalSectorSize && bytes >= 4) {
      m_nSectorSize = LoadLe32(v);
      haveSectorSize = true;
    } else if (id == kParentLocator && bytes >= 20) {
      const uint16_t pairs = LoadLe16(v + 18);
      if (20 + 12ull * pairs > bytes) return "the parent locator is not valid";
      std::map<std::u16string, std::u16string> keys;
      for (uint16_t k = 0; k < pairs; ++k) {
        const uint8_t* kv = v + 20 + 12 * k;
        const uint32_t keyAt = LoadLe32(kv), valueAt = LoadLe32(kv + 4);
        const uint16_t keyLen = LoadLe16(kv + 8), valueLen = LoadLe16(kv + 10);
        if (keyAt > bytes || keyLen > bytes - keyAt || valueAt > bytes ||
            valueLen > bytes - valueAt)
          return "the parent locator is not valid";
        auto text = [&](uint32_t from, uint16_t n) {
          std::u16string s;
          for (uint32_t c = 0; c + 1 < n; c += 2)
            s.push_back(static_cast<char16_t>(LoadLe16(v + from + c)));
          return s;
        };
        keys[text(keyAt, keyLen)] = text(valueAt, valueLen);
      }
      for (const char16_t* key : {u"relative_path", u"absolute_win32_path", u"volume_path"}) {
        auto it = keys.find(key);
        if (it != keys.end() && !it->second.empty()) parentPaths->push_back(it->second);
      }
    }
  }
  if (!haveParameters || !haveSize || !haveSectorSize) return "a required metadata item is missing";
  if (m_nBlockSize < kMiB || m_nBlockSize > 256 * kMiB || (m_nBlockSize & (m_nBlockSize - 1)))
    return "the block size is not valid";
  if (m_nSectorSize != 512 && m_nSectorSize != 4096) return "the sector size is not valid";
  if (m_nVirtualSize == 0 || m_nVirtualSize > (1ull << 46) || m_nVirtualSize % m_nSectorSize)
    return "the virtual disk size is not valid";
  return {};
}

std::string VhdxDisk::Open() {
  // The current header: valid, and the larger sequence number of the two.
  std::vector<uint8_t> header;
  uint64_t bestSequence = 0;
  for (uint64_t at : kHeaderOffsets) {
    std::vector<uint8_t> h(kHeaderBytes);
    platform::ErrorCode error = 0;
    if (!ReadRaw(at, h.data(), h.size(), &error)) continue;
    if (std::memcmp(h.data(), "head", 4) != 0 || !ChecksumMatches(h)) continue;
    if (header.empty() || LoadLe64(h.data() + 8) > bestSequence) {
      bestSequence = LoadLe64(h.data() + 8);
      header = std::move(h);
    }
  }
  if (header.empty()) return "no VHDX header has a valid checksum";
  if (LoadLe16(header.data() + 66) != 1) return "unsupported VHDX version";
  if (GuidAt(header.data() + 48) != Guid{}) {
    if (std::string why = ReplayLog(header.data()); !why.empty()) return why;
  }

  // The region table: the first copy that is valid.
  std::vector<uint8_t> regions;
  for (uint64_t at : kRegionOffsets) {
    std::vector<uint8_t> r(kRegionBytes);
    platform::ErrorCode error = 0;
    if (!ReadFile(at, r.data(), r.size(), &error)) continue;
    if (std::memcmp(r.data(), "regi", 4) == 0 && ChecksumMatches(r) &&
        LoadLe32(r.data() + 8) <= 2047) {
      regions = std::move(r);
      break;
    }
  }
  if (regions.empty()) return "no VHDX region table has a valid checksum";
  uint64_t batOffset = 0, metaOffset = 0;
  uint32_t batLength = 0, metaLength = 0;
  for (uint32_t i = 0; i < LoadLe32(regions.data() + 8); ++i) {
    const uint8_t* r = regions.data() + 16 + 32 * i;
    const Guid id = GuidAt(r);
    if (id == kBatRegion) {
      batOffset = LoadLe64(r + 16);
      batLength = LoadLe32(r + 24);
    } else if (id == kMetadataRegion) {
      metaOffset = LoadLe64(r + 16);
      metaLength = LoadLe32(r + 24);
    } else if (LoadLe32(r + 28) & 1) {
      return "the VHDX file needs a region this reader does not know";
    }
  }
  if (batLength == 0 || metaLength == 0) return "the VHDX region table lacks the BAT or metadata";
  // What the file holds, with what the log wrote past its end.
  const uint64_t fileEnd =
      std::max(m_file.size, m_overlay.empty() ? 0 : (m_overlay.rbegin()->first + 1) * kPage);
  if (metaOffset > fileEnd || metaLength > fileEnd - metaOffset)
    return "the VHDX metadata region lies past the end of the file";
  if (batOffset > fileEnd || batLength > fileEnd - batOffset)
    return "the BAT lies past the end of the file";
  bool leaveAllocated = false, hasParent = false;
  std::vector<std::u16string> parentPaths;
  if (std::string why =
          ReadMetadata(metaOffset, metaLength, &leaveAllocated, &hasParent, &parentPaths);
      !why.empty())
    return why;

  m_nChunkRatio = ((1ull << 23) * m_nSectorSize) / m_nBlockSize;
  const uint64_t blocks = (m_nVirtualSize + m_nBlockSize - 1) / m_nBlockSize;
  const uint64_t needed = hasParent
                              ? (blocks + m_nChunkRatio - 1) / m_nChunkRatio * (m_nChunkRatio + 1)
                              : blocks + (blocks - 1) / m_nChunkRatio;
  if (needed * 8 > batLength) return "the BAT is too small for the disk";
  m_bat.resize(needed);
  platform::ErrorCode error = 0;
  if (!ReadFile(batOffset, m_bat.data(), needed * 8, &error)) return "the BAT cannot be read";
  for (uint64_t& entry : m_bat) entry = LoadLe64(reinterpret_cast<const uint8_t*>(&entry));
  // Every present block must lie inside the file.
  for (uint64_t i = 0; i < m_bat.size(); ++i) {
    const uint8_t state = m_bat[i] & 7;
    const bool bitmap = (i + 1) % (m_nChunkRatio + 1) == 0;
    if (bitmap ? state != 6 : state < kFullyPresent) continue;
    const uint64_t at = (m_bat[i] >> 20) * kMiB;
    const uint64_t span = bitmap ? kMiB : m_nBlockSize;
    if (at < kMiB || at > fileEnd || span > fileEnd - at)
      return "a BAT entry points past the end of the file";
  }

  if (hasParent) {
    if (parentPaths.empty()) return "the differencing disk names no parent";
    std::string why;
    m_parent = OpenParentDisk(m_file, parentPaths, &why);
    if (!m_parent) return why;
    m_format = "VHDX (differencing)";
  } else {
    m_format = leaveAllocated ? "VHDX (fixed)" : "VHDX (dynamic)";
  }
  return {};
}

bool VhdxDisk::ReadParent(uint64_t offset, uint8_t* buffer, uint32_t bytes,
                          platform::ErrorCode* error) {
  uint32_t got = 0;
  if (!m_parent->Seek(static_cast<int64_t>(offset), platform::SeekOrigin::Begin, nullptr) ||
      !m_parent->Read(buffer, bytes, &got)) {
    *error =
        m_parent->LastError() ? m_parent->LastError() : platform::FaultCode(platform::Fault::Read);
    return false;
  }
  std::memset(buffer + got, 0, bytes - got);  // a smaller parent reads as zeros past its end
  return true;
}

bool VhdxDisk::SectorPresent(uint64_t sector, bool* present, platform::ErrorCode* error) {
  const uint64_t sectorsPerChunk = 1ull << 23;
  const uint64_t chunk = sector / sectorsPerChunk;
  const uint64_t index = chunk * (m_nChunkRatio + 1) + m_nChunkRatio;
  if (index >= m_bat.size() || (m_bat[index] & 7) != 6) {
    *present = false;
    return true;
  }
  if (index != m_nBitmapIndex) {
    m_bitmap.resize(kMiB);
    m_nBitmapIndex = UINT64_MAX;
    if (!ReadFile((m_bat[index] >> 20) * kMiB, m_bitmap.data(), kMiB, error)) return false;
    m_nBitmapIndex = index;
  }
  const uint64_t bit = sector % sectorsPerChunk;
  *present = (m_bitmap[bit / 8] >> (bit % 8)) & 1;
  return true;
}

bool VhdxDisk::ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
                      platform::ErrorCode* error) {
  while (bytes > 0) {
    const uint64_t block = offset / m_nBlockSize;
    const uint32_t within = static_cast<uint32_t>(offset % m_nBlockSize);
    uint32_t part = std::min<uint32_t>(bytes, m_nBlockSize - within);
    const uint64_t entry = m_bat[block + block / m_nChunkRatio];
    const uint8_t state = entry & 7;
    const uint64_t fileAt = (entry >> 20) * kMiB + within;
    if (state == kFullyPresent) {
      if (!ReadFile(fileAt, buffer, part, error)) return false;
    } else if (state == kPartiallyPresent && m_parent) {
      // A run of sectors that are all in this file, or all in the parent.
      const uint64_t first = offset / m_nSectorSize;
      bool here = false;
      if (!SectorPresent(first, &here, error)) return false;
      uint32_t run = m_nSectorSize - static_cast<uint32_t>(offset % m_nSectorSize);
      while (run < part) {
        bool next = false;
        if (!SectorPresent(first + (run + offset % m_nSectorSize) / m_nSectorSize, &next, error))
          return false;
        if (next != here) break;
        run += m_nSectorSize;
      }
      part = std::min(part, run);
      if (here ? !ReadFile(fileAt, buffer, part, error) : !ReadParent(offset, buffer, part, error))
        return false;
    } else if (m_parent && (state == kNotPresent || state == kUndefined || state == kUnmapped)) {
      if (!ReadParent(offset, buffer, part, error)) return false;
    } else {
      std::memset(buffer, 0, part);
    }
    buffer += part;
    offset += part;
    bytes -= part;
  }
  return true;
}

}  // namespace

bool IsVhdx(const ContainerFile& file) {
  return file.head.size() >= 8 && std::memcmp(file.head.data(), "vhdxfile", 8) == 0;
}

ContainerOpen OpenVhdx(ContainerFile file) {
  auto disk = std::make_unique<VhdxDisk>(std::move(file));
  ContainerOpen result;
  result.error = disk->Open();
  if (result.error.empty()) result.disk = std::move(disk);
  return result;
}

}  // namespace kavo

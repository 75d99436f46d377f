// EWF (.E01): a forensic image in segment files (.E01 ... .E99, then .EAA, .EAB, ...). Each
// segment is a chain of sections; the volume section gives the disk's size and chunk size, the
// table sections the place of every chunk (the top bit marking a deflate-compressed one), a
// "next" section leads to the following segment and "done" ends the last. The hash or digest
// section holds the MD5 of the whole disk.
#include "disk/ewf.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "base/md5.h"
#include "disk/container_reads.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace kavo {
namespace {

constexpr uint8_t kSignature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
constexpr uint32_t kFileHeaderBytes = 13;
constexpr uint32_t kSectionBytes = 76;
constexpr uint32_t kMaxSegments = 14971;  // .E01 ... .E99, .EAA ... .ZZZ
constexpr uint32_t kMaxSectionsPerSegment = 1 << 20;
constexpr uint32_t kMaxChunkBytes = 32 * 1024 * 1024;

// The extension of segment `number` (1-based), in the case of the first segment's.
std::u16string SegmentExtension(uint32_t number, bool lower) {
  std::string ext;
  if (number <= 99) {
    ext = {'E', static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10)};
  } else {
    const uint32_t index = number - 100;
    ext = {static_cast<char>('E' + index / 676), static_cast<char>('A' + index / 26 % 26),
           static_cast<char>('A' + index % 26)};
  }
  if (lower) std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return c | 0x20; });
  return platform::Widen(ext);
}

// One table section: the run of chunks it places, in one segment. Each chunk keeps only its
// 4-byte table entry (offset from `base`, top bit: compressed); it ends where the next one
// starts, the last where the run's data ends.
struct Table {
  uint64_t firstChunk = 0;
  uint64_t base = 0;
  uint64_t dataEnd = 0;
  uint32_t segment = 0;
};

// Where one chunk lies.
struct Chunk {
  uint32_t segment = 0;
  uint64_t offset = 0;
  uint32_t bytes = 0;
  bool compressed = false;
};

class EwfDisk final : public VirtualDisk {
 public:
  explicit EwfDisk(ContainerFile file) : m_file(std::move(file)) {}

  std::string Open();
  std::string Details() const override {
    return m_storedMd5.empty() ? std::string() : "Stored MD5: " + m_storedMd5;
  }
  const std::string& StoredMd5() const { return m_storedMd5; }

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override;

 private:
  std::string ReadSegment(platform::RawDevice& device, uint64_t size, uint32_t number, bool* last);
  // Adds the chunks of a table section whose data starts at `at`; `dataEnd` is where the chunks
  // before it end. False when the table's checksums fail or `*why` says it cannot be used.
  bool ReadTable(platform::RawDevice& device, uint64_t at, uint64_t sectionEnd, uint64_t dataEnd,
                 uint32_t segment, std::string* why);
  Chunk ChunkAt(uint64_t index) const;
  bool LoadChunk(uint64_t index, platform::ErrorCode* error);

  ContainerFile m_file;
  std::vector<std::unique_ptr<platform::RawDevice>> m_segments;  // [0] is the first file's
  std::vector<uint64_t> m_segmentSizes;
  std::vector<Table> m_tables;
  std::vector<uint32_t> m_entries;  // every chunk's table entry, in disk order
  uint32_t m_nChunkBytes = 0;
  uint64_t m_nChunkCount = 0;
  std::string m_storedMd5;
  // The chunk last decoded.
  uint64_t m_nCached = UINT64_MAX;
  std::vector<uint8_t> m_chunk;
  std::vector<uint8_t> m_packed;
};

bool EwfDisk::ReadTable(platform::RawDevice& device, uint64_t at, uint64_t sectionEnd,
                        uint64_t dataEnd, uint32_t segment, std::string* why) {
  uint8_t head[24];
  platform::ErrorCode error = 0;
  if (at + sizeof head > sectionEnd ||
      !containers::ReadExact(device, at, head, sizeof head, &error)) {
    *why = "an EWF table section is truncated";
    return false;
  }
  if (adler32(1, head, 20) != LoadLe32(head + 20)) return false;
  const uint32_t count = LoadLe32(head);
  const uint64_t base = LoadLe64(head + 8);
  if (count == 0 || at + 24 + 4ull * count > sectionEnd) {
    *why = "an EWF table section is truncated";
    return false;
  }
  std::vector<uint8_t> entries(4ull * count + 4);
  const bool withChecksum = at + 24 + entries.size() <= sectionEnd;
  if (!containers::ReadExact(device, at + 24, entries.data(),
                             entries.size() - (withChecksum ? 0 : 4), &error)) {
    *why = "an EWF table cannot be read";
    return false;
  }
  if (withChecksum && adler32(1, entries.data(), 4 * count) != LoadLe32(entries.data() + 4 * count))
    return false;
  const uint64_t size = m_segmentSizes[segment];
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t offset = base + (LoadLe32(entries.data() + 4 * i) & 0x7FFFFFFF);
    const uint64_t end =
        i + 1 < count ? base + (LoadLe32(entries.data() + 4 * (i + 1)) & 0x7FFFFFFF) : dataEnd;
    if (offset >= end || end > size || end - offset > kMaxChunkBytes + 4ull) {
      *why = "an EWF table entry points past the end of its segment";
      return false;
    }
  }
  m_tables.push_back(Table{m_entries.size(), base, dataEnd, segment});
  for (uint32_t i = 0; i < count; ++i) m_entries.push_back(LoadLe32(entries.data() + 4 * i));
  return true;
}

std::string EwfDisk::ReadSegment(platform::RawDevice& device, uint64_t size, uint32_t number,
                                 bool* last) {
  uint8_t header[kFileHeaderBytes];
  platform::ErrorCode error = 0;
  if (size < kFileHeaderBytes + kSectionBytes ||
      !containers::ReadExact(device, 0, header, sizeof header, &error) ||
      std::memcmp(header, kSignature, sizeof kSignature) != 0)
    return "EWF segment " + std::to_string(number) + " has no valid header";
  if ((header[9] | header[10] << 8) != static_cast<int>(number % 65536))
    return number == 1 ? "this is not the first segment of the EWF image (open its .E01)"
                       : "EWF segment " + std::to_string(number) + " is out of order";
  uint64_t at = kFileHeaderBytes;
  uint64_t dataEnd = 0;  // the end of the last "sectors" section
  bool tableRead = false;
  for (uint32_t n = 0; n < kMaxSectionsPerSegment; ++n) {
    uint8_t section[kSectionBytes];
    if (at + kSectionBytes > size ||
        !containers::ReadExact(device, at, section, sizeof section, &error))
      return "EWF segment " + std::to_string(number) + " is truncated";
    if (adler32(1, section, 72) != LoadLe32(section + 72))
      return "an EWF section header of segment " + std::to_string(number) + " is damaged";
    const std::string type(reinterpret_cast<const char*>(section),
                           strnlen(reinterpret_cast<const char*>(section), 16));
    const uint64_t next = LoadLe64(section + 16);
    const uint64_t sectionSize = LoadLe64(section + 24);
    const uint64_t dataAt = at + kSectionBytes;
    const uint64_t sectionEnd = sectionSize >= kSectionBytes && sectionSize <= size - at
                                    ? at + sectionSize
                                    : std::min(next, size);
    if (type == "done" || type == "next") {
      *last = type == "done";
      return {};
    }
    if ((type == "volume" || type == "disk" || type == "data") && m_nChunkBytes == 0) {
      uint8_t volume[24];
      if (dataAt + sizeof volume > size ||
          !containers::ReadExact(device, dataAt, volume, sizeof volume, &error))
        return "the EWF volume section is truncated";
      m_nChunkCount = LoadLe32(volume + 4);
      const uint64_t chunkBytes =
          static_cast<uint64_t>(LoadLe32(volume + 8)) * LoadLe32(volume + 12);
      m_nVirtualSize = LoadLe64(volume + 16) * LoadLe32(volume + 12);
      if (chunkBytes == 0 || chunkBytes > kMaxChunkBytes || LoadLe32(volume + 12) == 0 ||
          m_nVirtualSize == 0 || m_nVirtualSize > (1ull << 50))
        return "the EWF volume section is not valid";
      m_nChunkBytes = static_cast<uint32_t>(chunkBytes);
      const uint64_t needed = (m_nVirtualSize + chunkBytes - 1) / chunkBytes;
      if (m_nChunkCount < needed) m_nChunkCount = needed;
    } else if (type == "sectors") {
      dataEnd = sectionEnd;
      tableRead = false;
    } else if ((type == "table" || type == "table2") && !tableRead) {
      // "table2" is the copy of "table", read when the first fails its checksums.
      if (m_nChunkBytes == 0) return "the EWF image has no volume section before its tables";
      std::string why;
      tableRead = ReadTable(device, dataAt, sectionEnd, dataEnd ? dataEnd : at,
                            static_cast<uint32_t>(m_segments.size() - 1), &why);
      if (!why.empty()) return why;
      if (!tableRead && type == "table2") return "an EWF chunk table is damaged in both copies";
      if (m_entries.size() > m_nChunkCount) return "the EWF tables hold more chunks than the disk";
    } else if (type == "hash" || type == "digest") {
      uint8_t md5[16];
      if (dataAt + sizeof md5 <= size &&
          containers::ReadExact(device, dataAt, md5, sizeof md5, &error) &&
          std::any_of(md5, md5 + 16, [](uint8_t b) { return b != 0; })) {
        std::array<uint8_t, 16> digest;
        std::memcpy(digest.data(), md5, 16);
        m_storedMd5 = Md5::Hex(digest);
      }
    }
    if (next <= at || next > size) return "EWF segment " + std::to_string(number) + " is truncated";
    at = next;
  }
  return "EWF segment " + std::to_string(number) + " has too many sections";
}

std::string EwfDisk::Open() {
  const std::u16string& path = m_file.path;
  const size_t dot = path.find_last_of(u'.');
  const bool named = dot != std::u16string::npos && path.size() - dot == 4;
  const bool lower = named && path[dot + 1] >= u'a';
  m_segmentSizes.push_back(m_file.size);
  m_segments.push_back(std::move(m_file.device));
  bool last = false;
  for (uint32_t number = 1;; ++number) {
    if (std::string why = ReadSegment(*m_segments.back(), m_segmentSizes.back(), number, &last);
        !why.empty())
      return why;
    if (last) break;
    if (!named) return "the EWF image continues in further segments, but its name ends in no .E01";
    if (number + 1 > kMaxSegments) return "the EWF image has too many segments";
    const std::u16string next = path.substr(0, dot + 1) + SegmentExtension(number + 1, lower);
    platform::OpenResult opened = (*m_file.opener)(next, platform::OpenMode::Read);
    const size_t slash = next.find_last_of(u"/\\");
    const std::string name =
        platform::Utf16ToUtf8(slash == std::u16string::npos ? next : next.substr(slash + 1));
    uint64_t size = 0;
    if (!opened.device) return "EWF segment not found: " + name;
    if (!opened.device->GetLength(platform::DeviceType::ImageFile, &size))
      return "EWF segment cannot be read: " + name;
    m_segments.push_back(std::move(opened.device));
    m_segmentSizes.push_back(size);
  }
  if (m_nChunkBytes == 0) return "the EWF image has no volume section";
  if (m_entries.size() < (m_nVirtualSize + m_nChunkBytes - 1) / m_nChunkBytes)
    return "the EWF image lacks chunks: a table or segment is missing";
  m_format = "EWF (" + std::to_string(m_segments.size()) +
             (m_segments.size() == 1 ? " segment)" : " segments)");
  return {};
}

Chunk EwfDisk::ChunkAt(uint64_t index) const {
  const Table& table =
      *std::prev(std::upper_bound(m_tables.begin(), m_tables.end(), index,
                                  [](uint64_t i, const Table& t) { return i < t.firstChunk; }));
  const bool last = index + 1 == m_entries.size() ||
                    (&table != &m_tables.back() && index + 1 == (&table + 1)->firstChunk);
  Chunk chunk;
  chunk.segment = table.segment;
  chunk.compressed = (m_entries[index] >> 31) != 0;
  chunk.offset = table.base + (m_entries[index] & 0x7FFFFFFF);
  const uint64_t end = last ? table.dataEnd : table.base + (m_entries[index + 1] & 0x7FFFFFFF);
  chunk.bytes = static_cast<uint32_t>(end - chunk.offset);
  return chunk;
}

bool EwfDisk::LoadChunk(uint64_t index, platform::ErrorCode* error) {
  if (index == m_nCached) return true;
  m_nCached = UINT64_MAX;
  const Chunk chunk = ChunkAt(index);
  m_packed.resize(chunk.bytes);
  if (!containers::ReadExact(*m_segments[chunk.segment], chunk.offset, m_packed.data(), chunk.bytes,
                             error))
    return false;
  m_chunk.resize(m_nChunkBytes);
  if (chunk.compressed) {
    uLongf length = m_nChunkBytes;
    if (uncompress(m_chunk.data(), &length, m_packed.data(), chunk.bytes) != Z_OK) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    std::memset(m_chunk.data() + length, 0, m_nChunkBytes - length);
  } else {
    // The data, then its Adler-32 (a last chunk may be shorter than the others; a run may end
    // in padding).
    const uint32_t data =
        chunk.bytes < m_nChunkBytes ? chunk.bytes - std::min(chunk.bytes, 4u) : m_nChunkBytes;
    if (chunk.bytes >= data + 4 &&
        adler32(1, m_packed.data(), data) != LoadLe32(m_packed.data() + data)) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    std::memcpy(m_chunk.data(), m_packed.data(), data);
    std::memset(m_chunk.data() + data, 0, m_nChunkBytes - data);
  }
  m_nCached = index;
  return true;
}

bool EwfDisk::ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes, platform::ErrorCode* error) {
  return containers::ForEachBlockPiece(
      offset, buffer, bytes, m_nChunkBytes,
      [&](uint64_t index, uint32_t within, uint8_t* out, uint32_t part) {
        if (!LoadChunk(index, error)) return false;
        std::memcpy(out, m_chunk.data() + within, part);
        return true;
      });
}

}  // namespace

bool IsEwf(const ContainerFile& file) {
  return file.head.size() >= sizeof kSignature &&
         std::memcmp(file.head.data(), kSignature, sizeof kSignature) == 0;
}

ContainerOpen OpenEwf(ContainerFile file) {
  auto disk = std::make_unique<EwfDisk>(std::move(file));
  ContainerOpen result;
  result.error = disk->Open();
  if (result.error.empty()) result.disk = std::move(disk);
  return result;
}

EwfVerification VerifyEwfMd5(VirtualDisk& disk) {
  EwfVerification result;
  const auto* ewf = dynamic_cast<const EwfDisk*>(&disk);
  if (!ewf) {
    result.error = "the image is not an EWF image";
    return result;
  }
  result.stored = ewf->StoredMd5();
  if (result.stored.empty()) {
    result.error = "the EWF image stores no MD5";
    return result;
  }
  Md5 md5;
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t position = 0;
  if (!disk.Seek(0, platform::SeekOrigin::Begin, nullptr)) {
    result.error = "the image cannot be read";
    return result;
  }
  while (position < disk.VirtualSize()) {
    uint32_t got = 0;
    if (!disk.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got) || got == 0) {
      result.error = "the image cannot be read at byte " + std::to_string(position) + ": " +
                     platform::ErrorText(disk.LastError());
      return result;
    }
    md5.Update(buffer.data(), got);
    position += got;
  }
  result.computed = Md5::Hex(md5.Finish());
  result.matches = result.computed == result.stored;
  return result;
}

}  // namespace kavo

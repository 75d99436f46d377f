// qcow2 (versions 2 and 3): a big-endian header, a level-1 table of level-2 table offsets and
// level-2 tables of cluster descriptors. A cluster is stored whole, stored deflate-compressed,
// marked as zeros (version 3) or left out, when it reads from the backing file or as zeros.
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk/container.h"
#include "disk/container_reads.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace kavo {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'F', 'I', 0xFB};
constexpr uint32_t kVersion2HeaderBytes = 72;
constexpr uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ULL;
constexpr uint64_t kCompressed = 1ULL << 62;
constexpr uint64_t kZeroCluster = 1ULL;
// Incompatible features a reader can ignore: the dirty and corrupt marks concern writers.
constexpr uint64_t kDirty = 1ULL << 0;
constexpr uint64_t kCorrupt = 1ULL << 1;
constexpr uint64_t kExternalData = 1ULL << 2;
constexpr uint64_t kCompressionType = 1ULL << 3;
constexpr uint64_t kExtendedL2 = 1ULL << 4;
constexpr uint32_t kExternalDataExtension = 0x44415441;
constexpr uint32_t kMaxBackingName = 1023;
constexpr size_t kCachedTables = 16;
// Header extensions are walked at most this far.
constexpr int kMaxExtensions = 64;

class QcowDisk final : public VirtualDisk {
 public:
  explicit QcowDisk(ContainerFile file) : m_file(std::move(file)) {}
  ~QcowDisk() override {
    if (m_bInflating) inflateEnd(&m_stream);
  }
  QcowDisk(const QcowDisk&) = delete;
  QcowDisk& operator=(const QcowDisk&) = delete;

  std::string Load() {
    const uint8_t* h = m_file.head.data();
    const uint32_t version = LoadBe32(h + 4);
    const uint64_t backingOffset = LoadBe64(h + 8);
    const uint32_t backingLength = LoadBe32(h + 16);
    const uint32_t clusterBits = LoadBe32(h + 20);
    m_nVirtualSize = LoadBe64(h + 24);
    const uint32_t crypt = LoadBe32(h + 32);
    const uint32_t l1Size = LoadBe32(h + 36);
    const uint64_t l1Offset = LoadBe64(h + 40);
    m_format = "qcow2 (version " + std::to_string(version) + ")";
    m_nVersion = version;
    if (crypt != 0) {
      return std::string("encrypted qcow2 disk (") + (crypt == 1 ? "AES" : "LUKS") +
             " encryption) cannot be read";
    }
    if (clusterBits < 9 || clusterBits > 21) {
      return "qcow2 cluster size 2^" + std::to_string(clusterBits) + " is not supported";
    }
    m_nClusterBits = clusterBits;
    m_nClusterBytes = 1u << clusterBits;
    uint32_t headerBytes = kVersion2HeaderBytes;
    if (version == 3) {
      if (m_file.head.size() < 104) return "qcow2 header is cut short";
      const uint64_t incompatible = LoadBe64(h + 72);
      headerBytes = LoadBe32(h + 100);
      if (headerBytes < 104 || headerBytes > m_file.head.size()) {
        return "qcow2 header length " + std::to_string(headerBytes) + " is not valid";
      }
      if (incompatible & kExternalData) {
        return "qcow2 disk keeps its data in an external file, which is not supported";
      }
      const uint8_t compression = headerBytes > 104 ? h[104] : 0;
      if (compression != 0) {
        return std::string("qcow2 disk compressed with ") +
               (compression == 1 ? "zstd" : "compression type " + std::to_string(compression)) +
               " cannot be read";
      }
      if (incompatible & kExtendedL2) {
        return "qcow2 disk with extended L2 entries (subclusters) cannot be read";
      }
      if (incompatible & ~(kDirty | kCorrupt | kCompressionType)) {
        return "qcow2 disk uses unsupported incompatible features (0x" + Hex(incompatible) + ")";
      }
    }
    if (std::string reason = CheckExtensions(headerBytes); !reason.empty()) return reason;

    const uint32_t l2Entries = m_nClusterBytes / 8;
    const uint64_t l1Span = uint64_t{l2Entries} << clusterBits;
    if (m_nVirtualSize > containers::kMaxVirtualBytes) return "qcow2 disk size is not valid";
    const uint64_t needed = containers::BlocksFor(m_nVirtualSize, l1Span);
    if (l1Size < needed) return "qcow2 L1 table is smaller than the disk";
    if (needed * 8 > containers::kMaxTableBytes) return "qcow2 L1 table is too large";
    if (!containers::InsideFile(l1Offset, needed * 8, m_file.size)) {
      return "qcow2 L1 table lies past the end of the file";
    }
    std::vector<uint8_t> raw(static_cast<size_t>(needed * 8));
    platform::ErrorCode error = 0;
    if (!containers::ReadExact(*m_file.device, l1Offset, raw.data(), raw.size(), &error)) {
      return "qcow2 L1 table cannot be read (" + platform::ErrorText(error) + ")";
    }
    m_l1.resize(static_cast<size_t>(needed));
    for (size_t i = 0; i < m_l1.size(); ++i) {
      m_l1[i] = LoadBe64(raw.data() + 8 * i) & kOffsetMask;
      if (m_l1[i] != 0 && !containers::InsideFile(m_l1[i], m_nClusterBytes, m_file.size)) {
        return "qcow2 L1 table entry " + std::to_string(i) + " points past the end of the file";
      }
    }

    if (backingOffset != 0) {
      if (backingLength == 0 || backingLength > kMaxBackingName ||
          !containers::InsideFile(backingOffset, backingLength, m_file.size)) {
        return "qcow2 backing file name lies past the end of the file";
      }
      std::string name(backingLength, '\0');
      if (!containers::ReadExact(*m_file.device, backingOffset, name.data(), name.size(), &error)) {
        return "qcow2 backing file name cannot be read (" + platform::ErrorText(error) + ")";
      }
      m_backingName = name;
      std::string reason;
      m_backing = OpenParentDisk(m_file, {platform::Utf8ToUtf16(name)}, &reason);
      if (!m_backing) return reason;
      if (!m_backing->GetLength(platform::DeviceType::ImageFile, &m_nBackingSize)) {
        m_nBackingSize = 0;
      }
    }
    return {};
  }

  std::string Details() const override {
    return m_backingName.empty() ? std::string() : "Backing file: " + m_backingName + "\n";
  }

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override {
    while (bytes > 0) {
      const uint32_t within = static_cast<uint32_t>(offset & (m_nClusterBytes - 1));
      uint32_t step = std::min(bytes, m_nClusterBytes - within);
      uint64_t entry = 0;
      if (!Entry(offset >> m_nClusterBits, &entry, error)) return false;
      if (IsStored(entry)) {
        // Clusters stored one after another in the file are read in one go.
        const uint64_t start = (entry & kOffsetMask) + within;
        while (step < bytes) {
          uint64_t next = 0;
          if (!Entry((offset + step) >> m_nClusterBits, &next, error)) return false;
          if (!IsStored(next) || (next & kOffsetMask) != start + step) break;
          step += std::min(bytes - step, m_nClusterBytes);
        }
        if (!containers::InsideFile(start, step, m_file.size)) {
          *error = platform::FaultCode(platform::Fault::Read);
          return false;
        }
        if (!containers::ReadExact(*m_file.device, start, buffer, step, error)) return false;
      } else if (!ReadUnstored(entry, offset, within, buffer, step, error)) {
        return false;
      }
      offset += step;
      buffer += step;
      bytes -= step;
    }
    return true;
  }

 private:
  static std::string Hex(uint64_t value) {
    std::string text;
    do {
      text.insert(text.begin(), "0123456789abcdef"[value & 15]);
      value >>= 4;
    } while (value != 0);
    return text;
  }

  std::string CheckExtensions(uint64_t at) {
    const uint8_t* h = m_file.head.data();
    for (int i = 0; i < kMaxExtensions && at + 8 <= m_file.head.size(); ++i) {
      const uint32_t type = LoadBe32(h + at);
      const uint64_t length = LoadBe32(h + at + 4);
      if (type == 0) break;
      if (type == kExternalDataExtension) {
        return "qcow2 disk keeps its data in an external file, which is not supported";
      }
      at += 8 + (length + 7) / 8 * 8;
    }
    return {};
  }

  // The L2 entry of `cluster` (0 when its L2 table is absent).
  bool Entry(uint64_t cluster, uint64_t* entry, platform::ErrorCode* error) {
    const uint32_t l2Bits = m_nClusterBits - 3;
    const uint64_t l2Offset = m_l1[static_cast<size_t>(cluster >> l2Bits)];
    *entry = 0;
    if (l2Offset == 0) return true;
    const std::vector<uint64_t>* table = L2Table(l2Offset, error);
    if (!table) return false;
    *entry = (*table)[static_cast<size_t>(cluster & ((1u << l2Bits) - 1))];
    return true;
  }

  // A cluster whose bytes lie as they are in this file.
  bool IsStored(uint64_t entry) const {
    return !(entry & kCompressed) && !(m_nVersion >= 3 && (entry & kZeroCluster)) &&
           (entry & kOffsetMask) != 0;
  }

  // Reads part of a cluster that is not stored as it is: compressed, zeros or left to the
  // backing file.
  bool ReadUnstored(uint64_t entry, uint64_t offset, uint32_t within, uint8_t* buffer,
                    uint32_t bytes, platform::ErrorCode* error) {
    if (entry & kCompressed) {
      // A whole cluster is inflated straight into the buffer; part of one through the cache.
      if (bytes == m_nClusterBytes) return Inflate(entry, buffer, error);
      if (m_nInflatedEntry != entry) {
        m_inflated.resize(m_nClusterBytes);
        m_nInflatedEntry = 0;
        if (!Inflate(entry, m_inflated.data(), error)) return false;
        m_nInflatedEntry = entry;
      }
      std::memcpy(buffer, m_inflated.data() + within, bytes);
      return true;
    }
    if ((m_nVersion >= 3 && (entry & kZeroCluster)) || !m_backing) {
      std::memset(buffer, 0, bytes);
      return true;
    }
    return containers::ReadParent(*m_backing, m_nBackingSize, offset, buffer, bytes, error);
  }

  const std::vector<uint64_t>* L2Table(uint64_t l2Offset, platform::ErrorCode* error) {
    for (const CachedTable& cached : m_tables) {
      if (cached.offset == l2Offset) return &cached.entries;
    }
    std::vector<uint8_t> raw(m_nClusterBytes);
    if (!containers::ReadExact(*m_file.device, l2Offset, raw.data(), raw.size(), error)) {
      return nullptr;
    }
    if (m_tables.size() < kCachedTables) m_tables.emplace_back();
    CachedTable& slot = m_tables[m_nNextSlot];
    m_nNextSlot = (m_nNextSlot + 1) % kCachedTables;
    slot.offset = l2Offset;
    slot.entries.resize(m_nClusterBytes / 8);
    for (size_t i = 0; i < slot.entries.size(); ++i) slot.entries[i] = LoadBe64(raw.data() + 8 * i);
    return &slot.entries;
  }

  // Decodes the compressed cluster `entry` describes into `out` (a cluster's bytes).
  bool Inflate(uint64_t entry, uint8_t* out, platform::ErrorCode* error) {
    const uint32_t sizeShift = 62 - (m_nClusterBits - 8);
    const uint64_t host = entry & ((1ULL << sizeShift) - 1);
    const uint64_t sectors = ((entry & ~kCompressed & ~(1ULL << 63)) >> sizeShift) + 1;
    const uint64_t stored = sectors * 512 - (host & 511);
    if (host >= m_file.size) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    // The last compressed cluster of a file may be stored shorter than its sector count says.
    m_compressed.resize(static_cast<size_t>(std::min(stored, m_file.size - host)));
    if (!containers::ReadExact(*m_file.device, host, m_compressed.data(), m_compressed.size(),
                               error)) {
      return false;
    }
    // One raw-deflate stream serves every cluster, reset between them.
    if (!m_bInflating) {
      m_stream = z_stream{};
      m_bInflating = inflateInit2(&m_stream, -15) == Z_OK;
    } else {
      m_bInflating = inflateReset(&m_stream) == Z_OK;
    }
    if (!m_bInflating) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    m_stream.next_in = m_compressed.data();
    m_stream.avail_in = static_cast<uInt>(m_compressed.size());
    m_stream.next_out = out;
    m_stream.avail_out = m_nClusterBytes;
    const int result = inflate(&m_stream, Z_FINISH);
    const bool whole = m_stream.avail_out == 0 &&
                       (result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR);
    if (!whole) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    return true;
  }

  struct CachedTable {
    uint64_t offset = 0;
    std::vector<uint64_t> entries;
  };

  ContainerFile m_file;
  uint32_t m_nVersion = 0;
  uint32_t m_nClusterBits = 0;
  uint32_t m_nClusterBytes = 0;
  std::vector<uint64_t> m_l1;
  std::vector<CachedTable> m_tables;
  size_t m_nNextSlot = 0;
  std::vector<uint8_t> m_compressed;
  std::vector<uint8_t> m_inflated;
  z_stream m_stream{};
  bool m_bInflating = false;  // m_stream is initialised
  uint64_t m_nInflatedEntry = 0;
  std::string m_backingName;
  std::unique_ptr<platform::RawDevice> m_backing;
  uint64_t m_nBackingSize = 0;
};

}  // namespace

bool IsQcow(const ContainerFile& file) {
  return file.head.size() >= 8 && std::memcmp(file.head.data(), kMagic, 4) == 0;
}

ContainerOpen OpenQcow(ContainerFile file) {
  const uint32_t version = LoadBe32(file.head.data() + 4);
  if (version != 2 && version != 3) {
    return {nullptr, "qcow version " + std::to_string(version) + " is not supported"};
  }
  if (file.head.size() < kVersion2HeaderBytes) return {nullptr, "qcow2 header is cut short"};
  auto disk = std::make_unique<QcowDisk>(std::move(file));
  std::string reason = disk->Load();
  if (!reason.empty()) return {nullptr, reason};
  return {std::move(disk), {}};
}

}  // namespace kavo

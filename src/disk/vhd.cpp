// VHD: a 512-byte big-endian footer at the end of the file (and, for dynamic and differencing
// disks, a copy at its start), a dynamic header, a block allocation table of 32-bit sector
// numbers and, before each block's data, a bitmap of the sectors the block holds. A differencing
// disk reads the sectors its bitmaps leave clear from its parent.
#include <cstring>
#include <string>
#include <vector>

#include "disk/container.h"
#include "disk/container_reads.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace kavo {

namespace {

constexpr uint32_t kFooterBytes = 512;
constexpr uint32_t kDynamicHeaderBytes = 1024;
constexpr uint32_t kFixed = 2;
constexpr uint32_t kDynamic = 3;
constexpr uint32_t kDifferencing = 4;
constexpr uint32_t kUnallocated = 0xFFFFFFFF;
// Windows relative and absolute parent paths (UTF-16LE).
constexpr uint32_t kLocatorRelative = 0x57327275;  // "W2ru"
constexpr uint32_t kLocatorAbsolute = 0x57326B75;  // "W2ku"
constexpr uint32_t kMaxBlockBytes = 256u << 20;
constexpr uint32_t kMaxLocatorBytes = 64 * 1024;

bool IsFooter(const uint8_t* p) {
  if (std::memcmp(p, "conectix", 8) != 0) return false;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kFooterBytes; ++i) {
    if (i < 64 || i >= 68) sum += p[i];
  }
  return ~sum == LoadBe32(p + 64);
}

std::u16string Utf16Be(const uint8_t* p, size_t units) {
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = LoadBe16(p + 2 * i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

class VhdDisk final : public VirtualDisk {
 public:
  VhdDisk(ContainerFile file, uint64_t size, uint32_t type)
      : m_file(std::move(file)), m_nType(type) {
    m_nVirtualSize = size;
    m_format = type == kFixed     ? "VHD (fixed)"
               : type == kDynamic ? "VHD (dynamic)"
                                  : "VHD (differencing)";
  }

  // Reads the dynamic header and the block table; empty when they are sound, else the reason.
  std::string LoadTables(uint64_t headerOffset) {
    uint8_t header[kDynamicHeaderBytes];
    platform::ErrorCode error = 0;
    if (!containers::InsideFile(headerOffset, kDynamicHeaderBytes, m_file.size) ||
        !containers::ReadExact(*m_file.device, headerOffset, header, sizeof header, &error) ||
        std::memcmp(header, "cxsparse", 8) != 0) {
      return "VHD dynamic header missing or past the end of the file";
    }
    const uint64_t tableOffset = LoadBe64(header + 16);
    const uint32_t entries = LoadBe32(header + 28);
    m_nBlockBytes = LoadBe32(header + 32);
    if (m_nBlockBytes < 512 || m_nBlockBytes > kMaxBlockBytes || m_nBlockBytes % 512 != 0) {
      return "VHD block size " + std::to_string(m_nBlockBytes) + " is not supported";
    }
    const uint64_t needed = containers::BlocksFor(m_nVirtualSize, m_nBlockBytes);
    if (entries < needed) return "VHD block table is smaller than the disk";
    if (needed * 4 > containers::kMaxTableBytes) return "VHD block table is too large";
    if (!containers::InsideFile(tableOffset, needed * 4, m_file.size)) {
      return "VHD block table lies past the end of the file";
    }
    std::vector<uint8_t> raw(static_cast<size_t>(needed * 4));
    if (!containers::ReadExact(*m_file.device, tableOffset, raw.data(), raw.size(), &error)) {
      return "VHD block table cannot be read (" + platform::ErrorText(error) + ")";
    }
    const uint32_t sectorsPerBlock = m_nBlockBytes / 512;
    m_nBitmapBytes = ((sectorsPerBlock + 7) / 8 + 511) / 512 * 512;
    m_table.resize(static_cast<size_t>(needed));
    for (size_t i = 0; i < m_table.size(); ++i) {
      m_table[i] = LoadBe32(raw.data() + 4 * i);
      if (m_table[i] != kUnallocated &&
          !containers::InsideFile(uint64_t{m_table[i]} * 512, m_nBitmapBytes + m_nBlockBytes,
                                  m_file.size)) {
        return "VHD block table entry " + std::to_string(i) + " points past the end of the file";
      }
    }
    if (m_nType == kDifferencing) return OpenParent(header);
    return {};
  }

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override {
    if (m_nType == kFixed)
      return containers::ReadExact(*m_file.device, offset, buffer, bytes, error);
    return containers::ForEachBlockPiece(
        offset, buffer, bytes, m_nBlockBytes,
        [&](uint64_t block, uint32_t within, uint8_t* out, uint32_t step) {
          return ReadInBlock(block, within, out, step, error);
        });
  }

 private:
  std::string OpenParent(const uint8_t* header) {
    std::vector<std::u16string> candidates;
    for (int i = 0; i < 8; ++i) {
      const uint8_t* entry = header + 576 + 24 * i;
      const uint32_t code = LoadBe32(entry);
      const uint32_t length = LoadBe32(entry + 8);
      const uint64_t where = LoadBe64(entry + 16);
      if ((code != kLocatorRelative && code != kLocatorAbsolute) || length == 0 ||
          length > kMaxLocatorBytes || !containers::InsideFile(where, length, m_file.size)) {
        continue;
      }
      std::vector<uint8_t> raw(length);
      platform::ErrorCode error = 0;
      if (!containers::ReadExact(*m_file.device, where, raw.data(), raw.size(), &error)) continue;
      std::u16string path;
      for (size_t k = 0; k + 1 < raw.size(); k += 2) {
        const char16_t c = LoadLe16(raw.data() + k);
        if (c == 0) break;
        path.push_back(c);
      }
      // The relative path first: it still holds when the pair of files was moved together.
      if (code == kLocatorRelative) {
        candidates.insert(candidates.begin(), path);
      } else {
        candidates.push_back(path);
      }
    }
    // The name alone, looked for beside the child.
    const std::u16string name = Utf16Be(header + 64, 256);
    if (!name.empty()) candidates.push_back(name);
    std::string error;
    m_parent = OpenParentDisk(m_file, candidates, &error);
    if (!m_parent) return error;
    if (!m_parent->GetLength(platform::DeviceType::ImageFile, &m_nParentSize)) m_nParentSize = 0;
    return {};
  }

  bool ReadInBlock(uint64_t block, uint32_t within, uint8_t* buffer, uint32_t bytes,
                   platform::ErrorCode* error) {
    const uint32_t entry = m_table[static_cast<size_t>(block)];
    const uint64_t virtualOffset = block * m_nBlockBytes + within;
    if (entry == kUnallocated) {
      if (m_parent) {
        return containers::ReadParent(*m_parent, m_nParentSize, virtualOffset, buffer, bytes,
                                      error);
      }
      std::memset(buffer, 0, bytes);
      return true;
    }
    const uint64_t data = uint64_t{entry} * 512 + m_nBitmapBytes;
    if (!m_parent)
      return containers::ReadExact(*m_file.device, data + within, buffer, bytes, error);
    if (!LoadBitmap(block, entry, error)) return false;
    // Runs of sectors the block holds are read from it, the others from the parent.
    uint32_t done = 0;
    while (done < bytes) {
      const uint32_t sector = (within + done) / 512;
      const bool own = (m_bitmap[sector / 8] >> (7 - sector % 8)) & 1;
      uint32_t run = std::min(bytes - done, 512 - (within + done) % 512);
      while (done + run < bytes) {
        const uint32_t next = (within + done + run) / 512;
        if ((((m_bitmap[next / 8] >> (7 - next % 8)) & 1) != 0) != own) break;
        run += std::min<uint32_t>(512, bytes - done - run);
      }
      const bool ok = own ? containers::ReadExact(*m_file.device, data + within + done,
                                                  buffer + done, run, error)
                          : containers::ReadParent(*m_parent, m_nParentSize, virtualOffset + done,
                                                   buffer + done, run, error);
      if (!ok) return false;
      done += run;
    }
    return true;
  }

  bool LoadBitmap(uint64_t block, uint32_t entry, platform::ErrorCode* error) {
    if (m_nBitmapBlock == block) return true;
    m_bitmap.resize(m_nBitmapBytes);
    m_nBitmapBlock = UINT64_MAX;
    if (!containers::ReadExact(*m_file.device, uint64_t{entry} * 512, m_bitmap.data(),
                               m_bitmap.size(), error)) {
      return false;
    }
    m_nBitmapBlock = block;
    return true;
  }

  ContainerFile m_file;
  uint32_t m_nType;
  uint32_t m_nBlockBytes = 0;
  uint32_t m_nBitmapBytes = 0;
  std::vector<uint32_t> m_table;
  std::unique_ptr<platform::RawDevice> m_parent;
  uint64_t m_nParentSize = 0;
  std::vector<uint8_t> m_bitmap;
  uint64_t m_nBitmapBlock = UINT64_MAX;
};

}  // namespace

bool IsVhd(const ContainerFile& file) {
  if (file.head.size() >= kFooterBytes && IsFooter(file.head.data())) return true;
  if (file.size < kFooterBytes) return false;
  uint8_t footer[kFooterBytes];
  platform::ErrorCode error = 0;
  return containers::ReadExact(*file.device, file.size - kFooterBytes, footer, sizeof footer,
                               &error) &&
         IsFooter(footer);
}

ContainerOpen OpenVhd(ContainerFile file) {
  uint8_t footer[kFooterBytes];
  platform::ErrorCode error = 0;
  const bool atEnd = file.size >= kFooterBytes &&
                     containers::ReadExact(*file.device, file.size - kFooterBytes, footer,
                                           sizeof footer, &error) &&
                     IsFooter(footer);
  if (!atEnd) return {nullptr, "VHD footer missing at the end of the file (the file is truncated)"};
  const uint32_t type = LoadBe32(footer + 60);
  const uint64_t size = LoadBe64(footer + 48);
  if (type != kFixed && type != kDynamic && type != kDifferencing) {
    return {nullptr, "VHD disk type " + std::to_string(type) + " is not supported"};
  }
  if (size > containers::kMaxVirtualBytes) return {nullptr, "VHD disk size is not valid"};
  if (type == kFixed && size > file.size - kFooterBytes) {
    return {nullptr, "VHD fixed disk is larger than its file (the file is truncated)"};
  }
  const uint64_t headerOffset = LoadBe64(footer + 16);
  auto disk = std::make_unique<VhdDisk>(std::move(file), size, type);
  if (type != kFixed) {
    std::string reason = disk->LoadTables(headerOffset);
    if (!reason.empty()) return {nullptr, reason};
  }
  return {std::move(disk), {}};
}

}  // namespace kavo

// VDI: a little-endian header (signature 0xBEDA107F at byte 64), a map of 32-bit block numbers
// and the blocks, each after an optional extra area. A block never written reads as zeros.
#include <cstring>
#include <string>
#include <vector>

#include "disk/container.h"
#include "disk/container_reads.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace kavo {

namespace {

constexpr uint32_t kSignature = 0xBEDA107F;
constexpr uint32_t kHeaderEnd = 0x190;
constexpr uint32_t kDynamic = 1;
constexpr uint32_t kFixed = 2;
// Block-map values of blocks without data: never written, or written as zeros.
constexpr uint32_t kFreeBlock = 0xFFFFFFFF;
constexpr uint32_t kZeroBlock = 0xFFFFFFFE;
constexpr uint32_t kMaxBlockBytes = 256u << 20;

class VdiDisk final : public VirtualDisk {
 public:
  explicit VdiDisk(ContainerFile file) : m_file(std::move(file)) {}

  std::string Load() {
    const uint8_t* h = m_file.head.data();
    const uint32_t type = LoadLe32(h + 0x4C);
    const uint64_t mapOffset = LoadLe32(h + 0x154);
    m_nDataOffset = LoadLe32(h + 0x158);
    m_nVirtualSize = LoadLe64(h + 0x170);
    m_nBlockBytes = LoadLe32(h + 0x178);
    m_nExtraBytes = LoadLe32(h + 0x17C);
    const uint32_t blocks = LoadLe32(h + 0x180);
    if (type != kDynamic && type != kFixed) {
      return "VDI image type " + std::to_string(type) + " (undo or differencing) is not supported";
    }
    m_format = type == kFixed ? "VDI (fixed)" : "VDI (dynamic)";
    if (m_nBlockBytes < 512 || m_nBlockBytes > kMaxBlockBytes || m_nExtraBytes > kMaxBlockBytes) {
      return "VDI block size " + std::to_string(m_nBlockBytes) + " is not supported";
    }
    if (m_nVirtualSize > containers::kMaxVirtualBytes) return "VDI disk size is not valid";
    if (uint64_t{blocks} * m_nBlockBytes < m_nVirtualSize) {
      return "VDI block map is smaller than the disk";
    }
    if (uint64_t{blocks} * 4 > containers::kMaxTableBytes) return "VDI block map is too large";
    if (!containers::InsideFile(mapOffset, uint64_t{blocks} * 4, m_file.size)) {
      return "VDI block map lies past the end of the file";
    }
    std::vector<uint8_t> raw(size_t{blocks} * 4);
    platform::ErrorCode error = 0;
    if (!containers::ReadExact(*m_file.device, mapOffset, raw.data(), raw.size(), &error)) {
      return "VDI block map cannot be read (" + platform::ErrorText(error) + ")";
    }
    m_map.resize(blocks);
    const uint64_t stride = uint64_t{m_nBlockBytes} + m_nExtraBytes;
    for (size_t i = 0; i < m_map.size(); ++i) {
      m_map[i] = LoadLe32(raw.data() + 4 * i);
      if (m_map[i] == kFreeBlock || m_map[i] == kZeroBlock) continue;
      if (!containers::InsideFile(m_nDataOffset + m_map[i] * stride, stride, m_file.size)) {
        return "VDI block map entry " + std::to_string(i) + " points past the end of the file";
      }
    }
    return {};
  }

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override {
    const uint64_t stride = uint64_t{m_nBlockBytes} + m_nExtraBytes;
    return containers::ForEachBlockPiece(
        offset, buffer, bytes, m_nBlockBytes,
        [&](uint64_t block, uint32_t within, uint8_t* out, uint32_t step) {
          const uint32_t entry = m_map[static_cast<size_t>(block)];
          if (entry == kFreeBlock || entry == kZeroBlock) {
            std::memset(out, 0, step);
            return true;
          }
          return containers::ReadExact(*m_file.device,
                                       m_nDataOffset + entry * stride + m_nExtraBytes + within, out,
                                       step, error);
        });
  }

 private:
  ContainerFile m_file;
  uint64_t m_nDataOffset = 0;
  uint32_t m_nBlockBytes = 0;
  uint32_t m_nExtraBytes = 0;
  std::vector<uint32_t> m_map;
};

}  // namespace

bool IsVdi(const ContainerFile& file) {
  return file.head.size() >= 0x48 && LoadLe32(file.head.data() + 0x40) == kSignature;
}

ContainerOpen OpenVdi(ContainerFile file) {
  const uint8_t* h = file.head.data();
  const uint32_t version = LoadLe32(h + 0x44);
  if (version >> 16 != 1) {
    return {nullptr, "VDI version " + std::to_string(version >> 16) + "." +
                         std::to_string(version & 0xFFFF) + " is not supported"};
  }
  if (file.head.size() < kHeaderEnd) return {nullptr, "VDI header is cut short"};
  auto disk = std::make_unique<VdiDisk>(std::move(file));
  std::string reason = disk->Load();
  if (!reason.empty()) return {nullptr, reason};
  return {std::move(disk), {}};
}

}  // namespace kavo

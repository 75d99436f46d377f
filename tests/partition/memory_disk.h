// A disk in memory for the partition tests: bytes a test writes at sector offsets, opened as an
// image-file CDisk. Sectors never written read as zeros.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "disk/disk.h"
#include "platform/bytes.h"

namespace kavo::test {

class MemoryDisk {
 public:
  explicit MemoryDisk(uint64_t sectors, uint32_t sectorSize = 512)
      : m_bytes(std::make_shared<std::vector<uint8_t>>(sectors * sectorSize)) {}

  uint8_t* Sector(uint64_t sector) { return m_bytes->data() + sector * 512; }

  // An MBR-style table entry (index 0..3) in the table sector `table`, with the boot signature.
  void TableEntry(uint64_t table, int index, uint8_t type, uint32_t start, uint32_t count) {
    uint8_t* e = Sector(table) + 0x1BE + 16 * index;
    e[4] = type;
    StoreLe32(e + 8, start);
    StoreLe32(e + 12, count);
    Sector(table)[510] = 0x55;
    Sector(table)[511] = 0xAA;
  }

  std::unique_ptr<CDisk> Open() {
    auto bytes = m_bytes;
    auto disk = std::make_unique<CDisk>([bytes](const std::u16string&, platform::OpenMode) {
      platform::OpenResult result;
      result.device = std::make_unique<Device>(bytes);
      return result;
    });
    disk->m_nSourceKind = SourceKind::ImageFile;
    disk->Open(u"memory.img");
    return disk;
  }

 private:
  class Device final : public platform::RawDevice {
   public:
    explicit Device(std::shared_ptr<std::vector<uint8_t>> bytes) : m_bytes(std::move(bytes)) {}
    bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
      const uint64_t size = m_bytes->size();
      const uint64_t n = m_pos >= size ? 0 : std::min<uint64_t>(bytes, size - m_pos);
      if (n != 0) std::memcpy(buffer, m_bytes->data() + m_pos, n);
      m_pos += n;
      *got = static_cast<uint32_t>(n);
      return true;
    }
    bool Write(const void*, uint32_t, uint32_t*) override { return false; }
    bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* position) override {
      int64_t base = 0;
      if (origin == platform::SeekOrigin::Current) base = static_cast<int64_t>(m_pos);
      if (origin == platform::SeekOrigin::End) base = static_cast<int64_t>(m_bytes->size());
      if (base + distance < 0) return false;
      m_pos = static_cast<uint64_t>(base + distance);
      if (position != nullptr) *position = m_pos;
      return true;
    }
    bool GetLength(platform::DeviceType, uint64_t* length) override {
      *length = m_bytes->size();
      return true;
    }
    platform::ErrorCode LastError() const override { return 0; }

   private:
    std::shared_ptr<std::vector<uint8_t>> m_bytes;
    uint64_t m_pos = 0;
  };

  std::shared_ptr<std::vector<uint8_t>> m_bytes;
};

}  // namespace kavo::test

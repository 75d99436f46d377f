// A disk in memory for the partition tests: bytes a test writes at sector offsets, opened as an
// image-file CDisk. Sectors never written read as zeros.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "disk/disk.h"
#include "platform/bytes.h"
#include "support/memory_device.h"

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

  // The disk as an image source, which sees sectors written later too.
  std::unique_ptr<CDisk> Open() { return OpenBytes(m_bytes); }

 private:
  std::shared_ptr<std::vector<uint8_t>> m_bytes;
};

}  // namespace kavo::test

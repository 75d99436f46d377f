// The container readers over one file: the input is a whole VHD, VDI or qcow2 file (headers,
// tables and data); every parent it names opens as the same bytes, so chains run to the depth
// cap. The first megabytes of the virtual disk are read, across block and cluster edges.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/memory_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto disk = kavo::test::OpenBytes(data, size, 0, u"fuzz.vhd");
  if (disk == nullptr) return 0;
  std::vector<uint8_t> buffer(96 * 1024);
  const uint64_t sectors = std::min<uint64_t>(disk->m_nTotalSectors, 16384);
  for (uint64_t sector = 0; sector < sectors; sector += 191) {
    disk->ReadSectors(buffer.data(), static_cast<uint32_t>(buffer.size()), sector);
  }
  return 0;
}

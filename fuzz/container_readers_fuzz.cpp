// The VHDX, VMDK and EWF readers over one container file held in memory: its headers, tables
// and the grains or chunks they point to. Files the container names (parents, extents, further
// segments) are missing. A disk that opens is read at its start, middle and end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/container.h"
#include "support/memory_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kavo::DeviceOpener missing = [](const std::u16string&, kavo::platform::OpenMode) {
    return kavo::platform::OpenResult{nullptr, 2};
  };
  using Reader = kavo::ContainerOpen (*)(kavo::ContainerFile);
  using Probe = bool (*)(const kavo::ContainerFile&);
  const std::pair<Probe, Reader> readers[] = {
      {kavo::IsVhdx, kavo::OpenVhdx}, {kavo::IsVmdk, kavo::OpenVmdk}, {kavo::IsEwf, kavo::OpenEwf}};
  for (const auto& [probe, open] : readers) {
    kavo::ContainerFile file;
    file.device = std::make_unique<kavo::test::MemoryDevice>(data, size);
    file.path = u"fuzz.E01";
    file.size = size;
    file.head.assign(data, data + std::min(size, kavo::ContainerFile::kHeadBytes));
    file.opener = &missing;
    if (!probe(file)) continue;
    kavo::ContainerOpen opened = open(std::move(file));
    if (!opened.disk) continue;
    std::vector<uint8_t> buffer(65536);
    const uint64_t length = opened.disk->VirtualSize();
    for (uint64_t at : {uint64_t{0}, length / 2, length > 65536 ? length - 65536 : 0}) {
      uint32_t got = 0;
      opened.disk->Seek(static_cast<int64_t>(at), kavo::platform::SeekOrigin::Begin, nullptr);
      opened.disk->Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
    }
  }
  return 0;
}

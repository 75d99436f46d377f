// The raw scan with the picture scanners over arbitrary source bytes: no crash, no read outside
// the source, every hit inside what the scanners may claim.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/disk.h"
#include "operations/message_sink.h"
#include "recovery/tree.h"
#include "scanners/catalogue.h"
#include "scanners/raw_scan.h"

namespace {

class BytesDevice final : public kavo::platform::RawDevice {
 public:
  BytesDevice(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    if (bytes % 512 != 0) return false;
    if (m_position + bytes > m_size && bytes > 512) std::abort();  // a block read past the end
    const uint64_t n = m_position < m_size ? std::min<uint64_t>(bytes, m_size - m_position) : 0;
    std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    *got = static_cast<uint32_t>(n);
    return true;
  }
  bool Write(const void*, uint32_t, uint32_t* put) override {
    *put = 0;
    return false;
  }
  bool Seek(int64_t distance, kavo::platform::SeekOrigin origin, uint64_t* newPosition) override {
    const int64_t base = origin == kavo::platform::SeekOrigin::Begin     ? 0
                         : origin == kavo::platform::SeekOrigin::Current ? int64_t(m_position)
                                                                         : int64_t(m_size);
    if (base + distance < 0) return false;
    m_position = static_cast<uint64_t>(base + distance);
    if (newPosition) *newPosition = m_position;
    return true;
  }
  bool GetLength(kavo::platform::DeviceType, uint64_t* length) override {
    *length = m_size;
    return true;
  }
  kavo::platform::ErrorCode LastError() const override { return 0; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  uint64_t m_position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 512 || size > (4u << 20)) return 0;
  kavo::CDisk disk([&](const std::u16string&, kavo::platform::OpenMode) {
    return kavo::platform::OpenResult{std::make_unique<BytesDevice>(data, size), 0};
  });
  disk.m_nSourceKind = kavo::SourceKind::ImageFile;
  if (!disk.Open(u"fuzz.img")) return 0;
  const std::vector<std::u16string> items = kavo::FormatItemTexts();
  kavo::ScannerRegistry registry = kavo::BuildRegistry(items, disk);
  kavo::NodePtr root = kavo::NewRoot();
  kavo::RecoveredNode* fileType = kavo::AttachFileType(root.get());
  kavo::ProgressRecord progress;
  kavo::NullSink sink;
  kavo::RawScan(disk, 0, disk.m_nTotalSectors, registry, fileType, &progress, sink);
  for (const kavo::RecoveredNode* folder = fileType->firstChild; folder;
       folder = folder->nextSibling) {
    for (const kavo::RecoveredNode* file = folder->firstChild; file; file = file->nextSibling) {
      if (file->location >= disk.m_nTotalSectors || file->endSector < file->location ||
          file->size == 0) {
        std::abort();
      }
    }
  }
  return 0;
}

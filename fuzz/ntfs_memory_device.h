// A read-only device over a fuzz input, for opening it as a CDisk. The device is at least
// `minimumLength` bytes long; what lies past the input reads as zeros, so that a short input
// can stand for the start of a larger volume.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "disk/disk.h"

namespace kavo::fuzz {

class MemoryDevice final : public platform::RawDevice {
 public:
  MemoryDevice(const uint8_t* data, size_t size, uint64_t minimumLength)
      : m_data(data), m_size(size), m_length(std::max<uint64_t>(size, minimumLength)) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    const uint64_t n = m_pos >= m_length ? 0 : std::min<uint64_t>(bytes, m_length - m_pos);
    auto* out = static_cast<uint8_t*>(buffer);
    const uint64_t stored = m_pos >= m_size ? 0 : std::min<uint64_t>(n, m_size - m_pos);
    if (stored != 0) std::memcpy(out, m_data + m_pos, stored);
    std::memset(out + stored, 0, n - stored);
    m_pos += n;
    *got = static_cast<uint32_t>(n);
    return true;
  }
  bool Write(const void*, uint32_t, uint32_t*) override { return false; }
  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* position) override {
    int64_t base = 0;
    if (origin == platform::SeekOrigin::Current) base = static_cast<int64_t>(m_pos);
    if (origin == platform::SeekOrigin::End) base = static_cast<int64_t>(m_length);
    if (base + distance < 0) return false;
    m_pos = static_cast<uint64_t>(base + distance);
    if (position != nullptr) *position = m_pos;
    return true;
  }
  bool GetLength(platform::DeviceType, uint64_t* length) override {
    *length = m_length;
    return true;
  }
  platform::ErrorCode LastError() const override { return 0; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  uint64_t m_length;
  uint64_t m_pos = 0;
};

// A CDisk opened on the input as an image file.
inline std::unique_ptr<CDisk> OpenMemory(const uint8_t* data, size_t size, uint64_t minimumLength) {
  auto disk = std::make_unique<CDisk>([=](const std::u16string&, platform::OpenMode) {
    platform::OpenResult result;
    result.device = std::make_unique<MemoryDevice>(data, size, minimumLength);
    return result;
  });
  disk->m_nSourceKind = SourceKind::ImageFile;
  if (!disk->Open(u"fuzz.img")) return nullptr;
  return disk;
}

}  // namespace kavo::fuzz

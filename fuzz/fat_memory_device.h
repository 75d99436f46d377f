// A read-only device over a byte buffer, so that fuzz targets can hand a whole volume to the
// sector source.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "disk/disk.h"
#include "platform/device.h"

namespace kavo::fuzz {

class MemoryDevice final : public platform::RawDevice {
 public:
  MemoryDevice(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    const uint64_t available = m_position < m_size ? m_size - m_position : 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bytes, available));
    if (n != 0) std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    *got = n;
    return true;
  }
  bool Write(const void*, uint32_t, uint32_t* put) override {
    *put = 0;
    return false;
  }
  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) override {
    const int64_t base = origin == platform::SeekOrigin::Begin ? 0
                         : origin == platform::SeekOrigin::Current
                             ? static_cast<int64_t>(m_position)
                             : static_cast<int64_t>(m_size);
    if (base + distance < 0) return false;
    m_position = static_cast<uint64_t>(base + distance);
    if (newPosition != nullptr) *newPosition = m_position;
    return true;
  }
  bool GetLength(platform::DeviceType, uint64_t* length) override {
    *length = m_size;
    return true;
  }
  platform::ErrorCode LastError() const override { return 0; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  uint64_t m_position = 0;
};

// An opener that gives out devices over the buffer; the buffer must outlive them.
inline DeviceOpener MemoryOpener(const uint8_t* data, size_t size) {
  return [data, size](const std::u16string&, platform::OpenMode) {
    return platform::OpenResult{std::make_unique<MemoryDevice>(data, size), 0};
  };
}

}  // namespace kavo::fuzz

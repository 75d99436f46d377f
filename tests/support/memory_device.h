// Devices in memory, so that tests and fuzz targets can hand CDisk a disk or a volume built as
// bytes: a base with what every such device does alike (the position, seeks, the length and the
// last error), a read-only device over a buffer, and the opening of a CDisk on such devices.
// Header-only: the fuzz targets use it without the test library.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "platform/device.h"

namespace kavo::test {

// The error a test device reports for a call it refuses.
inline constexpr platform::ErrorCode kIoError = 5;

// A device of Length() bytes that seeks like a file; a seek before the start fails. Writes fail
// unless a subclass takes them. Subclasses give the length and the reads.
class DeviceBase : public platform::RawDevice {
 public:
  bool Write(const void*, uint32_t, uint32_t* put) override {
    *put = 0;
    return Fail();
  }

  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) override {
    const int64_t base = origin == platform::SeekOrigin::Begin ? 0
                         : origin == platform::SeekOrigin::Current
                             ? static_cast<int64_t>(m_position)
                             : static_cast<int64_t>(Length());
    if (base + distance < 0) return Fail();
    m_position = static_cast<uint64_t>(base + distance);
    if (newPosition != nullptr) *newPosition = m_position;
    return true;
  }

  bool GetLength(platform::DeviceType, uint64_t* length) override {
    *length = Length();
    return true;
  }

  platform::ErrorCode LastError() const override { return m_error; }

 protected:
  virtual uint64_t Length() const = 0;

  // How many of `bytes` lie between the position and the end.
  uint32_t Available(uint32_t bytes) const {
    const uint64_t length = Length();
    return m_position < length
               ? static_cast<uint32_t>(std::min<uint64_t>(bytes, length - m_position))
               : 0;
  }

  // Keeps kIoError for LastError(); returns false.
  bool Fail() {
    m_error = kIoError;
    return false;
  }

  uint64_t m_position = 0;

 private:
  platform::ErrorCode m_error = 0;
};

// A read-only device over a buffer that must outlive it. The device is `length` bytes long, or
// `size` when that is more; what lies past the buffer reads as zeros, so that a short buffer can
// stand for the start of a larger disk.
class MemoryDevice : public DeviceBase {
 public:
  MemoryDevice(const uint8_t* data, size_t size, uint64_t length = 0)
      : m_data(data), m_size(size), m_length(std::max<uint64_t>(size, length)) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    const uint32_t n = Available(bytes);
    const uint64_t stored = m_position < m_size ? std::min<uint64_t>(n, m_size - m_position) : 0;
    auto* out = static_cast<uint8_t*>(buffer);
    if (stored != 0) std::memcpy(out, m_data + m_position, stored);
    std::memset(out + stored, 0, n - stored);
    m_position += n;
    *got = n;
    return true;
  }

 protected:
  uint64_t Length() const override { return m_length; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  uint64_t m_length;
};

// A CDisk opened as the image file `name` on the devices that `makeDevice` gives out, one for
// every opening of the source; null when the disk does not open.
inline std::unique_ptr<CDisk> OpenAsImage(
    std::function<std::unique_ptr<platform::RawDevice>()> makeDevice,
    const std::u16string& name = u"memory.img") {
  auto disk = std::make_unique<CDisk>(
      [makeDevice = std::move(makeDevice)](const std::u16string&, platform::OpenMode) {
        platform::OpenResult result;
        result.device = makeDevice();
        return result;
      });
  disk->m_nSourceKind = SourceKind::ImageFile;
  if (!disk->Open(name)) return nullptr;
  return disk;
}

// A CDisk opened as the image file `name` on a MemoryDevice over the buffer.
inline std::unique_ptr<CDisk> OpenBytes(const uint8_t* data, size_t size, uint64_t length = 0,
                                        const std::u16string& name = u"memory.img") {
  return OpenAsImage([=] { return std::make_unique<MemoryDevice>(data, size, length); }, name);
}

// The same over bytes that the disk keeps alive; it reads them as they are at the time, so it
// sees later changes.
inline std::unique_ptr<CDisk> OpenBytes(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                        const std::u16string& name = u"memory.img") {
  return OpenAsImage(
      [bytes = std::move(bytes)] {
        return std::make_unique<MemoryDevice>(bytes->data(), bytes->size());
      },
      name);
}

}  // namespace kavo::test

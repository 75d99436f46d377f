#include "disk/fake_device.h"

#include <cerrno>
#include <cstring>

namespace kavo::test {

namespace {

constexpr platform::ErrorCode kIoError = 5;

class FakeDevice final : public platform::RawDevice {
 public:
  explicit FakeDevice(FakeDeviceState& state) : m_state(state) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    *got = 0;
    if ((m_state.blockSize > 1 && bytes % m_state.blockSize != 0) ||
        (m_state.failRead && m_state.failRead(m_position, bytes))) {
      m_error = kIoError;
      return false;
    }
    const uint64_t available = m_position < m_state.length ? m_state.length - m_position : 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bytes, available));
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t at = m_position + i;
      out[i] = at < m_state.data.size() ? m_state.data[at] : PatternByte(at);
    }
    m_state.reads.emplace_back(m_position, bytes);
    m_position += n;
    *got = n;
    return true;
  }

  bool Write(const void*, uint32_t, uint32_t* put) override {
    *put = 0;
    m_error = kIoError;
    return false;
  }

  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) override {
    int64_t base = origin == platform::SeekOrigin::Begin     ? 0
                   : origin == platform::SeekOrigin::Current ? static_cast<int64_t>(m_position)
                                                             : static_cast<int64_t>(m_state.length);
    if (base + distance < 0) {
      m_error = kIoError;
      return false;
    }
    m_position = static_cast<uint64_t>(base + distance);
    if (newPosition) *newPosition = m_position;
    return true;
  }

  bool GetLength(platform::DeviceType, uint64_t* length) override {
    if (m_state.failLength) {
      m_error = kIoError;
      return false;
    }
    *length = m_state.length;
    return true;
  }

  platform::ErrorCode LastError() const override { return m_error; }

 private:
  FakeDeviceState& m_state;
  uint64_t m_position = 0;
  platform::ErrorCode m_error = 0;
};

}  // namespace

uint8_t PatternByte(uint64_t offset) {
  return static_cast<uint8_t>((offset >> 9) * 31 + (offset & 0x1FF));
}

DeviceOpener FakeOpener(FakeDeviceState& state) {
  return [&state](const std::u16string& path, platform::OpenMode) {
    ++state.opens;
    state.openedPaths.push_back(path);
    platform::OpenResult r;
    r.device = std::make_unique<FakeDevice>(state);
    return r;
  };
}

}  // namespace kavo::test

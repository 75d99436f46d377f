#include "disk/fake_device.h"

#include "support/memory_device.h"

namespace kavo::test {

namespace {

class FakeDevice final : public DeviceBase {
 public:
  explicit FakeDevice(FakeDeviceState& state) : m_state(state) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    *got = 0;
    if ((m_state.blockSize > 1 && bytes % m_state.blockSize != 0) ||
        (m_state.failRead && m_state.failRead(m_position, bytes))) {
      return Fail();
    }
    const uint32_t n = Available(bytes);
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

  bool GetLength(platform::DeviceType type, uint64_t* length) override {
    if (m_state.failLength) return Fail();
    return DeviceBase::GetLength(type, length);
  }

 protected:
  uint64_t Length() const override { return m_state.length; }

 private:
  FakeDeviceState& m_state;
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

#include "copy/fault_device.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/memory_device.h"

namespace kavo::test {

namespace {

class FaultDevice final : public DeviceBase {
 public:
  explicit FaultDevice(FaultDeviceState& state) : m_state(state) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    *got = 0;
    const uint32_t size = m_state.sectorSize;
    if (bytes % size != 0 || m_position % size != 0) return Fail();
    const uint64_t first = m_position / size;
    const uint64_t count = bytes / size;
    if (m_state.onRead) m_state.onRead(first, count);
    m_state.reads.emplace_back(first, count);
    for (auto& [sector, left] : m_state.failingReads) {
      if (sector < first || sector >= first + count || left <= 0) continue;
      if (count == 1 && left != FaultDeviceState::kAlways) --left;
      return Fail();
    }
    const uint32_t n = Available(bytes);
    auto* out = static_cast<uint8_t*>(buffer);
    if (m_state.stored) {
      std::memcpy(out, m_state.bytes.data() + m_position, n);
    } else {
      for (uint32_t i = 0; i < n; ++i) out[i] = SourceByte(m_position + i);
    }
    m_position += n;
    *got = n;
    return true;
  }

  bool Write(const void* buffer, uint32_t bytes, uint32_t* put) override {
    *put = 0;
    const uint32_t size = m_state.sectorSize;
    if (bytes % size != 0 || m_position % size != 0) return Fail();
    const uint64_t first = m_position / size;
    const uint64_t count = bytes / size;
    if (m_state.failWriteAt && *m_state.failWriteAt >= first &&
        *m_state.failWriteAt < first + count) {
      if (!m_state.shortWrite) return Fail();
      *put = bytes / 2;
      return true;  // a short count with success, as a full disk answers
    }
    const uint64_t end = m_position + bytes;
    if (m_state.bytes.size() < end) m_state.bytes.resize(end);
    std::memcpy(m_state.bytes.data() + m_position, buffer, bytes);
    m_state.sectors = std::max<uint64_t>(m_state.sectors, end / size);
    m_state.writes.emplace_back(first, count);
    m_position = end;
    *put = bytes;
    return true;
  }

  bool Flush() override {
    ++m_state.flushes;
    return !m_state.failFlush || Fail();
  }

  bool Control(platform::DeviceControl control) override {
    m_state.controls.push_back(control);
    const auto it = m_state.controlResults.find(control);
    return it == m_state.controlResults.end() || it->second || Fail();
  }

 protected:
  uint64_t Length() const override { return m_state.sectors * m_state.sectorSize; }

 private:
  FaultDeviceState& m_state;
};

}  // namespace

uint8_t SourceByte(uint64_t offset) {
  return static_cast<uint8_t>((offset >> 9) * 131 + (offset >> 12) * 7 + (offset & 0x1FF) + 1);
}

DeviceOpener FaultOpener(FaultDeviceState& state) {
  return [&state](const std::u16string&, platform::OpenMode mode) {
    state.openModes.push_back(mode);
    platform::OpenResult r;
    r.device = std::make_unique<FaultDevice>(state);
    return r;
  };
}

}  // namespace kavo::test

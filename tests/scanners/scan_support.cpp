#include "scan_support.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "operations/messages.h"
#include "support/memory_device.h"

namespace kavo::test {

namespace {

// Reads the pieces over zeros, in whole sectors only.
class SparseDevice final : public DeviceBase {
 public:
  explicit SparseDevice(MemorySource& source) : m_source(source) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    *got = 0;
    if (bytes % m_source.sectorSize != 0 ||
        (m_source.failRead && m_source.failRead(m_position, bytes))) {
      return Fail();
    }
    ++m_source.reads;
    if (m_position + bytes > m_source.length) ++m_source.readsPastEnd;
    const uint32_t n = Available(bytes);
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, n);
    const uint64_t end = m_position + n;
    // Pieces are disjoint, so only the one starting at or before the window, and those after
    // it, can overlap.
    auto it = m_source.pieces.upper_bound(m_position);
    if (it != m_source.pieces.begin()) --it;
    for (; it != m_source.pieces.end() && it->first < end; ++it) {
      const uint64_t from = std::max(it->first, m_position);
      const uint64_t to = std::min<uint64_t>(it->first + it->second.size(), end);
      if (from < to) {
        std::memcpy(out + (from - m_position), it->second.data() + (from - it->first), to - from);
      }
    }
    m_position += n;
    *got = n;
    return true;
  }

 protected:
  uint64_t Length() const override { return m_source.length; }

 private:
  MemorySource& m_source;
};

}  // namespace

std::unique_ptr<CDisk> OpenMemory(MemorySource& source) {
  auto disk = OpenAsImage([&source] { return std::make_unique<SparseDevice>(source); });
  if (disk == nullptr) return nullptr;
  source.reads = 0;
  source.readsPastEnd = 0;
  return disk;
}

std::vector<Found> FoundFiles(const RecoveredNode* fileType) {
  std::vector<Found> found;
  for (const RecoveredNode* folder = fileType->firstChild; folder; folder = folder->nextSibling) {
    for (const RecoveredNode* file = folder->firstChild; file; file = file->nextSibling) {
      found.push_back({std::u16string(NodeName(*folder)), std::u16string(NodeName(*file)),
                       file->size, file->location, file->endSector});
    }
  }
  return found;
}

std::vector<std::u16string> FolderNames(const RecoveredNode* fileType) {
  std::vector<std::u16string> names;
  for (const RecoveredNode* folder = fileType->firstChild; folder; folder = folder->nextSibling) {
    names.emplace_back(NodeName(*folder));
  }
  return names;
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

}  // namespace kavo::test

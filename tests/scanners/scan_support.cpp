#include "scan_support.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "operations/messages.h"

namespace kavo::test {

namespace {

constexpr platform::ErrorCode kIoError = 5;

class MemoryDevice final : public platform::RawDevice {
 public:
  explicit MemoryDevice(MemorySource& source) : m_source(source) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    *got = 0;
    if (bytes % m_source.sectorSize != 0 ||
        (m_source.failRead && m_source.failRead(m_position, bytes))) {
      m_error = kIoError;
      return false;
    }
    ++m_source.reads;
    if (m_position + bytes > m_source.length) ++m_source.readsPastEnd;
    const uint64_t available = m_position < m_source.length ? m_source.length - m_position : 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bytes, available));
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

  bool Write(const void*, uint32_t, uint32_t* put) override {
    *put = 0;
    m_error = kIoError;
    return false;
  }

  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) override {
    const int64_t base = origin == platform::SeekOrigin::Begin ? 0
                         : origin == platform::SeekOrigin::Current
                             ? static_cast<int64_t>(m_position)
                             : static_cast<int64_t>(m_source.length);
    if (base + distance < 0) {
      m_error = kIoError;
      return false;
    }
    m_position = static_cast<uint64_t>(base + distance);
    if (newPosition) *newPosition = m_position;
    return true;
  }

  bool GetLength(platform::DeviceType, uint64_t* length) override {
    *length = m_source.length;
    return true;
  }

  platform::ErrorCode LastError() const override { return m_error; }

 private:
  MemorySource& m_source;
  uint64_t m_position = 0;
  platform::ErrorCode m_error = 0;
};

}  // namespace

std::unique_ptr<CDisk> OpenMemory(MemorySource& source) {
  auto disk = std::make_unique<CDisk>([&source](const std::u16string&, platform::OpenMode) {
    return platform::OpenResult{std::make_unique<MemoryDevice>(source), 0};
  });
  disk->m_nSourceKind = SourceKind::ImageFile;
  if (!disk->Open(u"memory.img")) return nullptr;
  source.reads = 0;
  source.readsPastEnd = 0;
  return disk;
}

intptr_t RecordingSink::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  messages.push_back({message, wParam, lParam});
  if (message == UM_PROGRESS && onProgress) onProgress(Count(UM_PROGRESS));
  return 0;
}

size_t RecordingSink::Count(uint32_t message) const {
  return static_cast<size_t>(std::count_if(messages.begin(), messages.end(),
                                           [&](const Message& m) { return m.message == message; }));
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

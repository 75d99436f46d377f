#include "scan_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "base/messages.h"
#include "scanners/raw_scan.h"
#include "support/memory_device.h"
#include "support/process.h"
#include "support/recording_sink.h"

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

std::vector<Found> LayAndScan(std::vector<LaidFile>& files,
                              std::vector<std::unique_ptr<CBaseScanner>> scanners,
                              MemorySource& source, uint32_t seed) {
  const uint64_t ss = source.sectorSize;
  uint64_t at = 0;
  auto random = [&](uint64_t bytes) {
    if (bytes == 0) return;
    source.Put(at, RandomBytes(bytes, seed++));
    at += bytes;
  };
  random(3 * ss);
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].sector = at / ss;
    source.Put(at, files[i].bytes);
    at += files[i].bytes.size();
    random((ss - at % ss) % ss);
    if (i % 2 == 0) {
      at += 64 * ss;
    } else {
      random(67 * ss);
    }
  }
  random(8 * ss + 77);  // a partial last sector
  source.length = at;

  auto disk = OpenMemory(source);
  if (disk == nullptr) {
    ADD_FAILURE() << "the source does not open";
    return {};
  }
  ScannerRegistry registry;
  for (auto& scanner : scanners) registry.Insert(std::move(scanner), disk.get());
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  RecordingSink sink;
  ProgressRecord progress;
  RawScan(*disk, 0, disk->m_nTotalSectors, registry, fileType, &progress, sink);
  std::vector<Found> found = FoundFiles(fileType);
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.location < b.location; });
  return found;
}

void ExpectFoundWhole(const std::vector<LaidFile>& files, const std::vector<Found>& found) {
  size_t next = 0;
  for (const LaidFile& file : files) {
    SCOPED_TRACE(file.label);
    while (next < found.size() && found[next].location < file.sector) {
      ADD_FAILURE() << "a file found at sector " << found[next].location << " before it";
      ++next;
    }
    if (next == found.size() || found[next].location != file.sector) {
      ADD_FAILURE() << "not found at sector " << file.sector;
      continue;
    }
    EXPECT_EQ(found[next].folder, file.folder);
    EXPECT_EQ(found[next].size, file.bytes.size() + file.extraBytes);
    ++next;
  }
  for (; next < found.size(); ++next) {
    ADD_FAILURE() << "a file found at sector " << found[next].location << " after the last";
  }
}

std::vector<uint8_t> MakeFile(const std::filesystem::path& folder, const std::string& command,
                              const std::string& output) {
  const std::filesystem::path path = folder / output;
  if (RunShell("cd '" + folder.string() + "' && (" + command + ") >/dev/null 2>&1") != 0) {
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kavo::test

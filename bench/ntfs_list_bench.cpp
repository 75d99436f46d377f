// Times the NTFS listing of a volume image or device: the MFT walk, the building of the tree, and
// the memory it takes. With --print it lists every node as "path<TAB>size<TAB>flags<TAB>id".
//
//   ntfs_list_bench IMAGE [--print]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/disk.h"
#include "disk/volume.h"
#include "platform/text.h"
#include "recovery/ntfs/ntfs_reader.h"
#include "recovery/tree.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Peak resident memory in bytes, where the system tells it.
uint64_t PeakMemory() {
#ifndef _WIN32
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
#else
  return 0;
#endif
}

double PerEntry(uint64_t bytes, uint64_t entries) {
  return entries != 0 ? static_cast<double>(bytes) / static_cast<double>(entries) : 0.0;
}

void Print(const kavo::RecoveredNode* root) {
  struct Item {
    const kavo::RecoveredNode* node;
    std::string path;
  };
  std::vector<Item> stack{{root, ""}};
  while (!stack.empty()) {
    Item item = std::move(stack.back());
    stack.pop_back();
    for (const auto* child = item.node->firstChild; child != nullptr; child = child->nextSibling) {
      std::string path = item.path + (item.path.empty() ? "" : "/") +
                         kavo::platform::Utf16ToUtf8(kavo::NodeName(*child));
      std::printf("%s\t%llu\t%u\t%u\n", path.c_str(), static_cast<unsigned long long>(child->size),
                  child->flags, child->id);
      if (child->firstChild != nullptr) stack.push_back({child, std::move(path)});
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE [--print]\n", argv[0]);
    return 2;
  }
  const bool print = argc > 2 && std::strcmp(argv[2], "--print") == 0;
  kavo::CDisk disk;
  const std::u16string selector = kavo::platform::Utf8ToUtf16(argv[1]);
  disk.m_nSourceKind = kavo::SourceKindForSelector(selector);
  if (!disk.Open(selector)) {
    std::fprintf(stderr, "cannot open %s: %s\n", argv[1], kavo::OpenFailureText(disk).c_str());
    return 1;
  }
  if (!kavo::DetectVolume(disk) || disk.m_nFileSystem != kavo::FS_NTFS) {
    std::fprintf(stderr, "%s holds no NTFS volume at sector 0\n", argv[1]);
    return 1;
  }

  const uint64_t memoryBefore = PeakMemory();
  const auto start = Clock::now();
  kavo::ProgressRecord progress;
  progress.SetState(kavo::PS_RUNNING);
  kavo::NullSink sink;
  kavo::NtfsReader reader(disk);
  kavo::ScanEntryPtr data = kavo::NewScanData(5);
  reader.ListNtfs(data.get(), &progress, sink);
  const double listSeconds = Seconds(start);
  const uint64_t listMemory = PeakMemory() - memoryBefore;
  kavo::NodePtr root = kavo::BuildFileSystemTree(std::move(data));
  const double totalSeconds = Seconds(start);
  const uint64_t memory = PeakMemory() - memoryBefore;

  kavo::TreeTotals totals;
  kavo::CountAll(root.get(), totals);
  if (print) Print(root.get());
  const uint64_t entries = totals.files + totals.folders;
  const double mftBytes =
      static_cast<double>(reader.MftRecordCount()) * disk.m_volume.bytesPerMftRecord;
  std::fprintf(stderr,
               "records %llu, folders %llu, files %llu\n"
               "MFT walk %.3f s (%.2f GB/s of MFT, %.0f entries/s), with the tree %.3f s\n"
               "memory per entry, names included: %.1f bytes after the walk, %.1f bytes at the "
               "peak of the conversion into the tree (%.1f MiB)\n",
               static_cast<unsigned long long>(reader.MftRecordCount()),
               static_cast<unsigned long long>(totals.folders),
               static_cast<unsigned long long>(totals.files), listSeconds,
               mftBytes / listSeconds / 1e9, static_cast<double>(entries) / listSeconds,
               totalSeconds, PerEntry(listMemory, entries), PerEntry(memory, entries),
               static_cast<double>(memory) / (1 << 20));
  return 0;
}

// A whole small volume: detection, the MFT walk and the tree, and the extraction of every file
// listed. The input is the start of a 2 MiB volume; the rest reads as zeros.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/message_sink.h"
#include "disk/volume.h"
#include "recovery/ntfs/ntfs_reader.h"
#include "recovery/tree.h"
#include "support/memory_device.h"

namespace {

// Stops a file after 4 MiB, so that a declared hole of terabytes ends quickly.
class CappedOutput final : public kavo::FileOutput {
 public:
  bool Write(const uint8_t*, size_t bytes) override {
    m_written += bytes;
    return m_written <= (4u << 20);
  }

 private:
  size_t m_written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto disk = kavo::test::OpenBytes(data, size, 2u << 20, u"fuzz.img");
  if (disk == nullptr || !kavo::DetectVolume(*disk) || disk->m_nFileSystem != kavo::FS_NTFS) {
    return 0;
  }
  kavo::NtfsReader reader(*disk);
  kavo::NullSink sink;
  kavo::ScanEntryPtr root = kavo::NewScanData(5);
  reader.ListNtfs(root.get(), nullptr, sink);
  kavo::NodePtr tree = kavo::BuildFileSystemTree(std::move(root));
  kavo::TreeTotals totals;
  kavo::CountAll(tree.get(), totals);

  std::vector<const kavo::RecoveredNode*> stack{tree.get()};
  while (!stack.empty()) {
    const kavo::RecoveredNode* folder = stack.back();
    stack.pop_back();
    for (const auto* child = folder->firstChild; child != nullptr; child = child->nextSibling) {
      if (child->firstChild != nullptr) stack.push_back(child);
      if ((child->flags & kavo::NF_FOLDER) == 0) {
        CappedOutput out;
        reader.ExtractNtfsFile(*child, out, nullptr);
      }
    }
  }
  return 0;
}

#include "recovery/save.h"

#include <vector>

#include "base/messages.h"

namespace kavo {

void SaveMarked(Extractor& extractor, const RecoveredNode* root,
                const std::filesystem::path& destination, MessageSink& progressWindow) {
  if (!root) return;
  // Each frame: the next sibling to look at, the folder it is written into and the folder's node
  // (none for the destination).
  struct Frame {
    const RecoveredNode* node;
    std::filesystem::path folder;
    const RecoveredNode* folderNode;
  };
  std::vector<Frame> stack;
  stack.push_back({root->firstChild, destination, nullptr});
  while (!stack.empty() && !extractor.Aborted()) {
    auto& [node, folder, folderNode] = stack.back();
    if (!node) {
      // Complete: writing its content has moved the folder's dates.
      if (folderNode != nullptr) extractor.KeepDates(folder, *folderNode);
      stack.pop_back();
      continue;
    }
    const RecoveredNode* current = node;
    node = current->nextSibling;
    if (current->mark == 0) continue;
    const bool isFolder = (current->flags & NF_FOLDER) != 0;
    if (!isFolder && current->mark != 1) continue;
    if (extractor.Stopped()) return;
    std::optional<std::filesystem::path> created = extractor.ExtractNode(folder, *current);
    if (!isFolder) {
      progressWindow.Send(UM_PROGRESS, 0, 0);
      continue;
    }
    if (created && current->firstChild) {
      stack.push_back({current->firstChild, std::move(*created), current});
    }
  }
}

}  // namespace kavo

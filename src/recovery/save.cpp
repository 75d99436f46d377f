#include "recovery/save.h"

#include <utility>
#include <vector>

#include "base/messages.h"

namespace kavo {

void SaveMarked(Extractor& extractor, const RecoveredNode* root,
                const std::filesystem::path& destination, MessageSink& progressWindow) {
  if (!root) return;
  // Each frame: the next sibling to look at and the folder it is written into.
  std::vector<std::pair<const RecoveredNode*, std::filesystem::path>> stack;
  stack.emplace_back(root->firstChild, destination);
  while (!stack.empty() && !extractor.Aborted()) {
    auto& [node, folder] = stack.back();
    if (!node) {
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
    if (created && current->firstChild)
      stack.emplace_back(current->firstChild, std::move(*created));
  }
}

}  // namespace kavo

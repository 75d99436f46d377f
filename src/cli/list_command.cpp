#include "cli/commands.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "cli/source.h"
#include "cli/tree_view.h"
#include "recovery/filesystem.h"

namespace kavo::cli {

std::optional<uint64_t> SectorOption(const ParsedArgs& args, const std::string& option,
                                     bool& bad) {
  const auto value = args.Value(option);
  if (!value) return std::nullopt;
  const auto number = ParseUnsigned(*value);
  if (!number) {
    ErrorLine(option + " takes a sector number");
    bad = true;
  }
  return number;
}

NodePtr ListVolume(CDisk& disk, bool& stopped) {
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  ProgressBar bar(record, "Listing", 0);
  NodePtr tree;
  {
    StopOnInterrupt stopper(record);
    tree = ScanFileSystem(disk, &record, bar);
  }
  bar.Finish();
  stopped = StopOnInterrupt::Interrupted();
  return tree;
}

void PrintTree(const RecoveredNode* root, bool json) {
  std::string chunk;
  WalkTree(root, [&](const RecoveredNode& node, const std::u16string& path) {
    chunk += json ? NodeJson(node, path) + "\n" : NodeLine(node, path);
    if (chunk.size() > (1 << 16)) {
      Out(chunk);
      chunk.clear();
    }
    return true;
  });
  Out(chunk);
}

int ReportStopped() {
  ErrorLine("stopped by the user; the results found so far were kept");
  return kExitFailed;
}

int ListCommand(const ParsedArgs& args) {
  bool bad = false;
  const auto start = SectorOption(args, "--start", bad);
  if (bad) return kExitUsage;
  const std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  if (!SelectVolume(*disk, start)) return kExitFailed;
  bool stopped = false;
  const NodePtr tree = ListVolume(*disk, stopped);
  if (!tree) {
    ErrorLine("the volume could not be listed");
    return kExitFailed;
  }
  PrintTree(tree.get(), args.Has("--json"));
  return stopped ? ReportStopped() : kExitOk;
}

}  // namespace kavo::cli

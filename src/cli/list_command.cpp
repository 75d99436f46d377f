#include "cli/commands.h"
#include "cli/job.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "cli/source.h"
#include "cli/tree_view.h"
#include "recovery/filesystem.h"
#include "recovery/scan_info.h"

namespace kavo::cli {

std::optional<uint64_t> SectorOption(const ParsedArgs& args, const std::string& option, bool& bad) {
  const auto value = args.Value(option);
  if (!value) return std::nullopt;
  const auto number = ParseUnsigned(*value);
  if (!number) {
    ErrorLine(option + " takes a sector number");
    bad = true;
  }
  return number;
}

NodePtr ListVolume(std::unique_ptr<CDisk>& disk, bool& stopped) {
  // "Deleted Recovery" of a volume: one file-system read.
  JobSpec spec;
  spec.operation = kOpDeletedRecovery;
  spec.kind = SourceKind::LogicalDrive;
  spec.label = "Listing";
  JobResult result = RunJob(disk, spec);
  stopped = result.stopped;
  return std::move(result.tree);
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

bool SaveScanOption(const ParsedArgs& args, const CDisk& disk, const RecoveredNode* tree) {
  const auto file = args.Value("--save-scan");
  if (!file) return true;
  const ScanInfoHeader header = ScanInfoHeaderFor(kOpDeletedRecovery, &disk);
  StderrPrompter prompter;
  if (!SaveScanInfo(WithExtension(std::filesystem::path(*file), u".qsv"), header, tree, prompter)) {
    return false;
  }
  ErrorLine("Scan info saved successfully.");
  return true;
}

int ReportStopped() {
  ErrorLine("stopped by the user; the results found so far were kept");
  return kExitFailed;
}

int ListCommand(const ParsedArgs& args) {
  bool bad = false;
  const auto start = SectorOption(args, "--start", bad);
  if (bad) return kExitUsage;
  std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  if (!SelectVolume(disk, start, args)) return kExitFailed;
  bool stopped = false;
  const NodePtr tree = ListVolume(disk, stopped);
  if (!tree) {
    ErrorLine("the volume could not be listed");
    return kExitFailed;
  }
  PrintTree(tree.get(), args.Has("--json"));
  if (!SaveScanOption(args, *disk, tree.get())) return kExitFailed;
  return stopped ? ReportStopped() : kExitOk;
}

}  // namespace kavo::cli

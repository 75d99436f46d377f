#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"

namespace kavo::cli {

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

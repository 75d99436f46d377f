#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"

namespace kavo::cli {

int SearchCommand(const ParsedArgs& args) {
  const bool lost = args.Has("--lost");
  if (lost == args.Has("--formatted")) {
    ErrorLine(
        "give one of --lost and --formatted; usage: kavo-cli search SOURCE --lost | "
        "--formatted [--json]");
    return kExitUsage;
  }
  std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  PartitionList rows;
  bool stopped = false;
  if (!RunVolumeSearch(disk, lost, rows, stopped)) {
    ErrorLine("the source cannot be searched");
    return kExitFailed;
  }
  if (rows.empty() && !args.Has("--json")) ErrorLine("no volumes found");
  PrintPartitionRows(rows, args.Has("--json"));
  if (!SavePartitionsOption(args, lost ? kOpPartitionRecovery : kOpFormattedRecovery, rows)) {
    return kExitFailed;
  }
  return stopped ? ReportStopped() : kExitOk;
}

}  // namespace kavo::cli

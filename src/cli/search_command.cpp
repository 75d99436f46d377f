#include "cli/commands.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "cli/source.h"
#include "recovery/search/partition_scan.h"
#include "recovery/search/volume_search.h"

namespace kavo::cli {

bool RunVolumeSearch(CDisk& disk, bool lost, FoundVolumeList& volumes, bool& stopped) {
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  ProgressBar bar(record, lost ? "Searching for lost volumes" : "Searching for earlier volumes",
                  disk.m_nSectorSize);
  uint32_t ran = 0;
  {
    StopOnInterrupt stopper(record);
    ran = lost ? SearchLostVolumes(disk, 0, disk.m_nTotalSectors, &record, bar, volumes)
               : SearchFormattedVolume(disk, &record, bar, volumes);
  }
  bar.Finish();
  stopped = StopOnInterrupt::Interrupted();
  return ran != 0;
}

int SearchCommand(const ParsedArgs& args) {
  const bool lost = args.Has("--lost");
  if (lost == args.Has("--formatted")) {
    ErrorLine(
        "give one of --lost and --formatted; usage: kavo-cli search SOURCE --lost | "
        "--formatted [--json]");
    return kExitUsage;
  }
  const std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  FoundVolumeList volumes;
  bool stopped = false;
  if (!RunVolumeSearch(*disk, lost, volumes, stopped)) {
    ErrorLine("the source cannot be searched");
    return kExitFailed;
  }
  PartitionList rows;
  PublishFoundVolumes(volumes, disk->m_nSourceKind, disk->GetName(), rows);
  if (rows.empty() && !args.Has("--json")) ErrorLine("no volumes found");
  PrintPartitionRows(rows, args.Has("--json"));
  if (!SavePartitionsOption(args, lost ? kOpPartitionRecovery : kOpFormattedRecovery, rows)) {
    return kExitFailed;
  }
  return stopped ? ReportStopped() : kExitOk;
}

}  // namespace kavo::cli

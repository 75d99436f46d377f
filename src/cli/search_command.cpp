#include "cli/commands.h"
#include "cli/job.h"
#include "cli/output.h"
#include "cli/source.h"
#include "partition/partition_scan.h"
#include "recovery/search/volume_search.h"

namespace kavo::cli {

bool RunVolumeSearch(std::unique_ptr<CDisk>& disk, bool lost, PartitionList& rows, bool& stopped) {
  JobSpec spec;
  if (lost) {
    // "Partition Recovery": a drive is searched as a drive; anything else as an image file is
    // by its long scan, over the whole source either way.
    spec.operation = kOpPartitionRecovery;
    if (disk->m_nSourceKind == SourceKind::PhysicalDrive) {
      spec.kind = SourceKind::PhysicalDrive;
    } else {
      spec.kind = SourceKind::ImageFile;
      spec.imageScanType = ImageScanType::LongScan;
    }
  } else {
    // "Formatted Recovery": the source is searched as the volume that was formatted.
    spec.operation = kOpFormattedRecovery;
    spec.kind = SourceKind::LogicalDrive;
  }
  spec.label = lost ? "Searching for lost volumes" : "Searching for earlier volumes";
  spec.unitBytes = disk->m_nSectorSize;
  JobResult result = RunJob(disk, spec);
  stopped = result.stopped;
  rows = std::move(result.rows);
  // A search that could not run ends without a page to go to.
  return !result.navigation.empty();
}

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

// The jobs that several commands run on an opened source: listing a volume, the signature scan,
// the searches for volumes, and the closing line of a job stopped by Ctrl-C.
#include "cli/commands.h"
#include "cli/job.h"
#include "cli/output.h"
#include "recovery/search/volume_search.h"

namespace kavo::cli {

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

NodePtr CarveSource(std::unique_ptr<CDisk>& disk, const std::u16string& formats, uint64_t first,
                    uint64_t end, bool& stopped) {
  const std::vector<std::u16string> chosen = ChosenFormats(formats);
  if (chosen.empty()) return nullptr;
  // The raw scan of an image, whatever the source: the signature scan over [first, end).
  JobSpec spec;
  spec.operation = kOpAdvanceOption;
  spec.kind = SourceKind::ImageFile;
  spec.imageScanType = ImageScanType::RawScan;
  spec.advancedSearch = true;
  spec.formats = chosen;
  spec.firstSector = first;
  spec.endSector = end;
  spec.label = "Scanning";
  spec.unitBytes = disk->m_nSectorSize;
  JobResult result = RunJob(disk, spec);
  stopped = result.stopped;
  return result.tree ? std::move(result.tree) : NewRoot();
}

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

int ReportStopped() {
  ErrorLine("stopped by the user; the results found so far were kept");
  return kExitFailed;
}

}  // namespace kavo::cli

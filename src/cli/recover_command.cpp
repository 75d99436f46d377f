#include <filesystem>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "cli/source.h"
#include "cli/tree_view.h"
#include "disk/volume.h"
#include "platform/device.h"
#include "platform/text.h"
#include "recovery/save.h"
#include "recovery/scan_info.h"

namespace kavo::cli {

namespace {

// Loads a saved scan of `disk`'s volume: the volume is found again at the sector the scan was
// taken from (or --start), and must still hold the same file system.
NodePtr LoadSavedScan(CDisk& disk, const std::u16string& file, std::optional<uint64_t> start) {
  StderrPrompter prompter;
  std::optional<LoadedScanInfo> loaded =
      LoadScanInfo(std::filesystem::path(file), std::nullopt, prompter);
  if (!loaded) {
    ErrorLine("cannot read the scan-info file " + platform::Utf16ToUtf8(file));
    return nullptr;
  }
  if (loaded->header.fileSystem != FS_NONE) {
    if (!SelectVolume(disk, start ? start : loaded->header.startSector)) return nullptr;
    if (disk.m_nFileSystem != loaded->header.fileSystem) {
      ErrorLine(std::string("the scan was taken of a ") +
                FileSystemName(loaded->header.fileSystem) + " volume, but the source holds " +
                FileSystemName(disk.m_nFileSystem) + " there");
      return nullptr;
    }
  }
  return std::move(loaded->root);
}

}  // namespace

int RecoverCommand(const ParsedArgs& args) {
  bool bad = false;
  const auto start = SectorOption(args, "--start", bad);
  const auto count = SectorOption(args, "--count", bad);
  if (bad) return kExitUsage;
  const std::u16string outDir = *args.Value("--out");
  const auto formats = args.Value("--formats");
  if (count && !formats) {
    ErrorLine("--count applies to a signature scan (--formats)");
    return kExitUsage;
  }

  const auto scanFile = args.Value("--scan");
  if (scanFile && formats) {
    ErrorLine("--scan recovers from a saved scan; it takes no --formats");
    return kExitUsage;
  }
  if (formats && ChosenFormats(*formats).empty()) return kExitUsage;

  std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  // Every file written onto the storage being recovered may land on clusters that still hold
  // the lost data.
  if (!args.Has("--allow-same-device") && platform::SharesStorage(disk->m_devicePath, outDir)) {
    ErrorLine("the output folder " + platform::Utf16ToUtf8(outDir) +
              " is on the drive being recovered: writing there can overwrite the files being "
              "recovered. Choose a folder on another drive (or give --allow-same-device)");
    return kExitFailed;
  }

  bool stopped = false;
  NodePtr tree;
  if (scanFile) {
    tree = LoadSavedScan(*disk, *scanFile, start);
    if (!tree) return kExitFailed;
  } else if (formats) {
    const uint64_t first = start.value_or(0);
    if (first >= disk->m_nTotalSectors) {
      ErrorLine("--start is past the end of the source");
      return kExitUsage;
    }
    const uint64_t end =
        count ? std::min(disk->m_nTotalSectors, first + *count) : disk->m_nTotalSectors;
    tree = CarveSource(disk, *formats, first, end, stopped);
    if (!tree) return kExitUsage;
  } else {
    if (!SelectVolume(disk, start, args)) return kExitFailed;
    tree = ListVolume(disk, stopped);
    if (!tree) {
      ErrorLine("the volume could not be listed");
      return kExitFailed;
    }
  }
  // A scan that Ctrl-C ended still saves what it found.
  const bool scanStopped = stopped;

  Selection selection;
  selection.deletedOnly = args.Has("--deleted-only");
  if (const auto it = args.values.find("--match"); it != args.values.end()) {
    selection.globs = it->second;
  }
  ApplySelection(tree.get(), selection);

  std::error_code ec;
  std::filesystem::path destination(outDir);
  std::filesystem::create_directories(destination, ec);
  // An absolute, normalised destination lets Windows take paths past 260 characters.
  destination = std::filesystem::weakly_canonical(std::filesystem::absolute(destination, ec), ec);
  if (!std::filesystem::is_directory(destination, ec)) {
    ErrorLine("cannot create the output folder " + platform::Utf16ToUtf8(outDir));
    return kExitFailed;
  }

  TreeTotals totals;
  CountMarked(tree.get(), totals);
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  record.SetEnd(totals.markedBytes);
  StderrPrompter prompter;
  Extractor extractor(*disk, &record, prompter);
  extractor.onProblem = [](const std::string& text) { ErrorLine(text); };
  {
    ProgressBar bar(record, "Saving", 1);
    StopOnInterrupt stopper(record);
    SaveMarked(extractor, tree.get(), destination, bar);
    bar.Finish();
    stopped = StopOnInterrupt::Interrupted();
  }
  const SaveCounts& c = extractor.Counts();
  Out(std::to_string(c.files) + " files, " + std::to_string(c.folders) + " folders, " +
      std::to_string(c.bytes) + " bytes written, " + std::to_string(c.errors) + " errors\n");
  if (stopped || scanStopped) return ReportStopped();
  return extractor.Aborted() || c.errors > 0 ? kExitFailed : kExitOk;
}

}  // namespace kavo::cli

#include <filesystem>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "cli/source.h"
#include "cli/tree_view.h"
#include "platform/text.h"
#include "recovery/save.h"

namespace kavo::cli {

namespace {

// Reports the error that ends a save on stderr; a command line has no one to answer questions.
class StderrPrompter final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption, PromptIcon,
                   PromptButtons) override {
    ErrorLine(platform::Utf16ToUtf8(caption) + ": " + platform::Utf16ToUtf8(text));
    return PromptAnswer::Ok;
  }
};

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

  const std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;

  bool stopped = false;
  NodePtr tree;
  if (formats) {
    const uint64_t first = start.value_or(0);
    if (first >= disk->m_nTotalSectors) {
      ErrorLine("--start is past the end of the source");
      return kExitUsage;
    }
    const uint64_t end = count ? std::min(disk->m_nTotalSectors, first + *count)
                               : disk->m_nTotalSectors;
    tree = CarveSource(*disk, *formats, first, end, stopped);
    if (!tree) return kExitUsage;
  } else {
    if (!SelectVolume(*disk, start)) return kExitFailed;
    tree = ListVolume(*disk, stopped);
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

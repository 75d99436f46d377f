#include <algorithm>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"

namespace kavo::cli {

int CarveCommand(const ParsedArgs& args) {
  bool bad = false;
  const auto start = SectorOption(args, "--start", bad);
  const auto count = SectorOption(args, "--count", bad);
  if (bad) return kExitUsage;
  if (ChosenFormats(*args.Value("--formats")).empty()) return kExitUsage;
  std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  const uint64_t first = start.value_or(0);
  if (first >= disk->m_nTotalSectors) {
    ErrorLine("--start is past the end of the source (" + std::to_string(disk->m_nTotalSectors) +
              " sectors)");
    return kExitUsage;
  }
  const uint64_t end =
      count ? std::min(disk->m_nTotalSectors, first + std::min(*count, UINT64_MAX - first))
            : disk->m_nTotalSectors;
  bool stopped = false;
  const NodePtr tree = CarveSource(disk, *args.Value("--formats"), first, end, stopped);
  if (!tree) return kExitUsage;
  PrintTree(tree.get(), args.Has("--json"));
  if (!SaveScanOption(args, *disk, tree.get())) return kExitFailed;
  return stopped ? ReportStopped() : kExitOk;
}

}  // namespace kavo::cli

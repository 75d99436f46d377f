#include <algorithm>

#include "cli/commands.h"
#include "cli/job.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "cli/source.h"
#include "platform/text.h"
#include "scanners/catalogue.h"
#include "scanners/raw_scan.h"

namespace kavo::cli {

namespace {

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Upper(x) == Upper(y); });
}

// The catalogue's item texts named by a --formats value ("all", or items separated by commas,
// in any case). Empty, after printing why, when an item is unknown.
std::vector<std::u16string> ChosenFormats(const std::u16string& value) {
  const std::vector<std::u16string> known = FormatItemTexts();
  if (SameText(value, u"all")) return known;
  std::vector<std::u16string> chosen;
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t comma = value.find(u',', begin);
    if (comma == std::u16string::npos) comma = value.size();
    const std::u16string item = value.substr(begin, comma - begin);
    begin = comma + 1;
    if (item.empty()) continue;
    const auto it = std::find_if(known.begin(), known.end(),
                                 [&](const std::u16string& k) { return SameText(k, item); });
    if (it == known.end()) {
      std::string names;
      for (const auto& k : known) names += (names.empty() ? "" : ", ") + platform::Utf16ToUtf8(k);
      ErrorLine("unknown format '" + platform::Utf16ToUtf8(item) + "'; known: all, " + names);
      return {};
    }
    if (std::find(chosen.begin(), chosen.end(), *it) == chosen.end()) chosen.push_back(*it);
  }
  if (chosen.empty()) ErrorLine("--formats names no format");
  return chosen;
}

}  // namespace

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

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

// The message a selection that names no format ends with, as the format page shows it.
constexpr const char* kNoFormatSelected =
    "You have not selected any file format. Please select file formats.";

bool IsAll(std::u16string_view item) {
  return item.size() == 3 && (item[0] | 0x20) == u'a' && (item[1] | 0x20) == u'l' &&
         (item[2] | 0x20) == u'l';
}

}  // namespace

std::vector<std::u16string> ChosenFormats(const std::u16string& value) {
  FormatCatalogue catalogue;
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t comma = value.find(u',', begin);
    if (comma == std::u16string::npos) comma = value.size();
    const std::u16string item = value.substr(begin, comma - begin);
    begin = comma + 1;
    if (item.empty()) continue;
    CatalogueItem* found = IsAll(item) ? &catalogue.Root() : catalogue.Find(item);
    if (!found) {
      ErrorLine("unknown format '" + platform::Utf16ToUtf8(item) +
                "'; give item texts or categories of 'kavo-cli formats', or all");
      return {};
    }
    catalogue.Tick(*found);
  }
  std::vector<std::u16string> chosen;
  for (const CatalogueRow& row : CatalogueRows()) {
    const CatalogueItem* item = catalogue.Find(row.itemText);
    if (item && item->State() != 0) chosen.emplace_back(row.itemText);
  }
  if (chosen.empty()) ErrorLine(kNoFormatSelected);
  return chosen;
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

int FormatsCommand(const ParsedArgs& args) {
  const bool json = args.Has("--json");
  std::u16string_view category;
  for (const CatalogueRow& row : CatalogueRows()) {
    if (json) {
      Out(JsonObject()
              .Add("category", row.category)
              .Add("item", row.itemText)
              .Add("icon", row.iconExtension)
              .Str() +
          "\n");
      continue;
    }
    if (row.category != category) {
      category = row.category;
      Out(platform::Utf16ToUtf8(category) + "\n");
    }
    std::string item = platform::Utf16ToUtf8(row.itemText);
    item.resize(std::max<size_t>(item.size(), 8), ' ');
    Out("  " + item + platform::Utf16ToUtf8(row.iconExtension) + "\n");
  }
  return kExitOk;
}

}  // namespace kavo::cli

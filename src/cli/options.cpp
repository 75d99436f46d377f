// The options that several commands read.
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/text.h"
#include "scanners/catalogue.h"

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

std::optional<uint64_t> SectorOption(const ParsedArgs& args, const std::string& option, bool& bad) {
  const auto value = args.Value(option);
  if (!value) return std::nullopt;
  const auto number = ParseUnsigned(*value);
  if (!number) {
    ErrorLine(option + " takes a sector number");
    bad = true;
  }
  return number;
}

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

std::optional<std::filesystem::path> LogOption(const ParsedArgs& args) {
  const auto log = args.Value("--log");
  if (!log) return std::nullopt;
  return std::filesystem::path(*log);
}

}  // namespace kavo::cli

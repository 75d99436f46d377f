#include <algorithm>

#include "cli/commands.h"
#include "cli/output.h"
#include "platform/text.h"
#include "scanners/catalogue.h"

namespace kavo::cli {

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

// The files the commands save and load: scan info (--save-scan) and partition lists (--save,
// --load).
#include <filesystem>

#include "cli/commands.h"
#include "cli/output.h"
#include "platform/text.h"
#include "recovery/partition_list.h"
#include "recovery/scan_info.h"

namespace kavo::cli {

bool SaveScanOption(const ParsedArgs& args, const CDisk& disk, const RecoveredNode* tree) {
  const auto file = args.Value("--save-scan");
  if (!file) return true;
  const ScanInfoHeader header = ScanInfoHeaderFor(kOpDeletedRecovery, &disk);
  StderrPrompter prompter;
  if (!SaveScanInfo(WithExtension(std::filesystem::path(*file), u".qsv"), header, tree, prompter)) {
    return false;
  }
  ErrorLine("Scan info saved successfully.");
  return true;
}

bool SavePartitionsOption(const ParsedArgs& args, uint32_t operation, const PartitionList& rows) {
  const auto file = args.Value("--save");
  if (!file) return true;
  StderrPrompter prompter;
  if (!SavePartitionList(WithExtension(std::filesystem::path(*file), u".psi"),
                         static_cast<uint8_t>(operation), rows, prompter)) {
    return false;
  }
  ErrorLine("Partition info saved successfully.");
  return true;
}

std::optional<PartitionList> LoadPartitionsFile(const std::u16string& file) {
  StderrPrompter prompter;
  auto loaded = LoadPartitionList(std::filesystem::path(file), std::nullopt, prompter);
  if (!loaded) {
    ErrorLine("cannot read the partition-list file " + platform::Utf16ToUtf8(file));
    return std::nullopt;
  }
  return std::move(loaded->rows);
}

}  // namespace kavo::cli

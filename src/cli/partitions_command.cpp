#include "base/progress.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"
#include "disk/volume.h"
#include "partition/partition_scan.h"
#include "platform/text.h"
#include "recovery/partition_list.h"
#include "recovery/scan_info.h"

namespace kavo::cli {

namespace {

const char* RowFileSystem(const PartitionRecord* record) {
  if (record == nullptr) return "";
  if (record->fileSystem == FS_UNRECOGNISED) return "Unknown";
  return FileSystemName(record->fileSystem);
}

// `text` filled with spaces to `width`; a longer text keeps two spaces before the next column.
std::string Pad(std::string text, size_t width) {
  text.append(text.size() + 2 <= width ? width - text.size() : 2, ' ');
  return text;
}

}  // namespace

void PrintPartitionRows(const PartitionList& rows, bool json) {
  std::string out;
  if (!json && !rows.empty()) {
    out += Pad("Label", 40) + Pad("File system", 13) + Pad("Start sector", 14) +
           Pad("Sectors", 14) + Pad("Size", 12) + "Notes\n";
  }
  for (const DriveListEntryPtr& row : rows) {
    const PartitionRecord* r = row->record.get();
    const uint64_t start = r != nullptr ? r->firstSector : 0;
    const uint8_t code = r != nullptr ? r->fileSystem : 0;
    const uint8_t duplicate = r != nullptr ? r->duplicate : 0;
    const std::string size = SizeText(row->bytesPerSector, row->sizeInSectors);
    if (json) {
      JsonObject o;
      o.Add("index", LabelNumber(row->secondText))
          .Add("label", row->secondText)
          .Add("fileSystem", RowFileSystem(r))
          .Add("code", unsigned{code})
          .Add("start", start)
          .Add("sectors", row->sizeInSectors)
          .Add("bytesPerSector", unsigned{row->bytesPerSector})
          .Add("size", size)
          .Add("duplicate", unsigned{duplicate});
      out += o.Str() + "\n";
      continue;
    }
    std::string notes;
    if ((duplicate & kFoundAgain) != 0) notes += "found again; ";
    if ((duplicate & kMftConfirmed) != 0) notes += "MFT copies match; ";
    if (notes.size() >= 2) notes.resize(notes.size() - 2);
    std::string line = Pad(platform::Utf16ToUtf8(row->secondText), 40) + Pad(RowFileSystem(r), 13) +
                       Pad(std::to_string(start), 14) +
                       Pad(std::to_string(row->sizeInSectors), 14) + Pad(size, 12) + notes;
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
  Out(out);
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

int PartitionsCommand(const ParsedArgs& args) {
  const auto load = args.Value("--load");
  if (load.has_value() == !args.positional.empty() || (load && args.Value("--save"))) {
    ErrorLine(
        "give a SOURCE or --load F.psi (and --save only with a SOURCE); usage: kavo-cli "
        "partitions SOURCE [--json] [--save F.psi] | --load F.psi [--json]");
    return kExitUsage;
  }
  if (load) {
    const std::optional<PartitionList> rows = LoadPartitionsFile(*load);
    if (!rows) return kExitFailed;
    PrintPartitionRows(*rows, args.Has("--json"));
    return kExitOk;
  }
  const std::unique_ptr<CDisk> disk = OpenSource(args.positional[0]);
  if (!disk) return kExitFailed;
  FoundVolumeList volumes;
  PartitionList rows;
  if (ReadPartitionTables(*disk, volumes)) {
    PublishFoundVolumes(volumes, disk->m_nSourceKind, disk->GetName(), rows);
  }
  if (rows.empty() && !args.Has("--json")) {
    ErrorLine(
        "no partition-table entry holds a FAT12, FAT16, FAT32, exFAT or NTFS volume; "
        "'kavo-cli search SOURCE --lost' looks for volumes sector by sector");
  }
  PrintPartitionRows(rows, args.Has("--json"));
  return SavePartitionsOption(args, kOpPartitionRecovery, rows) ? kExitOk : kExitFailed;
}

}  // namespace kavo::cli

// What several commands print: a result tree, rows of found volumes, and the notices of a drive
// enumeration.
#include "base/progress.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/tree_view.h"
#include "disk/volume.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

const char* RowFileSystem(const PartitionRecord* record) {
  if (record == nullptr) return "";
  if (record->fileSystem == FS_UNRECOGNISED) return "Unknown";
  return FileSystemName(record->fileSystem);
}

}  // namespace

void PrintTree(const RecoveredNode* root, bool json) {
  std::string chunk;
  WalkTree(root, [&](const RecoveredNode& node, const std::u16string& path) {
    chunk += json ? NodeJson(node, path) + "\n" : NodeLine(node, path);
    if (chunk.size() > (1 << 16)) {
      Out(chunk);
      chunk.clear();
    }
    return true;
  });
  Out(chunk);
}

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

void TellNotices(const platform::SystemNotices& notices) {
  StderrPrompter prompter;
  for (const platform::SystemNotice& n : notices) {
    prompter.Ask(n.text, n.caption, n.error ? PromptIcon::Error : PromptIcon::Information,
                 PromptButtons::Ok);
  }
}

}  // namespace kavo::cli

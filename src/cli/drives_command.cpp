// kavo-cli drives: the physical drives and the volumes, as the drive-listing page lists them for
// Partition Recovery (physical drives) and for Formatted and Deleted Recovery (logical drives).
#include <cstdio>

#include "cli/commands.h"
#include "cli/output.h"
#include "disk/volume.h"
#include "partition/drive_rows.h"
#include "platform/text.h"
#include "recovery/selected_volume.h"

namespace kavo::cli {

namespace {

// The columns of the drive-listing page: the item text, "File System", "Size" and "Start
// Sector"; and the SOURCE kavo-cli opens the row by.
struct ListedRow {
  std::string kind, text, fileSystem, size, startSector, selector;
};

ListedRow Listed(const DriveListEntry& row, uint32_t operation) {
  ListedRow l;
  const bool byName = row.kind == SourceKind::LogicalDrive || row.kind == SourceKind::ImageFile;
  l.kind = row.kind == SourceKind::PhysicalDrive ? "physical" : "logical";
  l.text = platform::Utf16ToUtf8(byName ? row.name : row.secondText);
  const PartitionRecord* r = row.record.get();
  l.fileSystem = r != nullptr ? FileSystemName(r->fileSystem) : "";
  const float gib = static_cast<float>(row.sizeInSectors) * static_cast<float>(row.bytesPerSector) /
                    1073741824.0f;
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB", double{gib});
  l.size = size;
  l.startSector = std::to_string(r != nullptr ? r->firstSector : 0);
  l.selector = platform::Utf16ToUtf8(SelectorForEntry(row, operation));
  return l;
}

}  // namespace

int DrivesCommand(const ParsedArgs& args) {
  const bool json = args.Has("--json");
  platform::SystemNotices notices;
  DriveList physical;
  EnumeratePhysicalRows(physical, notices);
  DriveList logical;
  EnumerateLogicalRows(logical, notices);
  TellNotices(notices);
  std::string out;
  const auto section = [&](const char* title, const DriveList& rows, uint32_t operation) {
    if (!json) {
      out += std::string(title) + "\n";
      if (rows.empty()) out += "  (none)\n";
      if (!rows.empty()) {
        out += "  " + Pad("Disk Name", 48) + Pad("File System", 13) + Pad("Size", 14) +
               Pad("Start Sector", 14) + "Source\n";
      }
    }
    for (const DriveListEntryPtr& row : rows) {
      const ListedRow l = Listed(*row, operation);
      if (json) {
        JsonObject o;
        o.Add("kind", l.kind)
            .Add("name", row->name)
            .Add("secondText", row->secondText)
            .Add("fileSystem", l.fileSystem)
            .Add("bytesPerSector", unsigned{row->bytesPerSector})
            .Add("sectors", row->sizeInSectors)
            .Add("size", l.size)
            .Add("startSector", row->record ? row->record->firstSector : uint64_t{0})
            .Add("source", l.selector);
        out += o.Str() + "\n";
        continue;
      }
      std::string line = "  " + Pad(l.text, 48) + Pad(l.fileSystem, 13) + Pad(l.size, 14) +
                         Pad(l.startSector, 14) + l.selector;
      out += line + "\n";
    }
  };
  section("Physical Drives (Partition Recovery)", physical, kOpPartitionRecovery);
  if (!json) out += "\n";
  section("Logical Drives (Formatted and Deleted Recovery)", logical, kOpDeletedRecovery);
  Out(out);
  return kExitOk;
}

}  // namespace kavo::cli

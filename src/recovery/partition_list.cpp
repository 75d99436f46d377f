#include "recovery/partition_list.h"

#include <array>
#include <cstring>

#include "platform/bytes.h"
#include "recovery/stored_file.h"

namespace kavo {

namespace {

// The 4-byte link fields of the stored rows: only zero or non-zero matters.
constexpr uint32_t kLinkPresent = 1;

bool WriteRow(StoredFileWriter& w, const DriveListEntry& row, bool more) {
  std::array<uint8_t, kDriveListEntryBytes> entry;
  SerializeDriveListEntry(row, entry);
  if (!w.Put(entry.data(), entry.size())) return false;
  if (row.record) {
    std::array<uint8_t, kPartitionRecordBytes> record;
    SerializePartitionRecord(*row.record, record);
    if (!w.Put(record.data(), record.size())) return false;
  }
  return w.Put32(more ? kLinkPresent : 0);
}

}  // namespace

bool SavePartitionList(const std::filesystem::path& path, uint8_t operation,
                       const PartitionList& rows, Prompter& prompter) {
  StoredFileWriter w(path);
  if (!w.Open()) {
    Tell(prompter, ErrorCodeText("Failed to save partition information. Errorcode =%u"), u"Error",
         PromptIcon::Error);
    return false;
  }
  std::vector<const DriveListEntry*> saved;
  for (const DriveListEntryPtr& row : rows) {
    if (row && row->kind == SourceKind::Partition) saved.push_back(row.get());
  }
  bool ok = w.Put(kPartitionListMagic, 8) && w.PutByte(operation);
  for (size_t i = 0; ok && i < saved.size(); ++i) {
    ok = WriteRow(w, *saved[i], i + 1 < saved.size());
  }
  // A write that failed (a full disk, a removed drive) leaves a file that lacks rows: the save
  // has failed, whatever the error code.
  ok = w.Close() && ok;
  if (!ok) Tell(prompter, u"Failed to save partition info", u"Warning", PromptIcon::Error);
  return ok;
}

std::optional<LoadedPartitionList> LoadPartitionList(const std::filesystem::path& path,
                                                     std::optional<uint8_t> currentOperation,
                                                     Prompter& prompter) {
  StoredFileReader r(path);
  if (!r.Open()) return std::nullopt;
  uint8_t magic[8];
  if (!r.Get(magic, 8) || std::memcmp(magic, kPartitionListMagic, 8) != 0) {
    Tell(prompter, u"Invalid partition info", u"Error", PromptIcon::Error);
    return std::nullopt;
  }
  LoadedPartitionList loaded;
  r.Get(&loaded.operation, 1);
  if (currentOperation && loaded.operation != *currentOperation) {
    if (loaded.operation == 1) {
      Tell(prompter,
           u"This is partition list of Partition Recovery option. Please choose Partition "
           u"Recovery operation and select Open Partition List.",
           u"Information", PromptIcon::Information);
    } else if (loaded.operation == 2) {
      Tell(prompter,
           u"This is partition list of Formatted Recovery option. Please choose Formatted "
           u"Recovery operation and select Open Partition List.",
           u"Information", PromptIcon::Information);
    }
    return std::nullopt;
  }
  // Every entry takes at least 1044 bytes of the file, so the loop ends with the file however
  // its links are set.
  std::array<uint8_t, kDriveListEntryBytes> entry;
  std::array<uint8_t, kPartitionRecordBytes> record;
  uint8_t next[4];
  while (r.Get(entry.data(), entry.size())) {
    bool hasRecord = false;
    auto row = std::make_unique<DriveListEntry>(ParseDriveListEntry(entry, hasRecord));
    if (hasRecord) {
      if (!r.Get(record.data(), record.size())) break;
      row->record = std::make_unique<PartitionRecord>(ParsePartitionRecord(record));
    }
    if (!r.Get(next, 4)) {
      // The last row of a file cut inside its link field is whole: keep it and stop.
      loaded.rows.push_back(std::move(row));
      break;
    }
    loaded.rows.push_back(std::move(row));
    if (LoadLe32(next) == 0) break;
  }
  return loaded;
}

}  // namespace kavo

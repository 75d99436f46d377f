// The partition-table reader over a small disk: the input is the start of a 4 MiB source (MBR,
// EBR chain, GPT header and array, LDM database); the rest reads as zeros. The records are
// published and serialised as the drive list would keep them.
#include <array>
#include <cstddef>
#include <cstdint>

#include "partition/drive_list_entry.h"
#include "partition/partition_scan.h"
#include "support/memory_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto disk = kavo::test::OpenBytes(data, size, 4u << 20, u"fuzz.img");
  if (disk == nullptr) return 0;
  kavo::FoundVolumeList volumes;
  kavo::ReadPartitionTables(*disk, volumes);
  kavo::PartitionList rows;
  kavo::PublishFoundVolumes(volumes, kavo::SourceKind::ImageFile, u"fuzz.img", rows);
  std::array<uint8_t, kavo::kDriveListEntryBytes> entry{};
  std::array<uint8_t, kavo::kPartitionRecordBytes> record{};
  for (const auto& row : rows) {
    kavo::SerializeDriveListEntry(*row, entry);
    kavo::SerializePartitionRecord(*row->record, record);
    bool hasRecord = false;
    kavo::ParseDriveListEntry(entry, hasRecord);
    kavo::ParsePartitionRecord(record);
  }
  return 0;
}

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"
#include "partition/partition_scan.h"

namespace kavo::cli {

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

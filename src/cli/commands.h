// The commands of kavo-cli; each takes its parsed arguments and returns the exit code.
#pragma once

#include <optional>

#include "base/operation_codes.h"
#include "cli/args.h"
#include "cli/cli.h"
#include "copy/disk_copy.h"
#include "disk/disk.h"
#include "partition/drive_list_entry.h"
#include "platform/drives.h"
#include "recovery/tree.h"

namespace kavo::cli {

int InfoCommand(const ParsedArgs& args);
int ListCommand(const ParsedArgs& args);
int CarveCommand(const ParsedArgs& args);
int RecoverCommand(const ParsedArgs& args);
int PartitionsCommand(const ParsedArgs& args);
int SearchCommand(const ParsedArgs& args);
int ImageCommand(const ParsedArgs& args);
int CloneCommand(const ParsedArgs& args);
int FormatsCommand(const ParsedArgs& args);
int DrivesCommand(const ParsedArgs& args);
int HealthCommand(const ParsedArgs& args);

// Shared steps of the commands, each group in the file named after it.
//
// options.cpp: options that several commands read.
//
// A sector-number option; sets `bad` (after printing why) when it is not a number.
std::optional<uint64_t> SectorOption(const ParsedArgs& args, const std::string& option, bool& bad);
// The format item texts a --formats value selects (item texts, category names or "all", separated
// by commas, in any case), in catalogue order. Empty, after printing why, when it names an unknown
// item or selects nothing.
std::vector<std::u16string> ChosenFormats(const std::u16string& value);
// The --log FILE option, when given.
std::optional<std::filesystem::path> LogOption(const ParsedArgs& args);

// scans.cpp: the jobs run on an opened source.
//
// Lists the selected volume of `disk` with a progress bar; `stopped` tells whether Ctrl-C ended it.
NodePtr ListVolume(std::unique_ptr<CDisk>& disk, bool& stopped);
// The raw signature scan of `disk` over [first, end) with the formats of a --formats value.
// Null (after printing why) when the value names an unknown format.
NodePtr CarveSource(std::unique_ptr<CDisk>& disk, const std::u16string& formats, uint64_t first,
                    uint64_t end, bool& stopped);
// Runs the lost-volume (`lost`) or formatted-volume search over the whole source with a progress
// bar; `rows` gets the volumes found, published. False when the source cannot be searched.
bool RunVolumeSearch(std::unique_ptr<CDisk>& disk, bool lost, PartitionList& rows, bool& stopped);
// The closing line of a job that Ctrl-C ended; returns its exit code.
int ReportStopped();

// listings.cpp: what the commands print.
//
// Prints the tree below `root` as JSON Lines or as the human listing.
void PrintTree(const RecoveredNode* root, bool json);
// Prints rows of found volumes in list order, as JSON Lines or as a table.
void PrintPartitionRows(const PartitionList& rows, bool json);
// Tells the failures of a drive enumeration on stderr, each with its caption.
void TellNotices(const platform::SystemNotices& notices);

// saved_files.cpp: scan-info and partition-list files.
//
// Saves a result tree of `disk` to the scan-info file named by --save-scan, when given. False
// (after the message) when the file could not be written.
bool SaveScanOption(const ParsedArgs& args, const CDisk& disk, const RecoveredNode* tree);
// Saves `rows` to the partition-list file named by --save, when given, under `operation`. False
// (after the message) when the file could not be written.
bool SavePartitionsOption(const ParsedArgs& args, uint32_t operation, const PartitionList& rows);
// The rows of a partition-list file; nothing (after the message) when it cannot be read.
std::optional<PartitionList> LoadPartitionsFile(const std::u16string& file);

// copy_run.cpp: imaging and cloning.
//
// Opens the source of a copy for reading (an image file or a device); on failure prints
// `failure` with the reason.
bool OpenCopySource(CDiskCopy& source, const std::u16string& selector,
                    const std::u16string& failure);
// Runs a prepared copy with a progress bar and Ctrl-C as the stop request, prints the counts and
// the closing line; returns the exit code.
int RunCopy(CDiskCopy& source, CDiskCopy& destination, uint32_t operation, bool forward,
            const char* label, bool jsonProgress);

}  // namespace kavo::cli

// The commands of kavo-cli; each takes its parsed arguments and returns the exit code.
#pragma once

#include <optional>

#include "cli/args.h"
#include "cli/cli.h"
#include "disk/disk.h"
#include "recovery/tree.h"

namespace kavo::cli {

int InfoCommand(const ParsedArgs& args);
int ListCommand(const ParsedArgs& args);
int CarveCommand(const ParsedArgs& args);
int RecoverCommand(const ParsedArgs& args);

// Shared steps of the commands.
//
// A sector-number option; sets `bad` (after printing why) when it is not a number.
std::optional<uint64_t> SectorOption(const ParsedArgs& args, const std::string& option, bool& bad);
// Lists the selected volume of `disk` with a progress bar; `stopped` tells whether Ctrl-C ended it.
NodePtr ListVolume(CDisk& disk, bool& stopped);
// The raw signature scan of `disk` over [first, end) with the formats of a --formats value.
// Null (after printing why) when the value names an unknown format.
NodePtr CarveSource(CDisk& disk, const std::u16string& formats, uint64_t first, uint64_t end,
                    bool& stopped);
// Prints the tree below `root` as JSON Lines or as the human listing.
void PrintTree(const RecoveredNode* root, bool json);
// The closing line of a job that Ctrl-C ended; returns its exit code.
int ReportStopped();

}  // namespace kavo::cli

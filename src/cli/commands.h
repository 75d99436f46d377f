// The commands of kavo-cli; each takes its parsed arguments and returns the exit code.
#pragma once

#include "cli/args.h"
#include "cli/cli.h"

namespace kavo::cli {

int InfoCommand(const ParsedArgs& args);

}  // namespace kavo::cli

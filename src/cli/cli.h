// kavo-cli: every operation of the program from a command line.
#pragma once

#include <string>
#include <vector>

namespace kavo::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation failed (source unreadable, ...)
inline constexpr int kExitUsage = 2;   // unknown command or bad arguments

int Run(const std::vector<std::u16string>& args);

}  // namespace kavo::cli

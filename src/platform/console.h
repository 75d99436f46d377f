// The console side of kavo-cli: arguments as UTF-16, UTF-8 output, terminal detection and the
// interrupt key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavo::platform {

// The program's arguments without the program name. On Windows they are taken from the wide
// command line so that non-ASCII paths survive.
std::vector<std::u16string> CommandLineArguments(int argc, char** argv);

enum class Stream { Out, Err };

// Writes UTF-8 text unchanged (a console on Windows is switched to UTF-8 first).
void Write(Stream stream, std::string_view utf8);

bool IsTerminal(Stream stream);

// Calls `onInterrupt` (from a signal or console-control context: it must only store to atomics)
// when the user presses Ctrl-C. A second Ctrl-C ends the program the ordinary way.
void OnInterrupt(void (*onInterrupt)());

}  // namespace kavo::platform

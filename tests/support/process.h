// Runs a program and collects its exit code and output, for tests of the command-line tools.
#pragma once

#include <string>
#include <vector>

namespace kavo::test {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` (UTF-8), standard input empty, and waits for it.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

// Runs a shell command line (POSIX only); returns its exit code.
int RunShell(const std::string& commandLine);

// True when `tool` is found on PATH (POSIX only).
bool HaveTool(const std::string& tool);

}  // namespace kavo::test

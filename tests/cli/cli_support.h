// Running kavo-cli from the tests of its commands.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

namespace kavo::test {

// Line ends are the system's own (CR LF from Windows programs); the tests see "\n" only.
inline std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

inline ProcessResult Cli(const std::vector<std::string>& args) {
  ProcessResult r = RunProcess(KAVO_CLI_PATH, args);
  r.out = WithoutCarriageReturns(std::move(r.out));
  r.err = WithoutCarriageReturns(std::move(r.err));
  return r;
}

// The lines of a command's output, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    lines.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return lines;
}

}  // namespace kavo::test

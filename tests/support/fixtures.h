// The disk images that tools/make-fixtures.sh makes with the real tools, shared by the Linux and
// the Windows test runs.
#pragma once

#include <filesystem>
#include <string>

namespace kavo::test {

// The fixture folder: $KAVO_FIXTURES when set (a Linux path is mapped to wine's Z: drive on
// Windows), else, on Linux, a folder made once per test program by the script. Empty when neither
// is possible; `why` then says what is missing.
std::filesystem::path FixturesDir(std::string& why);

// Reads a whole file.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace kavo::test

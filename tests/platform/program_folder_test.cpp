#include "platform/program_folder.h"

#include <gtest/gtest.h>

namespace kavo::platform {
namespace {

// The test program itself is found by appending its file name to the folder's text.
TEST(ProgramFolder, HoldsTheRunningProgram) {
#ifdef _WIN32
  const std::wstring self = L"platform_tests.exe";
#else
  const std::wstring self = L"platform_tests";
#endif
  const std::filesystem::path folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_FALSE(folder.has_filename()) << folder;  // ends in its separator
  EXPECT_TRUE(std::filesystem::is_regular_file(folder.wstring() + self)) << folder;
}

}  // namespace
}  // namespace kavo::platform

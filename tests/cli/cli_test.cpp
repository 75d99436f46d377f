// kavo-cli as a user runs it: exit codes, the first line of errors, the output formats.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/cli_support.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::Cli;
using test::Lines;

using test::RunProcess;

TEST(CliUsage, HelpVersionAndBadCommandLines) {
  const auto version = Cli({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("kavo-cli ", 0), 0u);

  const auto help = Cli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("info SOURCE"), std::string::npos);

  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"frobnicate"},
                                                                {"info"},
                                                                {"info", "a.img", "b.img"},
                                                                {"info", "--bogus", "a.img"}}) {
    const auto r = Cli(args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(r.err.rfind("kavo-cli: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(CliInfo, DescribesAnImageFile) {
  test::ScratchDir dir;
  const auto image = dir / "sample.img";
  test::WritePatternFile(image, 64 * 1024 * 1024);

  const auto human = Cli({"info", image.string()});
  ASSERT_EQ(human.exitCode, 0) << human.err;
  EXPECT_NE(human.out.find("Image file"), std::string::npos) << human.out;
  EXPECT_NE(human.out.find("Sector size:    512 bytes"), std::string::npos) << human.out;
  EXPECT_NE(human.out.find("Total sectors:  131072"), std::string::npos) << human.out;
  EXPECT_NE(human.out.find("64.00 MB"), std::string::npos) << human.out;

  const auto json = Cli({"info", "--json", image.string()});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_NE(json.out.find("\"sourceKind\":4,\"deviceType\":3,\"bytesPerSector\":512,"
                          "\"sectors\":131072,\"bytes\":67108864,\"size\":\"64.00 MB\"}"),
            std::string::npos)
      << json.out;
}

TEST(CliInfo, ReportsSourcesThatCannotBeOpened) {
  test::ScratchDir dir;
  // Any existing file is an image, but one that starts as a container of an unknown version
  // is refused rather than read as raw sectors.
  const auto odd = dir / "cd.iso";
  test::WritePatternFile(odd, 4096);
  std::fstream(odd, std::ios::binary | std::ios::in | std::ios::out).write("QFI\xfb\0\0\0\x09", 8);
  for (const std::string& source :
       {(dir / "missing.img").string(), odd.string(), std::string("!x"), dir.path().string()}) {
    const auto r = Cli({"info", source});
    EXPECT_EQ(r.exitCode, 1) << source;
    EXPECT_EQ(r.err.rfind("kavo-cli: Failed to open disk.", 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), std::string("kavo-cli: Failed to open disk.\n").size())
        << "the reason follows: " << r.err;
  }
}

}  // namespace
}  // namespace kavo

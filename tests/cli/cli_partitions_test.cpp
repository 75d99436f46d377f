// kavo-cli partitions, search and list --partition on disks made by sfdisk and the formatters.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "partition/real_disks.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::Cli;
using test::Lines;

TEST(CliPartitions, NeedsOneSearchKind) {
  test::ScratchDir dir;
  const auto image = dir / "blank.img";
  test::WritePatternFile(image, 1 << 20);
  EXPECT_EQ(Cli({"search", image.string()}).exitCode, 2);
  EXPECT_EQ(Cli({"search", image.string(), "--lost", "--formatted"}).exitCode, 2);
  const auto none = Cli({"partitions", image.string(), "--json"});
  EXPECT_EQ(none.exitCode, 0) << none.err;
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(Cli({"list", image.string(), "--partition", "1"}).exitCode, 1);
}

#ifndef _WIN32
TEST(CliPartitions, TablesSearchAndPartitionRows) {
  test::ScratchDir dir;
  const auto image = dir / "disk.img";
  if (auto why = test::MakeMbrDisk(image); !why.empty()) GTEST_SKIP() << why;
  const std::string path = image.string();

  const auto tables = Cli({"partitions", path, "--json"});
  ASSERT_EQ(tables.exitCode, 0) << tables.err;
  const auto rows = Lines(tables.out);
  ASSERT_EQ(rows.size(), 3u) << tables.out;
  EXPECT_EQ(rows[2], "{\"index\":1,\"label\":\"NTFS - 1, " + path +
                         "\",\"fileSystem\":\"NTFS\",\"code\":3,\"start\":2048,\"sectors\":614400,"
                         "\"bytesPerSector\":512,\"size\":\"300.00 MB\",\"duplicate\":0}");
  EXPECT_NE(rows[0].find("\"index\":3,\"label\":\"FAT32 - 3, "), std::string::npos);
  EXPECT_NE(rows[0].find("\"start\":1234944"), std::string::npos);
  EXPECT_NE(rows[1].find("\"start\":618496"), std::string::npos);

  const auto human = Cli({"partitions", path});
  ASSERT_EQ(human.exitCode, 0);
  EXPECT_NE(human.out.find("FAT32 - 2, "), std::string::npos);

  // list --partition N reads the volume of row N.
  ASSERT_EQ(test::RunShell("MTOOLS_SKIP_CHECK=1 mmd -i '" + path + "@@" +
                           std::to_string(test::kMbrFirstLogical * 512) + "' ::kept"),
            0);
  const auto listed = Cli({"list", path, "--partition", "2", "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_NE(listed.out.find("\"Data/kept\""), std::string::npos) << listed.out;

  // Without its partition table the search finds the three volumes again.
  ASSERT_TRUE(test::WipeSectors(image, 0));
  const auto lost = Cli({"search", path, "--lost", "--json"});
  ASSERT_EQ(lost.exitCode, 0) << lost.err;
  const auto found = Lines(lost.out);
  ASSERT_EQ(found.size(), 3u) << lost.out;
  EXPECT_NE(found[1].find("\"index\":2,\"label\":\"FAT32 - 2, "), std::string::npos) << found[1];
  EXPECT_NE(lost.out.find("\"fileSystem\":\"NTFS\",\"code\":3,\"start\":2048,\"sectors\":614399"),
            std::string::npos);
  EXPECT_NE(lost.out.find("\"duplicate\":10"), std::string::npos);
  const auto fromSearch = Cli({"list", path, "--partition", "2", "--lost", "--json"});
  ASSERT_EQ(fromSearch.exitCode, 0) << fromSearch.err;
  EXPECT_NE(fromSearch.out.find("\"Data/kept\""), std::string::npos);

  // The rows of the search kept in a partition-list file: shown again and opened without
  // searching again.
  const auto saved = Cli({"search", path, "--lost", "--json", "--save", (dir / "found").string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_NE(saved.err.find("Partition info saved successfully."), std::string::npos);
  const auto shown = Cli({"partitions", "--load", (dir / "found.psi").string(), "--json"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(shown.out, saved.out);
  const auto fromFile =
      Cli({"list", path, "--partition", "2", "--load", (dir / "found.psi").string(), "--json"});
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  EXPECT_NE(fromFile.out.find("\"Data/kept\""), std::string::npos);
  const auto wrong = Cli({"partitions", "--load", path});
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_NE(wrong.err.find("Invalid partition info"), std::string::npos) << wrong.err;
}
#endif

}  // namespace
}  // namespace kavo

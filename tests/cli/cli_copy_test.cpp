// kavo-cli image and clone: the checks and their texts, exit codes, and copies of image files
// and (on Linux) of loop devices holding volumes made by the real formatters.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/cli_support.h"
#include "support/fixtures.h"
#include "support/process.h"
#include "support/test_paths.h"
#ifndef _WIN32
#include "copy/faulty_media.h"
#include "copy/loop_device.h"
#endif

namespace kavo {
namespace {

using test::Cli;
using test::Lines;

namespace fs = std::filesystem;

std::string Bytes(const fs::path& p, uint64_t offset, uint64_t count) {
  std::ifstream in(p, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string out(count, '\0');
  in.read(out.data(), static_cast<std::streamsize>(count));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

void Zeros(const fs::path& p, uint64_t bytes) {
  std::ofstream out(p, std::ios::binary);
  out.seekp(static_cast<std::streamoff>(bytes - 1));
  out.put('\0');
}

class CliCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WritePatternFile(src, 3 << 20);
    Zeros(big, 4 << 20);
  }
  std::string S(const fs::path& p) const { return p.string(); }
  test::ScratchDir dir;
  fs::path src = dir / "source.img";
  fs::path big = dir / "big.img";
  fs::path log = dir / "copy.log";
};

TEST_F(CliCopy, ImagesAnImageFileByteForByte) {
  const auto r = Cli({"image", S(src), S(dir / "copy.img"), "--log", S(log)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Operation completed successfully.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("6144 Sector(s) copied."), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadFile(dir / "copy.img"), test::ReadFile(src));
  const std::string text = test::ReadFile(log);
  EXPECT_NE(text.find(" --------> "), std::string::npos);
  EXPECT_NE(text.find("Operation successfully completed.\r\n6144 Sector(s) copied.\r\n"
                      "0 Bad Sector(s) encountered.\r\n"),
            std::string::npos)
      << text;

  // A name without ".img" gets it; the image lands next to it.
  const auto named = Cli({"image", S(src), S(dir / "backup.IMG"), "--log", S(log)});
  ASSERT_EQ(named.exitCode, 0) << named.err;
  EXPECT_TRUE(fs::exists(dir / "backup.IMG.img"));
}

TEST_F(CliCopy, ClonesARangeToItsDestinationStart) {
  const auto r = Cli({"clone", S(src), S(big), "--source-start", "100", "--dest-start", "1000",
                      "--count", "500", "--yes", "--log", S(log)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Bytes(big, 1000 * 512, 500 * 512), Bytes(src, 100 * 512, 500 * 512));
  EXPECT_EQ(Bytes(big, 999 * 512, 512), std::string(512, '\0'));
  EXPECT_EQ(Bytes(big, 1500 * 512, 512), std::string(512, '\0'));
  EXPECT_NE(test::ReadFile(log).find("Start Sector  :  100\r\nEnd Sector :  599\r\n"),
            std::string::npos);

  // A reverse clone covers the whole source and ends without the full stop.
  const auto reverse = Cli({"clone", S(src), S(big), "--reverse", "--yes", "--log", S(log)});
  ASSERT_EQ(reverse.exitCode, 0) << reverse.err;
  EXPECT_NE(reverse.out.find("Operation completed successfully\n"), std::string::npos);
  EXPECT_EQ(Bytes(big, 0, 3 << 20), test::ReadFile(src));
}

TEST_F(CliCopy, RefusesBadRangesWithTheSetupMessages) {
  const auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"clone", S(src), S(big), "--yes", "--log", S(log)};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  };
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--source-start", "6145", "--dest-start", "0", "--count", "1"},
       "Please enter valid sector number."},
      {{"--source-start", "x1", "--dest-start", "0", "--count", "1"},
       "Please enter valid sector number."},
      {{"--source-start", "0", "--dest-start", "8193", "--count", "1"},
       "Please enter valid destination number."},
      {{"--source-start", "6000", "--dest-start", "0", "--count", "6144"},
       "Please enter valid number of sectors to be copied."},
      {{"--source-start", "0", "--dest-start", "0", "--count", "0"},
       "Please enter valid number of sectors to be copied."},
      {{"--dest-start", "0", "--count", "5"},
       "Please enter the value for starting sector no. of source drive."},
      {{"--source-start", "0", "--count", "5"},
       "Please enter the value for destination sector no. of destination drive."},
      {{"--source-start", "0", "--dest-start", "0"}, "Please enter the no. of sectors to copy."},
      {{"--source-start", "0", "--dest-start", "8000", "--count", "500"},
       "Insufficient space. Please choose other destination."},
  };
  for (const auto& c : cases) {
    const auto r = run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(test::ReadFile(big), std::string(4 << 20, '\0'));
}

TEST_F(CliCopy, RefusesSameSourceAndDestinationAndTooSmallDestinations) {
  const char* same = "Source and destination drive can not be same.";
  auto r = Cli({"clone", S(src), S(src), "--yes"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(same), std::string::npos) << r.err;
  // The same file under another spelling.
  r = Cli({"clone", S(src), S(dir.path() / "." / "source.img"), "--yes"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(same), std::string::npos) << r.err;
  r = Cli({"image", S(src), S(src)});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(same), std::string::npos) << r.err;
  EXPECT_EQ(fs::file_size(src), 3u << 20);

  // A destination smaller than the source, even for a range that would fit.
  Zeros(dir / "small.img", 1 << 20);
  r = Cli({"clone", S(src), S(dir / "small.img"), "--yes", "--source-start", "0", "--dest-start",
           "0", "--count", "10"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Insufficient space. Please choose other destination."), std::string::npos)
      << r.err;
}

TEST_F(CliCopy, OptionsAndConfirmation) {
  // No terminal to ask and no --yes: the drive is left alone.
  auto r = Cli({"clone", S(src), S(big), "--log", S(log)});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(big), std::string(4 << 20, '\0'));

  EXPECT_EQ(Cli({"clone", S(src), S(big), "--yes", "--retries", "4"}).exitCode, 2);
  EXPECT_EQ(Cli({"clone", S(src), S(big), "--yes", "--reverse", "--count", "5"}).exitCode, 2);
  EXPECT_EQ(Cli({"image", S(src), S(dir / "x.img"), "--retries", "many"}).exitCode, 2);
  EXPECT_EQ(Cli({"image", S(src)}).exitCode, 2);

  r = Cli({"image", S(dir / "missing.img"), S(dir / "x.img")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Failed to open disk."), std::string::npos) << r.err;
  r = Cli({"clone", S(dir / "missing.img"), S(big), "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Failed to open source disk."), std::string::npos) << r.err;
  r = Cli({"clone", S(src), S(dir / "nothing.img"), "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Failed to open destination disk."), std::string::npos) << r.err;
}

#ifndef _WIN32
TEST(CliCopyDevices, ImagesAndClonesLoopDevicesHoldingAVolume) {
  test::ScratchDir dir;
  if (!test::MakeFatVolume(dir / "fat.img", 20, dir.path())) {
    GTEST_SKIP() << "mkfs.fat or mcopy is missing or failed";
  }
  Zeros(dir / "blank.img", 24 << 20);
  std::string why;
  test::LoopDevice from(dir / "fat.img", dir.path(), why);
  if (from.path().empty()) GTEST_SKIP() << why;
  test::LoopDevice to(dir / "blank.img", dir.path(), why);
  ASSERT_FALSE(to.path().empty()) << why;
  const fs::path log = dir / "copy.log";

  auto r = Cli({"image", from.path(), (dir / "disk.img").string(), "--log", log.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(
      test::ShellLine("sha256sum " + from.path() + " | cut -c1-64", dir.path()),
      test::ShellLine("sha256sum " + test::Quoted(dir / "disk.img") + " | cut -c1-64", dir.path()));

  r = Cli({"clone", from.path(), to.path(), "--yes", "--log", log.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto listed = Cli({"list", from.path(), "--json"});
  const auto cloned = Cli({"list", to.path(), "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_NE(listed.out.find("numbers.dat"), std::string::npos);
  EXPECT_EQ(cloned.out, listed.out);

  // The image of a device may not go onto that device.
  r = Cli({"clone", from.path(), from.path(), "--yes"});
  EXPECT_EQ(r.exitCode, 2);
  r = Cli({"clone", (dir / "disk.img").string(), to.path(), "--source-start", "0", "--dest-start",
           "0", "--count", "1"});
  EXPECT_EQ(r.exitCode, 2);  // no --yes, no terminal
}

// The "pos size status" lines of a map, without its comments and position line.
std::string MapBlocks(const fs::path& map) {
  std::ifstream in(map);
  std::string line, blocks;
  bool position = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (!position) blocks += line + "\n";
    position = false;
  }
  return blocks;
}

TEST(CliCopyDevices, KilledImagingGoesOnToTheResultOfOneRun) {
  test::ScratchDir dir;
  test::WritePatternFile(dir / "base.img", 8 << 20);
  std::string why;
  // Slow enough that the map is written (every few seconds) well before the end.
  test::FaultyMedia media(dir / "base.img", "--bad 1000-1007 --bad 9000-9063 --slow 0-16383:3",
                          dir.path(), why);
  if (media.device().empty()) GTEST_SKIP() << why;
  const std::string one = (dir / "one.img").string();
  const std::string two = (dir / "two.img").string();
  auto r = Cli({"image", media.device(), one, "--retries", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  const std::string cli = KAVO_CLI_PATH;
  const std::string killed =
      test::ShellLine(cli + " image " + media.device() + " " + two +
                          " --retries 1 >/dev/null 2>&1 & p=$!; i=0; while [ ! -f " + two +
                          ".map ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; "
                          "kill -9 $p; wait $p; echo $?",
                      dir.path());
  ASSERT_EQ(killed, "137") << "the copy ended before it could be killed";
  const std::string partial = MapBlocks(two + ".map");
  EXPECT_NE(partial.find("  +"), std::string::npos) << partial;
  EXPECT_NE(partial.find("  ?"), std::string::npos) << partial;

  r = Cli({"image", media.device(), two, "--retries", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Continuing from"), std::string::npos) << r.err;
  EXPECT_EQ(test::RunShell("cmp " + test::Quoted(one) + " " + test::Quoted(two)), 0);
  EXPECT_EQ(MapBlocks(two + ".map"), MapBlocks(one + ".map"));

  // --restart starts over; a map of another source is refused.
  Zeros(dir / "other.img", 1 << 20);
  r = Cli({"image", (dir / "other.img").string(), two});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("does not fit this source"), std::string::npos) << r.err;
  r = Cli({"image", (dir / "other.img").string(), two, "--restart"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(CliCopyDevices, MapsCarryOverToAndFromDdrescue) {
  if (!test::HaveTool("ddrescue")) GTEST_SKIP() << "ddrescue is not installed";
  test::ScratchDir dir;
  test::WritePatternFile(dir / "base.img", 8 << 20);
  std::string why;
  test::FaultyMedia media(dir / "base.img", "--bad 1000-1007", dir.path(), why);
  if (media.device().empty()) GTEST_SKIP() << why;
  const std::string base = test::Quoted(dir / "base.img");
  // A stamp in an area the map marks finished shows that the other program left it alone.
  const auto stamp = [&](const fs::path& image) {
    return test::RunShell("printf STAMP | dd of=" + test::Quoted(image) +
                          " bs=1 seek=4096 conv=notrunc 2>/dev/null");
  };
  const auto stamped = [&](const fs::path& image) {
    return Bytes(image, 4096, 5) == "STAMP" &&
           test::RunShell("cmp -s -i 4101 " + base + " " + test::Quoted(image)) == 0;
  };

  // ddrescue's copy pass alone leaves the failing block untrimmed; kavo-cli goes on from its map,
  // here from the intact source.
  const fs::path a = dir / "a.img";
  ASSERT_EQ(test::RunShell("ddrescue -n -N " + media.device() + " " + test::Quoted(a) + " " +
                           test::Quoted(dir / "a.map") + " >/dev/null 2>&1"),
            0);
  ASSERT_NE(MapBlocks(dir / "a.map").find("  *"), std::string::npos) << MapBlocks(dir / "a.map");
  ASSERT_EQ(stamp(a), 0);
  auto r =
      Cli({"image", (dir / "base.img").string(), a.string(), "--map", (dir / "a.map").string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(stamped(a));
  EXPECT_EQ(MapBlocks(dir / "a.map"), "0x00000000  0x00800000  +\n");

  // kavo-cli's map of the failing device, finished by ddrescue from the intact source.
  const fs::path k = dir / "k.img";
  r = Cli({"image", media.device(), k.string(), "--retries", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(stamp(k), 0);
  ASSERT_EQ(test::RunShell("ddrescue -r1 " + base + " " + test::Quoted(k) + " " +
                           test::Quoted(dir / "k.img.map") + " >/dev/null 2>&1"),
            0);
  EXPECT_TRUE(stamped(k));
  EXPECT_EQ(
      test::RunShell("grep -q '^0x00000000  *0x00800000  *+' " + test::Quoted(dir / "k.img.map")),
      0);
}

TEST(CliCopyDevices, FilesOfAPartialImageTouchingUnreadSectorsAreReportedPartial) {
  test::ScratchDir dir;
  if (!test::MakeFatVolume(dir / "fat.img", 20, dir.path())) {
    GTEST_SKIP() << "mkfs.fat or mcopy is missing or failed";
  }
  const std::string volume = Bytes(dir / "fat.img", 0, 20 << 20);
  const size_t data = volume.find("0,1,2,3,4,5,6,");
  ASSERT_NE(data, std::string::npos);
  // One 4 KiB page well inside numbers.dat fails.
  const uint64_t bad = (data / 4096 + 8) * 8;
  std::string why;
  test::FaultyMedia media(dir / "fat.img",
                          "--bad " + std::to_string(bad) + "-" + std::to_string(bad + 7),
                          dir.path(), why);
  if (media.device().empty()) GTEST_SKIP() << why;
  const fs::path image = dir / "part.img";
  auto r = Cli({"image", media.device(), image.string(), "--retries", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  r = Cli({"recover", image.string(), "--out", (dir / "out").string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("partial: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("numbers.dat"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("readme.txt"), std::string::npos) << r.err;
  // Without its map the same image reads whole, fillers and all.
  fs::remove(dir / "part.img.map");
  r = Cli({"recover", image.string(), "--out", (dir / "again").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}
#endif

}  // namespace
}  // namespace kavo

// list, carve and recover on images made by the real tools: what a user sees and gets back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <map>

#include "cli/cli_support.h"
#include "copy/loop_device.h"
#include "support/fixtures.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::Cli;
using test::Lines;

namespace fs = std::filesystem;

// The JSON Lines of a listing, by path: the whole line, for field checks with find().
std::map<std::string, std::string> LinesByPath(const std::string& out) {
  std::map<std::string, std::string> lines;
  size_t begin = 0;
  while (begin < out.size()) {
    size_t end = out.find('\n', begin);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(begin, end - begin);
    begin = end + 1;
    const size_t p = line.find("{\"path\":\"");
    if (p != 0) continue;
    const size_t close = line.find('"', 9);
    lines[line.substr(9, close - 9)] = line;
  }
  return lines;
}

class CliOnImages : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    m_fixtures = test::FixturesDir(why);
    if (m_fixtures.empty()) GTEST_SKIP() << why;
  }
  std::string Fixture(const std::string& name) const { return (m_fixtures / name).string(); }
  fs::path m_fixtures;
};

TEST_F(CliOnImages, ListsAFat32VolumeOnAWholeDisk) {
  const auto noStart = Cli({"list", Fixture("fat32.img")});
  EXPECT_EQ(noStart.exitCode, 1);
  EXPECT_NE(noStart.err.find("--start"), std::string::npos) << noStart.err;

  const auto r = Cli({"list", Fixture("fat32.img"), "--start", "2048", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = LinesByPath(r.out);
  ASSERT_TRUE(lines.count("Data")) << r.out;
  ASSERT_TRUE(lines.count("Data/Lost+Found"));
  const std::string report1 = lines.at("Data/Documents/report1.txt");
  const auto size1 = fs::file_size(m_fixtures / "fat32-files/Documents/report1.txt");
  EXPECT_NE(report1.find("\"present\":true,\"size\":" + std::to_string(size1) + ","),
            std::string::npos)
      << report1;
  EXPECT_TRUE(lines.count("Data/Documents/Meeting notes, December.txt"));
  EXPECT_TRUE(lines.count("Data/Photos/2024/holiday.raw"));
  // A deleted short name has lost its first letter on the disk: it comes back with an X.
  ASSERT_TRUE(lines.count("Data/Documents/Xeport3.txt")) << r.out;
  EXPECT_NE(lines.at("Data/Documents/Xeport3.txt").find("\"present\":false"), std::string::npos);
  EXPECT_FALSE(lines.count("Data/Documents/report3.txt"));

  const auto human = Cli({"list", Fixture("fat32.img"), "--start", "2048"});
  ASSERT_EQ(human.exitCode, 0) << human.err;
  EXPECT_NE(human.out.find("Xeport7.txt"), std::string::npos);
  EXPECT_NE(human.out.find("[deleted]"), std::string::npos);
}

TEST_F(CliOnImages, RecoversFilesByteForByte) {
  test::ScratchDir out;
  const auto r =
      Cli({"recover", Fixture("fat32.img"), "--start", "2048", "--out", out.path().string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(" errors"), std::string::npos);
  EXPECT_NE(r.out.find("0 errors"), std::string::npos) << r.out;
  for (const auto& entry : fs::recursive_directory_iterator(m_fixtures / "fat32-files")) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), m_fixtures / "fat32-files");
    const std::string name = relative.filename().string();
    if (name == "report3.txt" || name == "report7.txt") {
      relative.replace_filename("X" + name.substr(1));  // deleted before the image was taken
    }
    const fs::path recovered = out.path() / "Data" / relative;
    ASSERT_TRUE(fs::exists(recovered)) << recovered;
    EXPECT_EQ(test::ReadFile(recovered), test::ReadFile(entry.path())) << relative;
  }

  test::ScratchDir some;
  const auto matched =
      Cli({"recover", Fixture("fat32.img"), "--start", "2048", "--out", some.path().string(),
           "--match", "report1?.TXT", "--match", "Photos/**"});
  ASSERT_EQ(matched.exitCode, 0) << matched.err;
  EXPECT_TRUE(fs::exists(some / "Data/Documents/report12.txt"));
  EXPECT_FALSE(fs::exists(some / "Data/Documents/report1.txt"));
  EXPECT_FALSE(fs::exists(some / "Data/Documents/report2.txt"));
  EXPECT_TRUE(fs::exists(some / "Data/Photos/2024/holiday.raw"));
  EXPECT_FALSE(fs::exists(some / "Data/Lost+Found")) << "folders without a selected file stay out";

  test::ScratchDir deleted;
  const auto onlyDeleted = Cli({"recover", Fixture("fat32.img"), "--start", "2048", "--out",
                                deleted.path().string(), "--deleted-only"});
  ASSERT_EQ(onlyDeleted.exitCode, 0) << onlyDeleted.err;
  EXPECT_EQ(test::ReadFile(deleted / "Data/Documents/Xeport3.txt"),
            test::ReadFile(m_fixtures / "fat32-files/Documents/report3.txt"));
  EXPECT_FALSE(fs::exists(deleted / "Data/Documents/report1.txt"));
  EXPECT_EQ(onlyDeleted.out.rfind("2 files, ", 0), 0u) << onlyDeleted.out;
}

TEST_F(CliOnImages, CarvesPicturesAtTheirSectors) {
  const auto bad = Cli({"carve", Fixture("pictures.img"), "--formats", "JPG,GIFX"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("GIFX"), std::string::npos);

  const auto r = Cli({"carve", Fixture("pictures.img"), "--formats", "all", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = LinesByPath(r.out);
  std::vector<std::string> files;
  for (const auto& [path, line] : lines) {
    if (line.find("\"folder\":false") != std::string::npos) files.push_back(line);
  }
  std::vector<fs::path> pictures;
  for (const auto& e : fs::directory_iterator(m_fixtures / "pictures"))
    pictures.push_back(e.path());
  EXPECT_EQ(files.size(), pictures.size()) << r.out;
  for (const fs::path& picture : pictures) {
    const std::string at = "\"location\":" + picture.stem().string() + ",";
    EXPECT_TRUE(std::any_of(files.begin(), files.end(),
                            [&](const std::string& l) { return l.find(at) != std::string::npos; }))
        << picture << " not found at its sector";
  }

  test::ScratchDir out;
  const auto saved =
      Cli({"recover", Fixture("pictures.img"), "--formats", "all", "--out", out.path().string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  size_t written = 0;
  for (const auto& e : fs::recursive_directory_iterator(out.path() / "FileType")) {
    if (!e.is_regular_file()) continue;
    ++written;
    // Each carved file starts with one of the pictures, whole.
    const std::string bytes = test::ReadFile(e.path());
    EXPECT_TRUE(std::any_of(pictures.begin(), pictures.end(), [&](const fs::path& p) {
      const std::string original = test::ReadFile(p);
      return bytes.compare(0, original.size(), original) == 0;
    })) << e.path();
  }
  EXPECT_EQ(written, pictures.size());
}

TEST_F(CliOnImages, ListsAndRecoversAnNtfsVolume) {
  if (!fs::exists(m_fixtures / "ntfs.img")) {
    GTEST_SKIP() << "no NTFS image: making one needs root, ntfs-3g (FUSE) and loop devices";
  }
  const auto r = Cli({"list", Fixture("ntfs.img"), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = LinesByPath(r.out);
  EXPECT_TRUE(lines.count("Data/Projects/2024/data.bin")) << r.out;
  EXPECT_TRUE(lines.count("Data/Unicode \xc3\xa9t\xc3\xa9/r\xc3\xa9sum\xc3\xa9.txt")) << r.out;
  EXPECT_FALSE(lines.count("Data/$MFT")) << "system records are not listed";
  ASSERT_TRUE(lines.count("Data/Projects/2024/old-report.bin"));
  EXPECT_NE(lines.at("Data/Projects/2024/old-report.bin").find("\"present\":false,\"size\":123456"),
            std::string::npos);

  test::ScratchDir out;
  const auto saved = Cli({"recover", Fixture("ntfs.img"), "--out", out.path().string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  for (const auto& entry : fs::recursive_directory_iterator(m_fixtures / "ntfs-files")) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), m_fixtures / "ntfs-files");
    if (*relative.begin() == "deleted") relative = fs::path("Projects/2024") / relative.filename();
    EXPECT_EQ(test::ReadFile(out.path() / "Data" / relative), test::ReadFile(entry.path()))
        << relative;
  }
}

// Recovering from a saved scan gives what recovering from a fresh scan gives.
TEST_F(CliOnImages, RecoversFromASavedScanWithoutScanningAgain) {
  struct Case {
    std::string image;
    std::vector<std::string> scanArgs;
  };
  std::vector<Case> cases = {{"fat32.img", {"list", "--start", "2048"}},
                             {"pictures.img", {"carve", "--formats", "all"}}};
  if (fs::exists(m_fixtures / "ntfs.img")) cases.push_back({"ntfs.img", {"list"}});
  for (const Case& c : cases) {
    test::ScratchDir dir;
    std::vector<std::string> scan = {c.scanArgs[0], Fixture(c.image)};
    scan.insert(scan.end(), c.scanArgs.begin() + 1, c.scanArgs.end());
    scan.insert(scan.end(), {"--save-scan", (dir / "saved").string()});
    const auto saved = Cli(scan);
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    ASSERT_TRUE(fs::exists(dir / "saved.qsv")) << "the extension is added";

    std::vector<std::string> fresh = {"recover", Fixture(c.image), "--out",
                                      (dir / "fresh").string()};
    fresh.insert(fresh.end(), c.scanArgs.begin() + 1, c.scanArgs.end());
    const auto a = Cli(fresh);
    const auto b = Cli({"recover", Fixture(c.image), "--scan", (dir / "saved.qsv").string(),
                        "--out", (dir / "loaded").string()});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(a.out, b.out) << c.image;
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir / "fresh")) {
      if (!e.is_regular_file()) continue;
      ++files;
      const fs::path other = dir / "loaded" / fs::relative(e.path(), dir / "fresh");
      EXPECT_EQ(test::ReadFile(other), test::ReadFile(e.path())) << other;
    }
    EXPECT_GT(files, 0u) << c.image;
  }
}

#ifndef _WIN32
TEST_F(CliOnImages, AReadOnlyDestinationIsAFailureNeverASuccess) {
  test::ScratchDir dir;
  fs::create_directories(dir / "ro");
  if (test::RunShell("mount -t tmpfs -o ro,size=1m tmpfs " + test::Quoted(dir / "ro") +
                     " 2>/dev/null") != 0) {
    GTEST_SKIP() << "a read-only file system cannot be mounted here (needs root)";
  }
  struct Unmount {
    fs::path at;
    ~Unmount() { test::RunShell("umount " + test::Quoted(at) + " 2>/dev/null"); }
  } unmount{dir / "ro"};

  const auto r = Cli({"recover", Fixture("ntfs.img"), "--out", (dir / "ro").string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(" 0 bytes written, 1 errors"), std::string::npos) << r.out;
  const auto below = Cli({"recover", Fixture("ntfs.img"), "--out", (dir / "ro" / "x").string()});
  EXPECT_EQ(below.exitCode, 1);
  EXPECT_NE(below.err.find("cannot create the output folder"), std::string::npos) << below.err;
}
#endif

#ifndef _WIN32
// Files written onto the volume being recovered could land on the clusters of the lost ones.
TEST(CliSameDevice, RefusesAnOutputFolderOnTheVolumeBeingRecovered) {
  if (!test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) {
    GTEST_SKIP() << "mkntfs or ntfs-3g is not installed";
  }
  test::ScratchDir dir;
  ASSERT_EQ(
      test::RunShell("truncate -s 16M " + test::Quoted(dir / "vol.img") + " && mkntfs -q -F -f " +
                     test::Quoted(dir / "vol.img") + " >/dev/null 2>&1"),
      0);
  std::string why;
  test::LoopDevice loop(dir / "vol.img", dir.path(), why);
  if (loop.path().empty()) GTEST_SKIP() << why;
  fs::create_directories(dir / "mnt");
  if (test::RunShell("ntfs-3g " + loop.path() + " " + test::Quoted(dir / "mnt") + " 2>/dev/null") !=
      0) {
    GTEST_SKIP() << "FUSE mounts are not permitted here";
  }
  struct Unmount {
    fs::path at;
    ~Unmount() { test::RunShell("umount " + test::Quoted(at) + " 2>/dev/null"); }
  } unmount{dir / "mnt"};

  const auto refused = Cli({"recover", loop.path(), "--out", (dir / "mnt" / "saved").string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("is on the drive being recovered"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(dir / "mnt" / "saved"));

  const auto elsewhere = Cli({"recover", loop.path(), "--out", (dir / "saved").string()});
  ASSERT_EQ(elsewhere.exitCode, 0) << elsewhere.err;
  EXPECT_TRUE(fs::is_directory(dir / "saved" / "Data"));

  const auto forced = Cli(
      {"recover", loop.path(), "--out", (dir / "mnt" / "saved").string(), "--allow-same-device"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
}
#endif

#ifndef _WIN32
// The FAT directory dates of a volume made by mtools from files of known dates come back on the
// saved files and folders (the days; FAT keeps no creation date that mcopy sets, and Linux keeps
// no creation date that can be set).
TEST(CliRecoverDates, SavedFilesAndFoldersKeepTheirModificationDays) {
  for (const char* tool : {"mkfs.fat", "mcopy"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is missing";
  }
  test::ScratchDir work;
  const std::string image = (work / "dates.img").string(), tree = (work / "DIR").string();
  ASSERT_EQ(test::RunShell("mkdir -p '" + tree + "/SUB' && echo data > '" + tree +
                           "/A.TXT' && echo more > '" + tree + "/SUB/B.TXT' && touch -d " +
                           "'2011-03-04 10:00' '" + tree + "/A.TXT' && touch -d " +
                           "'2015-12-31 23:30' '" + tree + "/SUB/B.TXT' && touch -d " +
                           "'2003-01-02 08:00' '" + tree + "/SUB' && touch -d " +
                           "'2009-07-08 12:00' '" + tree + "' && truncate -s 8M '" + image +
                           "' && mkfs.fat '" + image + "' >/dev/null && MTOOLS_SKIP_CHECK=1 " +
                           "mcopy -s -m -i '" + image + "' '" + tree + "' ::/"),
            0);
  const fs::path out = work / "out";
  const auto r = Cli({"recover", image, "--out", out.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto day = [](const fs::path& p) {
    struct stat st {};
    if (stat(p.c_str(), &st) != 0) return std::string("missing");
    char text[16] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d", std::localtime(&st.st_mtime));
    return std::string(text);
  };
  const std::pair<const char*, const char*> cases[] = {{"Data/DIR/A.TXT", "2011-03-04"},
                                                       {"Data/DIR/SUB/B.TXT", "2015-12-31"},
                                                       {"Data/DIR/SUB", "2003-01-02"},
                                                       {"Data/DIR", "2009-07-08"}};
  for (const auto& [path, expected] : cases) EXPECT_EQ(day(out / path), expected) << path;
}
#endif

}  // namespace
}  // namespace kavo

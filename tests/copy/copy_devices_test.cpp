// The copy engine on real block devices: loop devices holding volumes made by the real
// formatters, imaged and cloned, checked with sha256sum and The Sleuth Kit's fls.
#include <gtest/gtest.h>

#include "copy/disk_copy.h"
#include "support/test_paths.h"

#ifndef _WIN32
#include "copy/faulty_media.h"
#include "copy/loop_device.h"
#include "support/process.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;
using test::Quoted;

std::string Sha256(const std::string& path, const fs::path& scratch) {
  return test::ShellLine("sha256sum " + path + " | cut -d' ' -f1", scratch);
}

bool Copy(CDiskCopy& source, CDiskCopy& destination, const fs::path& log, bool forward) {
  NullSink sink;
  ProgressRecord record;
  source.m_pDestination = &destination;
  source.m_pProgress = &record;
  source.m_sourceName = source.m_selector;
  source.m_destinationName = destination.m_selector;
  source.m_logFile = log;
  source.WriteLogHeader();
  return forward ? source.CopyForward(sink) : source.CopyReverse(sink);
}

TEST(CopyDevices, ImagesAnNtfsLoopDeviceToAnIdenticalFile) {
  if (!test::HaveTool("mkntfs") || !test::HaveTool("sha256sum")) {
    GTEST_SKIP() << "mkntfs or sha256sum is not installed";
  }
  test::ScratchDir dir;
  const fs::path volume = dir / "ntfs.img";
  ASSERT_EQ(test::RunShell("truncate -s 40M " + Quoted(volume) + " && mkntfs -q -F -f " +
                           Quoted(volume) + " >/dev/null 2>&1"),
            0);
  std::string why;
  test::LoopDevice loop(volume, dir.path(), why);
  if (loop.path().empty()) GTEST_SKIP() << why;

  CDiskCopy source;
  ASSERT_TRUE(source.Open(test::Utf16(loop.path()), platform::OpenMode::Read))
      << source.OpenFailureText();
  EXPECT_EQ(source.m_nDeviceKind, 1u);
  EXPECT_EQ(source.m_nTotalSectors, 40u * 2048);
  CDiskCopy image;
  ASSERT_TRUE(image.OpenImage((dir / "copy.img").u16string(), platform::OpenMode::Create,
                              source.m_nSectorSize));
  ASSERT_TRUE(Copy(source, image, dir / "image.log", true));
  EXPECT_EQ(Sha256(loop.path(), dir.path()), Sha256(Quoted(dir / "copy.img"), dir.path()));
  EXPECT_EQ(fs::file_size(dir / "copy.img"), 40u << 20);
  EXPECT_NE(test::ShellLine("tail -3 " + Quoted(dir / "image.log") + " | head -1", dir.path())
                .find("Operation successfully completed."),
            std::string::npos);
}

TEST(CopyDevices, ClonedFatVolumeListsTheSameFilesInBothDirections) {
  if (!test::HaveTool("fls")) GTEST_SKIP() << "fls (The Sleuth Kit) is not installed";
  test::ScratchDir dir;
  if (!test::MakeFatVolume(dir / "fat.img", 24, dir.path())) {
    GTEST_SKIP() << "mkfs.fat or mcopy is missing or failed";
  }
  ASSERT_EQ(
      test::RunShell("truncate -s 30M " + Quoted(dir / "a.img") + " " + Quoted(dir / "b.img")), 0);
  std::string why;
  test::LoopDevice from(dir / "fat.img", dir.path(), why);
  if (from.path().empty()) GTEST_SKIP() << why;
  test::LoopDevice forwardTo(dir / "a.img", dir.path(), why);
  test::LoopDevice reverseTo(dir / "b.img", dir.path(), why);
  ASSERT_FALSE(forwardTo.path().empty() || reverseTo.path().empty()) << why;

  const std::string listing = test::ShellLine("fls -r -p " + from.path() + " | md5sum", dir.path());
  ASSERT_FALSE(listing.empty());
  for (const test::LoopDevice* to : {&forwardTo, &reverseTo}) {
    CDiskCopy source, destination;
    ASSERT_TRUE(source.Open(test::Utf16(from.path()), platform::OpenMode::Read));
    ASSERT_TRUE(destination.Open(test::Utf16(to->path())));
    ASSERT_TRUE(Copy(source, destination, dir / "clone.log", to == &forwardTo));
    EXPECT_EQ(test::ShellLine("fls -r -p " + to->path() + " | md5sum", dir.path()), listing);
    EXPECT_EQ(test::RunShell("cmp -n 25165824 " + from.path() + " " + to->path()), 0);
  }
}

TEST(CopyDevices, RefusesAMountedDestination) {
  if (!test::HaveTool("mkntfs") || !test::HaveTool("ntfs-3g")) {
    GTEST_SKIP() << "mkntfs or ntfs-3g is not installed";
  }
  test::ScratchDir dir;
  ASSERT_EQ(test::RunShell("truncate -s 16M " + Quoted(dir / "ntfs.img") + " && mkntfs -q -F -f " +
                           Quoted(dir / "ntfs.img") + " >/dev/null 2>&1"),
            0);
  test::WritePatternFile(dir / "src.img", 1 << 20);
  std::string why;
  test::LoopDevice target(dir / "ntfs.img", dir.path(), why);
  if (target.path().empty()) GTEST_SKIP() << why;
  fs::create_directories(dir / "mnt");
  if (test::RunShell("ntfs-3g " + target.path() + " " + Quoted(dir / "mnt") + " 2>/dev/null") !=
      0) {
    GTEST_SKIP() << "FUSE mounts are not permitted here";
  }
  struct Unmount {
    fs::path at;
    ~Unmount() { test::RunShell("umount " + Quoted(at) + " 2>/dev/null"); }
  } unmount{dir / "mnt"};
  EXPECT_NE(platform::DeviceInUse(test::Utf16(target.path())).find("mounted at"),
            std::string::npos);
  // A file on the mounted volume lives on the device: imaging the device into it is refused.
  EXPECT_TRUE(
      platform::SharesStorage(test::Utf16(target.path()), (dir / "mnt" / "x.img").u16string()));
  EXPECT_FALSE(platform::SharesStorage(test::Utf16(target.path()), (dir / "y.img").u16string()));

  CDiskCopy source, destination;
  ASSERT_TRUE(source.OpenImage((dir / "src.img").u16string(), platform::OpenMode::Read, 512));
  ASSERT_TRUE(destination.Open(test::Utf16(target.path())));
  source.m_bCloning = true;
  EXPECT_FALSE(Copy(source, destination, dir / "m.log", true));
  EXPECT_EQ(test::RunShell("cmp -s -n 4096 " + Quoted(dir / "src.img") + " " + target.path()), 1);
  ASSERT_EQ(test::RunShell("umount " + Quoted(dir / "mnt")), 0);
  EXPECT_EQ(platform::DeviceInUse(test::Utf16(target.path())), "");
}

TEST(CopyDevices, SalvagesTheErrorSectorsOfAFailingDevice) {
  test::ScratchDir dir;
  test::WritePatternFile(dir / "base.img", 8 << 20);
  // Sectors 1000-1007 never read; 3000-3007 fail three reads in ten.
  std::string why;
  test::FaultyMedia media(dir / "base.img", "--bad 1000-1007 --flaky 3000-3007:30", dir.path(),
                          why);
  if (media.device().empty()) GTEST_SKIP() << why;

  CDiskCopy source, image;
  ASSERT_TRUE(source.Open(test::Utf16(media.device()), platform::OpenMode::Read));
  ASSERT_TRUE(image.OpenImage((dir / "out.img").u16string(), platform::OpenMode::Create, 512));
  source.m_nRetryAttempts = 5;
  source.m_mapFile = dir / "out.img.map";
  ASSERT_TRUE(Copy(source, image, dir / "dm.log", true));
  EXPECT_EQ(source.m_nSectorsCopied + source.m_nBadSectors, 16384u);
  // Every readable sector is the source's; the unreadable ones hold the filler.
  const std::string base = Quoted(dir / "base.img");
  const std::string out = Quoted(dir / "out.img");
  EXPECT_EQ(test::RunShell("cmp -n 512000 " + base + " " + out), 0);
  EXPECT_EQ(test::RunShell("cmp -i 516096 " + base + " " + out), 0);
  EXPECT_EQ(test::RunShell("dd if=" + out +
                           " bs=512 skip=1000 count=8 2>/dev/null | "
                           "tr -d '\\0' | grep -q 'BAD SECTORS'"),
            0);
  EXPECT_EQ(test::RunShell("grep -q 'Sector No.\t:\t1000' " + Quoted(dir / "dm.log")), 0);
  // The map marks exactly those sectors bad.
  RescueMap map;
  ASSERT_TRUE(map.Load(dir / "out.img.map", &why)) << why;
  EXPECT_EQ(map.Bytes(BlockStatus::Bad, 0, map.Size()), 4096u);
  EXPECT_EQ(map.BlockAt(512000).status, BlockStatus::Bad);
  EXPECT_EQ(map.BlockAt(512000).end, 516096u);
  EXPECT_EQ(map.phase, CopyPhase::Finished);
}

}  // namespace
}  // namespace kavo

#else

TEST(CopyDevices, NeedLinuxLoopDevices) {
  GTEST_SKIP() << "loop devices are a Linux facility";
}

#endif

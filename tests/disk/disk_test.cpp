#include "disk/disk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "disk/fake_device.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::FakeDeviceState;
using test::FakeOpener;

std::unique_ptr<CDisk> FakeDisk(FakeDeviceState& state, SourceKind kind) {
  auto disk = std::make_unique<CDisk>(FakeOpener(state));
  disk->m_nSourceKind = kind;
  return disk;
}

TEST(SectorSizeProbe, TakesTheFirstReadSizeTheDeviceAccepts) {
  FakeDeviceState state;
  state.length = 1 << 20;
  state.blockSize = 4096;  // a 4Kn device: 512-byte reads fail
  auto disk = FakeDisk(state, SourceKind::ImageFile);
  ASSERT_TRUE(disk->Open(u"disk.img"));
  EXPECT_EQ(disk->m_nSectorSize, 4096u);
  EXPECT_EQ(disk->m_nTotalSectors, 256u);
  EXPECT_EQ(disk->Tell(), 0u) << "the probe must leave the position at byte 0";

  FakeDeviceState odd;
  odd.length = 1 << 20;
  odd.failRead = [](uint64_t, uint32_t bytes) { return bytes < 1536; };
  auto second = FakeDisk(odd, SourceKind::ImageFile);
  ASSERT_TRUE(second->Open(u"disk.img"));
  EXPECT_EQ(second->m_nSectorSize, 1536u);
}

TEST(SectorSizeProbe, TriesUpTo66048BytesThenFails) {
  FakeDeviceState big;
  big.length = 1 << 20;
  big.failRead = [](uint64_t, uint32_t bytes) { return bytes < 65536 + 512; };
  auto disk = FakeDisk(big, SourceKind::ImageFile);
  ASSERT_TRUE(disk->Open(u"disk.img"));
  EXPECT_EQ(disk->m_nSectorSize, 66048u);

  FakeDeviceState dead;
  dead.length = 1 << 20;
  dead.failRead = [](uint64_t, uint32_t) { return true; };
  auto broken = FakeDisk(dead, SourceKind::ImageFile);
  EXPECT_FALSE(broken->Open(u"disk.img"));
  EXPECT_EQ(broken->m_nOpenFailure, OpenFailure::NoSectorSize);
  EXPECT_FALSE(broken->IsOpen());
  EXPECT_FALSE(broken->ReadSectors(nullptr, 512, 0));
}

TEST(SectorCount, KeepsTheFull64BitQuotient) {
  FakeDeviceState state;
  state.length = (uint64_t{1} << 33) * 512;  // 4 TiB
  auto disk = FakeDisk(state, SourceKind::PhysicalDrive);
  ASSERT_TRUE(disk->Open(u"0"));
  EXPECT_EQ(disk->m_nTotalSectors, uint64_t{1} << 33);

  FakeDeviceState partial;
  partial.length = 4096 * 3 + 100;  // a trailing partial sector is not counted
  partial.blockSize = 4096;
  auto small = FakeDisk(partial, SourceKind::ImageFile);
  ASSERT_TRUE(small->Open(u"x.dd"));
  EXPECT_EQ(small->m_nTotalSectors, 3u);
}

TEST(ReadSectors, AddressesAbsoluteSectorsOfTheSource) {
  FakeDeviceState state;
  state.length = 1 << 20;
  state.blockSize = 4096;
  auto disk = FakeDisk(state, SourceKind::ImageFile);
  ASSERT_TRUE(disk->Open(u"disk.img"));
  disk->m_nStartSector = 63;  // never added by ReadSectors
  state.reads.clear();
  std::vector<uint8_t> buffer(4096);
  ASSERT_TRUE(disk->ReadSectors(buffer.data(), 4096, 10));
  ASSERT_EQ(state.reads.size(), 1u);
  EXPECT_EQ(state.reads[0].first, 40960u);
  EXPECT_EQ(buffer[0], test::PatternByte(40960));
  EXPECT_EQ(buffer[4095], test::PatternByte(40960 + 4095));
  EXPECT_EQ(disk->Tell(), 40960u + 4096u);

  // A read past the end succeeds with a short count; a failing read leaves the buffer alone.
  ASSERT_TRUE(disk->ReadSectors(buffer.data(), 4096, 1000));
  state.failRead = [](uint64_t offset, uint32_t) { return offset == 8192; };
  std::fill(buffer.begin(), buffer.end(), 0xAB);
  EXPECT_FALSE(disk->ReadSectors(buffer.data(), 4096, 2));
  EXPECT_EQ(buffer[0], 0xAB);
  // A sector number whose byte offset overflows is refused, not wrapped.
  EXPECT_FALSE(disk->ReadSectors(buffer.data(), 4096, UINT64_MAX / 1024));
}

TEST(Positioning, SeeksRelativeToTheCurrentByte) {
  FakeDeviceState state;
  state.length = 1 << 20;
  auto disk = FakeDisk(state, SourceKind::ImageFile);
  ASSERT_TRUE(disk->Open(u"disk.img"));
  EXPECT_TRUE(disk->SeekRelative(5000));
  EXPECT_EQ(disk->Tell(), 5000u);
  EXPECT_TRUE(disk->SeekRelative(-1000));
  EXPECT_EQ(disk->Tell(), 4000u);
  EXPECT_FALSE(disk->SeekRelative(-5000));
  EXPECT_EQ(disk->Tell(), 4000u);
  EXPECT_TRUE(disk->SeekToStart());
  EXPECT_EQ(disk->Tell(), 0u);
}

TEST(Selectors, ChooseThePathAndDeviceType) {
  FakeDeviceState state;
  state.length = 1 << 20;

  auto image = FakeDisk(state, SourceKind::ImageFile);
  EXPECT_TRUE(image->Open(u"Backup.Vmdk"));
  EXPECT_EQ(image->m_nDeviceType, 3u);
  EXPECT_EQ(state.openedPaths.back(), u"Backup.Vmdk");
  for (const char16_t* name : {u"a.IMG", u"a.ctr", u"a.dd", u"a.Dat", u"a.vhd", u"a.vdi",
                               u"a.001", u"a.vmdk"}) {
    EXPECT_TRUE(FakeDisk(state, SourceKind::ImageFile)->Open(name));
  }

  // The extension rule holds only for image sources, and .iso is not an image extension.
  const int opensBefore = state.opens;
  auto iso = FakeDisk(state, SourceKind::ImageFile);
  EXPECT_FALSE(iso->Open(u"cd.iso"));
  EXPECT_EQ(iso->m_nOpenFailure, OpenFailure::NotImageExtension);
  EXPECT_FALSE(FakeDisk(state, SourceKind::ImageFile)->Open(u"disk.vmdk.bak"));
  EXPECT_FALSE(FakeDisk(state, SourceKind::ImageFile)->Open(u"vmdk"));

  auto punct = FakeDisk(state, SourceKind::LogicalDrive);
  EXPECT_FALSE(punct->Open(u"!x"));
  EXPECT_EQ(punct->m_nOpenFailure, OpenFailure::BadSelector);
  EXPECT_EQ(punct->GetName(), u"!x");
  EXPECT_FALSE(FakeDisk(state, SourceKind::LogicalDrive)->Open(u""));
  EXPECT_EQ(state.opens, opensBefore) << "refused selectors must not reach the system";

#ifdef _WIN32
  auto drive = FakeDisk(state, SourceKind::PhysicalDrive);
  ASSERT_TRUE(drive->Open(u"2"));
  EXPECT_EQ(state.openedPaths.back(), u"\\\\.\\PHYSICALDRIVE2");
  EXPECT_EQ(drive->m_nDeviceType, 1u);
  auto volume = FakeDisk(state, SourceKind::LogicalDrive);
  ASSERT_TRUE(volume->Open(u"d:"));
  EXPECT_EQ(state.openedPaths.back(), u"\\\\.\\d:");
  EXPECT_EQ(volume->m_nDeviceType, 2u);
#else
  auto volume = FakeDisk(state, SourceKind::LogicalDrive);
  ASSERT_TRUE(volume->Open(u"sdb1"));
  EXPECT_EQ(state.openedPaths.back(), u"/dev/sdb1");
  EXPECT_EQ(volume->m_nDeviceType, 2u);
  EXPECT_FALSE(FakeDisk(state, SourceKind::LogicalDrive)->Open(u"sd/../../etc"));
  // A drive number beyond the machine's disks names nothing.
  auto none = FakeDisk(state, SourceKind::PhysicalDrive);
  EXPECT_FALSE(none->Open(u"999999"));
  EXPECT_EQ(none->m_nOpenFailure, OpenFailure::NoSuchDrive);
#endif
}

TEST(RealFiles, OpenImagesFromTheFileSystem) {
  test::ScratchDir dir;
  const auto path = dir / "disk.img";
  test::WritePatternFile(path, 5 * 1024 * 1024 + 300);

  CDisk disk;
  disk.m_nSourceKind = SourceKindForSelector(path.u16string());
  ASSERT_EQ(disk.m_nSourceKind, SourceKind::ImageFile);
  ASSERT_TRUE(disk.Open(path.u16string())) << OpenFailureText(disk);
  EXPECT_EQ(disk.m_nSectorSize, 512u);
  EXPECT_EQ(disk.m_nTotalSectors, 5u * 2048u);
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(disk.ReadSectors(sector.data(), 512, 3));
  std::ifstream in(path, std::ios::binary);
  in.seekg(3 * 512);
  std::vector<char> expected(512);
  in.read(expected.data(), 512);
  EXPECT_EQ(0, std::memcmp(sector.data(), expected.data(), 512));

  CDisk missing;
  missing.m_nSourceKind = SourceKind::ImageFile;
  EXPECT_FALSE(missing.Open((dir / "missing.img").u16string()));
  EXPECT_EQ(missing.m_nOpenFailure, OpenFailure::System);
  EXPECT_FALSE(OpenFailureText(missing).empty());

  EXPECT_EQ(SourceKindForSelector(dir.path().u16string()), SourceKind::None);
  EXPECT_EQ(SourceKindForSelector(u"!x"), SourceKind::None);
  EXPECT_EQ(SourceKindForSelector(u"3"), SourceKind::PhysicalDrive);
}


#ifndef _WIN32
// Block devices made by the kernel's loop driver: a whole disk and its partition judged from
// sysfs, and a 4096-byte logical sector size found by the probe.
TEST(BlockDevices, LoopDevicesOpenAsDrivesAndVolumes) {
  if (!test::HaveTool("losetup") || !test::HaveTool("sfdisk")) {
    GTEST_SKIP() << "losetup or sfdisk is not installed";
  }
  test::ScratchDir dir;
  const auto image = dir / "disk.img";
  const std::string q = "'" + image.string() + "'";
  ASSERT_EQ(test::RunShell("truncate -s 16M " + q), 0);
  const auto loopFile = dir / "loop";
  if (test::RunShell("losetup -f --show -P --sector-size 4096 " + q + " > '" +
                     loopFile.string() + "' 2>/dev/null") != 0) {
    GTEST_SKIP() << "cannot attach a loop device (needs root and the loop driver)";
  }
  std::string loop;
  std::ifstream(loopFile) >> loop;
  struct Detach {
    std::string dev;
    ~Detach() { test::RunShell("losetup -d " + dev); }
  } detach{loop};
  // One partition from 1 MiB (sector 256 of 4096 bytes) to the end. Without udev the kernel's
  // partition gets no /dev node, so the test makes one from the numbers in sysfs.
  const auto partNode = dir / "part1";
  const std::string name = loop.substr(loop.rfind('/') + 1);
  ASSERT_EQ(test::RunShell("printf 'label: dos\\nstart=256, type=83\\n' | sfdisk -q " + loop +
                           " >/dev/null 2>&1; partx -a " + loop + " 2>/dev/null; "
                           "dev=$(cat /sys/block/" + name + "/" + name + "p1/dev) && "
                           "mknod '" + partNode.string() + "' b ${dev%:*} ${dev#*:}"),
            0);

  const std::u16string whole(loop.begin(), loop.end());
  EXPECT_EQ(SourceKindForSelector(whole), SourceKind::PhysicalDrive);
  CDisk drive;
  drive.m_nSourceKind = SourceKind::PhysicalDrive;
  ASSERT_TRUE(drive.Open(whole)) << OpenFailureText(drive);
  EXPECT_EQ(drive.m_nDeviceType, 1u);
  EXPECT_EQ(drive.m_nSectorSize, 4096u);
  EXPECT_EQ(drive.m_nTotalSectors, 4096u);

  const std::u16string partition = partNode.u16string();
  EXPECT_EQ(SourceKindForSelector(partition), SourceKind::LogicalDrive);
  CDisk volume;
  volume.m_nSourceKind = SourceKind::LogicalDrive;
  ASSERT_TRUE(volume.Open(partition)) << OpenFailureText(volume);
  EXPECT_EQ(volume.m_nDeviceType, 2u);
  EXPECT_EQ(volume.m_nSectorSize, 4096u);
  EXPECT_EQ(volume.m_nTotalSectors, 4096u - 256u);
  std::vector<uint8_t> sector(4096);
  EXPECT_TRUE(volume.ReadSectors(sector.data(), 4096, 0));
  EXPECT_FALSE(volume.ReadSectors(sector.data(), 512, 0)) << "partial sectors are refused";
}
#endif

}  // namespace
}  // namespace kavo

// The Linux drive and volume enumeration over a fake sysfs tree in a scratch folder: whole disks
// of several kinds, a partition, mounts with escapes, bind mounts and a udev label link.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/system_tree.h"
#include "platform/text.h"
#include "support/test_paths.h"

namespace kavo::platform {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// A disk folder: size in 512-byte units, logical block size, removable flag and device files.
void Disk(const fs::path& dir, uint64_t units, int blockSize, bool removable,
          std::initializer_list<std::pair<const char*, std::string>> device) {
  Put(dir / "size", std::to_string(units) + "\n");
  Put(dir / "queue" / "logical_block_size", std::to_string(blockSize) + "\n");
  Put(dir / "removable", removable ? "1\n" : "0\n");
  for (const auto& [name, text] : device) Put(dir / "device" / name, text);
}

struct FakeSystem {
  test::ScratchDir dir;
  SystemTree tree;
  fs::path mountPoint;

  FakeSystem() {
    tree.sysBlock = dir / "sys/block";
    tree.mounts = dir / "mounts";
    tree.byLabel = dir / "dev/disk/by-label";
    // sysfs pads the ATA model field; the serial comes from the unit serial number page.
    Disk(tree.sysBlock / "sda", 976773168, 512, false,
         {{"model", "WDC WD5000AAKX-0\n"},
          {"vendor", "ATA     \n"},
          {"state", "running\n"},
          {"vpd_pg80", std::string("\0\x80\0\x10", 4) + "    WD-WCC2EJC12"}});
    Put(tree.sysBlock / "sda" / "sda1" / "partition", "1\n");
    Put(tree.sysBlock / "sda" / "sda1" / "size", "204800\n");
    Disk(tree.sysBlock / "nvme0n1", 1953525168, 4096, false,
         {{"model", "Samsung SSD 970 EVO Plus 1TB            \n"},
          {"serial", "S4EWNX0N123456A     \n"},
          {"state", "live\n"}});
    Disk(tree.sysBlock / "sdb", 60063744, 512, true,
         {{"model", "Cruzer Blade\n"}, {"vendor", "SanDisk \n"}});
    Put(tree.sysBlock / "sdb" / "sdb1" / "partition", "1\n");
    Put(tree.sysBlock / "sdb" / "sdb1" / "size", "60061696\n");
    Disk(tree.sysBlock / "sdc", 0, 512, true, {{"model", "Card  Reader\n"}});  // no card
    Disk(tree.sysBlock / "loop0", 2048, 512, false, {});
    Disk(tree.sysBlock / "vda", 2097152, 512, false, {{"vendor", "0x1af4\n"}});
    mountPoint = dir / "mnt" / "my disk";
    fs::create_directories(mountPoint);
    const std::string escaped = (dir / "mnt").string() + "/my\\040disk";
    Put(tree.mounts,
        "sysfs /sys sysfs rw 0 0\n"
        "/dev/sda1 " +
            escaped +
            " vfat rw 0 0\n"
            "/dev/sda1 /elsewhere vfat rw 0 0\n"
            "/dev/sdb1 /media/stick exfat rw 0 0\n"
            "/dev/loop0 /snap/core squashfs ro 0 0\n"
            "/dev/vda " +
            dir.path().string() +
            " ntfs3 rw 0 0\n"
            "/dev/sdz9 /gone ext4 rw 0 0\n");
    fs::create_directories(tree.byLabel);
    fs::create_symlink("../../sda1", tree.byLabel / "My\\x20Files");
  }
};

TEST(ListPhysicalDrives, FakeSysfs) {
  FakeSystem sys;
  const auto drives = ListPhysicalDrives(sys.tree);
  ASSERT_EQ(drives.size(), 4u);  // loop0 is no drive; sdc has no medium
  // Name order, numbered as drive-number selectors count them (sdc keeps its number 3).
  EXPECT_EQ(drives[0].name, u"/dev/nvme0n1");
  EXPECT_EQ(drives[0].index, 0u);
  EXPECT_TRUE(drives[0].nvme);
  EXPECT_EQ(drives[0].interfaceType, u"NVMe");
  EXPECT_EQ(drives[0].model, u"Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(drives[0].serialNumber, u"S4EWNX0N123456A");
  EXPECT_EQ(drives[0].bytesPerSector, 4096u);
  EXPECT_EQ(drives[0].size, 1953525168ull * 512);  // sysfs counts 512-byte units
  EXPECT_EQ(drives[0].status, u"OK");

  EXPECT_EQ(drives[1].name, u"/dev/sda");
  EXPECT_EQ(drives[1].model, u"WDC WD5000AAKX-0");
  EXPECT_EQ(drives[1].caption, u"WDC WD5000AAKX-0");  // "ATA" is no maker
  EXPECT_EQ(drives[1].serialNumber, u"WD-WCC2EJC12");
  EXPECT_EQ(drives[1].size, 500107862016u);
  EXPECT_FALSE(drives[1].removable);
  EXPECT_EQ(drives[1].mediaType, u"Fixed hard disk media");

  EXPECT_EQ(drives[2].name, u"/dev/sdb");
  EXPECT_EQ(drives[2].caption, u"SanDisk Cruzer Blade");
  EXPECT_TRUE(drives[2].removable);
  EXPECT_EQ(drives[2].mediaType, u"Removable Media");
  EXPECT_EQ(drives[2].status, u"");

  EXPECT_EQ(drives[3].name, u"/dev/vda");
  EXPECT_EQ(drives[3].index, 4u);
  EXPECT_EQ(drives[3].caption, u"vda");  // a PCI vendor number is no name
  EXPECT_EQ(drives[3].interfaceType, u"VIRTIO");
}

TEST(ListVolumes, FakeMounts) {
  FakeSystem sys;
  const auto volumes = ListVolumes(sys.tree);
  // sda1 once (its first mount), vda whole; the removable stick, the loop device, sysfs and a
  // device missing from sysfs are left out.
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[0].caption, u"/dev/sda1");
  EXPECT_EQ(volumes[0].devicePath, u"/dev/sda1");
  EXPECT_EQ(Utf16ToUtf8(volumes[0].name), sys.mountPoint.string());
  EXPECT_EQ(volumes[0].volumeName, u"My Files");
  EXPECT_EQ(volumes[0].fileSystem, u"vfat");
  EXPECT_EQ(volumes[0].size, 204800u * 512);
  EXPECT_EQ(volumes[0].bytesPerSector, 512u);
  EXPECT_GT(volumes[0].totalBytes, 0u);  // statvfs of the mount point
  EXPECT_GE(volumes[0].sectorsPerCluster, 1u);
  EXPECT_EQ(volumes[1].caption, u"/dev/vda");
  EXPECT_EQ(volumes[1].fileSystem, u"NTFS");
  EXPECT_EQ(volumes[1].volumeName, u"");
}

TEST(SystemTreeText, Escapes) {
  EXPECT_EQ(UnescapeMountField("/mnt/a\\040b\\011c\\134"), "/mnt/a b\tc\\");
  EXPECT_EQ(UnescapeMountField("/mnt/\\04"), "/mnt/\\04");  // cut short: kept as written
  EXPECT_EQ(UnescapeUdevName("My\\x20Disk\\x2f2"), "My Disk/2");
  EXPECT_EQ(UnescapeUdevName("a\\x2"), "a\\x2");
}

}  // namespace
}  // namespace kavo::platform
#endif

// Drive and volume records from what the system reports, the serial numbers older Windows
// versions report hex-encoded, and the volume identity read from a real formatter's boot sector.
#include "disk/drive_records.h"

#include <gtest/gtest.h>

#include <fstream>

#include "disk/volume.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

// How older systems report a serial: the ATA words' bytes swapped, hex-encoded, space-padded.
std::u16string Encoded(const std::string& serial) {
  std::string swapped = serial;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  std::u16string hex;
  for (unsigned char c : swapped) {
    const char* digits = "0123456789abcdef";
    hex += static_cast<char16_t>(digits[c >> 4]);
    hex += static_cast<char16_t>(digits[c & 15]);
  }
  return hex;
}

TEST(DecodeSerial, SwappedHexSerials) {
  struct {
    std::u16string raw, serial;
  } cases[] = {
      {Encoded("    WD-WCC4E1234567"), u"WDWCC4E1234567"},  // padding and '-' dropped
      {Encoded("S3Z9NB0K123456X "), u"S3Z9NB0K123456X"},
      {u"3533", u"35"},  // "3533" -> "3335" -> trimmed "3335" -> '3', '5'
      {u"", u""},
      {u"2020", u""},  // only padding
      {u"&_.0", u""},
      {u"zz41", u"A"},  // "41zz": 'A', and "zz" counts as 0, a byte that is not kept
      {u"6162", u""},   // lower-case letters are not kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeSerial(c.raw), c.serial) << std::string(c.raw.begin(), c.raw.end());
  }
}

TEST(DriveRecords, FromTheSystemsDrivesAndVolumes) {
  platform::PhysicalDriveInfo sata;
  sata.name = u"/nonexistent/sda";
  sata.caption = u"WDC WD10EZEX-08WN4A0";
  sata.model = sata.caption;
  sata.serialNumber = Encoded("WD-WCC4E1234567");
  sata.serialHexEncoded = true;
  sata.interfaceType = u"IDE";
  sata.size = 1000204886016;
  sata.bytesPerSector = 512;
  sata.index = 258;  // only the low byte is kept
  platform::PhysicalDriveInfo usb = sata;
  usb.serialHexEncoded = false;
  usb.serialNumber = u"0123456789AB";
  usb.interfaceType = u"USB";
  usb.bytesPerSector = 0;  // a record is made even without a sector size
  DriveRecords records;
  EnumerateDriveRecords(records, true, {sata, usb});
  ASSERT_EQ(records.physical.size(), 2u);
  const DriveRecord& r = *records.physical[0];
  EXPECT_EQ(r.serialNumber, u"WDWCC4E1234567");
  EXPECT_EQ(r.driveIndex, 2u);
  EXPECT_EQ(r.physical, 1u);
  EXPECT_EQ(r.temperature, 0u);  // the drive could not be opened: no SMART data
  EXPECT_EQ(records.physical[1]->serialNumber, u"0123456789AB");
  DriveRecords plain;
  EnumerateDriveRecords(plain, false, {sata});
  EXPECT_EQ(plain.physical[0]->serialNumber, u"");

  platform::VolumeInfo c;
  c.caption = u"C:";
  c.name = u"C:\\";
  c.size = 1 << 30;
  c.totalBytes = 1 << 30;
  c.serialNumber = 0x1234ABCD;
  platform::VolumeInfo labelled = c;
  labelled.volumeName = u"Backup";
  platform::VolumeInfo stick = c;
  stick.removable = true;
  EnumerateVolumeRecords(records, {c, labelled, stick});
  ASSERT_EQ(records.volumes.size(), 2u);
  EXPECT_EQ(records.volumes[0]->volumeName, u"Local Disk");
  EXPECT_EQ(records.volumes[0]->volumeSerial, 0x1234ABCDu);
  EXPECT_EQ(records.volumes[1]->volumeName, u"Backup");
  EXPECT_EQ(records.volumes[1]->physical, 0u);
  ClearDriveRecords(records);
  EXPECT_TRUE(records.physical.empty() && records.volumes.empty());

  EXPECT_EQ(FileSystemFromName(u"exFAT"), FS_EXFAT);
  EXPECT_EQ(FileSystemFromName(u"FAT"), FS_FAT16);
  EXPECT_EQ(FileSystemFromName(u"ext4"), FS_NONE);
}

#ifndef _WIN32
// The serial numbers blkid reads from the volumes the formatters make ("1234-ABCD" for FAT and
// exFAT; 16 digits for NTFS, whose low 32 bits the system reports).
TEST(ReadVolumeIdentity, SerialOfRealVolumes) {
  if (!test::HaveTool("blkid")) GTEST_SKIP() << "blkid is not installed";
  struct {
    const char* tool;
    const char* command;
    uint8_t code;
  } volumes[] = {{"mkfs.fat", "mkfs.fat -F 32 -i 1234ABCD", FS_FAT32},
                 {"mkfs.fat", "mkfs.fat -F 16", FS_FAT16},
                 {"mkfs.exfat", "mkfs.exfat", FS_EXFAT},
                 {"mkntfs", "mkntfs -F -Q -q", FS_NTFS}};
  for (const auto& v : volumes) {
    if (!test::HaveTool(v.tool)) GTEST_SKIP() << v.tool << " is not installed";
    test::ScratchDir dir;
    const auto image = dir / "volume.img";
    const std::string q = "'" + image.string() + "'";
    ASSERT_EQ(test::RunShell("truncate -s 300M " + q + " && " + v.command + " " + q +
                             " >/dev/null 2>&1 && blkid -o value -s UUID " + q + " | tr -d '-' > " +
                             q + ".uuid"),
              0)
        << v.command;
    std::ifstream in(image.string() + ".uuid");
    std::string uuid;
    in >> uuid;
    ASSERT_GE(uuid.size(), 8u) << v.command;
    uint8_t code = 0;
    uint32_t serial = 0;
    ASSERT_TRUE(ReadVolumeIdentity(image.u16string(), code, serial)) << v.command;
    EXPECT_EQ(code, v.code) << v.command;
    EXPECT_EQ(serial, std::stoul(uuid.substr(uuid.size() - 8), nullptr, 16)) << v.command;
  }
  uint8_t code = 0;
  uint32_t serial = 0;
  EXPECT_FALSE(ReadVolumeIdentity(u"/nonexistent/sda1.img", code, serial));
}
#endif

}  // namespace
}  // namespace kavo

// Volume detection on volumes made by the real formatters, and on boot sectors that must fail.
#include "disk/volume.h"

#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

#ifndef _WIN32
struct Detected {
  FileSystemCode code = FS_NONE;
  VolumeParams params;
};

// Makes a volume image with `command` (the image path appended), opens it and detects it.
Detected Format(const test::ScratchDir& dir, const std::string& sizeSpec,
                const std::string& command) {
  const auto image = dir / "volume.img";
  const std::string q = "'" + image.string() + "'";
  EXPECT_EQ(test::RunShell("rm -f " + q + " && truncate -s " + sizeSpec + " " + q + " && " +
                           command + " " + q + " >/dev/null 2>&1"),
            0)
      << command;
  CDisk disk;
  disk.m_nSourceKind = SourceKind::ImageFile;
  Detected d;
  if (!disk.Open(image.u16string())) return d;
  DetectVolume(disk);
  d.code = static_cast<FileSystemCode>(disk.m_nFileSystem);
  d.params = disk.m_volume;
  return d;
}

TEST(DetectVolume, RecognisesVolumesOfTheRealFormatters) {
  for (const char* tool : {"mkfs.fat", "mkntfs", "mkfs.exfat"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  test::ScratchDir dir;

  // A 16 MiB FAT16 volume keeps its sector count in the 16-bit field and its own OEM name.
  const Detected small = Format(dir, "16M", "mkfs.fat -F 16 -s 4");
  EXPECT_EQ(small.code, FS_FAT16);
  EXPECT_EQ(small.params.sectorsPerCluster, 4u);
  EXPECT_EQ(small.params.rootCluster, 1u);
  EXPECT_EQ(small.params.fatSectorBase,
            small.params.reservedSectors + uint64_t{small.params.sectorsPerFat});
  EXPECT_EQ(small.params.clusterCount, (32768 - small.params.firstDataSector - 32) / 4);

  EXPECT_EQ(Format(dir, "200M", "mkfs.fat -F 16").code, FS_FAT16);

  const Detected fat32 = Format(dir, "100M", "mkfs.fat -F 32 -s 1");
  EXPECT_EQ(fat32.code, FS_FAT32);
  EXPECT_EQ(fat32.params.rootCluster, 2u);
  EXPECT_EQ(fat32.params.bytesPerCluster, 512u);
  EXPECT_EQ(fat32.params.firstDataSector,
            fat32.params.reservedSectors + 2 * uint64_t{fat32.params.sectorsPerFat});

  const Detected ntfs = Format(dir, "64M", "mkntfs -q -F -c 4096");
  EXPECT_EQ(ntfs.code, FS_NTFS);
  EXPECT_EQ(ntfs.params.sectorsPerCluster, 8u);
  EXPECT_EQ(ntfs.params.bytesPerMftRecord, 1024u);
  EXPECT_EQ(ntfs.params.sectorsPerMftRecord, 2u);
  EXPECT_EQ(ntfs.params.mftStartSector, ntfs.params.mftCluster * 8);

  const Detected exfat = Format(dir, "64M", "mkfs.exfat");
  EXPECT_EQ(exfat.code, FS_EXFAT);
  EXPECT_GE(exfat.params.rootCluster, 4u);
  EXPECT_GT(exfat.params.clusterCount, 0u);
}

TEST(DetectVolume, FatLayoutsOfTheFormatter) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat is not installed";
  test::ScratchDir dir;

  // 32 KiB clusters: mkfs.fat gives the root area 1024 entries (64 sectors), not 512.
  const Detected wide = Format(dir, "200M", "mkfs.fat -F 16 -s 64");
  ASSERT_EQ(wide.code, FS_FAT16);
  EXPECT_EQ(wide.params.clusterCount, (409600 - wide.params.firstDataSector - 64) / 64);

  // 4096-byte sectors in an image read through 512-byte source sectors: counts are scaled.
  const Detected big = Format(dir, "300M", "mkfs.fat -F 32 -S 4096 -s 1");
  ASSERT_EQ(big.code, FS_FAT32);
  EXPECT_EQ(big.params.sectorsPerCluster, 8u);
  EXPECT_EQ(big.params.bytesPerCluster, 4096u);
  EXPECT_EQ(big.params.firstDataSector % 8, 0u);
  EXPECT_LE(big.params.clusterCount, 300u * 1024 * 1024 / 4096);

  // FAT12, of 512- and 4096-byte sectors: the layout of FAT16 around a table of 12-bit entries.
  const Detected fat12 = Format(dir, "2M", "mkfs.fat -F 12 -s 1");
  ASSERT_EQ(fat12.code, FS_FAT12);
  EXPECT_EQ(fat12.params.rootCluster, 1u);
  EXPECT_EQ(fat12.params.clusterCount, 4096 - fat12.params.firstDataSector - 32);
  const Detected wide12 = Format(dir, "8M", "mkfs.fat -F 12 -S 4096 -s 1");
  ASSERT_EQ(wide12.code, FS_FAT12);
  EXPECT_EQ(wide12.params.sectorsPerCluster, 8u);
  EXPECT_EQ(wide12.params.sectorsPerFat % 8, 0u);
  EXPECT_EQ(std::string(FileSystemName(FS_FAT12)), "FAT12");
}
#endif

TEST(DetectBootSector, RefusesWhatIsNotABootSector) {
  VolumeParams p;
  std::vector<uint8_t> sector(512, 0);
  EXPECT_EQ(DetectBootSector(sector, 512, 0, 1000, p), FS_NONE);
  std::fill(sector.begin(), sector.end(), 0xFF);
  EXPECT_EQ(DetectBootSector(sector, 512, 0, 1000, p), FS_NONE);
  EXPECT_EQ(DetectBootSector(std::span<const uint8_t>(sector.data(), 100), 512, 0, 1000, p),
            FS_NONE);
}

// FAT12 or FAT16 is the cluster count's decision, not the type text's: below 4085 clusters the
// table has 12-bit entries. Only a size that cannot hold the tables leaves it to the text.
TEST(DetectBootSector, Fat12OrFat16ByClusterCount) {
  struct Case {
    const char* typeText;
    uint32_t clusters;  // data sectors (one sector per cluster); 0: a size below the tables
    FileSystemCode expected;
  };
  for (const Case& c : {Case{"FAT12   ", 4084, FS_FAT12}, Case{"FAT16   ", 4084, FS_FAT12},
                        Case{"FAT12   ", 4085, FS_FAT16}, Case{"FAT16   ", 4085, FS_FAT16},
                        Case{"FAT16   ", 60000, FS_FAT16}, Case{"FAT12   ", 0, FS_FAT12},
                        Case{"FAT16   ", 0, FS_FAT16}}) {
    SCOPED_TRACE(std::string(c.typeText) + std::to_string(c.clusters));
    std::vector<uint8_t> b(512, 0);
    b[0] = 0xEB;
    b[2] = 0x90;
    StoreLe16(&b[0x0B], 512);
    b[0x0D] = 1;
    StoreLe16(&b[0x0E], 1);    // reserved
    b[0x10] = 2;               // FATs
    StoreLe16(&b[0x11], 512);  // root entries: 32 sectors
    StoreLe16(&b[0x16], 240);  // sectors per FAT
    const uint32_t total = c.clusters == 0 ? 100 : 1 + 2 * 240 + 32 + c.clusters;
    if (total <= 0xFFFF) {
      StoreLe16(&b[0x13], static_cast<uint16_t>(total));
    } else {
      StoreLe32(&b[0x20], total);
    }
    b[0x26] = 0x29;
    std::copy_n(c.typeText, 8, b.begin() + 0x36);
    VolumeParams p;
    EXPECT_EQ(DetectBootSector(b, 512, 0, 1u << 20, p), c.expected);
    EXPECT_EQ(p.rootCluster, 1u);
    if (c.clusters != 0) {
      EXPECT_EQ(p.clusterCount, c.clusters);
    }
  }
}

TEST(DetectBootSector, NtfsRecordSizesAndBounds) {
  std::vector<uint8_t> b(512, 0);
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  b[0x0B] = 0x00;
  b[0x0C] = 0x02;  // 512 bytes per sector
  b[0x0D] = 8;
  b[0x24] = 0x80;
  b[0x28] = 0xFF;  // 255 sectors
  b[0x30] = 4;     // MFT at cluster 4
  b[0x38] = 2;
  b[0x40] = 0xF6;  // records of 2^10 bytes
  b[0x44] = 1;     // index records of one cluster
  VolumeParams p;
  EXPECT_EQ(DetectBootSector(b, 512, 2048, 100, p), FS_NONE) << "no OEM name";
  std::copy_n("NTFS    ", 8, b.begin() + 3);
  ASSERT_EQ(DetectBootSector(b, 512, 2048, 100, p), FS_NTFS);
  EXPECT_EQ(p.partitionStart, 2048u);
  EXPECT_EQ(p.bytesPerMftRecord, 1024u);
  EXPECT_EQ(p.sectorsPerMftRecord, 2u);
  EXPECT_EQ(p.bytesPerIndexRecord, 4096u);
  EXPECT_EQ(p.mftStartSector, 32u);
  EXPECT_EQ(p.volumeSectors, 100u) << "never larger than the source holds";

  b[0x40] = 0xFE;  // 2^2 = 4 bytes: fewer than one sector
  EXPECT_EQ(DetectBootSector(b, 512, 0, 1000, p), FS_NTFS);
  EXPECT_EQ(p.sectorsPerMftRecord, 0u);

  // Clusters of 2^12 sectors are written as the negated exponent.
  b[0x40] = 0xF6;
  b[0x0D] = 0xF4;
  ASSERT_EQ(DetectBootSector(b, 512, 0, 1u << 30, p), FS_NTFS);
  EXPECT_EQ(p.sectorsPerCluster, 4096u);
  EXPECT_EQ(p.mftStartSector, 4u * 4096u);

  // A 4096-byte-sector volume read through 512-byte sectors: every sector count scales by 8.
  b[0x0B] = 0x00;
  b[0x0C] = 0x10;
  b[0x0D] = 1;
  ASSERT_EQ(DetectBootSector(b, 512, 0, 1u << 30, p), FS_NTFS);
  EXPECT_EQ(p.sectorsPerCluster, 8u);
  EXPECT_EQ(p.volumeSectors, 256u * 8u);
  EXPECT_EQ(p.mftStartSector, 32u);

  b[0x30] = 0;  // no MFT cluster
  EXPECT_EQ(DetectBootSector(b, 512, 0, 1000, p), FS_NONE);
}

}  // namespace
}  // namespace kavo

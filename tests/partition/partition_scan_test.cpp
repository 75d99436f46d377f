// Reading partition tables into records on disks made by sfdisk/sgdisk and the real formatters,
// the records of table entries whose volume is not what the type promises, and opening a row.
#include "partition/partition_scan.h"

#include <gtest/gtest.h>

#include "disk/volume.h"
#include "partition/memory_disk.h"
#include "partition/real_disks.h"
#include "recovery/selected_volume.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

#ifndef _WIN32
TEST(ReadPartitionTables, MbrDiskWithExtendedPartition) {
  test::ScratchDir dir;
  const auto image = dir / "mbr.img";
  if (auto why = test::MakeMbrDisk(image); !why.empty()) GTEST_SKIP() << why;
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  FoundVolumeList volumes;
  ASSERT_TRUE(ReadPartitionTables(*disk, volumes));
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[0]->fileSystem, FS_NTFS);
  EXPECT_EQ(volumes[0]->firstSector, test::kMbrNtfsStart);
  EXPECT_EQ(volumes[0]->totalSectors, test::kVolumeSectors);  // the entry's count
  EXPECT_NE(volumes[0]->serialNumber, 0u);
  EXPECT_EQ(volumes[0]->mftRecordBytes, 1024u);
  EXPECT_EQ(volumes[0]->bytesPerCluster, 4096u);
  EXPECT_EQ(volumes[1]->fileSystem, FS_FAT32);
  EXPECT_EQ(volumes[1]->firstSector, test::kMbrFirstLogical);
  EXPECT_EQ(volumes[1]->totalSectors, test::kVolumeSectors);
  EXPECT_EQ(volumes[1]->FatFirstSector(), 32u);
  EXPECT_EQ(volumes[1]->FatFirstDataSector(), 32u + 2 * volumes[1]->FatSectorsPerFat());
  EXPECT_EQ(volumes[2]->fileSystem, FS_FAT32);
  EXPECT_EQ(volumes[2]->firstSector, test::kMbrSecondLogical);

  PartitionList rows;
  PublishFoundVolumes(volumes, SourceKind::ImageFile, u"mbr.img", rows);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]->secondText, u"FAT32 - 3, mbr.img");
  EXPECT_EQ(rows[2]->secondText, u"NTFS - 1, mbr.img");

  // Opening the second logical drive's row reads its volume.
  ASSERT_TRUE(SetUpSelectedVolume(*disk, *rows[0], kOpDeletedRecovery));
  EXPECT_EQ(disk->m_nStartSector, test::kMbrSecondLogical);
  EXPECT_EQ(disk->m_nFileSystem, FS_FAT32);
  // And the NTFS row, with its MFT located.
  ASSERT_TRUE(SetUpSelectedVolume(*disk, *rows[2], kOpPartitionRecovery));
  EXPECT_EQ(disk->m_nFileSystem, FS_NTFS);
  EXPECT_EQ(disk->m_volume.partitionStart, test::kMbrNtfsStart);
}

// Small FAT volumes are FAT12 whatever the type says (0x01 promises FAT12, 0x06 FAT16): their
// rows are labelled FAT12 and open as FAT12; a FAT16 volume behind a FAT12 type is FAT16. The
// second volume has 4096-byte sectors (mkfs.fat counts its offset in them).
TEST(ReadPartitionTables, Fat12RowsOfAnMbrDisk) {
  if (auto why = test::NeedTools({"sfdisk", "mkfs.fat"}); !why.empty()) GTEST_SKIP() << why;
  test::ScratchDir dir;
  const auto image = dir / "small.img";
  const std::string q = "'" + image.string() + "'";
  ASSERT_EQ(test::RunShell("truncate -s 40M " + q +
                           " && printf 'label: dos\nstart=2048, size=4096, type=1\n"
                           "start=8192, size=16384, type=6\nstart=32768, size=40960, type=1\n' "
                           "| sfdisk -q " +
                           q + " >/dev/null 2>&1 && mkfs.fat -F 12 --offset 2048 " + q +
                           " 2048 >/dev/null && mkfs.fat -F 12 -S 4096 --offset 1024 " + q +
                           " 8192 >/dev/null && mkfs.fat -F 16 --offset 32768 " + q +
                           " 20480 >/dev/null"),
            0);
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  FoundVolumeList volumes;
  ASSERT_TRUE(ReadPartitionTables(*disk, volumes));
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[0]->fileSystem, FS_FAT12);
  EXPECT_EQ(volumes[0]->totalSectors, 4096u);
  EXPECT_EQ(volumes[1]->fileSystem, FS_FAT12);
  EXPECT_EQ(volumes[1]->bytesPerSector, 4096u);
  EXPECT_EQ(volumes[2]->fileSystem, FS_FAT16);
  PartitionList rows;
  PublishFoundVolumes(volumes, SourceKind::ImageFile, u"small.img", rows);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2]->secondText, u"FAT12 - 1, small.img");
  EXPECT_EQ(rows[1]->secondText, u"FAT12 - 2, small.img");
  EXPECT_EQ(rows[0]->secondText, u"FAT16 - 3, small.img");
  for (const auto& [row, start] : {std::pair{1, 8192u}, std::pair{2, 2048u}}) {
    ASSERT_TRUE(SetUpSelectedVolume(*disk, *rows[row], kOpDeletedRecovery));
    EXPECT_EQ(disk->m_nFileSystem, FS_FAT12);
    EXPECT_EQ(disk->m_volume.partitionStart, start);
    EXPECT_EQ(disk->m_volume.rootCluster, 1u);
  }
}

// NTFS formatted with 4096-byte sectors on a disk of 512-byte sectors: the row's geometry is
// converted to the disk's sectors when the volume is opened from it.
TEST(SetUpSelectedVolume, NtfsWithLargerSectorsThanTheDisk) {
  test::ScratchDir dir;
  const auto image = dir / "ntfs4k.img";
  if (auto why = test::NeedTools({"sfdisk", "mkntfs", "losetup"}); !why.empty())
    GTEST_SKIP() << why;
  ASSERT_EQ(test::RunShell("truncate -s 64M '" + image.string() +
                           "' && printf 'label: dos\\nstart=2048, type=7\\n' | sfdisk -q '" +
                           image.string() + "' >/dev/null 2>&1"),
            0);
  if (auto why = test::FormatThroughLoop(image, 2048, 129024, "mkntfs -q -F -f -s 4096 -c 4096");
      !why.empty()) {
    GTEST_SKIP() << why;
  }
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  FoundVolumeList volumes;
  ASSERT_TRUE(ReadPartitionTables(*disk, volumes));
  PartitionList rows;
  PublishFoundVolumes(volumes, SourceKind::ImageFile, u"ntfs4k.img", rows);
  ASSERT_EQ(rows.size(), 1u);
  // The row's size is the partition's, in whatever sectors it counts.
  EXPECT_EQ(uint64_t{rows[0]->bytesPerSector} * rows[0]->sizeInSectors, 129024ull * 512);
  ASSERT_TRUE(SetUpSelectedVolume(*disk, *rows[0], kOpPartitionRecovery));
  EXPECT_EQ(disk->m_volume.sectorsPerCluster, 8u);
  EXPECT_EQ(disk->m_volume.sectorsPerMftRecord, 8u);

  // With its boot sector gone, the volume's extent comes from the row, in the disk's sectors.
  ASSERT_EQ(test::RunShell("dd if=/dev/zero of='" + image.string() +
                           "' bs=512 seek=2048 count=1 conv=notrunc status=none"),
            0);
  auto damaged = test::OpenImage(image);
  ASSERT_TRUE(damaged);
  SetUpSelectedVolume(*damaged, *rows[0], kOpPartitionRecovery);
  EXPECT_EQ(damaged->m_volume.volumeSectors, 129024u);
}

TEST(ReadPartitionTables, GptDiskWithBasicDataPartitions) {
  test::ScratchDir dir;
  const auto image = dir / "gpt.img";
  if (auto why = test::MakeGptDisk(image); !why.empty()) GTEST_SKIP() << why;
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  FoundVolumeList volumes;
  ASSERT_TRUE(ReadPartitionTables(*disk, volumes));
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[0]->fileSystem, FS_NTFS);
  EXPECT_EQ(volumes[0]->firstSector, test::kGptNtfsStart);
  EXPECT_EQ(volumes[0]->totalSectors, test::kVolumeSectors);
  EXPECT_EQ(volumes[1]->fileSystem, FS_EXFAT);
  EXPECT_EQ(volumes[1]->firstSector, test::kGptExfatStart);
  EXPECT_EQ(volumes[1]->totalSectors, test::kVolumeSectors);
  EXPECT_GE(volumes[1]->ExfatRootCluster(), 4u);
  EXPECT_EQ(volumes[1]->ExfatRootSector(),
            (volumes[1]->ExfatRootCluster() - 2) * volumes[1]->sectorsPerCluster +
                volumes[1]->ExfatHeapOffset());
  EXPECT_NE(volumes[1]->serialNumber, 0u);
}
#endif

TEST(ReadPartitionTables, Fat16TypeWithoutFat16VolumeIsKeptAsUnrecognised) {
  test::MemoryDisk disk(256);
  disk.TableEntry(0, 0, 0x06, 64, 128);
  disk.TableEntry(0, 1, 0x07, 200, 50);  // NTFS type, nothing there: no record
  auto source = disk.Open();
  FoundVolumeList volumes;
  ASSERT_TRUE(ReadPartitionTables(*source, volumes));
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0]->fileSystem, FS_UNRECOGNISED);
  EXPECT_EQ(volumes[0]->firstSector, 64u);
  EXPECT_EQ(volumes[0]->totalSectors, 128u);
  EXPECT_EQ(volumes[0]->bytesPerCluster, 65536u);
  EXPECT_EQ(volumes[0]->partitionType, 0x06);

  test::MemoryDisk empty(16);
  FoundVolumeList none;
  EXPECT_FALSE(ReadPartitionTables(*empty.Open(), none));
}

TEST(SelectorForEntry, FollowsTheRowKind) {
  DriveListEntry logical;
  logical.kind = SourceKind::LogicalDrive;
  logical.name = u"Local Disk - C:";
  logical.secondText = u"C:";
  EXPECT_EQ(SelectorForEntry(logical, kOpDeletedRecovery), u"C:");

  DriveListEntry found;
  found.kind = SourceKind::Partition;
  found.name = u"PHY 12";
  EXPECT_EQ(SelectorForEntry(found, kOpPartitionRecovery), u"12");
  found.name = u"Volume - E:";
  EXPECT_EQ(SelectorForEntry(found, kOpFormattedRecovery), u"E:");
  found.name = u"/images/Disk.dd";
  EXPECT_EQ(SelectorForEntry(found, kOpPartitionRecovery), u"/images/Disk.dd");
  found.name = u"c:\\x\\backup.img.part";
  EXPECT_EQ(SelectorForEntry(found, kOpPartitionRecovery), found.name);

  DriveListEntry physical;
  physical.kind = SourceKind::PhysicalDrive;
  physical.name = u"\\\\.\\PHYSICALDRIVE1";
  EXPECT_EQ(SelectorForEntry(physical, kOpPartitionRecovery), u"1");
}

#ifndef _WIN32
TEST(QuickScanImage, WholeVolumeImageBecomesOneRow) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat is not installed";
  test::ScratchDir dir;
  const auto image = dir / "volume.img";
  ASSERT_EQ(test::RunShell("truncate -s 40M '" + image.string() + "' && mkfs.fat -F 32 '" +
                           image.string() + "' >/dev/null"),
            0);
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  PartitionList rows;
  EXPECT_EQ(QuickScanImage(*disk, rows), QuickScanResult::WholeImage);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]->name, image.u16string());
  EXPECT_EQ(rows[0]->secondText, image.u16string());
  EXPECT_EQ(rows[0]->sizeInSectors, disk->m_nTotalSectors);
  ASSERT_TRUE(rows[0]->record);
  EXPECT_EQ(rows[0]->record->fileSystem, FS_NONE);

  const auto blank = dir / "blank.img";
  test::WritePatternFile(blank, 1 << 20);
  auto other = test::OpenImage(blank);
  ASSERT_TRUE(other);
  EXPECT_EQ(QuickScanImage(*other, rows), QuickScanResult::NothingFound);
  EXPECT_EQ(rows.size(), 1u);
}
#endif

}  // namespace
}  // namespace kavo

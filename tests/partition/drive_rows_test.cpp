// The drive-list rows of the system's drives and volumes, and the sources they open by.
#include "partition/drive_rows.h"

#include <gtest/gtest.h>

#include "recovery/selected_volume.h"

namespace kavo {
namespace {

TEST(DriveRows, PhysicalAndLogicalRowsInReverseSystemOrder) {
  platform::PhysicalDriveInfo a;
  a.name = u"\\\\.\\PHYSICALDRIVE0";
  a.caption = u"WDC WD10EZEX-08WN4A0 ATA Device";
  a.size = 1000204886016;
  a.bytesPerSector = 512;
  platform::PhysicalDriveInfo reader = a;
  reader.name = u"\\\\.\\PHYSICALDRIVE1";
  reader.bytesPerSector = 0;  // an empty card reader
  platform::PhysicalDriveInfo b = a;
  b.name = u"/dev/nvme0n1";
  b.caption = u"Samsung SSD 970";
  b.bytesPerSector = 4096;
  DriveList rows;
  EXPECT_EQ(EnumeratePhysicalRows(rows, {a, reader, b}), 2u);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]->name, u"/dev/nvme0n1");
  EXPECT_EQ(rows[0]->sizeInSectors, 1000204886016u / 4096);
  EXPECT_EQ(rows[1]->kind, SourceKind::PhysicalDrive);
  EXPECT_EQ(rows[1]->secondText, u"WDC WD10EZEX-08WN4A0 ATA Device ( PHY 0 )");
  EXPECT_EQ(rows[1]->bytesPerSector, 512u);
  EXPECT_EQ(rows[1]->record, nullptr);
  // Partition Recovery opens a Windows drive by its number, a Linux one by its path.
  EXPECT_EQ(SelectorForEntry(*rows[1], kOpPartitionRecovery), u"0");
#ifndef _WIN32
  EXPECT_EQ(SelectorForEntry(*rows[0], kOpPartitionRecovery), u"/dev/nvme0n1");
#endif

  platform::VolumeInfo c;
  c.caption = u"C:";
  c.fileSystem = u"NTFS";
  c.size = 250000000000;
  c.totalBytes = 249999998976;
  c.bytesPerSector = 512;
  c.sectorsPerCluster = 8;
  platform::VolumeInfo d = c;
  d.caption = u"D:";
  d.volumeName = u"Data";
  d.fileSystem = u"FAT32";
  platform::VolumeInfo empty = c;
  empty.size = 0;
  platform::VolumeInfo stick = c;
  stick.removable = true;
  EXPECT_EQ(EnumerateLogicalRows(rows, {c, d, empty, stick}), 2u);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0]->name, u"Data - D:");
  EXPECT_EQ(rows[0]->record->fileSystem, FS_FAT32);
  const DriveListEntry& local = *rows[1];
  EXPECT_EQ(local.kind, SourceKind::LogicalDrive);
  EXPECT_EQ(local.name, u"Local Disk - C:");
  EXPECT_EQ(local.secondText, u"C:");
  EXPECT_EQ(local.sizeInSectors, 249999998976u / 512);
  ASSERT_NE(local.record, nullptr);
  EXPECT_EQ(local.record->label, u"Local Disk - C:");
  EXPECT_EQ(local.record->fileSystem, FS_NTFS);
  EXPECT_EQ(local.record->totalSectors, local.sizeInSectors);
  EXPECT_EQ(local.record->sectorsPerCluster, 8u);
  EXPECT_EQ(local.record->firstSector, 0u);
  EXPECT_EQ(SelectorForEntry(local, kOpDeletedRecovery), u"C:");
}

}  // namespace
}  // namespace kavo

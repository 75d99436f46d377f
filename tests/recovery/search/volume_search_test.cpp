// The searches for lost and formatted volumes: on disks made by the real tools with their tables
// or boot sectors wiped, on a reformatted volume, and on sparse files holding boot sectors at
// chosen places for the duplicate, size and end-of-source rules.
#include "recovery/search/volume_search.h"

#include <gtest/gtest.h>

#include <fstream>

#include "disk/volume.h"
#include "partition/partition_scan.h"
#include "partition/real_disks.h"
#include "platform/bytes.h"
#include "recovery/selected_volume.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

FoundVolumeList Lost(CDisk& disk) {
  FoundVolumeList volumes;
  NullSink sink;
  EXPECT_NE(SearchLostVolumes(disk, 0, disk.m_nTotalSectors, nullptr, sink, volumes), 0u);
  return volumes;
}

[[maybe_unused]] const PartitionRecord* At(const FoundVolumeList& volumes, uint8_t code,
                                           uint64_t start) {
  for (const auto& r : volumes) {
    if (r->fileSystem == code && r->firstSector == start) return r.get();
  }
  return nullptr;
}

#ifndef _WIN32
TEST(SearchLostVolumes, FindsTheVolumesOfADiskWithoutTables) {
  test::ScratchDir dir;
  const auto image = dir / "mbr.img";
  if (auto why = test::MakeMbrDisk(image); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(test::WipeSectors(image, 0));
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  FoundVolumeList none;
  EXPECT_FALSE(ReadPartitionTables(*disk, none));

  const FoundVolumeList found = Lost(*disk);
  ASSERT_EQ(found.size(), 3u);
  const PartitionRecord* ntfs = At(found, FS_NTFS, test::kMbrNtfsStart);
  ASSERT_NE(ntfs, nullptr);
  EXPECT_EQ(ntfs->totalSectors, test::kVolumeSectors - 1);
  // Its backup boot sector and its MFT copies found it again.
  EXPECT_EQ(ntfs->duplicate, kFoundAgain | kMftConfirmed);
  const PartitionRecord* fat = At(found, FS_FAT32, test::kMbrFirstLogical);
  ASSERT_NE(fat, nullptr);
  EXPECT_NE(fat->serialNumber, 0u);
  EXPECT_EQ(fat->bytesPerSector, 512u);
  EXPECT_NE(At(found, FS_FAT32, test::kMbrSecondLogical), nullptr);

  // Without the first FAT32 boot sector its copy six sectors in still places it right.
  ASSERT_TRUE(test::WipeSectors(image, test::kMbrFirstLogical));
  // Without both NTFS boot sectors the MFT and its mirror rebuild the volume.
  ASSERT_TRUE(test::WipeSectors(image, test::kMbrNtfsStart));
  ASSERT_TRUE(test::WipeSectors(image, test::kMbrNtfsStart + test::kVolumeSectors - 1));
  auto again = test::OpenImage(image);
  const FoundVolumeList rebuilt = Lost(*again);
  ASSERT_EQ(rebuilt.size(), 3u);
  ASSERT_NE(At(rebuilt, FS_FAT32, test::kMbrFirstLogical), nullptr);
  const PartitionRecord* mft = At(rebuilt, FS_NTFS, test::kMbrNtfsStart);
  ASSERT_NE(mft, nullptr);
  EXPECT_EQ(mft->duplicate, kMftConfirmed);
  EXPECT_EQ(mft->MftCluster(), ntfs->MftCluster());
  EXPECT_EQ(mft->MftMirrorCluster(), ntfs->MftMirrorCluster());
  EXPECT_EQ(mft->bytesPerCluster, 4096u);
  EXPECT_GE(mft->totalSectors, test::kVolumeSectors - 8);
  EXPECT_LE(mft->totalSectors, test::kVolumeSectors + 512);

  // The rebuilt record opens the volume: its MFT is found from the record's geometry.
  DriveListEntry row;
  row.kind = SourceKind::Partition;
  row.record = std::make_unique<PartitionRecord>(*mft);
  EXPECT_TRUE(SetUpSelectedVolume(*again, row, kOpPartitionRecovery));
  EXPECT_EQ(again->m_nFileSystem, FS_NTFS);
}

TEST(SearchLostVolumes, RebuildsAFat32VolumeFromItsTablesAndFolders) {
  if (auto why = test::NeedTools({"mkfs.fat", "mmd"}); !why.empty()) GTEST_SKIP() << why;
  test::ScratchDir dir;
  const auto image = dir / "fat.img";
  const std::string q = "'" + image.string() + "'";
  ASSERT_EQ(
      test::RunShell("truncate -s 400M " + q + " && mkfs.fat -F 32 -s 8 " + q +
                     " >/dev/null && MTOOLS_SKIP_CHECK=1 mmd -i " + q + " ::one ::two ::three"),
      0);
  ASSERT_TRUE(test::WipeSectors(image, 0, 16));  // both boot sectors
  auto disk = test::OpenImage(image);
  const FoundVolumeList found = Lost(*disk);
  ASSERT_EQ(found.size(), 1u);
  const PartitionRecord& r = *found[0];
  EXPECT_EQ(r.fileSystem, FS_FAT32);
  EXPECT_EQ(r.sectorsPerCluster, 8u);
  // mkfs.fat: 32 reserved sectors and two FATs before cluster 2.
  const uint64_t perFat = r.FatSectorsPerFat();
  EXPECT_EQ(r.FatFirstDataSector(), 32 + 2 * perFat);
  EXPECT_EQ(r.firstSector, 32u);
  EXPECT_GE(r.totalSectors, 800u * 1024 - 32 - 2 * perFat - 8 * 128);
}

// FAT12 volumes are all far below the floor of the other kinds; they have their own, 360 KiB.
// A found FAT12 row opens as FAT12.
TEST(SearchLostVolumes, FindsFat12VolumesFromTheSmallestFloppyOn) {
  if (auto why = test::NeedTools({"mkfs.fat"}); !why.empty()) GTEST_SKIP() << why;
  test::ScratchDir dir;
  const auto image = dir / "small.img";
  const std::string q = "'" + image.string() + "'";
  // 1440 KiB at sector 2048, 4 MiB of 4096-byte sectors at 8192, 320 KiB at 20480.
  ASSERT_EQ(test::RunShell("truncate -s 16M " + q + " && mkfs.fat -F 12 --offset 2048 " + q +
                           " 1440 >/dev/null 2>&1 && mkfs.fat -F 12 -S 4096 --offset 1024 " + q +
                           " 4096 >/dev/null 2>&1 && mkfs.fat -F 12 --offset 20480 " + q +
                           " 320 >/dev/null 2>&1"),
            0);
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  FoundVolumeList found = Lost(*disk);
  ASSERT_EQ(found.size(), 2u);
  ASSERT_NE(At(found, FS_FAT12, 2048), nullptr);
  EXPECT_EQ(At(found, FS_FAT12, 2048)->totalSectors, 2880u);
  ASSERT_NE(At(found, FS_FAT12, 8192), nullptr);
  EXPECT_EQ(At(found, FS_FAT12, 8192)->totalSectors, 1024u);

  PartitionList rows;
  PublishFoundVolumes(found, SourceKind::ImageFile, u"small.img", rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1]->secondText, u"FAT12 - 1, small.img");
  for (const auto& row : rows) {
    ASSERT_TRUE(SetUpSelectedVolume(*disk, *row, kOpPartitionRecovery));
    EXPECT_EQ(disk->m_nFileSystem, FS_FAT12);
  }
}

// An exFAT volume whose main boot sector is gone is found by the copy of its boot region twelve
// sectors in, at the volume's start, once; and opens from that copy.
TEST(SearchLostVolumes, FindsExfatByItsBackupBootRegion) {
  if (auto why = test::NeedTools({"mkfs.exfat"}); !why.empty()) GTEST_SKIP() << why;
  test::ScratchDir dir;
  const auto volume = dir / "exfat.img";
  const auto image = dir / "disk.img";
  constexpr uint64_t kStart = 2048;
  ASSERT_EQ(test::RunShell("truncate -s 300M '" + volume.string() + "' && mkfs.exfat '" +
                           volume.string() + "' >/dev/null && truncate -s 302M '" + image.string() +
                           "' && dd if='" + volume.string() + "' of='" + image.string() +
                           "' bs=1M seek=1 conv=notrunc,sparse status=none"),
            0);
  auto intact = test::OpenImage(image);
  ASSERT_TRUE(intact);
  intact->m_nStartSector = kStart;
  ASSERT_TRUE(DetectVolume(*intact));
  const VolumeParams expected = intact->m_volume;

  // Both regions intact: one volume, found again by its copy.
  const FoundVolumeList both = Lost(*intact);
  ASSERT_EQ(both.size(), 1u);
  EXPECT_EQ(both[0]->firstSector, kStart);
  EXPECT_EQ(both[0]->duplicate, kFoundAgain);

  ASSERT_TRUE(test::WipeSectors(image, kStart));
  auto damaged = test::OpenImage(image);
  FoundVolumeList found = Lost(*damaged);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->fileSystem, FS_EXFAT);
  EXPECT_EQ(found[0]->firstSector, kStart);
  EXPECT_EQ(found[0]->duplicate, 0u);

  PartitionList rows;
  PublishFoundVolumes(found, SourceKind::ImageFile, u"disk.img", rows);
  ASSERT_TRUE(SetUpSelectedVolume(*damaged, *rows[0], kOpPartitionRecovery));
  EXPECT_EQ(damaged->m_nFileSystem, FS_EXFAT);
  const VolumeParams& opened = damaged->m_volume;
  EXPECT_EQ(opened.partitionStart, kStart);
  EXPECT_EQ(opened.fatSectorBase, expected.fatSectorBase);
  EXPECT_EQ(opened.sectorsPerFat, expected.sectorsPerFat);
  EXPECT_EQ(opened.firstDataSector, expected.firstDataSector);
  EXPECT_EQ(opened.clusterCount, expected.clusterCount);
  EXPECT_EQ(opened.rootCluster, expected.rootCluster);

  // A copy whose checksum sector does not match is not taken for the volume's start.
  ASSERT_TRUE(test::WipeSectors(image, kStart + 12 + 11));
  auto unchecked = test::OpenImage(image);
  const FoundVolumeList shifted = Lost(*unchecked);
  ASSERT_EQ(shifted.size(), 1u);
  EXPECT_EQ(shifted[0]->firstSector, kStart + 12);
}

TEST(SearchFormattedVolume, FindsTheVolumeBeforeTheReformat) {
  if (auto why = test::NeedTools({"mkfs.fat", "mkntfs"}); !why.empty()) GTEST_SKIP() << why;
  test::ScratchDir dir;
  const auto image = dir / "volume.img";
  const std::string q = "'" + image.string() + "'";
  ASSERT_EQ(test::RunShell("truncate -s 400M " + q + " && mkntfs -q -F -Q " + q +
                           " >/dev/null 2>&1 && mkfs.fat -F 32 " + q + " >/dev/null"),
            0);
  auto disk = test::OpenImage(image);
  FoundVolumeList found;
  NullSink sink;
  ASSERT_NE(SearchFormattedVolume(*disk, nullptr, sink, found), 0u);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->fileSystem, FS_FAT32);
  EXPECT_EQ(found[0]->firstSector, 0u);
  // The old volume's boot sector survives only as its copy in the last sector; the volume
  // begins where its original stood.
  EXPECT_EQ(found[1]->fileSystem, FS_NTFS);
  EXPECT_EQ(found[1]->firstSector, 0u);
  EXPECT_EQ(found[1]->totalSectors, disk->m_nTotalSectors - 1);
}
#endif

// A minimal NTFS boot sector: 8 sectors per cluster, MFT at cluster 4, mirror at 2.
void NtfsBoot(std::fstream& f, uint64_t sector, uint64_t total, uint64_t serial) {
  uint8_t b[512] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  StoreLe16(b + 0x0B, 512);
  b[0x0D] = 8;
  StoreLe16(b + 0x24, 0x80);
  StoreLe64(b + 0x28, total);
  StoreLe64(b + 0x30, 4);
  StoreLe64(b + 0x38, 2);
  b[0x40] = 0xF6;
  b[0x44] = 1;
  StoreLe64(b + 0x48, serial);
  b[510] = 0x55;
  b[511] = 0xAA;
  f.seekp(static_cast<std::streamoff>(sector * 512));
  f.write(reinterpret_cast<const char*>(b), 512);
}

TEST(SearchVolumes, DuplicatesSmallVolumesAndTheEndOfTheSource) {
  test::ScratchDir dir;
  const auto image = dir / "boots.img";
  constexpr uint64_t kSectors = 1'300'000;
  { std::ofstream create(image, std::ios::binary); }
  std::filesystem::resize_file(image, kSectors * 512);
  {
    std::fstream f(image, std::ios::binary | std::ios::in | std::ios::out);
    NtfsBoot(f, 0, kSmallestFoundVolume - 1, 1);  // one sector under the floor
    NtfsBoot(f, 1000, kSmallestFoundVolume, 2);   // the smallest listed
    NtfsBoot(f, 1000 + kSmallestFoundVolume, kSmallestFoundVolume, 2);  // its copy
    NtfsBoot(f, 1'200'000, 1'250'000, 3);                               // runs past the end
  }
  auto disk = test::OpenImage(image);
  ASSERT_TRUE(disk);
  const FoundVolumeList lost = Lost(*disk);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0]->firstSector, 1000u);
  EXPECT_EQ(lost[0]->serialNumber, 2u);
  EXPECT_EQ(lost[0]->duplicate, kFoundAgain);

  // The formatted search keeps volumes that run past the end of the source.
  FoundVolumeList formatted;
  NullSink sink;
  SearchFormattedVolume(*disk, nullptr, sink, formatted);
  ASSERT_EQ(formatted.size(), 2u);
  EXPECT_EQ(formatted[1]->serialNumber, 3u);

  // A search asked to stop before it began still ends normally, with nothing found.
  ProgressRecord progress;
  progress.RequestStop();
  FoundVolumeList stopped;
  EXPECT_NE(SearchLostVolumes(*disk, 0, kSectors, &progress, sink, stopped), 0u);
  EXPECT_TRUE(stopped.empty());
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

}  // namespace
}  // namespace kavo

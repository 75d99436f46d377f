// The stored forms of rows and records, publication, and the table walks on byte-level disks:
// the damaged tables that must end (looping EBR chains, absurd GPT and LDM counts) and the
// layouts that must be found.
#include "partition/partition_tables.h"

#include <gtest/gtest.h>

#include <array>

#include "partition/drive_list_entry.h"
#include "partition/memory_disk.h"
#include "partition/partition_record.h"

namespace kavo {
namespace {

using test::MemoryDisk;

TEST(PartitionRecord, StoredFieldsSitAtTheirOffsets) {
  PartitionRecord r;
  r.firstSector = 0x0102030405060708;
  r.totalSectors = 614400;
  r.serialNumber = 0xAABBCCDD11223344;
  r.geometry40 = 786432;
  r.geometry48 = 2;
  r.geometry60 = 4096;
  r.mftRecordBytes = 1024;
  r.mftRecordSectors = 2;
  r.indexRecordSectors = 8;
  r.label = u"NTFS - 1, disk.img";
  r.clusterCount = 7;
  r.bytesPerCluster = 4096;
  r.bytesPerSector = 512;
  r.sectorsPerCluster = 8;
  r.fileSystem = FS_NTFS;
  r.duplicate = kFoundAgain | kMftConfirmed;
  std::array<uint8_t, kPartitionRecordBytes> bytes{};
  SerializePartitionRecord(r, bytes);
  EXPECT_EQ(LoadLe64(&bytes[8]), r.firstSector);
  EXPECT_EQ(LoadLe64(&bytes[16]), 614400u);
  EXPECT_EQ(LoadLe64(&bytes[24]), r.serialNumber);
  EXPECT_EQ(LoadLe64(&bytes[40]), 786432u);
  EXPECT_EQ(LoadLe64(&bytes[48]), 2u);
  EXPECT_EQ(LoadLe32(&bytes[60]), 4096u);
  EXPECT_EQ(LoadLe16(&bytes[64]), 1024u);
  EXPECT_EQ(bytes[66], 2);
  EXPECT_EQ(bytes[67], 8);
  EXPECT_EQ(LoadLe32(&bytes[68]), 0u);  // the in-memory link is never stored
  EXPECT_EQ(LoadLe16(&bytes[72]), u'N');
  EXPECT_EQ(LoadLe16(&bytes[72 + 2 * r.label.size()]), 0u);
  EXPECT_EQ(LoadLe32(&bytes[592]), 7u);
  EXPECT_EQ(LoadLe32(&bytes[596]), 4096u);
  EXPECT_EQ(LoadLe16(&bytes[600]), 512u);
  EXPECT_EQ(LoadLe16(&bytes[602]), 8u);
  EXPECT_EQ(bytes[604], FS_NTFS);
  EXPECT_EQ(bytes[605], 10);

  const PartitionRecord back = ParsePartitionRecord(bytes);
  EXPECT_EQ(back.label, r.label);
  EXPECT_EQ(back.serialNumber, r.serialNumber);
  EXPECT_EQ(back.MftCluster(), 786432u);
  EXPECT_EQ(back.IndexRecordBytes(), 4096u);
  EXPECT_EQ(back.duplicate, r.duplicate);

  // An overlong label keeps its terminating zero inside the 260 units.
  r.label.assign(400, u'x');
  SerializePartitionRecord(r, bytes);
  EXPECT_EQ(LoadLe16(&bytes[72 + 2 * 259]), 0u);
  EXPECT_EQ(ParsePartitionRecord(bytes).label.size(), 259u);
}

TEST(PartitionRecord, NtfsClusterSizesWrittenAsExponents) {
  std::vector<uint8_t> boot(512, 0);
  StoreLe16(&boot[0x0B], 512);
  boot[0x0D] = 0xF4;  // 2^12 sectors: 2 MiB clusters
  StoreLe64(&boot[0x28], 1u << 30);
  StoreLe64(&boot[0x30], 4);
  boot[0x40] = 0xF6;  // 1 KiB records
  boot[0x44] = 1;     // index records of one cluster
  const PartitionRecord r = RecordFromBootSector(FS_NTFS, boot, 2048, 0, 512, RecordOrigin::Search);
  EXPECT_EQ(r.sectorsPerCluster, 4096u);
  EXPECT_EQ(r.bytesPerCluster, 2u << 20);
  EXPECT_EQ(r.mftRecordBytes, 1024u);
  EXPECT_EQ(r.IndexRecordBytes(), 2u << 20);
}

TEST(DriveListEntry, StoredFormAnnouncesItsRecord) {
  DriveListEntry e;
  e.sizeInSectors = 614400;
  e.kind = SourceKind::Partition;
  e.bytesPerSector = 512;
  e.name = u"PHY 1";
  e.secondText = u"NTFS - 1, PHY 1";
  std::array<uint8_t, kDriveListEntryBytes> bytes{};
  SerializeDriveListEntry(e, bytes);
  EXPECT_EQ(LoadLe64(&bytes[0]), 614400u);
  EXPECT_EQ(LoadLe16(&bytes[8]), 1u);
  EXPECT_EQ(LoadLe16(&bytes[10]), 512u);
  EXPECT_EQ(LoadLe16(&bytes[12]), u'P');
  EXPECT_EQ(LoadLe16(&bytes[524]), u'N');
  EXPECT_EQ(LoadLe32(&bytes[1036]), 0u);
  bool hasRecord = true;
  EXPECT_EQ(ParseDriveListEntry(bytes, hasRecord).secondText, e.secondText);
  EXPECT_FALSE(hasRecord);

  e.record = std::make_unique<PartitionRecord>();
  SerializeDriveListEntry(e, bytes);
  const DriveListEntry back = ParseDriveListEntry(bytes, hasRecord);
  EXPECT_TRUE(hasRecord);
  EXPECT_EQ(back.name, u"PHY 1");
  EXPECT_EQ(back.kind, SourceKind::Partition);
}

TEST(PublishFoundVolumes, NumbersInListOrderAndPutsTheLastFirst) {
  FoundVolumeList volumes;
  for (const uint8_t code :
       {uint8_t{FS_NTFS}, FS_UNRECOGNISED, uint8_t{FS_FAT32}, uint8_t{FS_EXFAT}}) {
    auto r = std::make_unique<PartitionRecord>();
    r->fileSystem = code;
    r->partitionType = code == FS_UNRECOGNISED ? 0x06 : 0;
    r->totalSectors = 1000 + code;
    r->bytesPerSector = 512;
    volumes.push_back(std::move(r));
  }
  PartitionList rows;
  auto earlier = std::make_unique<DriveListEntry>();
  earlier->secondText = u"FAT16 - 1, old.img";
  rows.push_back(std::move(earlier));

  EXPECT_EQ(PublishFoundVolumes(volumes, SourceKind::PhysicalDrive, u"2", rows), 4u);
  EXPECT_TRUE(volumes.empty());
  ASSERT_EQ(rows.size(), 5u);
  // A record whose file system is unknown does not end the publication; rows before and after
  // it stay valid and keep their numbers.
  EXPECT_EQ(rows[0]->secondText, u"ExFAT - 4, PHY 2");
  EXPECT_EQ(rows[1]->secondText, u"FAT32 - 3, PHY 2");
  EXPECT_EQ(rows[2]->secondText, u"Unknown (type 06h) - 2, PHY 2");
  EXPECT_EQ(rows[3]->secondText, u"NTFS - 1, PHY 2");
  EXPECT_EQ(rows[3]->record->label, rows[3]->secondText);
  EXPECT_EQ(rows[3]->name, u"PHY 2");
  EXPECT_EQ(rows[3]->kind, SourceKind::Partition);
  EXPECT_EQ(rows[3]->sizeInSectors, 1003u);
  EXPECT_EQ(rows[4]->secondText, u"FAT16 - 1, old.img");
  EXPECT_EQ(LabelNumber(rows[2]->secondText), 2u);

  FoundVolumeList one;
  one.push_back(std::make_unique<PartitionRecord>());
  one[0]->fileSystem = FS_FAT16;
  PublishFoundVolumes(one, SourceKind::LogicalDrive, u"E:", rows);
  EXPECT_EQ(rows[0]->secondText, u"FAT16 - 1, Volume - E:");
  EXPECT_EQ(LabelNumber(u"no number"), 0u);
}

// A search run twice over one source finds its volumes again: each keeps its one row, while a
// volume of another size, or the same one on another source, gets a row of its own.
TEST(PublishFoundVolumes, AVolumeFoundAgainIsNotListedTwice) {
  const auto found = [](std::initializer_list<std::pair<uint64_t, uint64_t>> volumes) {
    FoundVolumeList list;
    for (const auto& [first, total] : volumes) {
      auto r = std::make_unique<PartitionRecord>();
      r->fileSystem = FS_NTFS;
      r->firstSector = first;
      r->totalSectors = total;
      list.push_back(std::move(r));
    }
    return list;
  };
  PartitionList rows;
  auto first = found({{2048, 40000}, {60000, 8000}});
  EXPECT_EQ(PublishFoundVolumes(first, SourceKind::ImageFile, u"a.img", rows), 2u);
  auto again = found({{2048, 40000}, {60000, 8000}, {2048, 30000}});
  EXPECT_EQ(PublishFoundVolumes(again, SourceKind::ImageFile, u"a.img", rows), 1u);
  auto other = found({{2048, 40000}});
  EXPECT_EQ(PublishFoundVolumes(other, SourceKind::ImageFile, u"b.img", rows), 1u);
  EXPECT_EQ(rows.size(), 4u);
}

TEST(ReadTableEntries, NeedsTheBootSignature) {
  MemoryDisk disk(64);
  disk.TableEntry(0, 0, 0x07, 8, 16);
  disk.Sector(0)[511] = 0;
  EXPECT_TRUE(ReadTableEntries(*disk.Open()).empty());
}

TEST(ReadTableEntries, WalksTheExtendedChainAndStopsAtALoop) {
  MemoryDisk disk(4096);
  disk.TableEntry(0, 0, 0x07, 64, 100);
  disk.TableEntry(0, 1, 0x0F, 1000, 3000);
  // First EBR at 1000: a logical drive at +64 and a link to the next EBR at 1000 + 500.
  disk.TableEntry(1000, 0, 0x0C, 64, 200);
  disk.TableEntry(1000, 1, 0x05, 500, 1000);
  // Second EBR at 1500: a logical drive, and a link pointing back at itself (relative 500).
  disk.TableEntry(1500, 0, 0x0B, 64, 300);
  disk.TableEntry(1500, 1, 0x05, 500, 1000);

  const auto entries = ReadTableEntries(*disk.Open());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].firstSector, 64u);
  EXPECT_EQ(entries[0].mbrType, 0x07);
  EXPECT_EQ(entries[1].firstSector, 1064u);
  EXPECT_EQ(entries[1].sectors, 200u);
  EXPECT_EQ(entries[2].firstSector, 1564u);
  EXPECT_EQ(entries[2].mbrType, 0x0B);
}

TEST(ReadTableEntries, FollowsALinkPastADeletedFirstLogicalDrive) {
  MemoryDisk disk(4096);
  disk.TableEntry(0, 0, 0x0F, 1000, 3000);
  // The first EBR lost its volume entry but still links to the second.
  disk.TableEntry(1000, 1, 0x05, 500, 1000);
  disk.TableEntry(1500, 0, 0x06, 64, 300);
  const auto entries = ReadTableEntries(*disk.Open());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].firstSector, 1564u);
}

TEST(ReadTableEntries, ReadsNoTableSectorOutsideTheSource) {
  MemoryDisk disk(128);
  disk.TableEntry(0, 0, 0x07, 8, 16);
  disk.TableEntry(0, 1, 0x0F, 0xFFFFFFF0u, 100);
  disk.TableEntry(0, 2, 0x0C, 5000, 100);  // a volume beyond the end is not a candidate
  const auto entries = ReadTableEntries(*disk.Open());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].firstSector, 8u);
}

TEST(ReadTableEntries, BootCodeIsNotATable) {
  MemoryDisk disk(64);
  disk.TableEntry(0, 0, 0x07, 8, 16);
  disk.Sector(0)[0x1BE] = 0x3C;  // a boot indicator no table has
  EXPECT_TRUE(ReadTableEntries(*disk.Open()).empty());
}

// A protective MBR and a GPT header at sector 1 whose array starts at sector 2.
void WriteGpt(MemoryDisk& disk, uint32_t count, uint32_t entryBytes) {
  disk.TableEntry(0, 0, 0xEE, 1, 0xFFFFFFFF);
  uint8_t* h = disk.Sector(1);
  std::memcpy(h, "EFI PART", 8);
  StoreLe64(h + 0x48, 2);
  StoreLe32(h + 0x50, count);
  StoreLe32(h + 0x54, entryBytes);
}

void GptEntry(MemoryDisk& disk, uint32_t index, const uint8_t* type, uint64_t first,
              uint64_t last) {
  uint8_t* e = disk.Sector(2) + 128 * index;
  std::memcpy(e, type, 16);
  StoreLe64(e + 0x20, first);
  StoreLe64(e + 0x28, last);
}

constexpr uint8_t kBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                    0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr uint8_t kLinuxData[16] = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                    0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};

TEST(ReadTableEntries, GptBasicDataEntriesWithTheirFirstLba) {
  MemoryDisk disk(8192);
  WriteGpt(disk, 128, 128);
  GptEntry(disk, 0, kBasicData, 2048, 4095);
  GptEntry(disk, 1, kLinuxData, 4096, 5000);
  GptEntry(disk, 2, kBasicData, 6000, 8000);
  const auto entries = ReadTableEntries(*disk.Open());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].scheme, TableScheme::Gpt);
  EXPECT_EQ(entries[0].firstSector, 2048u);
  EXPECT_EQ(entries[0].sectors, 2048u);
  EXPECT_EQ(entries[1].firstSector, 6000u);
  EXPECT_EQ(entries[1].sectors, 2001u);
}

TEST(ReadTableEntries, AbsurdGptHeadersEndTheWalk) {
  {
    MemoryDisk disk(64);
    disk.TableEntry(0, 0, 0xEE, 1, 63);  // no "EFI PART" at sector 1
    EXPECT_TRUE(ReadTableEntries(*disk.Open()).empty());
  }
  for (const uint32_t entryBytes : {0u, 7u, 100u, 0x80000000u}) {
    MemoryDisk disk(64);
    WriteGpt(disk, 4, entryBytes);
    GptEntry(disk, 0, kBasicData, 40, 50);
    EXPECT_TRUE(ReadTableEntries(*disk.Open()).empty()) << entryBytes;
  }
  // Millions of entries: only the array that the source holds is read.
  MemoryDisk disk(64);
  WriteGpt(disk, 50'000'000, 128);
  GptEntry(disk, 0, kBasicData, 40, 50);
  const auto entries = ReadTableEntries(*disk.Open());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].firstSector, 40u);
}

// An MBR dynamic disk: private header at sector 6, database at `config` with its TOCBLOCK,
// VMDB and `vblks` declared VBLK records of 128 bytes; one partition record for the volume at
// logical-disk sector `start`.
void WriteLdm(MemoryDisk& disk, uint64_t config, uint32_t vblks, uint64_t start, uint64_t size) {
  const auto be64 = [](uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  };
  const auto be32 = [](uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  disk.TableEntry(0, 0, 0x42, 63, 100000);
  uint8_t* ph = disk.Sector(6);
  std::memcpy(ph, "PRIVHEAD", 8);
  be64(ph + 0x11B, 63);           // logical-disk start
  be64(ph + 0x123, config - 63);  // logical-disk size
  be64(ph + 0x12B, config);
  be64(ph + 0x133, kLdmConfigSectors);
  uint8_t* toc = disk.Sector(config + 1);
  std::memcpy(toc, "TOCBLOCK", 8);
  be64(toc + 0x2E, 17);
  uint8_t* vmdb = disk.Sector(config + 17);
  std::memcpy(vmdb, "VMDB", 4);
  be32(vmdb + 0x04, vblks);
  be32(vmdb + 0x08, 128);
  uint8_t* v = disk.Sector(config + 18) + 128;  // the second record of the first VBLK sector
  std::memcpy(v, "VBLK", 4);
  v[0x13] = 0x33;
  v[0x18] = 1;  // object id: one byte
  v[0x1A] = 4;  // name: four bytes
  std::memcpy(v + 0x1B, "Disk", 4);
  be64(v + 0x1F + 12, start);
  v[0x1F + 28] = 4;
  be32(v + 0x1F + 29, static_cast<uint32_t>(size));
}

TEST(ReadTableEntries, LdmPartitionRecordsAndBoundedVblkCounts) {
  MemoryDisk disk(6000);
  WriteLdm(disk, 3000, 8, 1000, 1500);
  auto entries = ReadTableEntries(*disk.Open());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].scheme, TableScheme::Ldm);
  EXPECT_EQ(entries[0].firstSector, 1063u);
  EXPECT_EQ(entries[0].sectors, 1500u);

  // A count of four billion records reads no further than the configuration area (and the
  // source), and still finds the one record.
  MemoryDisk big(4000);
  WriteLdm(big, 3000, 0xFFFFFFFF, 1000, 1500);
  entries = ReadTableEntries(*big.Open());
  ASSERT_EQ(entries.size(), 1u);

  // A configuration size other than 2048 sectors is not a database.
  MemoryDisk odd(6000);
  WriteLdm(odd, 3000, 8, 1000, 1500);
  odd.Sector(6)[0x133 + 6] = 0x10;
  EXPECT_TRUE(ReadTableEntries(*odd.Open()).empty());
}

}  // namespace
}  // namespace kavo

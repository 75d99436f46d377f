// The reader on volumes built byte by byte: the naming, date and flag rules of folder entries,
// and damaged or hostile structures that must neither hang nor read out of bounds.
#include <gtest/gtest.h>

#include "base/messages.h"
#include "recovery/fat/fat_folder.h"
#include "recovery/fat/fat_reader.h"
#include "support/recording_sink.h"
#include "support/scan_entries.h"
#include "support/test_paths.h"
#include "volume_builder.h"

namespace kavo {
namespace {

using test::Child;
using test::DotEntries;
using test::LongNameEntries;
using test::RecordingSink;
using test::ShortEntry;
using test::VolumeBuilder;

ScanEntryPtr List(CDisk& disk, ProgressRecord* progress = nullptr, MessageSink* sink = nullptr) {
  NullSink none;
  const uint32_t root = disk.m_nFileSystem == FS_FAT16 ? 1 : disk.m_volume.rootCluster;
  ScanEntryPtr data = NewScanData(root);
  FatReader(disk).List(data.get(), progress, sink != nullptr ? *sink : none);
  return data;
}

size_t CountChildren(const ScanEntry* folder) {
  size_t n = 0;
  for (const ScanEntry* c = folder->firstChild; c != nullptr; c = c->nextSibling) ++n;
  return n;
}

std::vector<uint8_t> Extract(CDisk& disk, uint32_t id, uint64_t size, uint16_t flags = NF_PRESENT) {
  RecoveredNode node;
  node.id = id;
  node.size = size;
  node.flags = flags;
  MemoryOutput out;
  FatReader(disk).ExtractFile(node, out, nullptr);
  return out.bytes;
}

VolumeParams Fat32Params() {
  VolumeParams p;
  p.bytesPerSector = 512;
  p.sectorsPerCluster = 1;
  p.bytesPerCluster = 512;
  p.clusterCount = 1000;
  p.rootCluster = 2;
  p.firstDataSector = 100;
  return p;
}

TEST(ParseFatFolder, ShortNamesOfLiveAndDeletedEntries) {
  std::vector<uint8_t> folder(512, 0);
  // A deleted short entry without long name: its first character is gone.
  ShortEntry(&folder[0], "\xE5WRL0001TMP", 0x20, 10, 100);
  // Upper-case storage with the lower-case flags that 8.3 names in lower case get.
  ShortEntry(&folder[32], "README  TXT", 0x20, 11, 5);
  folder[32 + 12] = 0x18;
  // 0x05 stands for a first byte 0xE5; bytes above 0x7F are code page 437.
  ShortEntry(&folder[64],
             "\x05"
             "BC     \x8E  ",
             0x20, 12, 5);
  ShortEntry(&folder[96], "NOEXT      ", 0x10, 13, 77);
  ScanEntryPtr root = NewScanData(2);
  EXPECT_EQ(ParseFatFolder(folder, FS_FAT32, Fat32Params(), *root), FolderParse::End);

  ScanEntry* tmp = Child(root.get(), u"XWRL0001.TMP");
  ASSERT_NE(tmp, nullptr);
  EXPECT_EQ(tmp->flags, 0);
  EXPECT_EQ(tmp->nameLength, 12);
  EXPECT_NE(Child(root.get(), u"readme.txt"), nullptr);
  EXPECT_NE(Child(root.get(), u"\u03C3BC.\u00C4"), nullptr);
  ScanEntry* folderEntry = Child(root.get(), u"NOEXT");
  ASSERT_NE(folderEntry, nullptr);
  EXPECT_EQ(folderEntry->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(folderEntry->size, 0u) << "folders carry no size";
  // Children are prepended: reverse order of position, before Lost+Found.
  EXPECT_EQ(root->firstChild, folderEntry);
}

TEST(ParseFatFolder, LongNames) {
  std::vector<uint8_t> folder(1024, 0);
  size_t at = 0;
  // A 13-unit piece that ends in a space keeps it.
  const std::u16string spaced = u"My Documents and Settings \u00E9t\u00E9 \u6587\u4EF6.txt";
  const char* shortSpaced = "MYDOCU~1TXT";
  at += 32 * LongNameEntries(&folder[at], spaced, reinterpret_cast<const uint8_t*>(shortSpaced));
  ShortEntry(&folder[at], shortSpaced, 0x20, 20, 1);
  at += 32;
  // A deleted file keeps its long name: all its entries carry the deleted mark.
  const std::u16string kept = u"a long deleted name.jpeg";
  const char* shortKept = "ALONGD~1JPE";
  const size_t pieces =
      LongNameEntries(&folder[at], kept, reinterpret_cast<const uint8_t*>(shortKept));
  for (size_t k = 0; k < pieces; ++k) folder[at + 32 * k] = 0xE5;
  at += 32 * pieces;
  ShortEntry(&folder[at], shortKept, 0x20, 21, 1);
  folder[at] = 0xE5;
  at += 32;
  // Deleted pieces left in front of a live short entry are not its name.
  const char* stale = "STALE   BIN";
  folder[at] = 0;
  const size_t stalePieces =
      LongNameEntries(&folder[at], u"stale long name.bin", reinterpret_cast<const uint8_t*>(stale));
  for (size_t k = 0; k < stalePieces; ++k) folder[at + 32 * k] = 0xE5;
  at += 32 * stalePieces;
  ShortEntry(&folder[at], "NEWFILE BIN", 0x20, 22, 1);
  at += 32;
  // Live pieces of another short name do not name this one either.
  at += 32 * LongNameEntries(&folder[at], u"orphan piece", reinterpret_cast<const uint8_t*>(stale));
  ShortEntry(&folder[at], "OTHER   BIN", 0x20, 23, 1);

  ScanEntryPtr root = NewScanData(2);
  ParseFatFolder(folder, FS_FAT32, Fat32Params(), *root);
  EXPECT_NE(Child(root.get(), spaced), nullptr);
  ScanEntry* deleted = Child(root.get(), kept);
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->flags, 0);
  EXPECT_NE(Child(root.get(), u"NEWFILE.BIN"), nullptr);
  EXPECT_NE(Child(root.get(), u"OTHER.BIN"), nullptr);
  EXPECT_EQ(CountChildren(root.get()), 5u);
}

TEST(ParseFatFolder, AcceptanceAndFieldRules) {
  std::vector<uint8_t> folder(512, 0);
  ShortEntry(&folder[0], "VOLUME     ", 0x08, 0, 0);        // label: skipped as first entry
  ShortEntry(&folder[32], "EMPTY   TXT", 0x20, 0, 0);       // empty file without cluster: kept
  ShortEntry(&folder[64], "BADSIZE TXT", 0x20, 0, 10);      // no cluster but a size: dropped
  ShortEntry(&folder[96], "PAST    BIN", 0x20, 1002, 10);   // past the last cluster: dropped
  ShortEntry(&folder[128], "LAST    BIN", 0x20, 1001, 10);  // the last cluster: kept
  ShortEntry(&folder[160], "SELF    BIN", 0x20, 2, 10);     // the folder's own cluster
  ShortEntry(&folder[192], "CASE    BIN", 0x20, 30, 10);
  folder[192 + 12] = 0x01;  // unknown case bits: dropped
  // Read-only, archived folder: an ordinary attribute, not the end of the folder.
  ShortEntry(&folder[224], "DATES      ", 0x31, 31, 0, 0x5A21, 0x5A42, 0x5A63);
  ShortEntry(&folder[256], "AFTER   BIN", 0x20, 32, 10);
  ShortEntry(&folder[288], "LATER   BIN", 0x48, 33, 10);  // reserved attribute bit: the end
  ShortEntry(&folder[320], "NEVER   BIN", 0x20, 34, 10);

  VolumeParams p = Fat32Params();
  p.partitionStart = 1000;
  ScanEntryPtr root = NewScanData(2);
  EXPECT_EQ(ParseFatFolder(folder, FS_FAT32, p, *root), FolderParse::End);
  EXPECT_EQ(CountChildren(root.get()), 5u);
  ScanEntry* empty = Child(root.get(), u"EMPTY.TXT");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->location, 0u);
  ScanEntry* last = Child(root.get(), u"LAST.BIN");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->location, (1001u - 2) * 128 + 100 + 1000 + 32);
  EXPECT_EQ(last->parentId, 2u);
  EXPECT_EQ(last->size, 10u);
  ScanEntry* dated = Child(root.get(), u"DATES");
  ASSERT_NE(dated, nullptr);
  EXPECT_EQ(dated->createdDate, 0x5A21);
  EXPECT_EQ(dated->modifiedDate, 0x5A42) << "the modified date is the last-access date";
  EXPECT_NE(Child(root.get(), u"AFTER.BIN"), nullptr);

  // On FAT16 cluster 2 is an ordinary data cluster.
  std::vector<uint8_t> fat16(64, 0);
  ShortEntry(&fat16[0], "TWO     BIN", 0x20, 2, 10);
  ScanEntryPtr root16 = NewScanData(1);
  ParseFatFolder(fat16, FS_FAT16, p, *root16);
  EXPECT_NE(Child(root16.get(), u"TWO.BIN"), nullptr);
}

TEST(FatReader, Fat16RootIsThe32SectorArea) {
  test::ScratchDir dir;
  VolumeBuilder v = VolumeBuilder::Fat(FS_FAT16, 64);
  ShortEntry(v.Root(), "FIRST   TXT", 0x20, 3, 3);
  test::FillerEntries(v.Root() + 32, 510);
  ShortEntry(v.Root() + 511 * 32, "LAST    TXT", 0x20, 4, 3);  // the area's last entry
  ShortEntry(v.Cluster(2), "BEYOND  TXT", 0x20, 5, 3);         // cluster 2 follows the area
  CDisk disk;
  ASSERT_TRUE(v.Open(dir.path(), disk));
  ScanEntryPtr data = List(disk);
  EXPECT_NE(Child(data.get(), u"FIRST.TXT"), nullptr);
  EXPECT_NE(Child(data.get(), u"LAST.TXT"), nullptr);
  EXPECT_EQ(Child(data.get(), u"BEYOND.TXT"), nullptr);
  std::memcpy(v.Cluster(4), "abc", 3);
  ASSERT_TRUE(v.Open(dir.path(), disk));
  EXPECT_EQ(Extract(disk, 4, 3), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(FatReader, DeletedFoldersAndReusedClusters) {
  test::ScratchDir dir;
  VolumeBuilder v = VolumeBuilder::Fat(FS_FAT32, 64);
  // A deleted folder whose entries are intact: its files show deleted too.
  ShortEntry(v.Cluster(2),
             "\xE5"
             "LD        ",
             0x10, 3, 0);
  DotEntries(v.Cluster(3), 3, 0);
  ShortEntry(v.Cluster(3) + 64, "INSIDE  TXT", 0x20, 10, 4);
  // A live folder that took over the cluster of a deleted one listed before it.
  ShortEntry(v.Cluster(2) + 32,
             "\xE5"
             "ONE       ",
             0x10, 4, 0);
  ShortEntry(v.Cluster(2) + 64, "NEW        ", 0x10, 4, 0);
  v.Chain({4});
  DotEntries(v.Cluster(4), 4, 0);
  ShortEntry(v.Cluster(4) + 64, "FRESH   TXT", 0x20, 11, 4);
  // A deleted folder whose cluster now holds file data.
  ShortEntry(v.Cluster(2) + 96,
             "\xE5"
             "OST       ",
             0x10, 5, 0);
  std::memset(v.Cluster(5), 'x', VolumeBuilder::kSector);
  CDisk disk;
  ASSERT_TRUE(v.Open(dir.path(), disk));
  ScanEntryPtr data = List(disk);

  ScanEntry* old = Child(data.get(), u"XLD");
  ASSERT_NE(old, nullptr);
  ScanEntry* inside = Child(old, u"INSIDE.TXT");
  ASSERT_NE(inside, nullptr);
  EXPECT_EQ(inside->flags, 0) << "a file inside a deleted folder is deleted";
  EXPECT_EQ(inside->parentId, 3u);
  ScanEntry* fresh = Child(Child(data.get(), u"NEW"), u"FRESH.TXT");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->flags, NF_PRESENT);
  EXPECT_EQ(CountChildren(Child(data.get(), u"XONE")), 0u);
  EXPECT_EQ(CountChildren(Child(data.get(), u"XOST")), 0u);
}

TEST(FatReader, CyclesAndOutOfRangeClustersEnd) {
  test::ScratchDir dir;
  VolumeBuilder v = VolumeBuilder::Fat(FS_FAT32, 64);
  // The root's chain loops back on itself.
  v.SetFat(2, 3);
  v.SetFat(3, 2);
  ShortEntry(v.Cluster(2), "A          ", 0x10, 4, 0);
  test::FillerEntries(v.Cluster(2) + 32, 15);
  v.Chain({4});
  DotEntries(v.Cluster(4), 4, 0);
  ShortEntry(v.Cluster(4) + 64, "B          ", 0x10, 5, 0);
  v.Chain({5});
  DotEntries(v.Cluster(5), 5, 4);
  ShortEntry(v.Cluster(5) + 64, "UP         ", 0x10, 4, 0);  // B holds its own parent
  ShortEntry(v.Cluster(5) + 96, "UPAGAIN    ", 0x10, 4, 0);
  // A file whose chain is a cycle 10 -> 11 -> 10, and one whose chain leaves the volume.
  ShortEntry(v.Cluster(3), "CYCLE   BIN", 0x20, 10, 3 * 512);
  v.SetFat(10, 11);
  v.SetFat(11, 10);
  ShortEntry(v.Cluster(3) + 32, "HUGE    BIN", 0x20, 60, 0xFFFFFFF0);
  v.SetFat(60, 5000);
  for (uint32_t c = 10; c < 66; ++c) std::memset(v.Cluster(c), static_cast<int>(c), 512);

  CDisk disk;
  ASSERT_TRUE(v.Open(dir.path(), disk));
  FatReader reader(disk);
  EXPECT_EQ(reader.BuildFatChain(2), (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(reader.BuildFatChain(10), (std::vector<uint32_t>{10, 11}));
  EXPECT_EQ(reader.BuildFatChain(60), (std::vector<uint32_t>{60}));
  EXPECT_TRUE(reader.BuildFatChain(66).empty()) << "past the last cluster";
  EXPECT_TRUE(reader.BuildFatChain(1).empty());

  ScanEntryPtr data = List(disk);
  ScanEntry* b = Child(Child(data.get(), u"A"), u"B");
  ASSERT_NE(b, nullptr);
  ASSERT_NE(Child(b, u"UP"), nullptr);
  EXPECT_EQ(CountChildren(Child(b, u"UP")), 0u) << "an ancestor is not listed again";
  EXPECT_EQ(CountChildren(Child(b, u"UPAGAIN")), 0u);
  EXPECT_NE(Child(data.get(), u"CYCLE.BIN"), nullptr);

  // The cyclic chain is shorter than the size: the file is read from consecutive clusters.
  const std::vector<uint8_t> cycle = Extract(disk, 10, 3 * 512);
  ASSERT_EQ(cycle.size(), 3u * 512);
  EXPECT_EQ(cycle[0], 10);
  EXPECT_EQ(cycle[512], 11);
  EXPECT_EQ(cycle[1024], 12);
  // A size beyond the volume: the data stops at its last cluster.
  EXPECT_EQ(Extract(disk, 60, 0xFFFFFFF0).size(), 6u * 512);
  EXPECT_TRUE(Extract(disk, 70, 100).empty());
}

TEST(FatReader, ChainsFragmentsAndSizes) {
  test::ScratchDir dir;
  VolumeBuilder v = VolumeBuilder::Fat(FS_FAT32, 64);
  for (uint32_t c = 3; c < 66; ++c) std::memset(v.Cluster(c), static_cast<int>(c), 512);
  v.Chain({10, 20, 11});
  CDisk disk;
  ASSERT_TRUE(v.Open(dir.path(), disk));
  // A live fragmented file follows its chain and stops at its size.
  std::vector<uint8_t> data = Extract(disk, 10, 2 * 512 + 7);
  ASSERT_EQ(data.size(), 2u * 512 + 7);
  EXPECT_EQ(data[0], 10);
  EXPECT_EQ(data[512], 20);
  EXPECT_EQ(data[1024], 11);
  // A chain far longer than the size is not this file's: consecutive clusters.
  data = Extract(disk, 10, 100);
  EXPECT_EQ(data.size(), 100u);
  // A deleted file of three clusters whose chain is gone reads three consecutive clusters.
  data = Extract(disk, 30, 3 * 512, 0);
  ASSERT_EQ(data.size(), 3u * 512);
  EXPECT_EQ(data[0], 30);
  EXPECT_EQ(data[512], 31);
  EXPECT_EQ(data[1024], 32);
  EXPECT_TRUE(Extract(disk, 30, 0).empty());
}

TEST(FatReader, StopRequestAndProgressMessages) {
  test::ScratchDir dir;
  VolumeBuilder v = VolumeBuilder::Fat(FS_FAT32, 64);
  ShortEntry(v.Cluster(2), "ONE     TXT", 0x20, 10, 1);
  ShortEntry(v.Cluster(2) + 32, "TWO     TXT", 0x20, 11, 1);
  CDisk disk;
  ASSERT_TRUE(v.Open(dir.path(), disk));
  RecordingSink sink;
  ProgressRecord progress;
  progress.SetState(PS_RUNNING);
  ScanEntryPtr data = NewScanData(2);
  EXPECT_EQ(FatReader(disk).List(data.get(), &progress, sink), PS_RUNNING);
  EXPECT_EQ(sink.messages.size(), 3u) << "one UM_PROGRESS per entry of the root, Lost+Found too";
  EXPECT_EQ(sink.messages[0].message, UM_PROGRESS);

  progress.RequestStop();
  ScanEntryPtr stopped = NewScanData(2);
  EXPECT_EQ(FatReader(disk).List(stopped.get(), &progress, sink), PS_STOPPED);
}

}  // namespace
}  // namespace kavo

// exFAT entry sets built byte by byte: the set rules, the folder-merging rule, dates, flags,
// progress and stop requests, and folders that must not be read twice.
#include <gtest/gtest.h>

#include "base/messages.h"
#include "platform/text.h"
#include "recovery/fat/fat_folder.h"
#include "recovery/fat/fat_reader.h"
#include "recovery/filesystem.h"
#include "support/recording_sink.h"
#include "support/scan_entries.h"
#include "support/test_paths.h"
#include "volume_builder.h"

namespace kavo {
namespace {

using test::Child;
using test::RecordingSink;
using test::VolumeBuilder;

struct SetSpec {
  std::u16string name;
  uint32_t cluster = 0;
  uint64_t size = 0;
  bool folder = false;
  bool deleted = false;
  uint8_t streamFlags = 0x01;
  uint32_t modified = 0;  // timestamps: date in the upper 16 bits
  uint32_t accessed = 0;
  uint64_t valid = UINT64_MAX;  // the valid data length; the size when not given
};

// Writes one entry set at `at` and returns its size in bytes.
size_t WriteSet(uint8_t* at, const SetSpec& s) {
  const size_t names = (s.name.size() + 14) / 15;
  const uint8_t inUse = s.deleted ? 0x00 : 0x80;
  std::memset(at, 0, 32 * (2 + names));
  at[0] = 0x05 | inUse;
  at[1] = static_cast<uint8_t>(1 + names);
  StoreLe16(at + 4, s.folder ? 0x10 : 0x20);
  StoreLe32(at + 0x0C, s.modified);
  StoreLe32(at + 0x10, s.accessed);
  uint8_t* stream = at + 32;
  stream[0] = 0x40 | inUse;
  stream[1] = s.streamFlags;
  stream[3] = static_cast<uint8_t>(s.name.size());
  StoreLe64(stream + 8, s.valid == UINT64_MAX ? s.size : s.valid);
  StoreLe32(stream + 0x14, s.cluster);
  StoreLe64(stream + 0x18, s.size);
  for (size_t k = 0; k < names; ++k) {
    uint8_t* e = at + 64 + 32 * k;
    e[0] = 0x41 | inUse;
    for (size_t i = 0; i < 15 && k * 15 + i < s.name.size(); ++i) {
      StoreLe16(e + 2 + 2 * i, s.name[k * 15 + i]);
    }
  }
  return 32 * (2 + names);
}

VolumeParams ExfatParams() {
  VolumeParams p;
  p.bytesPerSector = 512;
  p.sectorsPerCluster = 8;
  p.bytesPerCluster = 4096;
  p.clusterCount = 1000;
  p.rootCluster = 5;
  p.firstDataSector = 2048;
  p.partitionStart = 100;
  return p;
}

TEST(ParseExfatFolder, EntrySetsNamesDatesAndFlags) {
  std::vector<uint8_t> folder(4096, 0);
  size_t at = 0;
  folder[at] = 0x81;  // the allocation bitmap's entry
  at += 32;
  at += WriteSet(&folder[at], {u"a rather long name of forty-one units.txt", 10, 5000, false, false,
                               0x03, 0x5A210000, 0x5A420000});
  at += WriteSet(&folder[at], {u"fragmented.bin", 20, 9000, false, false, 0x01});
  at += WriteSet(&folder[at], {u"gone.doc", 30, 100, false, true, 0x03});
  at += WriteSet(&folder[at], {u"empty", 0, 0, false, false, 0x00});
  at += WriteSet(&folder[at], {u"deleted, no cluster", 0, 512, false, true, 0x01});
  at += WriteSet(&folder[at], {u"live, no cluster", 0, 512, false, false, 0x01});  // dropped
  at += WriteSet(&folder[at], {u"below root", 4, 10});   // at or below the root: dropped
  at += WriteSet(&folder[at], {u"past end", 1002, 10});  // past the last cluster: dropped
  at += WriteSet(&folder[at], {u"last", 1001, 10});
  folder[at] = 0xA0;  // a benign entry: passed over
  at += 32;
  at += WriteSet(&folder[at], {u"after guid", 40, 10});

  ScanEntryPtr root = NewScanData(5);
  ExfatProgress progress;
  EXPECT_EQ(ParseExfatFolder(folder, ExfatParams(), *root, progress), FolderParse::More);
  ScanEntry* longName = Child(root.get(), u"a rather long name of forty-one units.txt");
  ASSERT_NE(longName, nullptr);
  EXPECT_EQ(longName->flags, NF_PRESENT) << "contiguous: the table is not followed";
  EXPECT_EQ(longName->createdDate, 0x5A21) << "the last-modified date";
  EXPECT_EQ(longName->modifiedDate, 0x5A42) << "the last-access date";
  EXPECT_EQ(longName->size, 5000u);
  EXPECT_EQ(longName->location, (10u - 2) * 8 + 2048 + 100);
  ASSERT_NE(Child(root.get(), u"fragmented.bin"), nullptr);
  EXPECT_EQ(Child(root.get(), u"fragmented.bin")->flags, NF_PRESENT | NF_FATCHAIN);
  ASSERT_NE(Child(root.get(), u"gone.doc"), nullptr);
  EXPECT_EQ(Child(root.get(), u"gone.doc")->flags, 0);
  ASSERT_NE(Child(root.get(), u"empty"), nullptr);
  EXPECT_EQ(Child(root.get(), u"empty")->location, 0u);
  ASSERT_NE(Child(root.get(), u"deleted, no cluster"), nullptr);
  EXPECT_EQ(Child(root.get(), u"deleted, no cluster")->size, 512u);
  EXPECT_EQ(Child(root.get(), u"live, no cluster"), nullptr);
  EXPECT_EQ(Child(root.get(), u"below root"), nullptr);
  EXPECT_EQ(Child(root.get(), u"past end"), nullptr);
  EXPECT_NE(Child(root.get(), u"last"), nullptr);
  EXPECT_NE(Child(root.get(), u"after guid"), nullptr);
}

TEST(ParseExfatFolder, FoldersOfTheSameClusterMerge) {
  std::vector<uint8_t> folder(4096, 0);
  size_t at = 0;
  // A renamed folder: the old set deleted, the new one live, both for cluster 50.
  at += WriteSet(&folder[at], {u"old name", 50, 4096, true, false, 0x03, 0x5A210000});
  folder[0] &= 0x7F;
  for (size_t i = 32; i < at; i += 32) folder[i] &= 0x7F;
  at += WriteSet(&folder[at], {u"new name", 50, 4096, true, false, 0x03, 0x5A000000});
  // A later deleted description of the same folder does not make it deleted.
  at += WriteSet(&folder[at], {u"older copy", 50, 4096, true, true, 0x03, 0x5B000000});
  // Two live descriptions: the newer date wins.
  at += WriteSet(&folder[at], {u"first", 60, 4096, true, false, 0x03, 0x5A000000});
  at += WriteSet(&folder[at], {u"second", 60, 4096, true, false, 0x03, 0x5A100000});
  // An entry with impossible attributes ends the folder.
  folder[at] = 0x85;
  folder[at + 1] = 2;
  StoreLe16(&folder[at + 4], 0x18);
  at += 32;
  WriteSet(&folder[at], {u"never", 70, 10});

  ScanEntryPtr root = NewScanData(5);
  ExfatProgress progress;
  EXPECT_EQ(ParseExfatFolder(folder, ExfatParams(), *root, progress), FolderParse::End);
  ScanEntry* renamed = Child(root.get(), u"new name");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(Child(root.get(), u"old name"), nullptr);
  EXPECT_EQ(Child(root.get(), u"older copy"), nullptr);
  EXPECT_NE(Child(root.get(), u"second"), nullptr);
  EXPECT_EQ(Child(root.get(), u"first"), nullptr);
  EXPECT_EQ(Child(root.get(), u"never"), nullptr);
}

TEST(ParseExfatFolder, PercentIsCappedAndStopEnds) {
  std::vector<uint8_t> folder(4096, 0);
  size_t at = 0;
  at += WriteSet(&folder[at], {u"a", 100, 1});
  at += WriteSet(&folder[at], {u"b", 50, 1});
  at += WriteSet(&folder[at], {u"c", 990, 1});
  WriteSet(&folder[at], {u"d", 995, 1});
  RecordingSink sink;
  ProgressRecord record;
  ExfatProgress progress{&record, &sink};
  ScanEntryPtr root = NewScanData(5);
  EXPECT_EQ(ParseExfatFolder(folder, ExfatParams(), *root, progress), FolderParse::More);
  ASSERT_EQ(sink.messages.size(), 2u) << "sent when the largest cluster moves the percentage";
  EXPECT_EQ(sink.messages[0].message, UM_SET_PERCENT);
  EXPECT_EQ(sink.messages[0].wParam, 10u);
  EXPECT_EQ(sink.messages[1].message, UM_SET_PERCENT);
  EXPECT_EQ(sink.messages[1].wParam, 90u);

  record.RequestStop();
  ScanEntryPtr stopped = NewScanData(5);
  ExfatProgress again{&record, &sink};
  EXPECT_EQ(ParseExfatFolder(folder, ExfatParams(), *stopped, again), FolderParse::Stopped);
  EXPECT_EQ(record.State(), PS_STOPPED);
  EXPECT_NE(Child(stopped.get(), u"a"), nullptr) << "what was found stays";
  EXPECT_EQ(Child(stopped.get(), u"b"), nullptr);
}

TEST(ExfatReader, FoldersChainsAndData) {
  test::ScratchDir dir;
  VolumeBuilder v = VolumeBuilder::Exfat(64, 4);
  // The root spans two clusters of its chain; an entry set crosses from one into the other.
  v.Chain({4, 9});
  uint8_t* root = v.Cluster(4);
  size_t at = 0;
  for (int i = 0; i < 5; ++i)
    at += WriteSet(root + at, {u"pad" + std::u16string(1, u'0' + i), 0, 0});
  uint8_t crossing[96];
  WriteSet(crossing, {u"crossing", 20, 1000, false, false, 0x01});
  ASSERT_EQ(at, 480u);
  std::memcpy(root + at, crossing, 512 - at);
  std::memcpy(v.Cluster(9), crossing + (512 - at), 96 - (512 - at));
  size_t at9 = 96 - (512 - at);
  at9 += WriteSet(v.Cluster(9) + at9, {u"sub", 12, 1024, true, false, 0x03});
  at9 += WriteSet(v.Cluster(9) + at9, {u"loop", 4, 512, true});  // the root's own cluster
  WriteSet(v.Cluster(9) + at9, {u"deleted dir", 40, 512, true, true, 0x01});
  // A contiguous subfolder of two clusters, whose table entries are not kept.
  WriteSet(v.Cluster(12), {u"first half", 30, 10});
  WriteSet(v.Cluster(13), {u"second half", 31, 10});
  for (uint32_t c = 14; c < 66; ++c) std::memset(v.Cluster(c), static_cast<int>(c), 512);
  // A deleted folder whose chain is gone; its first cluster still holds its entries.
  WriteSet(v.Cluster(40), {u"inner", 41, 10});
  // Data: a fragmented file by the table, and a contiguous one.
  v.Chain({20, 25});
  CDisk disk;
  ASSERT_TRUE(v.Open(dir.path(), disk));

  ScanEntryPtr data = NewScanData(4);
  NullSink sink;
  FatReader reader(disk);
  EXPECT_EQ(reader.BuildExfatChain(4), (std::vector<uint32_t>{4, 9}));
  EXPECT_TRUE(reader.BuildFatChain(4).empty());
  reader.List(data.get(), nullptr, sink);
  ScanEntry* crossingFile = Child(data.get(), u"crossing");
  ASSERT_NE(crossingFile, nullptr);
  ScanEntry* sub = Child(data.get(), u"sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->size, 1024u) << "exFAT folders carry their length";
  EXPECT_NE(Child(sub, u"first half"), nullptr);
  EXPECT_NE(Child(sub, u"second half"), nullptr);
  ScanEntry* deletedDir = Child(data.get(), u"deleted dir");
  ASSERT_NE(deletedDir, nullptr);
  ASSERT_NE(Child(deletedDir, u"inner"), nullptr);
  EXPECT_EQ(Child(deletedDir, u"inner")->flags & NF_PRESENT, 0) << "inside a deleted folder";
  EXPECT_EQ(Child(data.get(), u"loop"), nullptr);

  RecoveredNode node;
  node.id = 20;
  node.size = 1000;
  node.flags = NF_PRESENT | NF_FATCHAIN;
  MemoryOutput chained;
  ASSERT_TRUE(reader.ExtractFile(node, chained, nullptr));
  ASSERT_EQ(chained.bytes.size(), 1000u);
  EXPECT_EQ(chained.bytes[511], 20);
  EXPECT_EQ(chained.bytes[512], 25);
  node.flags = NF_PRESENT;  // contiguous
  MemoryOutput contiguous;
  ASSERT_TRUE(reader.ExtractFile(node, contiguous, nullptr));
  EXPECT_EQ(contiguous.bytes[512], 21);
}

// A file is as long as its data length; what lies past its valid data length was never written
// and is saved as zeros, in the root and in subfolders, live or deleted, chained or contiguous.
// A valid length beyond the size is damage and changes nothing; a damaged size far beyond the
// volume writes no more zeros than the volume has clusters.
TEST(ExfatReader, BytesPastTheValidDataLengthAreZeros) {
  struct Case {
    SetSpec set;
    uint64_t dataBytes;  // bytes taken from the clusters; zeros after them
    uint64_t written;    // bytes written
  };
  const std::vector<Case> cases = {
      {{u"half.bin", 20, 1500, false, false, 0x03, 0, 0, 600}, 600, 1500},
      {{u"none written", 24, 1024, false, true, 0x03, 0, 0, 0}, 0, 1024},
      {{u"chained.bin", 28, 1100, false, false, 0x01, 0, 0, 700}, 700, 1100},
      {{u"whole.bin", 32, 900, false, false, 0x03, 0, 0, 900}, 900, 900},
      {{u"damaged.bin", 34, 800, false, false, 0x03, 0, 0, 5000}, 800, 800},
      {{u"huge.bin", 60, uint64_t{1} << 40, false, false, 0x03, 0, 0, 100}, 100, 6 * 512},
  };
  for (const bool inSubfolder : {false, true}) {
    SCOPED_TRACE(inSubfolder ? "subfolder" : "root");
    test::ScratchDir dir;
    // The sets take two clusters: the root's chain, or a contiguous subfolder.
    VolumeBuilder v = VolumeBuilder::Exfat(64, 4);
    v.Chain({4, 5});
    std::vector<uint8_t> sets(1024, 0);
    size_t at = 0;
    for (const Case& c : cases) at += WriteSet(&sets[at], c.set);
    std::memcpy(v.Cluster(inSubfolder ? 10 : 4), sets.data(), 512);
    std::memcpy(v.Cluster(inSubfolder ? 11 : 5), sets.data() + 512, 512);
    if (inSubfolder) WriteSet(v.Cluster(4), {u"sub", 10, 1024, true, false, 0x03});
    for (uint32_t c = 12; c < 66; ++c) std::memset(v.Cluster(c), static_cast<int>(c), 512);
    v.Chain({28, 40, 41});
    CDisk disk;
    ASSERT_TRUE(v.Open(dir.path(), disk));
    NullSink sink;
    const NodePtr root = ScanFileSystem(disk, nullptr, sink);
    ASSERT_TRUE(root && root->firstChild);
    const RecoveredNode* parent = root->firstChild;
    if (inSubfolder) parent = FindChildFolder(parent, u"sub");
    ASSERT_NE(parent, nullptr);
    FatReader reader(disk);
    for (const Case& c : cases) {
      SCOPED_TRACE(platform::Utf16ToUtf8(c.set.name));
      const RecoveredNode* node = parent->firstChild;
      while (node != nullptr && NodeName(*node) != c.set.name) node = node->nextSibling;
      ASSERT_NE(node, nullptr);
      EXPECT_EQ(node->size, c.set.size);
      MemoryOutput out;
      ASSERT_TRUE(reader.ExtractFile(*node, out, nullptr));
      ASSERT_EQ(out.bytes.size(), c.written);
      // Through the chain or from consecutive clusters, as the entry says.
      const std::vector<uint32_t> chain = {28, 40, 41};
      for (size_t i = 0; i < out.bytes.size(); ++i) {
        const size_t cluster = c.set.streamFlags == 0x01 ? chain[i / 512] : c.set.cluster + i / 512;
        const uint8_t expected = i < c.dataBytes ? static_cast<uint8_t>(cluster) : 0;
        ASSERT_EQ(out.bytes[i], expected) << "byte " << i;
      }
    }
  }
}

}  // namespace
}  // namespace kavo

// Scan-info files: round trips, the byte layout, and hostile or damaged files.
#include "recovery/scan_info.h"

#include <gtest/gtest.h>

#include <fstream>

#include "disk/volume.h"
#include "partition/partition_scan.h"
#include "platform/bytes.h"
#include "recovery/filesystem.h"
#include "recovery/selected_volume.h"
#include "support/fixtures.h"
#include "support/recording_prompter.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

using test::RecordingPrompter;

RecoveredNode* Add(RecoveredNode* parent, std::u16string name, uint16_t flags) {
  NodePtr n = NewNode();
  n->name = std::move(name);
  n->nameLength = static_cast<uint8_t>(n->name.size());
  n->flags = flags;
  return AppendChild(parent, std::move(n));
}

// Every field the file keeps, node by node in walk order.
void ExpectSameTree(const RecoveredNode* a, const RecoveredNode* b) {
  std::vector<std::pair<const RecoveredNode*, const RecoveredNode*>> stack{
      {a->firstChild, b->firstChild}};
  size_t count = 0;
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (!x || !y) {
      ASSERT_EQ(x == nullptr, y == nullptr) << "shapes differ after " << count << " nodes";
      continue;
    }
    ++count;
    ASSERT_EQ(NodeName(*x), NodeName(*y));
    ASSERT_EQ(x->nameLength, y->nameLength);
    ASSERT_EQ(x->size, y->size);
    ASSERT_EQ(x->location, y->location);
    ASSERT_EQ(x->endSector, y->endSector);
    ASSERT_EQ(x->id, y->id);
    ASSERT_EQ(x->parentId, y->parentId);
    ASSERT_EQ(x->createdDate, y->createdDate);
    ASSERT_EQ(x->modifiedDate, y->modifiedDate);
    ASSERT_EQ(x->flags, y->flags);
    ASSERT_EQ(x->origin, y->origin);
    ASSERT_EQ(y->mark, 0);
    ASSERT_EQ(y->parent == b, x->parent == a);
    stack.push_back({x->nextSibling, y->nextSibling});
    stack.push_back({x->firstChild, y->firstChild});
  }
}

void WriteBytes(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Header(uint8_t operation, uint8_t fileSystem) {
  std::vector<uint8_t> h(kScanInfoMagic, kScanInfoMagic + 8);
  h.push_back(operation);
  h.push_back(4);                                  // image file
  h.insert(h.end(), {2, 0, 0, 0});                 // name of 2 characters
  h.insert(h.end(), {'C', 0, ':', 0});             // ... in L + 2 = 4 bytes
  h.insert(h.end(), {0, 0, 0x10, 0, 0, 0, 0, 0});  // 1 MiB
  h.push_back(fileSystem);
  return h;
}

TEST(ScanInfo, RoundTripsEveryStoredField) {
  NodePtr root = NewRoot();
  RecoveredNode* data = Add(root.get(), u"Data", NF_FOLDER | NF_PRESENT);
  data->id = 5;
  RecoveredNode* docs = Add(data, u"Docs \u00e9t\u00e9", NF_FOLDER | NF_PRESENT);
  RecoveredNode* file = Add(docs, u"r\u00e9sum\u00e9.txt", 0);
  file->size = 123456789012ull;
  file->location = 777;
  file->id = 42;
  file->parentId = 41;
  file->createdDate = 0x5821;
  file->modifiedDate = 0x5822;
  file->mark = 1;
  Add(data, u"Lost+Found", NF_FOLDER);
  RecoveredNode* fileType = AttachFileType(root.get());
  RecoveredNode* jpeg = AddChildFolder(fileType, u"jpeg");
  RecoveredNode* hit = AddChildFolder(jpeg, u"file0.jpeg");
  hit->flags = 0;
  hit->origin = ORIGIN_RAW_SCAN;
  hit->endSector = 999;

  test::ScratchDir dir;
  RecordingPrompter prompter;
  // A scan of a FAT12 volume (code 6) loads as any other.
  ASSERT_TRUE(SaveScanInfo(dir / "fat12.qsv", ScanInfoHeader{3, 4, u"f.img", 1 << 20, FS_FAT12, 0},
                           root.get(), prompter));
  ASSERT_TRUE(LoadScanInfo(dir / "fat12.qsv", 3, prompter));
  ScanInfoHeader header{3, 4, u"/images/disk.img", 1 << 20, FS_NTFS, 2048};
  ASSERT_TRUE(SaveScanInfo(dir / "a.qsv", header, root.get(), prompter));
  auto loaded = LoadScanInfo(dir / "a.qsv", 3, prompter);
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(prompter.said.empty());
  EXPECT_EQ(NodeName(*loaded->root), u"Root");
  EXPECT_EQ(loaded->root->nameLength, 8);
  ExpectSameTree(root.get(), loaded->root.get());
  EXPECT_EQ(loaded->header.operation, 3);
  EXPECT_EQ(loaded->header.fileSystem, FS_NTFS);
  EXPECT_EQ(loaded->header.sourceSize, 1u << 20);
  EXPECT_EQ(loaded->header.startSector, 2048u);
  // The header's field keeps the first L + 2 bytes, "/images/d"; the trailer the whole path,
  // from which the image is opened again.
  EXPECT_EQ(loaded->header.sourceName, u"/images/disk.img");
  EXPECT_EQ(ScanInfoSelector(loaded->header), u"/images/disk.img");

  EXPECT_EQ(WithExtension("scan", u".qsv"), fs::path("scan.qsv"));
  EXPECT_EQ(WithExtension("scan.qsv", u".qsv"), fs::path("scan.qsv"));
  EXPECT_EQ(WithExtension("scan.QSV", u".qsv"), fs::path("scan.QSV.qsv"));
}

TEST(ScanInfo, StoresEachFolderAsOneGroupInDepthFirstOrder) {
  NodePtr root = NewRoot();
  RecoveredNode* data = Add(root.get(), u"Data", NF_FOLDER | NF_PRESENT);
  RecoveredNode* a = Add(data, u"A", NF_FOLDER | NF_PRESENT);
  Add(data, u"B", NF_FOLDER | NF_PRESENT);
  Add(a, u"x", NF_PRESENT);
  test::ScratchDir dir;
  RecordingPrompter prompter;
  ASSERT_TRUE(SaveScanInfo(dir / "g.qsv", ScanInfoHeader{3, 3, u"C:", 0, FS_FAT32, {}}, root.get(),
                           prompter));
  const std::string bytes = test::ReadFile(dir / "g.qsv");
  const size_t headerSize = 8 + 1 + 1 + 4 + 4 + 8 + 1;
  // Groups: {Data}, {A, B}, {x}: names of 4, 1, 1 and 1 characters.
  ASSERT_EQ(bytes.size(), headerSize + 4 * 62 + 2 * (4 + 1 + 1 + 1));
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + headerSize;
  EXPECT_EQ(LoadLe32(p + 28), 0u) << "Data has no sibling";
  EXPECT_EQ(LoadLe32(p + 32), 1u) << "Data has children";
  p += 62 + 8;
  EXPECT_EQ(LoadLe16(p + 62), u'A');
  EXPECT_EQ(LoadLe32(p + 28), 1u) << "A is followed by B";
  p += 62 + 2;
  EXPECT_EQ(LoadLe16(p + 62), u'B');
  p += 62 + 2;
  EXPECT_EQ(LoadLe16(p + 62), u'x');
}

TEST(ScanInfo, DamagedAndHostileFilesEndWithWhatTheyHold) {
  test::ScratchDir dir;
  RecordingPrompter prompter;

  WriteBytes(dir / "magic.qsv", std::vector<uint8_t>(kScanInfoMagic, kScanInfoMagic + 8));
  auto onlyMagic = LoadScanInfo(dir / "magic.qsv", std::nullopt, prompter);
  ASSERT_TRUE(onlyMagic);
  ASSERT_TRUE(onlyMagic->root->firstChild);
  EXPECT_EQ(onlyMagic->root->firstChild->nextSibling, nullptr);

  // A record that promises a 255-character name and nothing behind it.
  std::vector<uint8_t> promise = Header(3, FS_NTFS);
  std::vector<uint8_t> record(62, 0);
  record[56] = 255;
  promise.insert(promise.end(), record.begin(), record.end());
  WriteBytes(dir / "name.qsv", promise);
  auto name = LoadScanInfo(dir / "name.qsv", 3, prompter);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->root->firstChild->nameLength, 255);
  EXPECT_EQ(NodeName(*name->root->firstChild), u"");

  // Every record claims a sibling and children: 20 000 of them load, then the file ends.
  std::vector<uint8_t> endless = Header(3, FS_FAT32);
  record[56] = 0;
  StoreLe32(record.data() + 28, 1);
  StoreLe32(record.data() + 32, 1);
  for (int i = 0; i < 20000; ++i) endless.insert(endless.end(), record.begin(), record.end());
  WriteBytes(dir / "endless.qsv", endless);
  auto many = LoadScanInfo(dir / "endless.qsv", std::nullopt, prompter);
  ASSERT_TRUE(many);
  TreeTotals totals;
  CountAll(many->root.get(), totals);
  EXPECT_GE(totals.files, 20000u);
  EXPECT_LE(totals.files, 40002u);

  // Groups nested 100 000 deep: one child each, each with children.
  std::vector<uint8_t> deep = Header(3, FS_FAT32);
  StoreLe32(record.data() + 28, 0);
  for (int i = 0; i < 100000; ++i) deep.insert(deep.end(), record.begin(), record.end());
  WriteBytes(dir / "deep.qsv", deep);
  EXPECT_TRUE(LoadScanInfo(dir / "deep.qsv", std::nullopt, prompter));

  prompter.said.clear();
  WriteBytes(dir / "fs5.qsv", Header(3, 5));
  EXPECT_FALSE(LoadScanInfo(dir / "fs5.qsv", 3, prompter));
  ASSERT_EQ(prompter.said.size(), 1u);
  EXPECT_EQ(prompter.said[0],
            u"Warning: Please connect the appropriate drive whose scan info you want to open.");

  prompter.said.clear();
  WriteBytes(dir / "formatted.qsv", Header(2, FS_FAT32));
  EXPECT_FALSE(LoadScanInfo(dir / "formatted.qsv", 1, prompter));
  ASSERT_EQ(prompter.said.size(), 1u);
  EXPECT_EQ(prompter.said[0],
            u"Information: This is scan info of Formatted Recovery option. Please choose Formatted "
            u"Recovery operation and select Open Scan Info.");

  prompter.said.clear();
  WriteBytes(dir / "junk.qsv", {1, 2, 3});
  EXPECT_FALSE(LoadScanInfo(dir / "junk.qsv", 3, prompter));
  EXPECT_EQ(prompter.said, std::vector<std::u16string>{u"Error: Invalid scan info"});
  EXPECT_FALSE(LoadScanInfo(dir / "missing.qsv", 3, prompter));
}

TEST(ScanInfo, TreesOfRealVolumesComeBackWhole) {
  std::string why;
  const fs::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  test::ScratchDir dir;
  int checked = 0;
  for (const auto& [image, start] : {std::pair{"fat32.img", 2048}, {"ntfs.img", 0}}) {
    if (!fs::exists(fixtures / image)) continue;
    CDisk disk;
    disk.m_nSourceKind = SourceKind::ImageFile;
    ASSERT_TRUE(disk.Open((fixtures / image).u16string()));
    disk.m_nStartSector = static_cast<uint64_t>(start);
    ASSERT_TRUE(DetectVolume(disk));
    NullSink sink;
    NodePtr tree = ScanFileSystem(disk, nullptr, sink);
    ASSERT_TRUE(tree);
    RecordingPrompter prompter;
    ScanInfoHeader header{3, 4, disk.GetName(), 0, disk.m_nFileSystem, {}};
    ASSERT_TRUE(SaveScanInfo(dir / "real.qsv", header, tree.get(), prompter));
    auto loaded = LoadScanInfo(dir / "real.qsv", 3, prompter);
    ASSERT_TRUE(loaded);
    ExpectSameTree(tree.get(), loaded->root.get());
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// kavo-cli opens an image and selects the volume at --start; the program opens the row of the
// volume its search found. Both save the header of the source as opened, which loads back onto
// the same volume.
TEST(ScanInfo, BothFrontEndsSaveTheSameHeaderForOneVolume) {
  std::string why;
  const fs::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  const std::u16string image = (fixtures / "fat32.img").u16string();

  CDisk cli;
  cli.m_nSourceKind = SourceKindForSelector(image);
  ASSERT_TRUE(cli.Open(image));
  cli.m_nStartSector = 2048;
  ASSERT_TRUE(DetectVolume(cli));

  CDisk whole;
  whole.m_nSourceKind = SourceKind::ImageFile;
  ASSERT_TRUE(whole.Open(image));
  FoundVolumeList volumes;
  ASSERT_TRUE(ReadPartitionTables(whole, volumes));
  PartitionList rows;
  PublishFoundVolumes(volumes, SourceKind::ImageFile, whole.GetName(), rows);
  ASSERT_FALSE(rows.empty());
  const DriveListEntry& row = *rows.front();
  CDisk gui;
  gui.m_nSourceKind = SourceKind::ImageFile;
  ASSERT_TRUE(gui.Open(SelectorForEntry(row, kOpDeletedRecovery)));
  gui.m_nStartSector = 0;
  gui.m_nSourceKind = row.kind;
  ASSERT_TRUE(SetUpSelectedVolume(gui, row, kOpDeletedRecovery));

  const ScanInfoHeader a = ScanInfoHeaderFor(kOpDeletedRecovery, &cli);
  const ScanInfoHeader b = ScanInfoHeaderFor(kOpDeletedRecovery, &gui);
  EXPECT_EQ(a.operation, b.operation);
  EXPECT_EQ(a.sourceKind, b.sourceKind);
  EXPECT_EQ(a.sourceName, b.sourceName);
  EXPECT_EQ(a.sourceSize, b.sourceSize);
  EXPECT_EQ(a.fileSystem, FS_FAT32);
  EXPECT_EQ(b.fileSystem, FS_FAT32);
  EXPECT_EQ(a.startSector, 2048u);
  EXPECT_EQ(b.startSector, 2048u);

  test::ScratchDir dir;
  RecordingPrompter prompter;
  ASSERT_TRUE(SaveScanInfo(dir / "cli.qsv", a, nullptr, prompter));
  ASSERT_TRUE(SaveScanInfo(dir / "gui.qsv", b, nullptr, prompter));
  EXPECT_EQ(test::ReadFile(dir / "cli.qsv"), test::ReadFile(dir / "gui.qsv"));
  EXPECT_EQ(ScanInfoHeaderFor(kOpFormattedRecovery, nullptr).operation, kOpFormattedRecovery);
  EXPECT_FALSE(ScanInfoHeaderFor(kOpFormattedRecovery, nullptr).startSector);
}

}  // namespace
}  // namespace kavo

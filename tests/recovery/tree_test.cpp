#include "recovery/tree.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace kavo {
namespace {

std::vector<std::u16string> ChildNames(const RecoveredNode* folder) {
  std::vector<std::u16string> names;
  for (const RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
    names.emplace_back(NodeName(*c));
  }
  return names;
}

// An entry listed the way the file-system readers list them: in front of the folder's others.
ScanEntry* AddEntry(ScanEntry* folder, std::u16string name, uint8_t flags, uint64_t size = 0) {
  ScanEntryPtr entry = NewScanEntry();
  entry->nameLength = static_cast<uint8_t>(name.size());
  entry->name = std::move(name);
  entry->flags = flags;
  entry->size = size;
  entry->parentId = folder->id;
  return PrependScanChild(folder, std::move(entry));
}

RecoveredNode* AddNode(RecoveredNode* folder, std::u16string name, uint16_t flags, uint8_t mark,
                       uint64_t size = 0) {
  NodePtr node = NewNode();
  node->nameLength = static_cast<uint8_t>(name.size());
  node->name = std::move(name);
  node->flags = flags;
  node->mark = mark;
  node->size = size;
  return AppendChild(folder, std::move(node));
}

TEST(RecoveredTreeTest, FileSystemTreeKeepsTheReadersOrderUnderTheFixedTop) {
  // A volume whose root folder holds nothing.
  NodePtr root = BuildFileSystemTree(NewScanData(2));
  EXPECT_EQ(root->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(root->nameLength, 5);
  EXPECT_EQ(NodeName(*root), u"Root");
  ASSERT_EQ(ChildNames(root.get()), std::vector<std::u16string>{u"Data"});
  const RecoveredNode* data = root->firstChild;
  EXPECT_EQ(data->parent, root.get());
  EXPECT_EQ(data->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(data->nameLength, 4);
  EXPECT_EQ(data->id, 2u);
  ASSERT_EQ(ChildNames(data), std::vector<std::u16string>{u"Lost+Found"});
  const RecoveredNode* lostFound = data->firstChild;
  EXPECT_EQ(lostFound->parent, data);
  EXPECT_EQ(lostFound->flags, NF_FOLDER);  // shown as not present even when empty
  EXPECT_EQ(lostFound->nameLength, 10);
  EXPECT_EQ(lostFound->parentId, 2u);
  EXPECT_EQ(lostFound->firstChild, nullptr);

  // Readers prepend, so the tree shows each folder in reverse order of discovery.
  ScanEntryPtr scanData = NewScanData(5);
  ScanEntry* a = AddEntry(scanData.get(), u"a.txt", NF_PRESENT, 10);
  a->id = 40;
  a->location = 0x123456789;
  a->createdDate = 0x5A21;
  a->modifiedDate = 0x5A42;
  ScanEntry* docs = AddEntry(scanData.get(), u"docs", NF_FOLDER);
  AddEntry(docs, u"x", 0, 1);
  AddEntry(docs, u"y", NF_FATCHAIN | NF_PRESENT, 2);
  AddEntry(scanData.get(), u"b.txt", NF_PRESENT, 20);
  root = BuildFileSystemTree(std::move(scanData));

  data = root->firstChild;
  EXPECT_EQ(data->id, 5u);
  EXPECT_EQ(ChildNames(data),
            (std::vector<std::u16string>{u"b.txt", u"docs", u"a.txt", u"Lost+Found"}));
  const RecoveredNode* b = data->firstChild;
  const RecoveredNode* docsNode = b->nextSibling;
  const RecoveredNode* aNode = docsNode->nextSibling;
  EXPECT_EQ(ChildNames(docsNode), (std::vector<std::u16string>{u"y", u"x"}));
  EXPECT_EQ(docsNode->flags, NF_FOLDER);
  EXPECT_EQ(docsNode->firstChild->flags, NF_FATCHAIN | NF_PRESENT);
  EXPECT_EQ(docsNode->firstChild->parent, docsNode);
  EXPECT_EQ(docsNode->firstChild->nextSibling->parent, docsNode);
  EXPECT_EQ(aNode->parent, data);
  EXPECT_EQ(aNode->id, 40u);
  EXPECT_EQ(aNode->parentId, 5u);
  EXPECT_EQ(aNode->location, 0x123456789u);
  EXPECT_EQ(aNode->size, 10u);
  EXPECT_EQ(aNode->createdDate, 0x5A21);
  EXPECT_EQ(aNode->modifiedDate, 0x5A42);
  EXPECT_EQ(aNode->nameLength, 5);
  EXPECT_EQ(aNode->endSector, 0u);
  EXPECT_EQ(aNode->origin, 0);

  // Converting into a folder that already has children adds behind them and empties the source.
  ScanEntryPtr more = NewScanEntry();
  AddEntry(more.get(), u"late", NF_PRESENT);
  RecoveredNode* target = root->firstChild;
  ConvertScanTree(more.get(), target);
  EXPECT_EQ(more->firstChild, nullptr);
  EXPECT_EQ(ChildNames(target),
            (std::vector<std::u16string>{u"b.txt", u"docs", u"a.txt", u"Lost+Found", u"late"}));
}

TEST(RecoveredTreeTest, RawScanFoldersAreFoundByTheirExactName) {
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  EXPECT_EQ(root->firstChild, fileType);
  EXPECT_EQ(fileType->parent, root.get());
  EXPECT_EQ(fileType->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(fileType->nameLength, 8);
  EXPECT_EQ(StoredName(*fileType), u"FileType");

  RecoveredNode* jpeg = AddChildFolder(fileType, u"jpeg");
  AddChildFolder(fileType, u"png");
  AddChildFolder(fileType, u"jpeg");
  EXPECT_EQ(ChildNames(fileType), (std::vector<std::u16string>{u"jpeg", u"png", u"jpeg"}));
  EXPECT_EQ(jpeg->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(jpeg->nameLength, 6);
  EXPECT_EQ(StoredName(*jpeg), std::u16string(u"jpeg\0\0", 6));

  // The padding zeros end the name; the comparison is case-sensitive and whole.
  EXPECT_EQ(FindChildFolder(fileType, u"jpeg"), jpeg);
  EXPECT_EQ(FindChildFolder(fileType, u"JPEG"), nullptr);
  EXPECT_EQ(FindChildFolder(fileType, u"jpe"), nullptr);
  EXPECT_EQ(FindChildFolder(fileType, u"jpeg!"), nullptr);

  // Found files stay in the order found.
  AddNode(jpeg, u"file1.jpeg", 0, 0);
  AddNode(jpeg, u"file2.jpeg", 0, 0);
  RecoveredNode* third = AddNode(jpeg, u"file3.jpeg", 0, 0);
  EXPECT_EQ(ChildNames(jpeg),
            (std::vector<std::u16string>{u"file1.jpeg", u"file2.jpeg", u"file3.jpeg"}));

  // A file is never searched, whatever hangs below it.
  AddNode(third, u"inner", NF_FOLDER, 0);
  EXPECT_EQ(FindChildFolder(third, u"inner"), nullptr);

  // After a file-system read the raw scan's folder follows "Data".
  root = BuildFileSystemTree(NewScanData(2));
  fileType = AttachFileType(root.get());
  EXPECT_EQ(ChildNames(root.get()), (std::vector<std::u16string>{u"Data", u"FileType"}));
  EXPECT_EQ(fileType->parent, root.get());
  EXPECT_EQ(ChildNames(root->firstChild), std::vector<std::u16string>{u"Lost+Found"});
}

TEST(RecoveredTreeTest, CountsFollowFoldersAndMarks) {
  NodePtr root = NewRoot();
  RecoveredNode* data = AddNode(root.get(), u"Data", NF_PRESENT | NF_FOLDER, 2);
  AddNode(data, u"a", NF_PRESENT, 1, 100);
  AddNode(data, u"b", NF_PRESENT, 0, 50);
  RecoveredNode* partly = AddNode(data, u"partly", NF_PRESENT | NF_FOLDER, 2, 4096);  // exFAT
  AddNode(partly, u"c", NF_PRESENT, 1, 7);
  AddNode(partly, u"d", NF_PRESENT, 0, 9);
  // A stale mark below an unmarked folder is not counted.
  RecoveredNode* unmarked = AddNode(data, u"unmarked", NF_FOLDER, 0);
  AddNode(unmarked, u"e", 0, 1, 1000);
  AddNode(data, u"Lost+Found", NF_FOLDER, 0);

  TreeTotals totals;
  totals.markedFolders = totals.markedFiles = totals.markedBytes = 99;
  CountAll(root.get(), totals);
  EXPECT_EQ(totals.folders, 4u);
  EXPECT_EQ(totals.files, 5u);
  EXPECT_EQ(totals.bytes, 1166u);  // folder sizes are not file bytes
  CountMarked(root.get(), totals);
  EXPECT_EQ(totals.markedFolders, 2u);
  EXPECT_EQ(totals.markedFiles, 2u);
  EXPECT_EQ(totals.markedBytes, 107u);

  AddNode(data, u"f", NF_PRESENT, 1, 1);
  CountAll(root.get(), totals);
  CountMarked(root.get(), totals);
  EXPECT_EQ(totals.files, 6u);
  EXPECT_EQ(totals.markedFiles, 3u);
}

TEST(RecoveredTreeTest, FolderMarksFollowTheirChildren) {
  struct Case {
    std::array<uint8_t, 2> children;
    uint8_t folder;
  };
  for (const Case c : {Case{{1, 1}, 1}, Case{{0, 0}, 0}, Case{{1, 0}, 2}, Case{{2, 1}, 2}}) {
    NodePtr folder = NewRoot();
    for (uint8_t mark : c.children) AddNode(folder.get(), u"x", NF_PRESENT, mark);
    EXPECT_EQ(MarkFromChildren(*folder), c.folder) << int{c.children[0]} << int{c.children[1]};
  }
  NodePtr empty = NewRoot();
  empty->mark = 1;
  EXPECT_EQ(MarkFromChildren(*empty), 1);  // a folder without children keeps its own mark

  NodePtr root = NewRoot();
  RecoveredNode* top = AddNode(root.get(), u"top", NF_PRESENT | NF_FOLDER, 0);
  RecoveredNode* inner = AddNode(top, u"inner", NF_PRESENT | NF_FOLDER, 2);
  RecoveredNode* leaf = AddNode(inner, u"leaf", NF_PRESENT, 0);
  RecoveredNode* beside = AddNode(root.get(), u"beside", NF_PRESENT, 0);
  MarkSubtree(top, 1);
  EXPECT_EQ(top->mark + inner->mark + leaf->mark, 3);
  EXPECT_EQ(beside->mark, 0);
}

// Deep enough that a walk recursing on depth runs out of stack, on Windows and on Linux.
TEST(RecoveredTreeTest, DeepTreesAreWalkedWithoutRecursion) {
  constexpr uint32_t kDepth = 500000;
  ScanEntryPtr scanData = NewScanData(5);
  ScanEntry* entry = scanData.get();
  for (uint32_t i = 0; i < kDepth; ++i) entry = AddEntry(entry, u"d", NF_FOLDER);
  AddEntry(entry, u"deepest", 0, 3);
  NodePtr root = BuildFileSystemTree(std::move(scanData));

  RecoveredNode* node = root->firstChild->firstChild;
  uint32_t depth = 0;
  while ((node->flags & NF_FOLDER) != 0) {
    node->mark = 2;
    node = node->firstChild;
    ++depth;
  }
  node->mark = 1;
  root->firstChild->mark = 2;
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(NodeName(*node), u"deepest");

  TreeTotals totals;
  CountAll(root.get(), totals);
  EXPECT_EQ(totals.folders, kDepth + 2);  // Data and Lost+Found too
  EXPECT_EQ(totals.files, 1u);
  EXPECT_EQ(totals.bytes, 3u);
  CountMarked(root.get(), totals);
  EXPECT_EQ(totals.markedFolders, kDepth + 1);
  EXPECT_EQ(totals.markedFiles, 1u);
  root.reset();

  // A cancelled read frees its entries without converting them.
  scanData = NewScanData(5);
  entry = scanData.get();
  for (uint32_t i = 0; i < kDepth; ++i) entry = AddEntry(entry, u"d", NF_FOLDER);
  scanData.reset();
}

TEST(RecoveredTreeTest, WideFoldersAreFilledInLinearTime) {
  constexpr uint32_t kWidth = 1000000;
  NodePtr root = NewRoot();
  for (uint32_t i = 0; i < kWidth; ++i) {
    NodePtr file = NewNode();
    file->id = i;
    file->size = 2;
    AppendChild(root.get(), std::move(file));
  }
  const RecoveredNode* last = root->firstChild;
  EXPECT_EQ(last->id, 0u);
  while (last->nextSibling != nullptr) last = last->nextSibling;
  EXPECT_EQ(last->id, kWidth - 1);
  TreeTotals totals;
  CountAll(root.get(), totals);
  EXPECT_EQ(totals.files, kWidth);
  EXPECT_EQ(totals.bytes, 2u * kWidth);

  FreeChildren(root.get());
  EXPECT_EQ(root->firstChild, nullptr);
  RecoveredNode* again = AddNode(root.get(), u"again", 0, 0);
  EXPECT_EQ(root->firstChild, again);
  EXPECT_EQ(again->nextSibling, nullptr);
}

TEST(RecoveredTreeTest, NodeRecordHasTheFileLayout) {
  NodePtr folder = NewNode();
  RecoveredNode* node = AppendChild(folder.get(), NewNode());
  AppendChild(node, NewNode());
  node->size = 0x0102030405060708;
  node->location = 0x1122334455667788;
  node->endSector = 0x99AABBCCDDEEFF00;
  node->id = 0xA1A2A3A4;
  node->parentId = 0xB1B2B3B4;
  node->createdDate = 0x5A21;
  node->modifiedDate = 0x5A42;
  node->flags = NF_FATCHAIN | NF_PRESENT;
  node->mark = 2;
  node->origin = ORIGIN_RAW_SCAN;
  node->name = u"abc";
  node->nameLength = 3;

  const std::array<uint8_t, kNodeRecordSize> expected = {
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // size
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // location
      0x00, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99,  // endSector
      0x01, 0x00, 0x00, 0x00,                          // parent
      0x00, 0x00, 0x00, 0x00,                          // nextSibling
      0x01, 0x00, 0x00, 0x00,                          // firstChild
      0xA4, 0xA3, 0xA2, 0xA1,                          // id
      0xB4, 0xB3, 0xB2, 0xB1,                          // parentId
      0x21, 0x5A, 0x42, 0x5A,                          // createdDate, modifiedDate
      0x05, 0x00, 0x02, 0x04,                          // flags, mark, origin
      0x01, 0x00, 0x00, 0x00,                          // name
      0x03, 0x00, 0x00, 0x00, 0x00, 0x00,              // nameLength, reserved
  };
  std::array<uint8_t, kNodeRecordSize> record;
  record.fill(0xEE);
  WriteNodeRecord(*node, record);
  EXPECT_EQ(record, expected);

  RecoveredNode read;
  NodeRecordLinks links = ReadNodeRecord(record, read);
  EXPECT_EQ(links.parent, 1u);
  EXPECT_EQ(links.nextSibling, 0u);
  EXPECT_EQ(links.firstChild, 1u);
  EXPECT_EQ(links.name, 1u);
  EXPECT_EQ(read.parent, nullptr);
  EXPECT_EQ(read.firstChild, nullptr);
  EXPECT_TRUE(read.name.empty());
  EXPECT_EQ(read.size, node->size);
  EXPECT_EQ(read.location, node->location);
  EXPECT_EQ(read.endSector, node->endSector);
  EXPECT_EQ(read.id, node->id);
  EXPECT_EQ(read.parentId, node->parentId);
  EXPECT_EQ(read.createdDate, node->createdDate);
  EXPECT_EQ(read.modifiedDate, node->modifiedDate);
  EXPECT_EQ(read.flags, node->flags);
  EXPECT_EQ(read.mark, node->mark);
  EXPECT_EQ(read.origin, node->origin);
  EXPECT_EQ(read.nameLength, node->nameLength);

  // A lone node stores no links.
  RecoveredNode lone;
  WriteNodeRecord(lone, record);
  EXPECT_EQ(record, (std::array<uint8_t, kNodeRecordSize>{}));
}

}  // namespace
}  // namespace kavo

#include "cli/tree_view.h"

#include <gtest/gtest.h>

namespace kavo::cli {
namespace {

RecoveredNode* Add(RecoveredNode* parent, std::u16string name, uint16_t flags, uint64_t size = 0) {
  NodePtr n = NewNode();
  n->name = std::move(name);
  n->nameLength = static_cast<uint8_t>(n->name.size());
  n->flags = flags;
  n->size = size;
  return AppendChild(parent, std::move(n));
}

TEST(GlobMatch, NamesAndPaths) {
  EXPECT_TRUE(GlobMatch(u"*.jpg", u"IMG_0001.JPG"));
  EXPECT_TRUE(GlobMatch(u"report?.txt", u"report7.txt"));
  EXPECT_FALSE(GlobMatch(u"report?.txt", u"report12.txt"));
  EXPECT_TRUE(GlobMatch(u"[a-c]*", u"Bravo"));
  EXPECT_FALSE(GlobMatch(u"[!a-c]*", u"bravo"));
  EXPECT_FALSE(GlobMatch(u"Documents/*.txt", u"Documents/old/a.txt")) << "* stays in one folder";
  EXPECT_TRUE(GlobMatch(u"Documents/**.txt", u"Documents/old/a.txt"));
  EXPECT_TRUE(GlobMatch(u"**/a.txt", u"x/y/z/a.txt"));
  EXPECT_TRUE(GlobMatch(u"*", u""));
  EXPECT_FALSE(GlobMatch(u"?", u""));
  EXPECT_TRUE(GlobMatch(u"[x", u"[x")) << "an unclosed class is literal";
  // Many stars against a long name finish quickly.
  EXPECT_FALSE(GlobMatch(u"*a*a*a*a*a*a*a*b", std::u16string(5000, u'a')));
}

TEST(ApplySelection, MarksFilesAndFoldersFromFilters) {
  NodePtr root = NewRoot();
  NodePtr dataNode = NewNode();
  dataNode->name = u"Data";
  dataNode->flags = NF_FOLDER | NF_PRESENT;
  RecoveredNode* data = AppendChild(root.get(), std::move(dataNode));
  RecoveredNode* docs = Add(data, u"Documents", NF_FOLDER | NF_PRESENT);
  RecoveredNode* a = Add(docs, u"a.txt", NF_PRESENT, 10);
  RecoveredNode* b = Add(docs, u"b.txt", 0, 20);
  RecoveredNode* photos = Add(data, u"Photos", NF_FOLDER | NF_PRESENT);
  RecoveredNode* p = Add(photos, u"p.jpg", NF_PRESENT, 30);
  RecoveredNode* empty = Add(data, u"Empty", NF_FOLDER | NF_PRESENT);

  Selection all;
  ApplySelection(root.get(), all);
  for (const RecoveredNode* n : {data, docs, a, b, photos, p, empty}) EXPECT_EQ(n->mark, 1);

  Selection deleted;
  deleted.deletedOnly = true;
  ApplySelection(root.get(), deleted);
  EXPECT_EQ(b->mark, 1);
  EXPECT_EQ(a->mark, 0);
  EXPECT_EQ(docs->mark, 2);
  EXPECT_EQ(data->mark, 2);
  EXPECT_EQ(photos->mark, 0);
  EXPECT_EQ(empty->mark, 0);
  TreeTotals totals;
  CountMarked(root.get(), totals);
  EXPECT_EQ(totals.markedFiles, 1u);
  EXPECT_EQ(totals.markedBytes, 20u);

  Selection byPath;
  byPath.globs = {u"Photos"};  // a folder selects what is inside it
  ApplySelection(root.get(), byPath);
  EXPECT_EQ(p->mark, 1);
  EXPECT_EQ(photos->mark, 1);
  EXPECT_EQ(a->mark, 0);
  EXPECT_EQ(data->mark, 2);
}

TEST(WalkTree, PathsParentsFirstAndDeepChains) {
  NodePtr root = NewRoot();
  RecoveredNode* folder = root.get();
  for (int i = 0; i < 200000; ++i) folder = Add(folder, u"d", NF_FOLDER);
  size_t visited = 0;
  size_t deepest = 0;
  WalkTree(root.get(), [&](const RecoveredNode&, const std::u16string& path) {
    ++visited;
    deepest = path.size();
    return visited < 1000;  // the walk honours "do not descend"
  });
  EXPECT_EQ(visited, 1000u);
  EXPECT_EQ(deepest, 1000u * 2 - 1);
}

TEST(NodeJson, FieldsAndDates) {
  NodePtr n = NewNode();
  n->name = u"a\"b.txt";
  n->flags = NF_PRESENT;
  n->size = 5;
  n->createdDate = static_cast<uint16_t>(((2024 - 1980) << 9) | (2 << 5) | 29);
  n->modifiedDate = 0x0021;  // month 1, day 1, 1980
  EXPECT_EQ(NodeJson(*n, u"Data/a\"b.txt"),
            "{\"path\":\"Data/a\\\"b.txt\",\"name\":\"a\\\"b.txt\",\"folder\":false,"
            "\"present\":true,\"size\":5,\"id\":0,\"parentId\":0,\"created\":\"2024-02-29\","
            "\"modified\":\"1980-01-01\",\"location\":0,\"endSector\":0}");
  n->createdDate = 0x01E0;  // month 15: no such date
  EXPECT_NE(NodeJson(*n, u"x").find("\"created\":null"), std::string::npos);
}

}  // namespace
}  // namespace kavo::cli

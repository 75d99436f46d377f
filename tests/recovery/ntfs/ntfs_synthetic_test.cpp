// The NTFS reader on records and volumes built byte by byte: damage that real tools do not
// write, and the rules of the hierarchy.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/text.h"
#include "recovery/ntfs/lznt1.h"
#include "recovery/ntfs/ntfs_reader.h"
#include "recovery/ntfs/record_index.h"
#include "synthetic_ntfs.h"

namespace kavo {
namespace {

using test::Bytes;
using test::kSparse;
using test::RecordBuilder;
using test::RunPairs;
using test::SyntheticVolume;

constexpr uint16_t kInUse = 1;
constexpr uint16_t kDirectory = 2;
// 2021-06-15 12:00 UTC as a FILETIME.
constexpr uint64_t kJune2021 = 132682608000000000ull;

Bytes File(uint32_t number, uint64_t parent, std::u16string_view name, const Bytes& data,
           uint16_t flags = kInUse) {
  return RecordBuilder(number, flags)
      .StandardInformation(kJune2021, kJune2021)
      .FileName(parent, name)
      .Resident(0x80, data)
      .Build();
}

Bytes Folder(uint32_t number, uint64_t parent, std::u16string_view name,
             uint16_t flags = kInUse | kDirectory) {
  return RecordBuilder(number, flags)
      .StandardInformation(kJune2021, kJune2021)
      .FileName(parent, name)
      .IndexRoot(number)
      .Build();
}

// The listing of a volume as "path" -> node, paths below Data.
struct Listing {
  NodePtr root;
  std::map<std::string, const RecoveredNode*> byPath;
  TreeTotals totals;
};

Listing List(const SyntheticVolume& volume) {
  Listing listing;
  auto disk = volume.Open();
  EXPECT_NE(disk, nullptr);
  if (disk == nullptr) return listing;
  NtfsReader reader(*disk);
  NullSink sink;
  ScanEntryPtr data = NewScanData(5);
  reader.ListNtfs(data.get(), nullptr, sink);
  listing.root = BuildFileSystemTree(std::move(data));
  CountAll(listing.root.get(), listing.totals);
  std::vector<std::pair<const RecoveredNode*, std::string>> stack{{listing.root->firstChild, ""}};
  while (!stack.empty()) {
    auto [folder, prefix] = stack.back();
    stack.pop_back();
    for (const RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
      const std::string path = prefix + platform::Utf16ToUtf8(NodeName(*c));
      listing.byPath[path] = c;
      if (c->firstChild != nullptr) stack.push_back({c, path + "/"});
    }
  }
  return listing;
}

TEST(CheckRecord, AppliesFixupsAndRefusesDamagedRecords) {
  const Bytes good = RecordBuilder(20)
                         .StandardInformation(1, 2)
                         .FileName(5, u"a.txt")
                         .Resident(0x80, Bytes(600, 0xAB))  // spans the first block's tail
                         .Build();
  Bytes r = good;
  ASSERT_TRUE(CheckRecord(r.data(), 1024));
  // The data's bytes at the end of the first 512-byte block are back in place.
  EXPECT_EQ(r[510], 0xAB);
  EXPECT_EQ(r[511], 0xAB);

  // A torn write: the second block of the record belongs to another update.
  r = good;
  r[510] ^= 1;
  EXPECT_FALSE(CheckRecord(r.data(), 1024));

  // The older 42-byte update-sequence offset is accepted.
  r = RecordBuilder(0, kInUse, 42).StandardInformation(1, 2).FileName(5, u"old").Build();
  EXPECT_TRUE(CheckRecord(r.data(), 1024));

  const auto refused = [](Bytes b, size_t at, uint32_t value, int width) {
    if (width == 2) StoreLe16(&b[at], static_cast<uint16_t>(value));
    if (width == 4) StoreLe32(&b[at], value);
    return !CheckRecord(b.data(), 1024);
  };
  EXPECT_TRUE(refused(good, 0, 0x454C4946 + 1, 4));  // not "FILE"
  EXPECT_TRUE(refused(good, 4, 40, 2));              // update-sequence offset
  EXPECT_TRUE(refused(good, 6, 4, 2));               // count does not fit the record
  EXPECT_TRUE(refused(good, 0x18, 1032, 4));         // bytes in use past the record
  EXPECT_TRUE(refused(good, 0x1C, 2048, 4));         // allocated is not the record size
  const uint32_t first = LoadLe16(&good[0x14]);
  EXPECT_TRUE(refused(good, first + 4, 4000, 4));    // attribute runs past the record
  EXPECT_TRUE(refused(good, first + 4, 0, 4));       // zero-length attribute
  EXPECT_TRUE(refused(good, first, 0x18, 4));        // type not a multiple of 0x10
  EXPECT_TRUE(refused(good, first + 8, 1, 2));       // non-resident standard information
  EXPECT_TRUE(refused(good, first, 0xFFFFFFFF, 4));  // no attribute before the end marker

  // 4096-byte records (volumes on 4096-byte sectors) still carry one fix-up per 512 bytes.
  r = RecordBuilder(3, kInUse, 48, 4096)
          .StandardInformation(1, 2)
          .Resident(0x80, Bytes(3000, 0x5A))
          .Build();
  EXPECT_EQ(LoadLe16(&r[6]), 9);
  ASSERT_TRUE(CheckRecord(r.data(), 4096));
  EXPECT_EQ(r[1534], 0x5A);
}

TEST(DecodeRunList, SparseRunsSignedDeltasAndStopRules) {
  RunList runs;
  // 8 clusters at 100, a hole of 4, 2 clusters at 100 - 30 = 70, 1 at 69 (delta -1, one 0xFF).
  const Bytes pairs = RunPairs({{8, 100}, {4, kSparse}, {2, -30}, {1, -1}});
  EXPECT_EQ(DecodeRunList(pairs, 0, runs, 10), 4u);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].vcn, 10u);
  EXPECT_EQ(runs[0].lcn, 100u);
  EXPECT_TRUE(runs[1].sparse);
  EXPECT_EQ(runs[1].vcn, 18u);
  EXPECT_EQ(runs[2].lcn, 70u);
  EXPECT_EQ(runs[2].vcn, 22u);
  EXPECT_EQ(runs[3].lcn, 69u);
  EXPECT_EQ(runs[3].length, 1u);

  const auto count = [](Bytes b) {
    RunList list;
    return DecodeRunList(b, 0, list);
  };
  EXPECT_EQ(count({0x11, 0xFF, 0x10, 0x11, 0x01, 0x01, 0x00}), 0u);        // all-0xFF length
  EXPECT_EQ(count({0x11, 0x04, 0x10, 0x15, 0x01, 1, 2, 3, 4, 5, 0}), 1u);  // 5-byte offset
  EXPECT_EQ(count({0x11, 0x04, 0x10, 0x05, 1, 2, 3, 4, 5, 0}), 1u);        // 5-byte length
  EXPECT_EQ(count({0x11, 0x04, 0x10, 0x11, 0x01, 0xE0, 0x00}), 1u);        // LCN would be negative
  EXPECT_EQ(count({0xFF, 0xFF, 0xFF, 0xFF}), 0u);
  EXPECT_EQ(count({0x31, 0x04}), 0u);  // fields cut off by the end of the bytes
}

TEST(ParseRecord, NamesDatesAndDroppedRecords) {
  ScanEntry entry;
  Bytes r = RecordBuilder(30)
                .StandardInformation(kJune2021, kJune2021 + 864000000000ull * 31)
                .FileName(0x0003000000000010ull, u"LONGNA~1.TXT", 2)
                .FileName(0x0003000000000010ull, u"long name.txt", 1)
                .Resident(0x80, Bytes(17, 1))
                .Build();
  ASSERT_TRUE(CheckRecord(r.data(), 1024));
  ASSERT_TRUE(ParseRecord(r.data(), 1024, entry, nullptr));
  EXPECT_EQ(entry.name, u"long name.txt");
  EXPECT_EQ(entry.nameLength, 13);
  EXPECT_EQ(entry.parentId, 16u);
  EXPECT_EQ(entry.size, 17u);
  EXPECT_EQ(entry.flags, NF_PRESENT);
  EXPECT_EQ(entry.createdDate, ((2021 - 1980) << 9) | (6 << 5) | 15);
  EXPECT_EQ(entry.modifiedDate, ((2021 - 1980) << 9) | (7 << 5) | 16);
  EXPECT_EQ(FileTimeToDosDate(0), 0);  // 1601 is before DOS dates

  const auto parses = [](Bytes b) {
    ScanEntry e;
    return CheckRecord(b.data(), 1024) && ParseRecord(b.data(), 1024, e, nullptr);
  };
  EXPECT_FALSE(parses(File(0, 5, u"$MFT", Bytes(1, 0))));
  EXPECT_FALSE(parses(Folder(5, 5, u".")));
  // Metadata files outside the fixed set are listed like other files.
  EXPECT_TRUE(parses(File(24, 11, u"$Quota", Bytes(1, 0))));
  // A folder with unnamed data, a file with an index root.
  EXPECT_FALSE(parses(RecordBuilder(40, kInUse | kDirectory)
                          .FileName(5, u"d")
                          .Resident(0x80, Bytes(4, 0))
                          .Build()));
  EXPECT_FALSE(parses(RecordBuilder(41).FileName(5, u"f").IndexRoot(41).Build()));

  // A deleted folder takes its number from its index root when the record does not carry it.
  r = RecordBuilder(0, kDirectory, 42).FileName(5, u"old").IndexRoot(77).Build();
  ScanEntry folder;
  ASSERT_TRUE(CheckRecord(r.data(), 1024));
  ASSERT_TRUE(ParseRecord(r.data(), 1024, folder, nullptr));
  EXPECT_EQ(folder.id, 77u);
  EXPECT_EQ(folder.flags, NF_FOLDER);
}

TEST(RecordIndex, StaysBalancedAndOrdered) {
  std::vector<ScanEntryPtr> entries;
  RecordIndex index;
  uint32_t key = 12345;
  for (int i = 0; i < 5000; ++i) {
    key = key * 1103515245u + 12345u;
    entries.push_back(NewScanEntry());
    entries.back()->id = i < 2500 ? static_cast<uint32_t>(i) : key;  // ascending, then random
    EXPECT_EQ(index.FindOrIndex(entries.back().get()), entries.back().get());
  }
  EXPECT_EQ(index.Size(), 5000u);
  EXPECT_LE(index.Height(), 18);  // 1.44 log2(5000)
  uint32_t previous = 0;
  bool first = true;
  index.VisitInOrder([&](ScanEntry* e) {
    EXPECT_TRUE(first || e->id > previous);
    previous = e->id;
    first = false;
  });
  EXPECT_EQ(index.Find(1234), entries[1234].get());
  ScanEntry duplicate;
  duplicate.id = 77;
  EXPECT_EQ(index.FindOrIndex(&duplicate), entries[77].get());
}

TEST(ListNtfs, HierarchyPlaceholdersOrphansAndOrder) {
  SyntheticVolume volume;
  // A child met before its folder; the folder then takes over the placeholder.
  volume.SetRecord(16, File(16, 30, u"early.txt", Bytes(5, 1)));
  volume.SetRecord(17, File(17, 30, u"second.txt", Bytes(6, 2)));
  volume.SetRecord(30, Folder(30, 5, u"late"));
  // A file whose folder record is gone.
  volume.SetRecord(18, File(18, 40, u"orphan.bin", Bytes(7, 3), 0));
  // Names are kept as the disk has them.
  volume.SetRecord(19, File(19, 5, u"../a/b\\c\x01", Bytes(8, 4)));
  // An empty file is listed; a file record without unnamed data holds no file.
  volume.SetRecord(20, File(20, 5, u"empty", Bytes()));
  volume.SetRecord(22, RecordBuilder(22, kInUse).FileName(5, u"no-data").Build());
  // The older record layout: the number comes from the record's place in the MFT.
  volume.SetRecord(
      21, RecordBuilder(0, kInUse, 42).FileName(5, u"old.txt").Resident(0x80, Bytes(3, 9)).Build());

  const Listing l = List(volume);
  ASSERT_EQ(l.byPath.count("late/early.txt"), 1u);
  EXPECT_EQ(l.byPath.at("late")->flags, NF_PRESENT | NF_FOLDER);
  EXPECT_EQ(l.byPath.at("late")->id, 30u);
  // Entries are prepended: the later record comes first.
  EXPECT_EQ(NodeName(*l.byPath.at("late")->firstChild), u"second.txt");
  ASSERT_EQ(l.byPath.count("Lost+Found/#40/orphan.bin"), 1u);
  EXPECT_EQ(l.byPath.at("Lost+Found/#40")->flags, NF_FOLDER);
  EXPECT_EQ(l.byPath.at("Lost+Found/#40/orphan.bin")->flags, 0);
  EXPECT_EQ(l.byPath.count(std::string("../a/b\\c\x01")), 1u);
  ASSERT_EQ(l.byPath.count("empty"), 1u);
  EXPECT_EQ(l.byPath.at("empty")->size, 0u);
  EXPECT_EQ(l.byPath.count("no-data"), 0u);
  ASSERT_EQ(l.byPath.count("old.txt"), 1u);
  EXPECT_EQ(l.byPath.at("old.txt")->id, 21u);
  EXPECT_EQ(l.byPath.at("old.txt")->location, SyntheticVolume::kMftCluster * 8 + 21 * 2);
  // Lost+Found is the last child of Data.
  const RecoveredNode* last = l.root->firstChild->firstChild;
  while (last->nextSibling != nullptr) last = last->nextSibling;
  EXPECT_EQ(NodeName(*last), u"Lost+Found");
}

// An index root whose entries in use end at once (the end marker), followed in its free space by
// keys of removed entries: {record (0: the header overwritten), parent, name, size}.
struct StaleKey {
  uint32_t record;
  uint32_t parent;
  std::u16string_view name;
  uint64_t size;
};
Bytes FolderWithStaleKeys(uint32_t number, std::initializer_list<StaleKey> keys) {
  Bytes v(0x20 + 0x10, 0);
  StoreLe32(&v[0], 0x30);
  StoreLe32(&v[0x10], 0x10);  // entries offset; the end marker is the only entry in use
  StoreLe32(&v[0x14], 0x20);
  StoreLe16(&v[0x20 + 8], 0x10);
  StoreLe16(&v[0x20 + 0x0C], 2);
  for (const StaleKey& k : keys) {
    const size_t at = v.size();
    const size_t keyBytes = 0x42 + 2 * k.name.size();
    v.resize(at + ((0x10 + keyBytes + 7) & ~size_t{7}), 0);
    if (k.record != 0) {
      StoreLe64(&v[at], k.record | (uint64_t{1} << 48));
      StoreLe16(&v[at + 8], static_cast<uint16_t>(v.size() - at));
      StoreLe16(&v[at + 0x0A], static_cast<uint16_t>(keyBytes));
    }
    StoreLe64(&v[at + 0x10], k.parent);
    StoreLe64(&v[at + 0x10 + 0x30], k.size);
    v[at + 0x10 + 0x40] = static_cast<uint8_t>(k.name.size());
    v[at + 0x10 + 0x41] = 1;
    for (size_t i = 0; i < k.name.size(); ++i) StoreLe16(&v[at + 0x10 + 0x42 + 2 * i], k.name[i]);
  }
  StoreLe32(&v[0x18], static_cast<uint32_t>(v.size() - 0x10));  // allocated
  return RecordBuilder(number, kInUse | kDirectory)
      .StandardInformation(kJune2021, kJune2021)
      .FileName(5, u"box")
      .Resident(0x90, v, u"$I30")
      .Build();
}

TEST(ListNtfs, NamesThatOnlyAFolderIndexHoldsAreListedAsDeleted) {
  SyntheticVolume volume;
  volume.SetRecord(16, File(16, 30, u"live.txt", Bytes(4, 1)));
  // Record 17 now holds another file: the index's old name for it has lost its data.
  volume.SetRecord(17, File(17, 5, u"new.txt", Bytes(3, 2)));
  volume.SetRecord(30, FolderWithStaleKeys(30, {{0, 30, u"gone.txt", 1234},
                                                {16, 30, u"live.txt", 4},
                                                {0, 30, u"live.txt", 4},
                                                {0, 99, u"elsewhere.txt", 1},
                                                {17, 30, u"renamed.txt", 3}}));
  const Listing l = List(volume);
  ASSERT_EQ(l.byPath.count("box/gone.txt"), 1u);
  const RecoveredNode& gone = *l.byPath.at("box/gone.txt");
  EXPECT_EQ(gone.flags, 0);
  EXPECT_EQ(gone.size, 1234u);
  EXPECT_EQ(gone.location, 0u);  // its record is unknown: no data
  // A stale copy of a live entry is not listed again; nor is a key of another folder.
  size_t children = 0;
  for (const RecoveredNode* c = l.byPath.at("box")->firstChild; c; c = c->nextSibling) ++children;
  EXPECT_EQ(children, 3u);
  EXPECT_EQ(l.byPath.count("box/elsewhere.txt"), 0u);
  // An old name of a record that still holds the same file (same sequence) reads its data.
  ASSERT_EQ(l.byPath.count("box/renamed.txt"), 1u);
  EXPECT_EQ(l.byPath.at("box/renamed.txt")->flags, 0);
  EXPECT_EQ(l.byPath.at("box/renamed.txt")->location, l.byPath.at("new.txt")->location);
}

TEST(ListNtfs, ParentCyclesEndInLostAndFound) {
  SyntheticVolume volume;
  volume.SetRecord(20, Folder(20, 21, u"a"));  // a in b, b in a
  volume.SetRecord(21, Folder(21, 20, u"b"));
  volume.SetRecord(22, File(22, 20, u"in-a.txt", Bytes(4, 1)));
  volume.SetRecord(23, Folder(23, 23, u"self"));  // its own parent
  volume.SetRecord(24, Folder(24, 26, u"x"));     // x -> z -> y -> x
  volume.SetRecord(25, Folder(25, 24, u"y"));
  volume.SetRecord(26, Folder(26, 25, u"z"));
  volume.SetRecord(27, Folder(27, 5, u"fine"));

  const Listing l = List(volume);
  ASSERT_NE(l.root, nullptr);
  // Every folder is reachable once, and the walks over the tree end.
  EXPECT_EQ(l.totals.folders, 2u + 7u);  // Data, Lost+Found, and the seven folders
  EXPECT_EQ(l.totals.files, 1u);
  EXPECT_EQ(l.byPath.count("fine"), 1u);
  size_t inLostFound = 0;
  for (const auto& [path, node] : l.byPath) {
    if (path.rfind("Lost+Found/", 0) == 0 && path.find('/', 11) == std::string::npos) {
      ++inLostFound;
    }
  }
  EXPECT_EQ(inLostFound, 3u);  // one folder from each cycle
  EXPECT_EQ(l.byPath.count("Lost+Found/self"), 1u);
}

TEST(ListNtfs, MirrorFallbackAndAbsurdRunLists) {
  SyntheticVolume volume(64);  // 256 KiB
  volume.SetRecord(16, File(16, 5, u"kept.txt", Bytes(9, 1)));
  // Sizes of terabytes, clusters past the end of the volume, and an all-0xFF run field.
  volume.SetRecord(17, RecordBuilder(17)
                           .FileName(5, u"huge.bin")
                           .NonResident(0x80, RunPairs({{2, 40}}), 1ull << 40)
                           .Build());
  volume.SetRecord(18, RecordBuilder(18)
                           .FileName(5, u"beyond.bin")
                           .NonResident(0x80, RunPairs({{1, 50}, {4, 1000000}}), 5 * 4096)
                           .Build());
  volume.SetRecord(19,
                   RecordBuilder(19)
                       .FileName(5, u"ff.bin")
                       .NonResident(0x80, Bytes{0x11, 0x01, 0x30, 0x11, 0xFF, 0xFF, 0}, 2 * 4096)
                       .Build());
  Bytes pattern(2 * 4096);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7);
  volume.Write(40 * 4096, pattern);
  volume.Write(50 * 4096, Bytes(4096, 0x50));
  // Record 0 in the MFT is torn; its copy in the mirror is sound.
  volume.bytes()[SyntheticVolume::kMftCluster * 4096 + 510] ^= 0xFF;

  auto disk = volume.Open();
  ASSERT_NE(disk, nullptr);
  NtfsReader reader(*disk);
  NullSink sink;
  ScanEntryPtr data = NewScanData(5);
  reader.ListNtfs(data.get(), nullptr, sink);
  NodePtr root = BuildFileSystemTree(std::move(data));
  std::map<std::u16string, const RecoveredNode*> nodes;
  for (const RecoveredNode* c = root->firstChild->firstChild; c; c = c->nextSibling) {
    nodes[std::u16string(NodeName(*c))] = c;
  }
  ASSERT_EQ(nodes.count(u"kept.txt"), 1u);
  ASSERT_EQ(nodes.count(u"huge.bin"), 1u);
  EXPECT_EQ(nodes[u"huge.bin"]->size, 1ull << 40);

  // Written as far as the clusters go, and never more.
  MemoryOutput out;
  EXPECT_FALSE(reader.ExtractNtfsFile(*nodes[u"huge.bin"], out, nullptr));
  EXPECT_TRUE(out.bytes == pattern);
  out.bytes.clear();
  EXPECT_FALSE(reader.ExtractNtfsFile(*nodes[u"beyond.bin"], out, nullptr));
  EXPECT_EQ(out.bytes, Bytes(4096, 0x50));
  out.bytes.clear();
  EXPECT_FALSE(reader.ExtractNtfsFile(*nodes[u"ff.bin"], out, nullptr));
  EXPECT_EQ(out.bytes.size(), 4096u);
  out.bytes.clear();
  EXPECT_TRUE(reader.ExtractNtfsFile(*nodes[u"kept.txt"], out, nullptr));
  EXPECT_EQ(out.bytes, Bytes(9, 1));
}

TEST(ExtractNtfsFile, SparseHolesAndDamagedCompressionUnits) {
  SyntheticVolume volume;
  // 1 cluster of data, a hole of 2, 1 more cluster; the size ends inside the last cluster.
  volume.SetRecord(16, RecordBuilder(16)
                           .FileName(5, u"sparse.bin")
                           .NonResident(0x80, RunPairs({{1, 100}, {2, kSparse}, {1, 1}}),
                                        3 * 4096 + 10, 0, 0x8000)
                           .Build());
  volume.Write(100 * 4096, Bytes(4096, 0x11));
  volume.Write(101 * 4096, Bytes(4096, 0x22));
  // A compressed unit of 16 clusters with one stored cluster whose LZNT1 data go wrong after
  // some good bytes, followed by a unit kept uncompressed.
  Bytes packed(4096, 0);
  packed[0] = 0x04;  // compressed chunk of 5 data bytes
  packed[1] = 0xB0;
  packed[2] = 0x00;  // four literals
  std::copy_n("abcd", 4, packed.begin() + 3);
  packed[7] = 0xFF;  // a chunk header that claims more bytes than there are
  packed[8] = 0xBF;
  volume.Write(120 * 4096, packed);
  Bytes plain(16 * 4096);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i / 4096 + 1);
  volume.Write(130 * 4096, plain);
  volume.SetRecord(17, RecordBuilder(17)
                           .FileName(5, u"packed.bin")
                           .NonResident(0x80, RunPairs({{1, 120}, {15, kSparse}, {16, 10}}),
                                        32 * 4096, 0, 0x0001, 4)
                           .Build());

  const Listing l = List(volume);
  auto disk = volume.Open();
  NtfsReader reader(*disk);
  MemoryOutput out;
  ASSERT_EQ(l.byPath.count("sparse.bin"), 1u);
  EXPECT_TRUE(reader.ExtractNtfsFile(*l.byPath.at("sparse.bin"), out, nullptr));
  Bytes expected(4096, 0x11);
  expected.resize(3 * 4096, 0);
  expected.insert(expected.end(), 10, 0x22);
  EXPECT_EQ(out.bytes, expected);

  out.bytes.clear();
  ASSERT_EQ(l.byPath.count("packed.bin"), 1u);
  EXPECT_FALSE(reader.ExtractNtfsFile(*l.byPath.at("packed.bin"), out, nullptr));
  EXPECT_EQ(reader.DamagedUnits(), 1u);
  ASSERT_EQ(out.bytes.size(), 32u * 4096);
  // The damaged unit keeps what decompressed and is zeros after it.
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.begin() + 4), "abcd");
  EXPECT_TRUE(std::all_of(out.bytes.begin() + 4, out.bytes.begin() + 16 * 4096,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.bytes.begin() + 16 * 4096));
}

TEST(Lznt1, BackReferencesAndShortChunks) {
  // "abc" then a back-reference of length 6 at distance 3: "abcabcabc".
  const uint8_t in[] = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20};
  uint8_t out[8192];
  size_t produced = 0;
  ASSERT_TRUE(DecompressLznt1(in, sizeof in, out, sizeof out, &produced));
  ASSERT_EQ(produced, 9u);
  EXPECT_EQ(std::string(out, out + 9), "abcabcabc");
  // A reference before the start of the chunk is damage.
  const uint8_t bad[] = {0x02, 0xB0, 0x01, 0x00, 0x00};
  EXPECT_FALSE(DecompressLznt1(bad, sizeof bad, out, sizeof out, &produced));
  EXPECT_EQ(produced, 0u);
}

}  // namespace
}  // namespace kavo

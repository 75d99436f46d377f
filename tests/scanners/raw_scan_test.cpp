// The scan loop and the registry, driven by small scanners of the test's own whose hits are
// easy to place: the skip after a hit, block carry-over, the zero-prefix rule, registry order,
// naming, progress and stop.
#include "scanners/raw_scan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/messages.h"
#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/catalogue.h"

namespace kavo {
namespace {

using test::Found;
using test::MemorySource;
using test::RecordingSink;

// Matches sectors that start with its signature; the file's length is the little-endian 32-bit
// word at offset 4 and its end sector start + length / sector size. Records every sector it is
// offered.
class LengthScanner : public CBaseScanner {
 public:
  LengthScanner(std::initializer_list<uint8_t> signature, std::u16string extension)
      : m_extension(std::move(extension)) {
    m_pSignature = std::make_unique<ScannerSignature>(signature);
  }
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override {
    offered.push_back(blockFirstSector + index);
    if (!SignatureAtStart(sector)) return 0;
    PositionAtMatch(blockFirstSector, index, false);
    return 1;
  }
  int ParseFile(uint8_t* sector) override {
    m_nLength = LoadLe32(sector + 4);
    m_nEndSector = m_nStartSector + static_cast<uint64_t>(m_nLength) / SectorSize();
    m_strExtension = m_extension;
    return 1;
  }
  std::vector<uint64_t> offered;

 private:
  std::u16string m_extension;
};

// Offered every sector, whatever its first byte; matches those whose first byte is `lead`.
class AnyLeadScanner : public LengthScanner {
 public:
  AnyLeadScanner(std::initializer_list<uint8_t> signature, uint8_t lead, std::u16string ext)
      : LengthScanner(signature, std::move(ext)), m_lead(lead) {}
  bool CanMatchLeadByte(uint8_t) const override { return true; }
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override {
    offered.push_back(blockFirstSector + index);
    if (sector[0] != m_lead) return 0;
    PositionAtMatch(blockFirstSector, index, false);
    return 1;
  }

 private:
  uint8_t m_lead;
};

std::vector<uint8_t> FileSector(uint8_t a, uint8_t b, uint32_t length, size_t size = 512) {
  std::vector<uint8_t> s(size, 0x5A);
  s[0] = a;
  s[1] = b;
  StoreLe32(s.data() + 4, length);
  return s;
}

// A source of `sectors` sectors that all lead with "Kx" (offered to a "KV" scanner, no match).
MemorySource KxSource(uint64_t sectors, uint32_t sectorSize = 512) {
  MemorySource source;
  source.sectorSize = sectorSize;
  source.length = sectors * sectorSize;
  for (uint64_t s = 0; s < sectors; ++s) source.PutSector(s, FileSector('K', 'x', 0, sectorSize));
  return source;
}

// Registers a new LengthScanner and returns it.
LengthScanner* Add(ScannerRegistry& registry, CDisk& disk, std::initializer_list<uint8_t> signature,
                   std::u16string extension) {
  auto owned = std::make_unique<LengthScanner>(signature, std::move(extension));
  LengthScanner* scanner = owned.get();
  return registry.Insert(std::move(owned), &disk) ? scanner : nullptr;
}

std::vector<uint64_t> Range(uint64_t from, uint64_t to) {
  std::vector<uint64_t> v;
  for (uint64_t s = from; s < to; ++s) v.push_back(s);
  return v;
}

struct Scan {
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  ProgressRecord progress;
  RecordingSink sink;

  uint32_t Run(CDisk& disk, uint64_t first, uint64_t end, ScannerRegistry& registry) {
    return RawScan(disk, first, end, registry, fileType, &progress, sink);
  }
  std::vector<Found> Files() const { return test::FoundFiles(fileType); }
};

TEST(RawScan, SkipsFoundFilesByTheirEndSector) {
  MemorySource source = KxSource(64);
  source.PutSector(10, FileSector('K', 'V', 300));   // ends in its own sector: resume at +2
  source.PutSector(20, FileSector('K', 'V', 1024));  // ends at start + 2: resume there
  source.PutSector(30, FileSector('K', 'V', 1000));  // ends at start + 1: that sector again
  auto disk = test::OpenMemory(source);
  ASSERT_TRUE(disk);
  ScannerRegistry registry;
  LengthScanner* scanner = Add(registry, *disk, {'K', 'V'}, u"kv");

  Scan scan;
  EXPECT_EQ(scan.Run(*disk, 0, 64, registry), 1u);

  std::vector<uint64_t> expected = Range(0, 64);
  std::erase(expected, 11u);
  std::erase(expected, 21u);
  EXPECT_EQ(scanner->offered, expected);
  const std::vector<Found> files = scan.Files();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].name, u"file0.kv");
  EXPECT_EQ(files[0].location, 10u);
  EXPECT_EQ(files[0].endSector, 10u);
  EXPECT_EQ(files[0].size, 300u);
  EXPECT_EQ(files[1].location, 20u);
  EXPECT_EQ(files[1].endSector, 22u);
  EXPECT_EQ(files[2].name, u"file2.kv");
  EXPECT_EQ(files[2].endSector, 31u);
  EXPECT_EQ(source.readsPastEnd, 0u);
}

TEST(RawScan, CarriesASkipIntoTheFollowingBlocks) {
  MemorySource source = KxSource(512);
  source.PutSector(120, FileSector('K', 'V', 200 * 512));  // runs to sector 320
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  LengthScanner* scanner = Add(registry, *disk, {'K', 'V'}, u"kv");

  Scan scan;
  scan.Run(*disk, 0, 512, registry);

  std::vector<uint64_t> expected = Range(0, 121);
  for (uint64_t s : Range(320, 512)) expected.push_back(s);
  EXPECT_EQ(scanner->offered, expected);
  // Blocks start at 0, 320 (the found file's end) and 448.
  EXPECT_EQ(scan.sink.Count(UM_PROGRESS), 3u);
  EXPECT_EQ(scan.progress.Position(), 576u);
  EXPECT_EQ(scan.progress.End(), 512u);
}

TEST(RawScan, NeverOffersASectorThatLeadsWithEightZeroBytes) {
  MemorySource source;
  source.length = 16 * 512;
  std::vector<uint8_t> zeroLed(512, 0);
  zeroLed[8] = 0x01;  // the signature would match from here on
  source.PutSector(5, zeroLed);
  std::vector<uint8_t> sevenZeros(512, 0);
  sevenZeros[7] = 0x01;
  source.PutSector(6, sevenZeros);
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  auto owned =
      std::make_unique<AnyLeadScanner>(std::initializer_list<uint8_t>{0x00, 0x00}, 0x00, u"z");
  AnyLeadScanner* scanner = owned.get();
  registry.Insert(std::move(owned), disk.get());

  Scan scan;
  scan.Run(*disk, 0, 16, registry);
  EXPECT_EQ(scanner->offered, std::vector<uint64_t>{6});
}

TEST(ScannerRegistry, KeepsTheFirstOfEqualOrPrefixKeysInDescendingByteOrder) {
  MemorySource source = KxSource(8);
  source.PutSector(2, FileSector('A', 'B', 100));
  source.PutSector(4, FileSector('Q', 'R', 100));
  source.PutSector(6, FileSector('Q', 'S', 100));
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  EXPECT_TRUE(Add(registry, *disk, {'A', 'B'}, u"one"));
  EXPECT_FALSE(Add(registry, *disk, {'A', 'B'}, u"equal"));
  EXPECT_FALSE(Add(registry, *disk, {'A', 'B', 'C'}, u"longer"));
  EXPECT_FALSE(Add(registry, *disk, {'A'}, u"shorter"));
  EXPECT_TRUE(Add(registry, *disk, {'A', 'C'}, u"ac"));
  EXPECT_TRUE(Add(registry, *disk, {'Q', 'R'}, u"q"));
  // Offered every sector, but behind "QR" in registry order.
  EXPECT_TRUE(registry.Insert(
      std::make_unique<AnyLeadScanner>(std::initializer_list<uint8_t>{0x10, 0x11}, 'Q', u"any"),
      disk.get()));
  EXPECT_FALSE(registry.Insert(std::make_unique<CDummyScanner>(), disk.get()));

  ASSERT_EQ(registry.Size(), 4u);
  const uint8_t order[] = {'Q', 'A', 'A', 0x10};
  const uint8_t second[] = {'R', 'C', 'B', 0x11};
  for (size_t i = 0; i < registry.Size(); ++i) {
    EXPECT_EQ(registry.At(i)->m_pSignature->Bytes()[0], order[i]) << i;
    EXPECT_EQ(registry.At(i)->m_pSignature->Bytes()[1], second[i]) << i;
  }

  Scan scan;
  scan.Run(*disk, 0, 8, registry);
  const std::vector<Found> files = scan.Files();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].folder, u"one");
  EXPECT_EQ(files[0].name, u"file0.one");
  EXPECT_EQ(files[1].folder, u"q");
  EXPECT_EQ(files[1].location, 4u);
  EXPECT_EQ(files[2].folder, u"any");
  EXPECT_EQ(files[2].location, 6u);
}

TEST(RawScan, NamesFilesInOrderAcrossFormatsAndKeepsEmptyHitsAsFolders) {
  MemorySource source = KxSource(32);
  source.PutSector(1, FileSector('K', 'V', 100));
  source.PutSector(4, FileSector('A', 'B', 0));  // a hit without length: its folder, no file
  source.PutSector(5, FileSector('A', 'B', 700));
  source.PutSector(9, FileSector('K', 'V', 512));
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  Add(registry, *disk, {'K', 'V'}, u"kv");
  Add(registry, *disk, {'A', 'B'}, u"ab");

  Scan scan;
  scan.Run(*disk, 0, 32, registry);

  EXPECT_EQ(test::FolderNames(scan.fileType), (std::vector<std::u16string>{u"kv", u"ab"}));
  const std::vector<Found> files = scan.Files();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].name, u"file0.kv");
  EXPECT_EQ(files[1].name, u"file2.kv");
  EXPECT_EQ(files[1].location, 9u);
  EXPECT_EQ(files[2].name, u"file1.ab");
  EXPECT_EQ(files[2].location, 5u);

  const RecoveredNode* node = scan.fileType->firstChild->firstChild;
  EXPECT_EQ(node->nameLength, 10);  // "file0.kv" and its two zero units
  EXPECT_EQ(StoredName(*node), std::u16string(u"file0.kv\0\0", 10));
  EXPECT_EQ(node->origin, ORIGIN_RAW_SCAN);
  EXPECT_EQ(node->flags, 0);
  EXPECT_EQ(node->parent, scan.fileType->firstChild);
}

TEST(RawScan, AnEmptyRegistryWalksTheRangeWithOneNotificationPerBlock) {
  MemorySource source;
  source.length = 1000 * 512;
  source.Put(0, test::RandomBytes(source.length, 7));
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;

  Scan scan;
  EXPECT_EQ(scan.Run(*disk, 0, 1000, registry), 1u);
  EXPECT_EQ(scan.sink.Count(UM_PROGRESS), 8u);
  EXPECT_EQ(scan.sink.messages.size(), 8u);
  EXPECT_EQ(scan.sink.messages[0].wParam, 0u);
  EXPECT_EQ(scan.sink.messages[0].lParam, 0);
  EXPECT_EQ(scan.progress.Position(), 1024u);
  EXPECT_EQ(scan.fileType->firstChild, nullptr);
  EXPECT_EQ(source.readsPastEnd, 0u);
}

TEST(RawScan, ReturnsAtOnceWhenTheRangeIsEmpty) {
  MemorySource source = KxSource(64);
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  Add(registry, *disk, {'K', 'x'}, u"kv");
  for (uint64_t first : {50u, 60u}) {
    Scan scan;
    EXPECT_EQ(scan.Run(*disk, first, 50, registry), 1u);
    EXPECT_TRUE(scan.sink.messages.empty());
    EXPECT_EQ(scan.progress.Position(), first);
    EXPECT_EQ(scan.progress.End(), 50u);
    EXPECT_EQ(scan.fileType->firstChild, nullptr);
  }
  EXPECT_EQ(source.reads, 0u);

  // An end beyond the source is cut to the source; a range that ends inside a block offers
  // nothing past its end.
  source.PutSector(30, FileSector('K', 'x', 100));
  source.PutSector(40, FileSector('K', 'x', 100));
  Scan whole;
  whole.Run(*disk, 0, uint64_t{1} << 40, registry);
  EXPECT_EQ(whole.progress.End(), 64u);
  EXPECT_EQ(whole.sink.Count(UM_PROGRESS), 1u);
  Scan part;
  part.Run(*disk, 20, 40, registry);
  ASSERT_EQ(part.Files().size(), 1u);
  EXPECT_EQ(part.Files()[0].location, 30u);
}

TEST(RawScan, AStopRequestKeepsWhatWasFound) {
  MemorySource source = KxSource(1024);
  source.PutSector(3, FileSector('K', 'V', 100));
  source.PutSector(300, FileSector('K', 'V', 100));
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  Add(registry, *disk, {'K', 'V'}, u"kv");

  Scan scan;
  scan.progress.SetState(PS_RUNNING);
  scan.sink.onProgress = [&](size_t count) {
    if (count == 1) scan.progress.RequestStop();
  };
  EXPECT_EQ(scan.Run(*disk, 0, 1024, registry), 1u);
  EXPECT_EQ(scan.progress.State(), PS_STOPPED);
  EXPECT_EQ(scan.sink.Count(UM_PROGRESS), 1u);
  EXPECT_EQ(scan.progress.Position(), 128u);
  const std::vector<Found> files = scan.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].location, 3u);
}

TEST(RawScan, AnUnreadableBlockCostsOnlyItself) {
  MemorySource source = KxSource(4096);
  for (uint64_t s : {100u, 290u, 500u, 3000u}) source.PutSector(s, FileSector('K', 'V', 100));
  source.failRead = [](uint64_t offset, uint32_t bytes) {
    const uint64_t bad = 300 * 512;
    return offset <= bad && bad < offset + bytes;
  };
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  Add(registry, *disk, {'K', 'V'}, u"kv");
  Scan scan;
  scan.Run(*disk, 0, 4096, registry);
  std::vector<uint64_t> locations;
  for (const Found& f : scan.Files()) locations.push_back(f.location);
  EXPECT_EQ(locations, (std::vector<uint64_t>{100, 500, 3000}));
}

TEST(RawScan, BindsTheRegistryToTheSourceItScans) {
  MemorySource first = KxSource(16);
  MemorySource second = KxSource(16);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                              0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  png.resize(512, 0x33);
  second.PutSector(4, png);
  std::vector<uint8_t> tail(512, 0x44);
  std::copy_n("IEND", 4, tail.begin() + 20);
  second.PutSector(6, tail);
  auto firstDisk = test::OpenMemory(first);
  auto secondDisk = test::OpenMemory(second);
  const std::vector<std::u16string> items = {u"PNG"};
  ScannerRegistry registry = BuildRegistry(items, *firstDisk);
  ASSERT_EQ(registry.At(0)->m_pDisk, firstDisk.get());

  Scan scan;
  scan.Run(*secondDisk, 0, 16, registry);
  EXPECT_EQ(registry.At(0)->m_pDisk, secondDisk.get());
  const std::vector<Found> files = scan.Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].size, 2u * 512 + 20 + 8 + 512);
  EXPECT_EQ(files[0].endSector, 6u);
  // Outside a scan the scanners hold no reader or progress record.
  EXPECT_EQ(registry.At(0)->m_pReader, nullptr);
  EXPECT_EQ(registry.At(0)->m_pProgress, nullptr);
}

TEST(Catalogue, BuildsScannersByItemTextInCatalogueOrder) {
  EXPECT_EQ(FormatItemTexts().size(), 72u);
  EXPECT_EQ(FormatItemTexts().front(), u"BMP");
  EXPECT_TRUE(IsFormatItemText(u"JPG"));
  EXPECT_FALSE(IsFormatItemText(u"jpg"));
  EXPECT_EQ(CreateScanner(u"GIF"), nullptr);

  MemorySource source = KxSource(4);
  auto disk = test::OpenMemory(source);
  const std::vector<std::u16string> items = {u"PNG", u"nope", u"BMP", u"JPG", u"BMP"};
  ScannerRegistry registry = BuildRegistry(items, *disk);
  ASSERT_EQ(registry.Size(), 3u);
  // Registry order: FF D8 FF, then 89 50 ..., then 42 4D.
  EXPECT_EQ(registry.At(0)->m_pSignature->Bytes()[0], 0xFF);
  EXPECT_EQ(registry.At(1)->m_pSignature->Bytes()[0], 0x89);
  EXPECT_EQ(registry.At(2)->m_pSignature->Bytes()[0], 0x42);
  for (size_t i = 0; i < registry.Size(); ++i) EXPECT_EQ(registry.At(i)->m_pDisk, disk.get());
}

}  // namespace
}  // namespace kavo

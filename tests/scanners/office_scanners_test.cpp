// Compound documents, OneNote sections and Outlook stores laid in a source between random bytes
// and zero runs, found at their start, named by content and measured whole. The compound
// documents come from LibreOffice where it is installed; the Visio document, the OneNote
// sections and the stores are built field by field from the formats' published layouts, since
// no tool here writes them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/office_scanner.h"
#include "scanners/onenote_scanner.h"
#include "scanners/pst_scanner.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::LaidFile;

// Scans `laid` and expects exactly the files of `laid` whose folder is not empty; returns what
// was found.
std::vector<test::Found> ExpectFound(std::vector<LaidFile> laid, uint32_t sectorSize) {
  SCOPED_TRACE(sectorSize);
  std::vector<std::unique_ptr<CBaseScanner>> scanners;
  scanners.push_back(std::make_unique<COfficeScan>());
  scanners.push_back(std::make_unique<COne>());
  scanners.push_back(std::make_unique<Pst>());
  test::MemorySource source;
  source.sectorSize = sectorSize;
  const std::vector<test::Found> found = test::LayAndScan(laid, std::move(scanners), source);
  std::erase_if(laid, [](const LaidFile& file) { return file.folder.empty(); });
  test::ExpectFoundWhole(laid, found);
  return found;
}

// A compound file of one stream of `dataSectors` sectors (at least 4096 bytes, so that it lies
// in the file's own sectors, not the mini stream), named like the first entry after the root. The
// directory's first sector comes first and the rest after the stream, so its entries run on in a
// sector that is not the next. `hole` leaves a free sector after the stream.
struct Compound {
  std::string label;
  uint32_t shift = 9;
  std::vector<std::u16string> names;
  uint32_t dataSectors = 8;
  std::u16string folder;  // empty: rejected
  bool hole = false;
  uint16_t byteOrder = 0xFFFE;
};

constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE;

std::vector<uint8_t> BuildCompound(const Compound& c) {
  const uint32_t ss = 1u << c.shift, perFat = ss / 4, perDir = ss / 128;
  const uint32_t entries = static_cast<uint32_t>(c.names.size()) + 1;
  const uint32_t dirSectors = (entries + perDir - 1) / perDir;
  const uint32_t body = dirSectors + c.dataSectors + (c.hole ? 1 : 0);
  uint32_t fats = 1, lists = 0;  // FAT sectors, then FAT-list sectors, follow the body
  for (uint32_t needFats = 0, needLists = 0; needFats != fats || needLists != lists;) {
    fats = std::max(fats, needFats);
    lists = needLists;
    needFats = (body + fats + lists + perFat - 1) / perFat;
    needLists = needFats > 109 ? (needFats - 109 + perFat - 2) / (perFat - 1) : 0;
  }
  auto dir = [&](uint32_t i) { return i == 0 ? 0 : body - dirSectors + i; };
  std::vector<uint32_t> fat(uint64_t{fats} * perFat, kFree);
  for (uint32_t s = 1; s <= c.dataSectors; ++s) fat[s] = s == c.dataSectors ? kEnd : s + 1;
  for (uint32_t i = 0; i < dirSectors; ++i) fat[dir(i)] = i + 1 < dirSectors ? dir(i + 1) : kEnd;
  std::fill_n(fat.begin() + body, fats, 0xFFFFFFFD);
  std::fill_n(fat.begin() + body + fats, lists, 0xFFFFFFFC);

  std::vector<uint8_t> f((uint64_t{body} + fats + lists + 1) * ss, 0);
  auto at = [&](uint64_t sector) { return f.data() + (sector + 1) * ss; };
  const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(signature), std::end(signature), f.begin());
  for (auto [offset, value] :
       {std::pair<int, uint32_t>{24, 0x3Eu | (c.shift == 12 ? 4u : 3u) << 16},
        {28, c.byteOrder | c.shift << 16},
        {32, 6},
        {44, fats},
        {40, c.shift == 12 ? dirSectors : 0},
        {48, 0},
        {56, 4096},
        {60, kEnd},
        {68, lists ? body + fats : kEnd},
        {72, lists}}) {
    StoreLe32(f.data() + offset, value);
  }
  // The FAT sectors' numbers: 109 in the header, the rest in the chained list sectors.
  for (uint32_t k = 0; k < 109 + lists * (perFat - 1); ++k) {
    uint8_t* slot =
        k < 109 ? f.data() + 76 + 4 * k
                : at(body + fats + (k - 109) / (perFat - 1)) + 4 * ((k - 109) % (perFat - 1));
    StoreLe32(slot, k < fats ? body + k : kFree);
  }
  for (uint32_t l = 0; l < lists; ++l) {
    StoreLe32(at(body + fats + l) + ss - 4, l + 1 < lists ? body + fats + l + 1 : kEnd);
  }
  for (size_t i = 0; i < fat.size(); ++i)
    StoreLe32(at(body + i / perFat) + 4 * (i % perFat), fat[i]);
  for (uint32_t e = 0; e < dirSectors * perDir; ++e) {
    uint8_t* d = at(dir(e / perDir)) + (e % perDir) * 128;
    StoreLe32(d + 68,
              kFree);  // siblings and child: the root holds entry 1, which leads to the rest
    StoreLe32(d + 72, e >= 1 && e + 1 < entries ? e + 1 : kFree);
    StoreLe32(d + 76, e == 0 ? 1 : kFree);
    if (e >= entries) continue;
    const std::u16string name = e == 0 ? u"Root Entry" : c.names[e - 1];
    for (size_t i = 0; i < name.size(); ++i) StoreLe16(d + 2 * i, name[i]);
    StoreLe16(d + 64, static_cast<uint16_t>(2 * name.size() + 2));
    d[66] = e == 0 ? 5 : 2;  // root or stream
    d[67] = 1;               // black
    StoreLe32(d + 116, e == 1 ? 1 : kEnd);
    StoreLe64(d + 120, e == 1 ? uint64_t{c.dataSectors} * ss : 0);
  }
  for (uint32_t s = 1; s <= c.dataSectors; ++s) std::fill_n(at(s), ss, static_cast<uint8_t>(s));
  return f;
}

TEST(OfficeScan, MeasuresCompoundFilesByTheirAllocationTable) {
  const std::vector<Compound> cases = {
      {"Visio stream in the directory's second sector",
       9,
       {u"\u0005SummaryInformation", u"\u0001CompObj", u"Other", u"\u0005Document",
        u"VisioDocument"},
       10,
       u"vsd"},
      {"PowerPoint stream by its real name",
       9,
       {u"PowerPoint Document", u"Current User"},
       9,
       u"ppt"},
      {"4096-byte sectors", 12, {u"Workbook", u"\u0001CompObj"}, 5, u"xls"},
      {"a free sector inside", 9, {u"Workbook"}, 300, u"xls", true},
      {"FAT listed in an extra sector", 9, {u"WordDocument", u"1Table"}, 14000, u"doc"},
      {"a known stream only in the ninth entry",
       9,
       {u"Contents", u"Other", u"More", u"Book", u"Data", u"x", u"y", u"WordDocument"},
       8,
       u""},
      {"big-endian byte order mark", 9, {u"WordDocument"}, 8, u"", false, 0xFEFF},
  };
  std::vector<LaidFile> laid;
  for (const Compound& c : cases) laid.push_back({c.label, BuildCompound(c), c.folder});
  ASSERT_EQ(LoadLe32(laid[4].bytes.data() + 72), 1u);  // the extra FAT-list sector is needed
  for (uint32_t sectorSize : {512u, 4096u}) ExpectFound(laid, sectorSize);
}

TEST(OfficeScan, HonoursAStopRequest) {
  test::MemorySource source;
  source.length = 64 * 512;
  source.Put(0, BuildCompound({"doc", 9, {u"WordDocument"}, 8, u"doc"}));
  auto disk = test::OpenMemory(source);
  COfficeScan scanner;
  scanner.m_pDisk = disk.get();
  ProgressRecord progress;
  scanner.m_pProgress = &progress;
  std::vector<uint8_t> sector(512);
  disk->ReadSectors(sector.data(), 512, 0);
  ASSERT_NE(scanner.MatchSignature(sector.data(), 0, 0), 0);
  ASSERT_NE(scanner.ParseFile(sector.data()), 0);
  EXPECT_EQ(scanner.m_nLength, 11 * 512);  // header, directory, eight data sectors, FAT
  EXPECT_EQ(scanner.m_nEndSector, 11u);
  progress.RequestStop();
  EXPECT_EQ(scanner.ParseFile(sector.data()), 0);
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

#ifndef _WIN32
TEST(OfficeScan, FindsLibreOfficeDocumentsWhole) {
  if (!test::HaveTool("soffice")) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  test::ScratchDir dir;
  {
    std::ofstream text(dir / "long.txt"), note(dir / "note.txt"), table(dir / "table.csv");
    for (int i = 0; i < 4000; ++i) text << "Line " << i << " of a long letter, with some words.\n";
    note << "A short note.\n";
    for (int i = 0; i < 3000; ++i) table << i << ',' << i * i << ",name" << i << '\n';
    std::ofstream(dir / "slides.fodp")
        << "<?xml version=\"1.0\"?><office:document "
           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" office:mimetype="
           "\"application/vnd.oasis.opendocument.presentation\"><office:body><office:presentation>"
           "<draw:page/><draw:page/></office:presentation></office:body></office:document>\n";
  }
  const std::string soffice = "soffice -env:UserInstallation=file://" + (dir / "profile").string() +
                              " --headless --convert-to ";
  ASSERT_FALSE(test::MakeFile(dir.path(),
                              soffice + "doc long.txt note.txt && " + soffice +
                                  "xls table.csv && " + soffice + "ppt slides.fodp",
                              "slides.ppt")
                   .empty());
  std::vector<LaidFile> laid;
  for (const auto& [file, folder] : {std::pair{"long.doc", u"doc"},
                                     {"note.doc", u"doc"},
                                     {"table.xls", u"xls"},
                                     {"slides.ppt", u"ppt"}}) {
    std::ifstream in(dir / file, std::ios::binary);
    laid.push_back({file, {std::istreambuf_iterator<char>(in), {}}, folder});
    ASSERT_FALSE(laid.back().bytes.empty()) << file;
  }
  for (uint32_t sectorSize : {512u, 4096u}) ExpectFound(laid, sectorSize);
}
#endif

// A OneNote section of `length` bytes: its header, with no transaction or file node list yet.
std::vector<uint8_t> OneNoteSection(uint32_t length) {
  std::vector<uint8_t> f(length, 0);
  const uint8_t type[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                            0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
  const uint8_t format[16] = {0x3F, 0xDD, 0x9A, 0x10, 0x1B, 0x91, 0xF5, 0x49,
                              0xA5, 0xD0, 0x17, 0x91, 0xED, 0xC8, 0xAE, 0xD8};
  std::copy(std::begin(type), std::end(type), f.begin());
  for (int i = 16; i < 32; ++i) f[i] = static_cast<uint8_t>(i * 7);  // the file's own GUID
  std::copy(std::begin(format), std::end(format), f.begin() + 48);
  for (int i = 0; i < 4; ++i) StoreLe32(&f[64 + 4 * i], 0x2A);  // the writing code's versions
  for (int at : {88, 112}) StoreLe32(&f[at], kFree);  // no legacy transaction log or root list
  for (int at : {148, 160, 172, 184}) StoreLe64(&f[at], ~uint64_t{0});  // no chunk lists yet
  StoreLe64(&f[196], length);
  return f;
}

// The CRC of the store header: the reflected CRC-32 polynomial, seeded with 0, not inverted.
uint32_t StoreCrc(const uint8_t* p, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

// An Outlook store of `length` bytes: its header as the version lays it out, with the end of
// file and the allocation map valid, the rest empty pages.
std::vector<uint8_t> Store(uint8_t version, char client, uint64_t length) {
  const bool unicode = version >= 21;
  std::vector<uint8_t> f(length, 0);
  uint8_t* h = f.data();
  const uint8_t magic[4] = {'!', 'B', 'D', 'N'};
  std::copy(std::begin(magic), std::end(magic), h);
  h[8] = 'S';
  h[9] = static_cast<uint8_t>(client);
  StoreLe16(h + 10, version);
  StoreLe16(h + 12, 19);
  h[14] = h[15] = 1;
  const size_t root = unicode ? 180 : 164;
  if (unicode) {
    StoreLe64(h + 184, length);
    StoreLe64(h + 192, 0x4400);  // the last allocation map
    h[root + 68] = 2;            // the allocation maps are valid
  } else {
    StoreLe32(h + 168, static_cast<uint32_t>(length));
    StoreLe32(h + 172, 0x4400);
    h[root + 36] = 2;
  }
  std::fill_n(h + root + (unicode ? 76 : 40), 256, 0xFF);  // the free maps: all free
  h[unicode ? 512 : 460] = 0x80;                           // the sentinel
  StoreLe32(h + 4, StoreCrc(h + 8, 471));
  return f;
}

TEST(DocumentScanners, MeasureOneNoteSectionsAndStoresByTheirHeaders) {
  std::vector<LaidFile> laid = {
      {"section of 4096 bytes", OneNoteSection(4096), u"one"},
      {"section of 12800 bytes", OneNoteSection(12800), u"one"},
      {"section of 4999 bytes", OneNoteSection(4999), u"one"},
      {"ANSI store, version 14", Store(14, 'M', 0x4600), u"pst"},
      {"ANSI store, version 15", Store(15, 'M', 20000), u"pst"},
      {"Unicode offline store, version 21", Store(21, 'O', 8192), u"ost"},
      {"Unicode store, version 23", Store(23, 'M', 70000), u"pst"},
      {"version 19", Store(19, 'M', 4096), u""},
      {"unknown client", Store(23, 'X', 4096), u""},
  };
  for (uint32_t sectorSize : {512u, 4096u}) {
    // The end sector is the one that holds the last byte.
    for (const test::Found& f : ExpectFound(laid, sectorSize)) {
      EXPECT_EQ(f.endSector, f.location + (f.size - 1) / sectorSize) << f.location;
    }
  }
}

}  // namespace
}  // namespace kavo

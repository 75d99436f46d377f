// The camera RAW scanners: TIFF files made by ImageMagick, libtiff and exiftool (named by their
// maker tags), and the formats no tool here writes built byte by byte from their published
// layouts; each laid between random and zero runs and found whole at its start.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/crw_scanner.h"
#include "scanners/mrw_scanner.h"
#include "scanners/orf_scanner.h"
#include "scanners/raf_scanner.h"
#include "scanners/tiff_scanner.h"
#include "scanners/x3f_scanner.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::LaidFile;

template <typename... Scanner>
std::vector<test::Found> Scan(std::vector<LaidFile>& files, uint32_t sectorSize = 512) {
  std::vector<std::unique_ptr<CBaseScanner>> scanners;
  (scanners.push_back(std::make_unique<Scanner>()), ...);
  test::MemorySource source;
  source.sectorSize = sectorSize;
  auto found = test::LayAndScan(files, std::move(scanners), source);
  EXPECT_EQ(source.readsPastEnd, 0u);
  return found;
}

// A file under construction, with fields in either byte order.
struct Bytes {
  bool le = true;
  std::vector<uint8_t> b;

  void Put(size_t at, uint64_t v, int size) {
    if (b.size() < at + size) b.resize(at + size);
    for (int i = 0; i < size; ++i) {
      b[at + (le ? i : size - 1 - i)] = static_cast<uint8_t>(v >> (8 * i));
    }
  }
  void Text(size_t at, const std::string& s) {
    if (b.size() < at + s.size()) b.resize(at + s.size());
    std::memcpy(b.data() + at, s.data(), s.size());
  }
  // A directory of {tag, type, count, value} entries at `at`, then the next-directory offset.
  void Dir(size_t at, const std::vector<std::array<uint32_t, 4>>& entries, uint32_t next = 0) {
    Put(at, entries.size(), 2);
    for (size_t i = 0; i < entries.size(); ++i) {
      const size_t e = at + 2 + 12 * i;
      Put(e, entries[i][0], 2);
      Put(e + 2, entries[i][1], 2);
      Put(e + 4, entries[i][2], 4);
      Put(e + 8, entries[i][3], entries[i][1] == 3 && entries[i][2] == 1 ? 2 : 4);
    }
    Put(at + 2 + 12 * entries.size(), next, 4);
  }
};

// A TIFF header whose first directory is at `first`.
Bytes Tiff(bool le, uint32_t first, const char* mark = nullptr) {
  Bytes t{le, {}};
  t.Text(0, le ? "II" : "MM");
  t.Put(2, 42, 2);
  t.Put(4, first, 4);
  if (mark) t.Text(8, mark);
  return t;
}

class RealTiffs : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"convert", "tiffcp", "exiftool"}) {
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }
  // Runs `command` in the scratch folder and returns `output`.
  std::vector<uint8_t> Make(const std::string& command, const std::string& output) {
    auto bytes = test::MakeFile(m_dir.path(), command, output);
    EXPECT_FALSE(bytes.empty()) << command;
    return bytes;
  }
  // Plain TIFFs retagged by one exiftool run: {file, tags} each.
  std::vector<std::vector<uint8_t>> Tagged(
      const std::vector<std::pair<std::string, std::string>>& files) {
    std::string make;
    std::string tag = "exiftool -q -overwrite_original";
    for (const auto& [name, tags] : files) {
      make += "convert -size 160x90 plasma:fractal " + name + " && ";
      tag += " " + tags + " " + name + (&name == &files.back().first ? "" : " -execute");
    }
    Make(make + tag, files.back().first);
    std::vector<std::vector<uint8_t>> out;
    for (const auto& file : files) out.push_back(Make("true", file.first));
    return out;
  }
  test::ScratchDir m_dir;
};

TEST_F(RealTiffs, AreFoundWholeAndNamedByTheirHeaderAndMaker) {
  std::vector<uint8_t> cr2 = Make("convert -size 120x80 plasma: -compress none c.tif", "c.tif");
  std::vector<uint8_t> iiq = cr2;
  ASSERT_GT(cr2.size(), 12u);
  std::memcpy(cr2.data() + 8, "CR\x02\x00", 4);  // the header of a CR2, over pixel bytes
  std::memcpy(iiq.data() + 8, "IIII", 4);
  std::vector<LaidFile> files = {
      {"strips", Make("convert -size 300x200 plasma:fractal -compress none s.tif", "s.tif"),
       u"tiff"},
      {"big-endian", Make("convert -size 300x200 plasma: -endian MSB b.tif", "b.tif"), u"tiff"},
      {"tiles",
       Make("convert -size 300x200 plasma: -define tiff:tile-geometry=64x64 t.tif", "t.tif"),
       u"tiff"},
      {"lzw", Make("convert -size 200x150 gradient:red-blue -compress lzw l.tif", "l.tif"),
       u"tiff"},
      {"jpeg", Make("convert -size 200x150 plasma: -compress jpeg j.tif", "j.tif"), u"tiff"},
      {"pages", Make("convert -size 90x60 xc:red plasma: -size 40x40 xc:blue m.tif", "m.tif"),
       u"tiff"},
      {"tiffcp",
       Make("convert -size 256x256 plasma: p.tif && tiffcp -c zip -t -w 64 -l 64 "
            "-B p.tif q.tif",
            "q.tif"),
       u"tiff"},
  };
  const std::vector<std::pair<std::string, std::string>> makers = {
      {"e.tif", "-Artist=Kavo -ExposureTime=1/50 -GPSLatitude=48.1"},
      {"n.tif", "-Make=NIKON -Model=D70"},
      {"a.tif", "-Make=SONY -Model=ILCE-7"},
      {"d.tif", "-Make=SONY -Model=DSC-R1"},
      {"x.tif", "'-Make=PENTAX Corporation'"},
      {"g.tif", "'-Make=PENTAX Corporation' -DNGVersion=1.4.0.0 -UniqueCameraModel=K"},
      {"h.tif", "-DNGVersion=1.4.0.0 -UniqueCameraModel=K"},
      {"y.tif", "-Make=Mamiya"},
      {"r.tif", "'-Make=RICOH IMAGING'"},
      {"z.tif", "-Make=Hasselblad"},
  };
  const char16_t* names[] = {u"tiff", u"NEF",  u"arw", u"sr2",   u"PEF",
                             u"DNG",  u"tiff", u"MEF", u"Richo", u"3fr"};
  const auto tagged = Tagged(makers);
  for (size_t i = 0; i < tagged.size(); ++i) {
    files.push_back({makers[i].second, tagged[i], names[i]});
  }
  if (HasFailure()) return;
  test::ExpectFoundWhole(files, Scan<CTiffScanner>(files));

  // On 4096-byte sectors.
  files.resize(7);
  test::ExpectFoundWhole(files, Scan<CTiffScanner>(files, 4096));
}

TEST(TiffScanner, BoundsItsWalkOverDamagedDirectories) {
  std::vector<LaidFile> files;
  // Cyclic: the next directory is the first, a SubIFDs entry points back at it, and an Exif
  // directory at a Mamiya file (whose Exif directory is walked) points at itself.
  Bytes cyclic = Tiff(true, 8);
  cyclic.Dir(
      8, {{271, 2, 7, 200}, {273, 4, 1, 300}, {279, 4, 1, 500}, {330, 4, 1, 8}, {34665, 4, 1, 100}},
      8);
  cyclic.Dir(100, {{271, 2, 7, 200}, {34665, 4, 1, 100}}, 100);
  cyclic.Text(200, "Mamiya");
  cyclic.Put(799, 0, 1);
  files.push_back({"cyclic", cyclic.b, u"MEF"});
  // A big-endian strip array that straddles a sector boundary, the last strip ending the file.
  Bytes straddle = Tiff(false, 8);
  // Two short byte counts fit in the value field.
  straddle.Dir(8, {{256, 3, 1, 4}, {273, 4, 2, 509}, {279, 3, 2, 900u << 16 | 700}});
  straddle.Put(509, 1000, 4);
  straddle.Put(513, 1900, 4);
  straddle.Put(2599, 0, 1);
  files.push_back({"straddle", straddle.b, u"tiff"});
  // Huge counts: ten million sub-directories that all point back at the first directory, and
  // an Exif directory of 60000 entries.
  Bytes huge = Tiff(true, 8);
  huge.Dir(8, {{273, 4, 1, 600}, {279, 4, 1, 400}, {330, 4, 10000000, 200}, {34665, 4, 1, 456}});
  for (int i = 0; i < 64; ++i) huge.Put(200 + 4 * i, 8, 4);
  huge.Put(456, 60000, 2);
  huge.Put(999, 0, 1);
  files.push_back({"huge counts", huge.b, u"tiff"});
  // Sony A100: the length stored 148 bytes after the image data.
  Bytes a100 = Tiff(true, 8);
  a100.Dir(8, {{271, 2, 5, 100}, {272, 2, 10, 106}, {273, 4, 1, 200}, {279, 4, 1, 300}});
  a100.Text(100, std::string("SONY\0\0DSLR-A100", 16));
  a100.Put(648, 5000, 4);
  a100.Put(4999, 0, 1);
  files.push_back({"sony a100", a100.b, u"arw"});
  test::ExpectFoundWhole(files, Scan<CTiffScanner>(files));

  // Directories of 1 and of 86 entries are no TIFF.
  std::vector<LaidFile> none;
  for (uint32_t n : {1u, 86u}) {
    Bytes t = Tiff(true, 8);
    t.Dir(8, std::vector<std::array<uint32_t, 4>>(n, {273, 4, 1, 8}));
    t.Put(1400, 0, 1);
    none.push_back({"entries", t.b, u"tiff"});
  }
  EXPECT_TRUE(Scan<CTiffScanner>(none).empty());
}

TEST(TiffScanner, ReadsShortValuesByTypeAndStopsOnRequest) {
  // A big-endian file whose byte count is a short, on a source of 64 MiB.
  Bytes t = Tiff(false, 8);
  t.Dir(8, {{273, 4, 1, 100}, {279, 3, 1, 100}});
  t.Put(1023, 0, 1);
  test::MemorySource source;
  source.length = 64 << 20;
  source.Put(0, t.b);
  auto disk = test::OpenMemory(source);
  CTiffScanner scanner;
  scanner.m_pDisk = disk.get();
  ProgressRecord progress;
  scanner.m_pProgress = &progress;
  std::vector<uint8_t> sector(t.b.begin(), t.b.begin() + 512);
  ASSERT_NE(scanner.MatchSignature(sector.data(), 0, 0), 0);
  ASSERT_NE(scanner.ParseFile(sector.data()), 0);
  EXPECT_EQ(scanner.m_nLength, 200);
  progress.RequestStop();
  EXPECT_EQ(scanner.ParseFile(sector.data()), 0);
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

// ORF (Olympus) and RW2 (Panasonic): a TIFF-like header, one directory, the raw strip last.
std::vector<uint8_t> OrfLike(bool le, const char* mark, uint32_t first, uint32_t rawBytes) {
  Bytes f{le, {}};
  f.Text(0, mark);
  f.Put(4, first, 4);
  f.Dir(first, {{256, 3, 1, 64},
                {257, 3, 1, 32},
                {271, 2, 8, first + 80},
                {273, 4, 1, 1024},
                {279, 4, 1, rawBytes}});
  f.Text(first + 80, std::string("OLYMPUS", 8));
  auto raw = test::RandomBytes(rawBytes, 5);
  f.b.resize(1024);
  f.b.insert(f.b.end(), raw.begin(), raw.end());
  return f.b;
}

TEST(OrfScanner, EndsTheFileWithItsRawData) {
  std::vector<LaidFile> files = {
      {"orf", OrfLike(true, "IIRO", 8, 3000), u"orf"},
      {"orf big-endian", OrfLike(false, "MMOR", 8, 700), u"orf"},
      {"rw2", OrfLike(true, "IIU\0", 24, 5000), u"raw"},
  };
  test::ExpectFoundWhole(files, Scan<CORFScanner>(files));
  test::ExpectFoundWhole(files, Scan<CORFScanner>(files, 4096));
}

// A CRW: the header, a heap of records and its root table, the table's offset last. The raw
// data record comes first at heap offset 0, so the JPEG record's tag follows three zero bytes.
std::vector<uint8_t> Crw(uint32_t records, uint32_t rawBytes) {
  Bytes c{true, {}};
  c.Text(0, "II");
  c.Put(2, 26, 4);
  c.Text(6, "HEAPCCDR");
  c.Put(14, 0x00010002, 4);
  c.b.resize(26);
  const uint32_t sizes[] = {rawBytes, 900, 32, 40};
  const uint16_t tags[] = {0x2005, 0x2007, 0x0810, 0x080b};
  uint32_t heap = 0;
  uint32_t offsets[4];
  for (uint32_t i = 0; i < records; ++i) {
    offsets[i] = heap;
    auto data = test::RandomBytes(sizes[i], 40 + i);
    for (auto& b : data) b |= 1;  // no zero bytes: no false table in the data
    c.b.insert(c.b.end(), data.begin(), data.end());
    heap += sizes[i];
  }
  const size_t table = c.b.size();
  c.Put(table, records, 2);
  for (uint32_t i = 0; i < records; ++i) {
    c.Put(table + 2 + 10 * i, tags[i], 2);
    c.Put(table + 4 + 10 * i, sizes[i], 4);
    c.Put(table + 8 + 10 * i, offsets[i], 4);
  }
  c.Put(table + 2 + 10 * records, heap, 4);
  return c.b;
}

TEST(CrwScanner, EndsTheFileAfterTheRootTable) {
  std::vector<LaidFile> files = {
      {"four records", Crw(4, 3000), u"crw"},
      {"three records", Crw(3, 5000), u"crw"},
      // The tag's first byte ends a sector, its second starts the next.
      {"split tag", Crw(2, 1024 - 26 - 900 - 2 - 10 - 1), u"crw"},
  };
  ASSERT_EQ(files[2].bytes[1023], 0x07);
  test::ExpectFoundWhole(files, Scan<CCRWScanner>(files));
  test::ExpectFoundWhole(files, Scan<CCRWScanner>(files, 4096));
}

std::vector<uint8_t> Mrw(uint16_t height, uint16_t width, char storage, uint32_t blocks) {
  Bytes m{false, {}};
  m.Text(0, std::string("\0MRM", 4));
  m.Put(4, blocks, 4);
  m.Text(8, std::string("\0PRD", 4));
  m.Put(12, 24, 4);
  m.Text(16, "21810002");
  m.Put(24, height, 2);
  m.Put(26, width, 2);
  m.Put(28, height, 2);
  m.Put(30, width, 2);
  m.Put(32, 0x0C0C, 2);
  m.Text(34, std::string(1, storage));
  m.Text(40, std::string("\0TTW", 4));
  m.Put(44, blocks - 40, 4);
  return m.b;
}

TEST(MrwRafX3fScanners, MeasureTheirHeaders) {
  auto laid = [](std::vector<uint8_t> header, size_t length) {
    auto rest = test::RandomBytes(length - header.size(), 3);
    header.insert(header.end(), rest.begin(), rest.end());
    return header;
  };
  std::vector<uint8_t> raf(160);
  std::memcpy(raf.data(), "FUJIFILMCCD-RAW 0201FF383501", 28);
  auto rafFields = [&](uint32_t a, uint32_t b, uint32_t e, uint32_t d) {
    const uint32_t v[] = {160, 1000, 1160, 100, a, b};
    Bytes r{false, raf};
    for (int i = 0; i < 6; ++i) r.Put(84 + 4 * i, v[i], 4);
    r.Put(128, e, 4);
    r.Put(132, d, 4);
    return r.b;
  };
  // X3F: the 232-byte header of version 2.2, two sections, the directory and its pointer.
  Bytes x{true, {}};
  x.Text(0, "FOVb");
  x.Put(4, 0x00020002, 4);
  x.Text(232, "SECp");
  x.Text(1500, "SECi");
  x.Text(5000, "SECd");
  x.Put(5004, 0x00020000, 4);
  x.Put(5008, 2, 4);
  x.Put(5036, 5000, 4);
  std::vector<LaidFile> files = {
      {"mrw packed", laid(Mrw(100, 60, 'Y', 64), 72 + 9000), u"mrw"},
      {"mrw", laid(Mrw(40, 60, 'R', 1000), 1008 + 4800), u"mrw"},
      {"raf", laid(rafFields(1260, 5000, 0, 0), 6260), u"raf"},
      {"raf two raw", laid(rafFields(1260, 5000, 6260, 3000), 9260), u"raf"},
      {"x3f", x.b, u"X3F"},
  };
  ASSERT_EQ(files.back().bytes.size(), 5040u);
  test::ExpectFoundWhole(files, Scan<CMRWScanner, CRAFScanner, CX3FScanner>(files));
  test::ExpectFoundWhole(files, Scan<CMRWScanner, CRAFScanner, CX3FScanner>(files, 4096));

  // Headers only: the lengths their fields give.
  std::vector<LaidFile> big = {
      {"raf", rafFields(1000, 500, 1500, 300), u"raf", 1800 - 160},
      {"mrw", Mrw(2000, 3000, 'R', 1000), u"mrw", 12001008 - 48},
  };
  test::ExpectFoundWhole(big, Scan<CMRWScanner, CRAFScanner>(big));
}

}  // namespace
}  // namespace kavo

// The ZIP scanner on archives written by real tools and on built archives for the edges: data
// descriptors with and without signature, fields across sector ends, Office naming, damage and
// stop requests.
#include "scanners/zip_scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "platform/bytes.h"
#include "scan_support.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

std::vector<test::Found> Scan(std::vector<test::LaidFile>& files, uint32_t sectorSize) {
  test::MemorySource source;
  source.sectorSize = sectorSize;
  std::vector<std::unique_ptr<CBaseScanner>> scanners;
  scanners.push_back(std::make_unique<CZipScanner>());
  return test::LayAndScan(files, std::move(scanners), source);
}

// Data descriptors: bit 0 present, bit 1 with signature, bit 2 with 8-byte sizes.
enum : uint8_t { kNone = 0, kUnsigned = 1, kSigned = 3, kUnsigned64 = 5, kSigned64 = 7 };
struct Entry {
  std::string name;
  uint32_t size = 40;
  uint8_t descriptor = kNone;
  bool sizesInHeader = false;  // with a descriptor: the header's sizes are given too
};

void Put(std::vector<uint8_t>& v, std::initializer_list<std::pair<uint64_t, int>> fields) {
  for (auto [value, bytes] : fields) {
    for (int i = 0; i < bytes; ++i) v.push_back(i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0);
  }
}

// A stored archive of random data, its central directory and its end record with a comment.
// With `signingBlock`, an Android signing block of 48 bytes lies before the central directory.
std::vector<uint8_t> BuildZip(const std::vector<Entry>& entries, uint16_t commentBytes = 0,
                              bool signingBlock = false) {
  std::vector<uint8_t> zip, central;
  for (const Entry& e : entries) {
    const uint64_t offset = zip.size(), n = e.name.size(), flag = e.descriptor ? 8 : 0;
    const uint32_t inHeader = e.descriptor && !e.sizesInHeader ? 0 : e.size;
    Put(zip, {{0x04034B50, 4}, {20, 2}, {flag, 2}, {0, 10}, {inHeader, 4}, {inHeader, 4}, {n, 4}});
    zip.insert(zip.end(), e.name.begin(), e.name.end());
    const auto data = test::RandomBytes(e.size, static_cast<uint32_t>(offset));
    zip.insert(zip.end(), data.begin(), data.end());
    if (e.descriptor & 2) Put(zip, {{0x08074B50, 4}});
    const int width = e.descriptor & 4 ? 8 : 4;
    if (e.descriptor) Put(zip, {{0, 4}, {e.size, width}, {e.size, width}});
    Put(central, {{0x02014B50, 4}, {20, 4}, {flag, 2}, {0, 10}, {e.size, 4}, {e.size, 4}, {n, 2}});
    Put(central, {{0, 12}, {offset, 4}});
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  if (signingBlock) {
    Put(zip, {{40, 8}, {0, 16}, {40, 8}});
    zip.insert(zip.end(),
               {'A', 'P', 'K', ' ', 'S', 'i', 'g', ' ', 'B', 'l', 'o', 'c', 'k', ' ', '4', '2'});
  }
  const uint64_t centralAt = zip.size(), count = entries.size();
  zip.insert(zip.end(), central.begin(), central.end());
  Put(zip, {{0x06054B50, 4}, {0, 4}, {count * 0x10001, 4}, {central.size(), 4}, {centralAt, 4}});
  Put(zip, {{commentBytes, 2}});
  zip.resize(zip.size() + commentBytes, 'c');
  return zip;
}

TEST(ZipScanner, WalksDescriptorsAndFieldsAcrossSectorsAndNamesOfficePackages) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE(ss);
    std::vector<test::LaidFile> files = {
        {"unsigned descriptors", BuildZip({{"a", 900, kUnsigned}, {"b", 0, kUnsigned64}}), u"zip"},
        {"signed zip64 descriptor", BuildZip({{"a", 3000, kSigned64}}), u"zip"},
        {"descriptors after known sizes",
         BuildZip({{"a", 70, kSigned, true}, {"b", 70, kUnsigned, true}}), u"zip"},
        // The second header's compressed size spans the first sector's end.
        {"size across a sector", BuildZip({{"a.txt", ss - 55}, {"b.txt"}}, 10), u"zip"},
        {"package relationships first", BuildZip({{"_rels/.rels"}, {"xl/_rels/workbook.xml.rels"}}),
         u"xlsx"},
        {"content types last",
         BuildZip({{"docProps/app.xml"},
                   {"word/_rels/document.xml.rels"},
                   {"ppt/slides/_rels/slide1.xml.rels"},
                   {"[Content_Types].xml"}}),
         u"docx"},
        {"content types first",
         BuildZip({{"[Content_Types].xml"}, {"_rels/.rels"}, {"ppt/slides/_rels/slide1.xml.rels"}}),
         u"pptx"},
        {"signed apk", BuildZip({{"AndroidManifest.xml"}, {"classes.dex"}}, 0, true), u"apk"},
        {"no relationships", BuildZip({{"[Content_Types].xml"}, {"word/document.xml"}}), u"zip"},
        {"relationships without content types", BuildZip({{"ppt/slides/_rels/slide1.xml.rels"}}),
         u"zip"},
    };
    test::ExpectFoundWhole(files, Scan(files, ss));
  }
}

TEST(ZipScanner, RejectsDamagedArchives) {
  std::vector<uint8_t> notP = BuildZip({{"a"}, {"b"}});
  notP[30 + 1 + 40] = 'Q';  // the second local header
  std::vector<uint8_t> wrongSize = BuildZip({{"a", 300, kSigned}});
  StoreLe32(wrongSize.data() + 31 + 300 + 8, 299);
  std::vector<uint8_t> cut = BuildZip({{"a", 3000, kSigned}});
  cut.resize(2000);
  std::vector<test::LaidFile> files = {
      {"not P", notP, u""}, {"wrong size", wrongSize, u""}, {"cut", cut, u""}};
  EXPECT_TRUE(Scan(files, 512).empty());
}

// The length a scanner of its own gives the archive at the source's start; -1 when rejected.
int64_t MeasureAtStart(test::MemorySource& source, ProgressRecord* progress = nullptr) {
  auto disk = test::OpenMemory(source);
  CZipScanner scanner;
  scanner.m_pDisk = disk.get();
  scanner.m_pProgress = progress;
  std::vector<uint8_t> sector(512);
  disk->ReadSectors(sector.data(), 512, 0);
  if (!scanner.MatchSignature(sector.data(), 0, 0)) return -1;
  return scanner.ParseFile(sector.data()) ? scanner.m_nLength : -1;
}

TEST(ZipScanner, SearchesStoredDataButNotCompressedDataAcrossZeroSectors) {
  for (uint8_t method : {0, 8}) {
    test::MemorySource source;
    source.length = 1 << 20;
    std::vector<uint8_t> zip = BuildZip({{"a", 100, kSigned}});
    zip.resize(31 + 100);
    zip[8] = method;
    source.Put(0, zip);
    // The descriptor and an end record, past zero sectors.
    std::vector<uint8_t> tail(16 + 22);
    StoreLe32(tail.data(), 0x08074B50);
    StoreLe32(tail.data() + 8, 10000 - 31);
    StoreLe32(tail.data() + 12, 10000 - 31);
    StoreLe32(tail.data() + 16, 0x06054B50);
    source.Put(10000, tail);
    EXPECT_EQ(MeasureAtStart(source), method == 0 ? 10038 : -1) << int{method};
  }
}

TEST(ZipScanner, HonoursAStopRequestWhileSearchingADescriptor) {
  test::MemorySource source;
  source.length = 64 * 512;
  source.Put(0, BuildZip({{"a", 20000, kSigned}}));
  ProgressRecord progress;
  EXPECT_EQ(MeasureAtStart(source, &progress), 20000 + 31 + 16 + 47 + 22);
  progress.RequestStop();
  EXPECT_EQ(MeasureAtStart(source, &progress), -1);
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

#ifndef _WIN32

// Archives of a small tree, made by real tools, laid and scanned on 512- and 4096-byte sectors.
class RealZips : public ::testing::Test {
 protected:
  // The tools that are not installed; with all present, writes the tree.
  std::string Missing(std::initializer_list<const char*> tools) {
    std::string missing;
    for (const char* tool : tools) missing += test::HaveTool(tool) ? "" : std::string(" ") + tool;
    if (missing.empty()) {
      std::filesystem::create_directories(m_dir / "d/sub");
      std::ofstream(m_dir / "d/a.txt") << "Kavo finds archives\n";
      const auto noise = test::RandomBytes(3000, 5);
      std::ofstream(m_dir / "d/sub/r.bin").write(reinterpret_cast<const char*>(noise.data()), 3000);
      std::ofstream numbers(m_dir / "d/sub/n.txt");
      for (int i = 0; i < 3000; ++i) numbers << i << '\n';
    }
    return missing;
  }

  void Add(const std::string& command, const std::string& output, std::u16string folder) {
    m_files.push_back({output, test::MakeFile(m_dir.path(), command, output), std::move(folder)});
    ASSERT_FALSE(m_files.back().bytes.empty()) << command;
  }

  void ExpectFound() {
    for (uint32_t ss : {512u, 4096u}) {
      SCOPED_TRACE(ss);
      test::ExpectFoundWhole(m_files, Scan(m_files, ss));
    }
  }

  test::ScratchDir m_dir;
  std::vector<test::LaidFile> m_files;
};

TEST_F(RealZips, FromInfoZip) {
  if (auto missing = Missing({"zip"}); !missing.empty()) GTEST_SKIP() << "missing:" << missing;
  Add("zip -qr deflated.zip d", "deflated.zip", u"zip");
  Add("zip -qr0 stored.zip d", "stored.zip", u"zip");
  Add("echo 'a comment' | zip -qrz comment.zip d", "comment.zip", u"zip");
  Add("zip -qr -fz zip64.zip d", "zip64.zip", u"zip");
  Add("zip -qr - d | cat > piped.zip", "piped.zip", u"zip");
  Add("zip -q - - < d/sub/n.txt | cat > stdin.zip", "stdin.zip", u"zip");
  Add("cp d/a.txt 0.IIQ && zip -q eip.zip 0.IIQ d/sub/n.txt", "eip.zip", u"eip");
  Add("cp d/a.txt AndroidManifest.xml && zip -q a.apk AndroidManifest.xml d/sub/r.bin", "a.apk",
      u"apk");
  ExpectFound();
}

TEST_F(RealZips, From7zAndJar) {
  if (auto missing = Missing({"7z", "jar", "fastjar"}); !missing.empty()) {
    GTEST_SKIP() << "missing:" << missing;
  }
  Add("7z a -tzip 7z.zip d", "7z.zip", u"zip");
  Add("jar cf java.jar -C d .", "java.jar", u"jar");
  Add("fastjar cf fast.jar d", "fast.jar", u"jar");
  ExpectFound();
}

TEST_F(RealZips, FromLibreOffice) {
  if (auto missing = Missing({"soffice"}); !missing.empty()) GTEST_SKIP() << "missing:" << missing;
  std::ofstream(m_dir / "t.csv") << "a,b,c\n1,2,3\n";
  std::ofstream(m_dir / "p.fodp")
      << R"(<?xml version="1.0"?><office:document office:mimetype=)"
         R"("application/vnd.oasis.opendocument.presentation" xmlns:office=)"
         R"("urn:oasis:names:tc:opendocument:xmlns:office:1.0"><office:body>)"
         R"(<office:presentation/></office:body></office:document>)";
  // One profile of its own, so that other instances do not take the conversions over.
  const std::string lo = "soffice -env:UserInstallation=file://" + (m_dir / "lo").string() +
                         " --headless --convert-to ";
  Add(lo + "odt d/a.txt && " + lo + "docx d/a.txt && " + lo + "ods t.csv && " + lo +
          "xlsx t.csv && " + lo + "odp p.fodp && " + lo + "pptx p.fodp",
      "a.odt", u"odt");
  for (const char* file : {"a.docx", "t.ods", "t.xlsx", "p.odp", "p.pptx"}) {
    Add("true", file, std::u16string(file + 2, file + std::strlen(file)));
  }
  ExpectFound();
}

#endif

}  // namespace
}  // namespace kavo

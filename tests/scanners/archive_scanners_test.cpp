// The 7z, RAR, cabinet and compiled-help scanners: archives made by 7z, gcab and chmcmd at test
// time, RAR archives (which no installed tool writes) built byte by byte from the published
// version 4 and version 5 layouts, and byte-exact headers for the edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/cab_scanner.h"
#include "scanners/chm_scanner.h"
#include "scanners/rar_scanner.h"
#include "scanners/sevenzip_scanner.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using Bytes = std::vector<uint8_t>;

// Lays the files on sources of 512- and 4096-byte sectors, scans them with the four scanners
// and expects each found whole.
void ExpectFoundOnBothSectorSizes(std::vector<test::LaidFile> files) {
  for (uint32_t sectorSize : {512u, 4096u}) {
    SCOPED_TRACE(sectorSize);
    std::vector<std::unique_ptr<CBaseScanner>> scanners;
    scanners.push_back(std::make_unique<C7Z>());
    scanners.push_back(std::make_unique<CRARScanner>());
    scanners.push_back(std::make_unique<CabScanner>());
    scanners.push_back(std::make_unique<CCHMScanner>());
    test::MemorySource source;
    source.sectorSize = sectorSize;
    test::ExpectFoundWhole(files, test::LayAndScan(files, std::move(scanners), source));
    EXPECT_EQ(source.readsPastEnd, 0u);
  }
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>('a' + i % 23);
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void Le(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Crc32(const Bytes& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// RAR 4: CRC (low half of the CRC-32 of the rest), type, flags, header size, fields.
Bytes Block4(uint8_t type, uint16_t flags, const Bytes& fields, size_t crcBytes = SIZE_MAX) {
  Bytes header = {type};
  Le(header, flags, 2);
  Le(header, 7 + fields.size(), 2);
  header = header + fields;
  Bytes block;
  Le(block, Crc32(Bytes(header.begin(), header.begin() + std::min(crcBytes, header.size()))), 2);
  return block + header;
}

// A stored file (0x74) or service (0x7A) block and its data; `large` adds the sizes' high halves.
Bytes Entry4(uint8_t type, const std::string& name, const Bytes& data, bool large = false) {
  Bytes f;
  Le(f, data.size(), 4);  // packed
  Le(f, data.size(), 4);  // unpacked
  Le(f, 3, 1);            // Unix
  Le(f, Crc32(data), 4);
  Le(f, 0x5A8E3100, 4);  // time
  Le(f, 0x301D, 2);      // version 2.9, stored
  Le(f, name.size(), 2);
  Le(f, 0x81A4, 4);
  if (large) Le(f, 0, 8);
  return Block4(type, 0x8000 | (large ? 0x0100 : 0), f + Text(name)) + data;
}

// The main header's CRC covers its 13 fixed bytes only, whatever `mainExtra` follows.
Bytes Rar4(const Bytes& entries, uint16_t mainFlags = 0, const Bytes& mainExtra = {}) {
  Bytes main = Block4(0x73, mainFlags, Bytes(6 + mainExtra.size(), 0), 11);
  std::copy(mainExtra.begin(), mainExtra.end(), main.end() - mainExtra.size());
  return Text("Rar!\x1A\x07") + Bytes{0} + main + entries + Block4(0x7B, 0x4000, {});
}

// RAR 5: CRC-32, header size, type, flags, data size, fields; numbers seven bits a byte.
Bytes Number(uint64_t v) {
  Bytes out;
  for (; v >= 0x80; v >>= 7) out.push_back(static_cast<uint8_t>(v | 0x80));
  out.push_back(static_cast<uint8_t>(v));
  return out;
}

Bytes Block5(uint64_t type, const Bytes& fields, const Bytes* data = nullptr) {
  Bytes body = Number(type) + Number(data ? 0x0002 : 0);
  if (data) body = body + Number(data->size());
  const Bytes sized = Number(body.size() + fields.size()) + body + fields;
  Bytes block;
  Le(block, Crc32(sized), 4);
  return block + sized + (data ? *data : Bytes{});
}

// A stored file (2) or service (3) block: flags (CRC present), size, mode, CRC, method, host OS,
// name.
Bytes Entry5(uint64_t type, const std::string& name, const Bytes& data) {
  Bytes f = Number(0x0004) + Number(data.size()) + Number(0x1A4);
  Le(f, Crc32(data), 4);
  return Block5(type, f + Number(0) + Number(1) + Number(name.size()) + Text(name), &data);
}

Bytes Rar5(const Bytes& entries) {
  return Text("Rar!\x1A\x07\x01") + Bytes{0} + Block5(1, Number(0)) + entries +
         Block5(5, Number(0));
}

// Data for a first entry that puts the next entry at offset `at`.
Bytes DataEndingAt(const std::function<size_t(const Bytes&)>& prefix, size_t at) {
  for (size_t n = 0; n < at; ++n) {
    if (prefix(Pattern(n)) == at) return Pattern(n);
  }
  ADD_FAILURE() << "no data length puts the next entry at " << at;
  return {};
}

// Stored entries, service blocks, large-file fields, an old-style comment in the main header
// and, at 512-byte sectors, size fields that straddle the first sector's end.
std::vector<test::LaidFile> BuiltRarArchives() {
  // The packed size at offset 7 of the second entry covers bytes 510 to 513.
  const Bytes data4 = DataEndingAt(
      [](const Bytes& d) { return Rar4(Entry4(0x74, "hello.txt", d)).size() - 7; }, 503);
  const Bytes comment5 = Entry5(3, "CMT", Text("a comment"));
  // The data-size number at offset 7 of the second entry covers bytes 511 and 512.
  const Bytes data5 = DataEndingAt(
      [&](const Bytes& d) { return Rar5(comment5 + Entry5(2, "hello.txt", d)).size() - 7; }, 504);
  Bytes comment4 = {11, 0, 20, 0x30};
  Le(comment4, Crc32(Text("old comment")), 2);
  return {
      {"rar4 stored", Rar4(Entry4(0x74, "hello.txt", Text("hello rar four\n"))), u"rar"},
      {"rar4 straddling", Rar4(Entry4(0x74, "hello.txt", data4) + Entry4(0x74, "b", Pattern(2000))),
       u"rar"},
      {"rar4 service and large",
       Rar4(Entry4(0x7A, "CMT", Text("comment")) + Entry4(0x74, "big", Pattern(70000), true)),
       u"rar"},
      {"rar4 long main header",
       Rar4(Entry4(0x74, "a", Pattern(700)), 0x0002,
            Block4(0x75, 0, comment4 + Text("old comment"))),
       u"rar"},
      {"rar5 stored", Rar5(Entry5(2, "hello.txt", Text("hello rar five\n"))), u"rar"},
      {"rar5 straddling",
       Rar5(comment5 + Entry5(2, "hello.txt", data5) + Entry5(2, "b", Pattern(9000))), u"rar"},
  };
}

struct Measured {
  bool matched = false;
  bool accepted = false;
  int64_t length = 0;
  uint64_t endSector = 0;  // counted from the file's first sector
};

// Offers `bytes`, laid at sector 2 of a source of `sectorSize`-byte sectors, to a new scanner.
template <class Scanner>
Measured Measure(const Bytes& bytes, uint32_t sectorSize = 512,
                 ProgressRecord* progress = nullptr) {
  test::MemorySource source;
  source.sectorSize = sectorSize;
  source.length = (2 + (bytes.size() + sectorSize - 1) / sectorSize) * sectorSize;
  source.Put(2 * sectorSize, bytes);
  auto disk = test::OpenMemory(source);
  Scanner scanner;
  scanner.m_pDisk = disk.get();
  scanner.m_pProgress = progress;
  Bytes sector(sectorSize);
  EXPECT_TRUE(disk->ReadSectors(sector.data(), sectorSize, 2));
  Measured m;
  m.matched = scanner.MatchSignature(sector.data(), 0, 2) != 0;
  if (!m.matched) return m;
  EXPECT_EQ(scanner.m_nStartSector, 2u);
  m.accepted = scanner.ParseFile(sector.data()) != 0;
  m.length = scanner.m_nLength;
  m.endSector = scanner.m_nEndSector - 2;
  return m;
}

TEST(ArchiveScanners, FindSevenZipArchivesWhole) {
  if (!test::HaveTool("7z")) GTEST_SKIP() << "7z (p7zip-full) is not installed";
  test::ScratchDir dir;
  WriteFile(dir / "noise.bin", test::RandomBytes(300000, 11));
  WriteFile(dir / "text.txt", Pattern(90000));
  auto make = [&](const std::string& label, const std::string& out, const std::string& args) {
    return test::LaidFile{label, test::MakeFile(dir.path(), "7z a -bd " + out + " " + args, out),
                          u"7Z"};
  };
  ExpectFoundOnBothSectorSizes({
      make("lzma text", "text.7z", "text.txt"),
      make("stored noise", "stored.7z", "-mx=0 noise.bin"),
      make("solid pair", "solid.7z", "-ms=on text.txt noise.bin"),
      make("encrypted headers", "encrypted.7z", "-mhe=on -psecret text.txt"),
  });
}

TEST(ArchiveScanners, FindCabinetsWhole) {
  if (!test::HaveTool("gcab")) GTEST_SKIP() << "gcab is not installed";
  test::ScratchDir dir;
  WriteFile(dir / "noise.bin", test::RandomBytes(200000, 12));
  WriteFile(dir / "text.txt", Pattern(50000));
  ExpectFoundOnBothSectorSizes({
      {"stored text", test::MakeFile(dir.path(), "gcab -c s.cab text.txt", "s.cab"), u"cab"},
      {"deflated pair", test::MakeFile(dir.path(), "gcab -cz z.cab text.txt noise.bin", "z.cab"),
       u"cab"},
  });
}

TEST(ArchiveScanners, FindCompiledHelpFilesWhole) {
  if (!test::HaveTool("chmcmd")) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
  test::ScratchDir dir;
  std::string pages;
  for (int i = 0; i < 40; ++i) {
    std::string body = "<html><head><title>Page</title></head><body>";
    for (int line = 0; line < 30 * i; ++line) body += "<p>" + std::to_string(line * i) + "</p>";
    WriteFile(dir / ("p" + std::to_string(i) + ".html"), Text(body + "</body></html>\n"));
    pages += "p" + std::to_string(i) + ".html\n";
  }
  auto make = [&](const std::string& out, const std::string& files) {
    WriteFile(dir / "h.hhp", Text("[OPTIONS]\nCompiled file=" + out +
                                  "\nDefault topic=p0.html\nTitle=Help\n\n[FILES]\n" + files));
    return test::MakeFile(dir.path(), "chmcmd h.hhp", out);
  };
  ExpectFoundOnBothSectorSizes({
      {"one page", make("one.chm", "p0.html\n"), u"chm"},
      {"forty pages", make("forty.chm", pages), u"chm"},
  });
}

TEST(ArchiveScanners, FindBuiltRarArchivesWhole) {
  ExpectFoundOnBothSectorSizes(BuiltRarArchives());
}

// What a RAR reader takes for whole, valid archives.
TEST(ArchiveScanners, BuiltRarArchivesPassSevenZipsTest) {
  if (!test::HaveTool("7z")) GTEST_SKIP() << "7z (p7zip-full) is not installed";
  test::ScratchDir dir;
  for (const test::LaidFile& file : BuiltRarArchives()) {
    WriteFile(dir / "a.rar", file.bytes);
    const test::ProcessResult r = test::RunProcess("7z", {"t", (dir / "a.rar").string()});
    EXPECT_EQ(r.exitCode, 0) << file.label << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("Physical Size = " + std::to_string(file.bytes.size())), std::string::npos)
        << file.label << "\n"
        << r.out;
  }
}

// A 7z signature header with this next-header offset and size, its CRC right or not.
Bytes SevenZipHeader(uint64_t offset, uint64_t size, bool crcRight = true) {
  Bytes fields;
  Le(fields, offset, 8);
  Le(fields, size, 8);
  Le(fields, 0x12345678, 4);
  Bytes h = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
  Le(h, Crc32(fields) ^ (crcRight ? 0 : 1), 4);
  return h + fields + Pattern(600);
}

TEST(ArchiveScanners, SevenZipLengthAndLastSector) {
  const struct {
    const char* label;
    Bytes header;
    int64_t length;
    uint64_t endSector;
  } cases[] = {
      {"1024 bytes", SevenZipHeader(900, 92), 1024, 1},
      {"over 4 GiB", SevenZipHeader(0x123456789, 0x100), 0x123456889 + 32, 0x123456889 / 512},
      // A damaged start header: the low halves, summed in 32 bits.
      {"damaged", SevenZipHeader(0x1FFFFFFF0, 0x100, false), 0x110, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Measured m = Measure<C7Z>(c.header);
    ASSERT_TRUE(m.accepted);
    EXPECT_EQ(m.length, c.length);
    EXPECT_EQ(m.endSector, c.endSector);
  }
}

TEST(ArchiveScanners, CabinetLengthCountsOnlyASignature) {
  auto header = [](uint16_t flags) {
    Bytes h = Text("MSCF") + Pattern(300);
    std::fill_n(h.begin() + 4, 12, uint8_t{0});
    StoreLe32(h.data() + 8, 5000);
    StoreLe16(h.data() + 30, flags);
    return h;
  };
  // A signed cabinet's header reserve: tag, the signature's offset (the cabinet's end), size.
  Bytes signedCab = header(0x0004);
  StoreLe16(signedCab.data() + 36, 20);
  StoreLe32(signedCab.data() + 40, 0x00100000);
  StoreLe32(signedCab.data() + 44, 5000);
  StoreLe32(signedCab.data() + 48, 1800);
  Bytes otherReserve = signedCab;
  StoreLe32(otherReserve.data() + 44, 77);
  // One of a set: the neighbours' names from offset 36 on.
  Bytes inASet = header(0x0003);
  std::memcpy(inASet.data() + 36, "prev.cab\0DISK1\0next.cab\0DISK3", 29);
  const struct {
    const char* label;
    Bytes header;
    int64_t length;
  } cases[] = {{"signed", signedCab, 6800},
               {"other reserve", otherReserve, 5000},
               {"one of a set", inASet, 5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Measured m = Measure<CabScanner>(c.header);
    ASSERT_TRUE(m.accepted);
    EXPECT_EQ(m.length, c.length);
    EXPECT_EQ(m.endSector, (c.length - 1) / 512u);
  }
  Bytes reserved = header(0);
  reserved[13] = 1;
  EXPECT_FALSE(Measure<CabScanner>(reserved).matched);
}

TEST(ArchiveScanners, CompiledHelpSectionMarkAndSize) {
  auto header = [](uint32_t headerLength, uint8_t markByte = 0x01) {
    Bytes h = Text("ITSF") + Pattern(700);
    StoreLe32(h.data() + 8, headerLength);
    StoreLe32(h.data() + 12, 1);
    h[headerLength] = 0xFE;
    h[headerLength + 1] = markByte;
    StoreLe32(h.data() + headerLength + 8, 3072);
    return h;
  };
  // The size field at 510 to 513 straddles the first sector's end.
  const Measured straddling = Measure<CCHMScanner>(header(502));
  ASSERT_TRUE(straddling.accepted);
  EXPECT_EQ(straddling.length, 3072);
  EXPECT_EQ(straddling.endSector, 5u);
  EXPECT_FALSE(Measure<CCHMScanner>(header(96, 0x02)).accepted);
  Bytes farSection = header(96);
  StoreLe32(farSection.data() + 8, 0x40000000);  // past the source
  EXPECT_FALSE(Measure<CCHMScanner>(farSection).accepted);
  Bytes notOne = header(96);
  notOne[12] = 2;
  EXPECT_FALSE(Measure<CCHMScanner>(notOne).matched);
}

TEST(ArchiveScanners, RarWalkRejectsDamagedBlocks) {
  const Bytes archive = Rar4(Entry4(0x74, "hello.txt", Pattern(3000)));
  Bytes zeroSize = archive;  // the file header: no header bytes, no data; would never move on
  std::fill_n(zeroSize.begin() + 20 + 5, 6, uint8_t{0});
  Bytes unknownType = archive;
  unknownType[20 + 2] = 0x70;
  Bytes noEnd(archive.begin(), archive.end() - 7);
  Bytes shortMain = archive;
  shortMain[12] = 12;
  Bytes encrypted5 = Text("Rar!\x1A\x07\x01") + Bytes{0} + Block5(4, Bytes(19, 1)) + Pattern(64);
  Bytes zeroSize5 = Rar5(Entry5(2, "hello.txt", Pattern(3000)));
  zeroSize5[16 + 4] = 0;
  for (const Bytes* damaged :
       {&zeroSize, &unknownType, &noEnd, &shortMain, &encrypted5, &zeroSize5}) {
    const Measured m = Measure<CRARScanner>(*damaged);
    EXPECT_TRUE(m.matched);
    EXPECT_FALSE(m.accepted);
  }
  EXPECT_FALSE(Measure<CRARScanner>(Text("Rar!\x1A\x07\x02") + Pattern(600)).matched);

  ProgressRecord progress;
  progress.RequestStop();
  EXPECT_FALSE(Measure<CRARScanner>(Rar5(Entry5(2, "a", Pattern(3000))), 512, &progress).accepted);
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

}  // namespace
}  // namespace kavo

// The BMP, JPEG and PNG scanners on byte-exact layouts: their limits, their end rules, and
// damaged or cut-off input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/catalogue.h"
#include "scanners/jpeg_scanner.h"
#include "scanners/raw_scan.h"

namespace kavo {
namespace {

using test::Found;
using test::MemorySource;

constexpr uint64_t kMiB = 1 << 20;

struct PictureScan {
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  ProgressRecord progress;
  test::RecordingSink sink;
  std::vector<Found> files;

  PictureScan(MemorySource& source, std::vector<std::u16string> items = FormatItemTexts()) {
    auto disk = test::OpenMemory(source);
    EXPECT_TRUE(disk);
    if (!disk) return;
    ScannerRegistry registry = BuildRegistry(items, *disk);
    RawScan(*disk, 0, disk->m_nTotalSectors, registry, fileType, &progress, sink);
    files = test::FoundFiles(fileType);
    EXPECT_EQ(source.readsPastEnd, 0u);
  }
};

std::vector<uint8_t> BmpHeader(uint32_t declaredSize, uint32_t reserved = 0) {
  std::vector<uint8_t> b(512, 0x40);
  b[0] = 'B';
  b[1] = 'M';
  StoreLe32(b.data() + 2, declaredSize);
  StoreLe32(b.data() + 6, reserved);
  return b;
}

// SOI, a JFIF (or Exif) APPn segment, a quantisation table, the start of scan, `dataBytes` bytes
// of scan data without FF, and, with `withEnd`, the end-of-image marker. The scan data starts at
// offset kJpegHeaderBytes.
constexpr size_t kJpegHeaderBytes = 103;
std::vector<uint8_t> MakeJpeg(size_t dataBytes, uint8_t app = 0xE0, bool withEnd = true) {
  std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, app, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0};
  j.resize(20, 0x01);
  j.insert(j.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
  j.resize(j.size() + 64, 0x07);
  j.insert(j.end(),
           {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
  EXPECT_EQ(j.size(), kJpegHeaderBytes);
  for (size_t i = 0; i < dataBytes; ++i) j.push_back(static_cast<uint8_t>(0x20 + i % 200));
  if (withEnd) j.insert(j.end(), {0xFF, 0xD9});
  return j;
}

std::vector<uint8_t> PngStart() {
  std::vector<uint8_t> p = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                            0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  p.resize(512, 0x61);
  return p;
}

void PutIend(MemorySource& source, uint64_t offset) {
  source.Put(offset, {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
}

TEST(BmpScanner, TakesTheDeclaredSizeWithinItsLimits) {
  MemorySource source;
  source.length = 64 * 512;
  source.PutSector(2, BmpHeader(1500));
  source.PutSector(10, BmpHeader(200000000));
  auto result = PictureScan(source);
  ASSERT_EQ(result.files.size(), 2u);
  EXPECT_EQ(result.files[0].folder, u"bmp");
  EXPECT_EQ(result.files[0].name, u"file0.bmp");
  EXPECT_EQ(result.files[0].size, 1500u);
  EXPECT_EQ(result.files[0].endSector, 4u);
  EXPECT_EQ(result.files[1].size, 52428800u);
  EXPECT_EQ(result.files[1].endSector, 10u + 102400);

  MemorySource damaged;
  damaged.length = 16 * 512;
  damaged.PutSector(1, BmpHeader(0));                 // a hit without a file
  damaged.PutSector(3, BmpHeader(5000, 0x00010000));  // reserved word set: not a bitmap
  auto none = PictureScan(damaged);
  EXPECT_TRUE(none.files.empty());
  EXPECT_EQ(test::FolderNames(none.fileType), std::vector<std::u16string>{u"bmp"});
}

TEST(JpegScanner, MeasuresJfifAndExifFilesToTheirEndMarker) {
  MemorySource source;
  source.length = 64 * 512;
  source.Put(1 * 512, MakeJpeg(1000));        // 1105 bytes
  source.Put(8 * 512, MakeJpeg(200, 0xE1));   // Exif: 305 bytes
  source.Put(12 * 512, MakeJpeg(500, 0xDB));  // a bare quantisation table: not recognised
  // The end marker split over two sectors: FF ends sector 20, D9 starts sector 21.
  source.Put(17 * 512, MakeJpeg(4 * 512 - 1 - kJpegHeaderBytes));
  // FF D9 inside a segment before the scan is not the end.
  std::vector<uint8_t> inTable = MakeJpeg(600);
  inTable[40] = 0xFF;
  inTable[41] = 0xD9;
  source.Put(30 * 512, inTable);
  auto result = PictureScan(source);

  ASSERT_EQ(result.files.size(), 4u);
  for (const Found& f : result.files) EXPECT_EQ(f.folder, u"jpeg");
  EXPECT_EQ(result.files[0].name, u"file0.jpeg");
  EXPECT_EQ(result.files[0].size, 1105u);
  EXPECT_EQ(result.files[0].endSector, 3u);
  EXPECT_EQ(result.files[1].location, 8u);
  EXPECT_EQ(result.files[1].size, 305u);
  EXPECT_EQ(result.files[1].endSector, 8u);
  EXPECT_EQ(result.files[2].location, 17u);
  EXPECT_EQ(result.files[2].size, 4u * 512 + 1);
  EXPECT_EQ(result.files[3].location, 30u);
  EXPECT_EQ(result.files[3].size, 705u);
}

TEST(JpegScanner, RejectsShortFilesAndUnknownMarkers) {
  MemorySource source;
  source.length = 32 * 512;
  // SOI, APP0, a start of scan, four data bytes, EOI: 36 bytes.
  std::vector<uint8_t> tiny = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
  tiny.resize(20, 0x01);
  tiny.insert(tiny.end(), {0xFF, 0xDA, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 9, 9, 9, 9, 0xFF, 0xD9});
  source.Put(2 * 512, tiny);
  // An extended-sequential frame header is outside the markers the walk knows.
  std::vector<uint8_t> unknown = MakeJpeg(300);
  unknown[21] = 0xC1;
  source.Put(6 * 512, unknown);
  auto result = PictureScan(source);
  EXPECT_TRUE(result.files.empty());
  EXPECT_TRUE(test::FolderNames(result.fileType).empty());
}

TEST(JpegScanner, CutsAFileLongerThanTheLimit) {
  MemorySource source;
  source.length = 301 * kMiB;
  source.Put(0, MakeJpeg(10, 0xE0, false));
  source.Put(300 * kMiB, {0xFF, 0xD9});
  auto result = PictureScan(source, {u"JPG"});
  ASSERT_EQ(result.files.size(), 1u);
  EXPECT_EQ(result.files[0].size, 209715200u);
  EXPECT_EQ(result.files[0].endSector, 409600u);
}

TEST(JpegScanner, EndsAFileWithoutEndMarkerAtTheEndOfTheSource) {
  MemorySource source;
  source.length = 40 * 512;
  source.Put(2 * 512, MakeJpeg(3000, 0xE0, false));
  auto result = PictureScan(source);
  ASSERT_EQ(result.files.size(), 1u);
  EXPECT_EQ(result.files[0].size, 38u * 512);
  EXPECT_EQ(result.files[0].endSector, 40u);

  // Segments that run off the source leave nothing to measure.
  MemorySource cut;
  cut.length = 8 * 512;
  std::vector<uint8_t> header = MakeJpeg(10);
  header[4] = 0xFF;  // APP0 length 0xFF10
  cut.Put(512, header);
  EXPECT_TRUE(PictureScan(cut).files.empty());
}

TEST(JpegScanner, HonoursAStopRequestWhileSearching) {
  MemorySource source;
  source.length = 64 * 512;
  source.Put(0, MakeJpeg(20000));
  auto disk = test::OpenMemory(source);
  CJpegScanner scanner;
  scanner.m_pDisk = disk.get();
  ProgressRecord progress;
  scanner.m_pProgress = &progress;
  std::vector<uint8_t> sector(512);
  disk->ReadSectors(sector.data(), 512, 0);
  ASSERT_NE(scanner.MatchSignature(sector.data(), 0, 0), 0);
  EXPECT_EQ(scanner.m_nStartSector, 0u);
  EXPECT_EQ(scanner.m_strExtension, u"jpeg");
  ASSERT_NE(scanner.ParseFile(sector.data()), 0);
  EXPECT_EQ(scanner.m_nLength, 20105);

  progress.RequestStop();
  EXPECT_EQ(scanner.ParseFile(sector.data()), 0);
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

TEST(PngScanner, EndsOneSectorPastTheIendChunk) {
  MemorySource source;
  source.length = 64 * 512;
  source.PutSector(1, PngStart());
  PutIend(source, 1 * 512 + 100);
  // A tag split over sectors 11 and 12 is not seen; the one in sector 13 ends the file.
  source.PutSector(10, PngStart());
  PutIend(source, 11 * 512 + 510);
  PutIend(source, 13 * 512 + 40);
  // The last place where a whole tag fits in a sector.
  source.PutSector(20, PngStart());
  PutIend(source, 20 * 512 + 508);
  auto result = PictureScan(source);

  ASSERT_EQ(result.files.size(), 3u);
  EXPECT_EQ(result.files[0].folder, u"PNG");
  EXPECT_EQ(result.files[0].name, u"file0.PNG");
  EXPECT_EQ(result.files[0].size, 620u);
  EXPECT_EQ(result.files[0].endSector, 1u);
  EXPECT_EQ(result.files[1].location, 10u);
  EXPECT_EQ(result.files[1].size, 3u * 512 + 40 + 8 + 512);
  EXPECT_EQ(result.files[1].endSector, 13u);
  EXPECT_EQ(result.files[2].size, 508u + 8 + 512);
  EXPECT_EQ(result.files[2].endSector, 21u);
}

TEST(PngScanner, GivesUpAfterTwoMebibytesOrAtTheEndOfTheSource) {
  MemorySource source;
  source.length = 3 * kMiB;
  source.PutSector(0, PngStart());
  PutIend(source, 2 * kMiB + 100);
  EXPECT_TRUE(PictureScan(source).files.empty());

  MemorySource cut;
  cut.length = 6 * 512;
  cut.PutSector(3, PngStart());
  EXPECT_TRUE(PictureScan(cut).files.empty());
}

TEST(PictureScanners, MeasureInBytesOnA4096ByteSectorSource) {
  MemorySource source;
  source.sectorSize = 4096;
  source.length = 32 * 4096;
  std::vector<uint8_t> png = PngStart();
  png.resize(4096, 0x61);
  source.PutSector(1, png);
  PutIend(source, 4096 + 3000);
  source.Put(4 * 4096, MakeJpeg(10000 - 105));
  source.PutSector(10, BmpHeader(9000));
  auto result = PictureScan(source);
  ASSERT_EQ(result.files.size(), 3u);
  // Folders appear in the order of their first file: PNG, jpeg, bmp.
  EXPECT_EQ(result.files[0].size, 3000u + 8 + 512);
  EXPECT_EQ(result.files[0].endSector, 1u);
  EXPECT_EQ(result.files[1].size, 10000u);
  EXPECT_EQ(result.files[1].location, 4u);
  EXPECT_EQ(result.files[1].endSector, 6u);
  EXPECT_EQ(result.files[2].endSector, 12u);
  // Two 64 KiB blocks of 16 sectors.
  EXPECT_EQ(result.sink.Count(32770), 2u);
}

TEST(PictureScanners, SurviveASourceShorterThanOneBlock) {
  MemorySource source;
  source.length = 3 * 512 + 100;  // the partial last sector is not part of the source
  source.Put(0, MakeJpeg(5000, 0xE0, false));
  auto result = PictureScan(source);
  ASSERT_EQ(result.files.size(), 1u);
  EXPECT_EQ(result.files[0].size, 3u * 512);
  EXPECT_EQ(result.sink.Count(32770), 1u);
}

}  // namespace
}  // namespace kavo

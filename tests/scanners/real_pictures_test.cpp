// Pictures made by ImageMagick, laid at sector boundaries in an image file between random bytes
// and runs of zeros, then found by a scan of the image opened as a sector source.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fstream>
#include <iterator>
#include <random>

#include "platform/bytes.h"
#include "platform/text.h"
#include "scan_support.h"
#include "scanners/bmp_scanner.h"
#include "scanners/catalogue.h"
#include "scanners/jpeg_scanner.h"
#include "scanners/png_scanner.h"
#include "scanners/raw_scan.h"
#include "support/process.h"
#include "support/test_paths.h"
#endif

namespace kavo {
namespace {

#ifndef _WIN32

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Turns a JFIF file into an Exif one: its APP0 segment is replaced by an APP1 "Exif" segment
// whose second directory points at `thumbnail`, a whole JPEG with its own end marker.
std::vector<uint8_t> WithExifHeader(const std::vector<uint8_t>& jfif,
                                    const std::vector<uint8_t>& thumbnail) {
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    std::vector<uint8_t> e(12);
    StoreLe16(e.data(), tag);
    StoreLe16(e.data() + 2, type);
    StoreLe32(e.data() + 4, 1);
    StoreLe32(e.data() + 8, value);
    tiff.insert(tiff.end(), e.begin(), e.end());
  };
  auto le16 = [&](uint16_t v) { tiff.insert(tiff.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto le32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) tiff.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  le16(1);
  entry(0x0112, 3, 1);  // orientation
  le32(26);             // the second directory follows
  le16(2);
  entry(0x0201, 4, 56);  // the thumbnail's offset and length
  entry(0x0202, 4, static_cast<uint32_t>(thumbnail.size()));
  le32(0);
  tiff.insert(tiff.end(), thumbnail.begin(), thumbnail.end());

  const uint16_t segment = static_cast<uint16_t>(2 + 6 + tiff.size());
  std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE1, uint8_t(segment >> 8), uint8_t(segment)};
  out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
  out.insert(out.end(), tiff.begin(), tiff.end());
  const size_t app0End = 4 + ((jfif[4] << 8) | jfif[5]);
  out.insert(out.end(), jfif.begin() + static_cast<std::ptrdiff_t>(app0End), jfif.end());
  return out;
}

struct Picture {
  std::string file;
  std::u16string folder;
  std::vector<uint8_t> bytes;
  bool found = true;    // false: beyond a format's limit
  uint64_t sector = 0;  // where the image holds it
};

class RealPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
  }

  std::vector<uint8_t> Convert(const std::string& args, const std::string& file) {
    const auto path = m_dir / file;
    EXPECT_EQ(test::RunShell("convert " + args + " '" + path.string() + "' 2>/dev/null"), 0)
        << args;
    return ReadFile(path);
  }

  test::ScratchDir m_dir;
};

TEST_F(RealPictures, AreFoundOnceEachAtTheirStartSectorsWithTheirLengths) {
  std::vector<Picture> pictures;
  auto add = [&](const std::string& file, std::u16string folder, std::vector<uint8_t> bytes) {
    ASSERT_FALSE(bytes.empty()) << file;
    pictures.push_back({file, std::move(folder), std::move(bytes)});
  };
  const std::vector<uint8_t> thumb = Convert("-size 8x8 xc:blue", "thumb.jpg");
  add("small.jpg", u"jpeg", thumb);  // under one sector
  add("tiny.bmp", u"bmp", Convert("-size 8x4 xc:red", "BMP3:tiny.bmp"));
  add("tiny.png", u"PNG", Convert("-size 1x1 xc:red", "tiny.png"));
  const std::vector<uint8_t> photo = Convert("-size 640x480 plasma:fractal", "photo.jpg");
  add("photo.jpg", u"jpeg", photo);
  add("exif.jpg", u"jpeg", WithExifHeader(photo, thumb));
  add("progressive.jpg", u"jpeg",
      Convert("-size 320x240 gradient:red-yellow -interlace JPEG", "progressive.jpg"));
  add("comment.jpg", u"jpeg", Convert("-size 200x100 plasma: -set comment Kavo", "comment.jpg"));
  add("photo.png", u"PNG", Convert("-size 300x200 plasma:", "photo.png"));
  add("noise.png", u"PNG", Convert("-size 700x700 xc:gray +noise Random", "noise.png"));
  add("big.bmp", u"bmp", Convert("-size 1400x1000 gradient:red-blue", "BMP3:big.bmp"));
  add("big.jpg", u"jpeg", Convert("-size 2400x1800 xc:gray +noise Random -quality 95", "big.jpg"));
  add("huge.png", u"PNG", Convert("-size 1200x1000 xc:white +noise Random", "huge.png"));
  if (HasFatalFailure()) return;
  ASSERT_GT(pictures.back().bytes.size(), CPngScanner::kSearchBytes);
  pictures.back().found = false;
  ASSERT_GT(pictures[10].bytes.size(), 3u << 20);
  ASSERT_EQ(pictures[4].bytes[3], 0xE1);

  // Random runs, zero runs and pictures, each picture at a sector boundary; the tail of a
  // picture's last sector is random.
  std::mt19937 random(2024);
  std::vector<uint8_t> image;
  auto randomRun = [&](size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) image.push_back(static_cast<uint8_t>(random()));
  };
  randomRun(3 * 512);
  for (size_t i = 0; i < pictures.size(); ++i) {
    pictures[i].sector = image.size() / 512;
    image.insert(image.end(), pictures[i].bytes.begin(), pictures[i].bytes.end());
    randomRun((512 - image.size() % 512) % 512);
    if (i % 2 == 0) {
      image.resize(image.size() + 300 * 512, 0);
    } else {
      randomRun(517 * 512);
    }
  }
  randomRun(40 * 512 + 77);  // a partial last sector
  const auto path = m_dir / "pictures.img";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));

  CDisk disk;
  disk.m_nSourceKind = SourceKind::ImageFile;
  ASSERT_TRUE(disk.Open(path.u16string()));
  ASSERT_EQ(disk.m_nSectorSize, 512u);
  const std::vector<std::u16string> items = FormatItemTexts();
  ScannerRegistry registry = BuildRegistry(items, disk);
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  test::RecordingSink sink;
  ProgressRecord progress;
  RawScan(disk, 0, disk.m_nTotalSectors, registry, fileType, &progress, sink);

  std::vector<test::Found> files = test::FoundFiles(fileType);
  std::sort(files.begin(), files.end(),
            [](const test::Found& a, const test::Found& b) { return a.location < b.location; });
  std::vector<const Picture*> expected;
  for (const Picture& p : pictures) {
    if (p.found) expected.push_back(&p);
  }
  ASSERT_EQ(files.size(), expected.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const Picture& p = *expected[i];
    const test::Found& f = files[i];
    SCOPED_TRACE(p.file);
    EXPECT_EQ(f.location, p.sector);
    EXPECT_EQ(f.folder, p.folder);
    // Scanned in order, so numbered in order.
    EXPECT_EQ(f.name, u"file" + platform::Widen(std::to_string(i)) + u"." + p.folder);
    // BMP and JPEG lengths are exact; a PNG is recorded with one sector more than its IEND.
    const uint64_t length = p.bytes.size() + (p.folder == u"PNG" ? 512 : 0);
    EXPECT_EQ(f.size, length);
    EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), image.begin() + p.sector * 512));
  }
}

// The same pictures on a drive of 4096-byte sectors: found at their sectors, PNG with 512 bytes
// past its end.
TEST_F(RealPictures, AreFoundWholeOnFourKilobyteSectors) {
  std::vector<test::LaidFile> files = {
      {"photo.jpg", Convert("-size 640x480 plasma:fractal", "photo.jpg"), u"jpeg"},
      {"tiny.png", Convert("-size 1x1 xc:red", "tiny.png"), u"PNG", 512},
      {"big.bmp", Convert("-size 900x700 gradient:red-blue", "BMP3:big.bmp"), u"bmp"},
      {"photo.png", Convert("-size 300x200 plasma:", "photo.png"), u"PNG", 512},
  };
  std::vector<std::unique_ptr<CBaseScanner>> scanners;
  scanners.push_back(std::make_unique<CPngScanner>());
  scanners.push_back(std::make_unique<CJpegScanner>());
  scanners.push_back(std::make_unique<CBmpScanner>());
  test::MemorySource source;
  source.sectorSize = 4096;
  test::ExpectFoundWhole(files, test::LayAndScan(files, std::move(scanners), source));
}

#else
TEST(RealPictures, NeedImageMagick) {
  GTEST_SKIP() << "ImageMagick is not used on Windows";
}
#endif

}  // namespace
}  // namespace kavo

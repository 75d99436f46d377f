// The audio and video scanners: files made by ffmpeg and sox, laid between random bytes and zero
// runs on 512- and 4096-byte sectors, found at their start, named by content and measured
// exactly; then the measuring rules on byte-exact layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/asf_scanner.h"
#include "scanners/avi_scanner.h"
#include "scanners/flv_scanner.h"
#include "scanners/jpeg_scanner.h"
#include "scanners/mov_scanner.h"
#include "scanners/mpeg_scanner.h"
#include "scanners/raw_scan.h"
#include "scanners/swf_scanner.h"
#ifndef _WIN32
#include "support/process.h"
#include "support/test_paths.h"
#endif

namespace kavo {
namespace {

using Scanners = std::vector<std::unique_ptr<CBaseScanner>>;
using Bytes = std::vector<uint8_t>;

template <typename... S>
Scanners Make() {
  Scanners scanners;
  (scanners.push_back(std::make_unique<S>()), ...);
  return scanners;
}

// Lays `files` and scans them on sectors of both sizes; a file whose folder is empty is laid
// but expected not to be found.
template <typename... S>
void ExpectFoundWhole(std::vector<test::LaidFile> files) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE(ss);
    test::MemorySource source;
    source.sectorSize = ss;
    const std::vector<test::Found> found = test::LayAndScan(files, Make<S...>(), source);
    std::vector<test::LaidFile> expected;
    for (const test::LaidFile& f : files) {
      if (!f.folder.empty()) expected.push_back(f);
    }
    test::ExpectFoundWhole(expected, found);
  }
}

Bytes& AppendBe32(Bytes& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

#ifndef _WIN32

constexpr char kVideo[] = "-f lavfi -i testsrc=size=160x120:rate=10:duration=2 ";
constexpr char kSound[] = "-f lavfi -i sine=duration=2 ";

class RealMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  }

  test::LaidFile Ffmpeg(const std::string& args, const std::string& out, std::u16string folder) {
    Bytes bytes = test::MakeFile(m_dir.path(), "ffmpeg -nostdin -y " + args + " " + out, out);
    EXPECT_FALSE(bytes.empty()) << args;
    return {out, std::move(bytes), std::move(folder)};
  }

  test::ScratchDir m_dir;
};

TEST_F(RealMedia, RiffFilesAreNamedByFormAndCodec) {
  if (!test::HaveTool("sox")) GTEST_SKIP() << "sox is not installed";
  const std::string mpeg4 = std::string(kVideo) + "-c:v mpeg4 -vtag ";
  std::vector<test::LaidFile> files = {
      Ffmpeg(mpeg4 + "XVID", "xvid.avi", u"XVID"),
      Ffmpeg(mpeg4 + "DIVX", "divx.avi", u"DIVX"),
      Ffmpeg(mpeg4 + "DX50", "dx50.avi", u"DIVX"),
      Ffmpeg(std::string(kVideo) + kSound + "-c:v mjpeg -c:a pcm_s16le", "mjpeg.avi", u"avi"),
      Ffmpeg(kSound, "ffmpeg.wav", u"wav"),
      {"sox.wav",
       test::MakeFile(m_dir.path(), "sox -n -r 8000 sox.wav synth 1.3 sine 440", "sox.wav"),
       u"wav"},
  };
  ASSERT_FALSE(files.back().bytes.empty());
  ExpectFoundWhole<CAVIScanner>(files);
}

TEST_F(RealMedia, IsoMediaFilesAreNamedByBrandOrAllMov) {
  const std::string mpeg4 = std::string(kVideo) + "-c:v mpeg4 ";
  std::vector<test::LaidFile> files = {
      Ffmpeg(mpeg4, "isom.mp4", u"mp4"),
      Ffmpeg(mpeg4 + "-movflags +faststart", "faststart.mp4", u"mp4"),
      Ffmpeg(mpeg4 + "-movflags frag_keyframe+empty_moov", "fragmented.mp4", u"mp4"),
      Ffmpeg(mpeg4 + "-brand mp41", "mp41.mp4", u""),
      Ffmpeg(mpeg4 + "-brand mp42", "mp42.m4v", u"m4v"),
      Ffmpeg(std::string(kSound) + "-c:a aac", "sound.m4a", u"m4a"),
      Ffmpeg(std::string(kSound) +
                 "-f lavfi -i testsrc=size=176x144:rate=10:duration=2 -c:v h263 " +
                 "-c:a aac -ar 8000 -ac 1",
             "phone.3gp", u"3gp"),
      Ffmpeg(mpeg4, "movie.mov", u"qt"),
  };
  // The same movie with a 64-bit media-data size: its "wide" box and the mdat header become
  // one 16-byte header, as when a movie grows past 4 GiB.
  Bytes large = files.back().bytes;
  const uint32_t ftyp = LoadBe32(large.data());
  ASSERT_EQ(std::memcmp(large.data() + ftyp + 4, "wide", 4), 0);
  const uint32_t mdat = LoadBe32(large.data() + ftyp + 8);
  Bytes header = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0};
  AppendBe32(header, mdat + 8);
  std::copy(header.begin(), header.end(), large.begin() + ftyp);
  files.push_back({"large.mov", large, u"qt"});
  ExpectFoundWhole<CMPEGScanner>(files);

  for (test::LaidFile& f : files) f.folder = u"mov";
  ExpectFoundWhole<CMOVScanner>(files);
}

TEST_F(RealMedia, AsfFilesAreNamedByTheirCodecs) {
  std::vector<test::LaidFile> files = {
      Ffmpeg(std::string(kVideo) + kSound, "movie.wmv", u"wmv"),
      Ffmpeg(std::string(kSound) + kVideo + "-map 0 -map 1", "sound-first.wmv", u"wmv"),
      Ffmpeg(std::string(kVideo) + kSound, "movie.asf", u"wmv"),
      Ffmpeg(kSound, "sound.wma", u"wma"),
  };
  // Without a codec list the name stays "asf": its object becomes padding.
  Bytes plain = files.back().bytes;
  const uint8_t codecList[] = {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11};
  auto list = std::search(plain.begin(), plain.end(), std::begin(codecList), std::end(codecList));
  ASSERT_NE(list, plain.end());
  const uint8_t padding[] = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                             0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};
  std::copy(std::begin(padding), std::end(padding), list);
  files.push_back({"no-codec-list.wma", plain, u"asf"});
  // A recorded file size past the limit is taken for damage.
  Bytes huge = files[0].bytes;
  StoreLe64(huge.data() + 70, CASFScanner::kMaxLength + 1);
  files.push_back({"huge.wmv", huge, u""});
  ExpectFoundWhole<CASFScanner>(files);
}

TEST_F(RealMedia, FlashFilesAreFoundWhole) {
  ExpectFoundWhole<CFLVScanner, CSWFScanner>({
      Ffmpeg(kVideo, "video.flv", u"flv"),
      Ffmpeg(std::string(kVideo) + kSound, "both.flv", u"flv"),
      Ffmpeg(kSound, "sound.flv", u"flv"),
      Ffmpeg(std::string(kVideo) + "-f swf", "movie.swf", u"swf"),
  });
}

// Once the AVI is found the scan passes over its sectors, so a frame that starts at a sector
// boundary inside it is not a picture of its own.
TEST_F(RealMedia, MjpegFramesInsideAnAviAreNotFilesOfTheirOwn) {
  Bytes avi;
  uint64_t frame = 0;
  for (int width = 64; width < 64 + 16 * 20 && frame == 0; width += 16) {
    avi = test::MakeFile(m_dir.path(),
                         "ffmpeg -nostdin -y -f lavfi -i testsrc=size=" + std::to_string(width) +
                             "x48:rate=25:duration=8 -c:v mjpeg mjpeg.avi",
                         "mjpeg.avi");
    for (uint64_t at = 512; at + 4 <= avi.size() && frame == 0; at += 512) {
      if (std::memcmp(avi.data() + at, "\xFF\xD8\xFF\xE0", 4) == 0) frame = at;
    }
  }
  ASSERT_NE(frame, 0u) << "no AVI made has a frame at a sector boundary";

  std::vector<test::LaidFile> files = {{"mjpeg.avi", avi, u"avi"}};
  test::MemorySource alone;
  const std::vector<test::Found> pictures = test::LayAndScan(files, Make<CJpegScanner>(), alone);
  ASSERT_TRUE(std::any_of(pictures.begin(), pictures.end(), [&](const test::Found& f) {
    return f.location == files[0].sector + frame / 512 && f.folder == u"jpeg";
  })) << "the frame is a picture the JPEG scanner finds";

  test::MemorySource source;
  test::ExpectFoundWhole(files, test::LayAndScan(files, Make<CAVIScanner, CJpegScanner>(), source));
}

#else
TEST(RealMedia, NeedFfmpeg) {
  GTEST_SKIP() << "ffmpeg and sox are not used on Windows";
}
#endif

// Boxes of the given types and sizes (headers and filler); `large` ones have a 64-bit size.
struct BoxSpec {
  const char* type;
  uint32_t size;
  bool large = false;
};
Bytes Boxes(std::initializer_list<BoxSpec> boxes) {
  Bytes b;
  for (const BoxSpec& box : boxes) {
    const size_t start = b.size();
    AppendBe32(b, box.large ? 1 : box.size);
    b.insert(b.end(), box.type, box.type + 4);
    if (box.large) AppendBe32(AppendBe32(b, 0), box.size);
    b.resize(start + std::max<uint32_t>(box.size, 8), 0x5A);
  }
  return b;
}

TEST(MediaScannerEdges, BoxWalkSizes) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE(ss);
    // The mdat header straddles the first sector's end, and its size is 64-bit.
    const Bytes large =
        Boxes({{"ftyp", 24}, {"free", ss - 28}, {"mdat", 3 * ss + 16, true}, {"moov", 300}});
    // A box of size 0 runs to an end nobody recorded: the walk ends before it.
    Bytes open = Boxes({{"ftyp", 24}, {"moov", 300}, {"mdat", 0}});
    open.resize(2000, 0x22);
    std::vector<test::LaidFile> files = {{"large", large, u"mov"}, {"open", open, u"mov"}};
    files[1].extraBytes = uint64_t{324} - open.size();  // wraps round: shorter than laid
    test::MemorySource source;
    source.sectorSize = ss;
    test::ExpectFoundWhole(files, test::LayAndScan(files, Make<CMOVScanner>(), source));
  }
}

Bytes Flv(uint8_t firstTag) {
  Bytes f = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0, firstTag, 0, 0, 20};
  f.resize(f.size() + 27, 0);
  AppendBe32(f, 31);
  return f;
}

TEST(MediaScannerEdges, HeaderRules) {
  // SWF: a compressed movie ends by a third of its expanded length; an oversized one is damage.
  Bytes swf = {'C', 'W', 'S', 10, 0xA0, 0xBB, 0x0D, 0};     // 900000
  Bytes bigSwf = {'C', 'W', 'S', 10, 0x80, 0x84, 0x1E, 0};  // 2000000
  // AVI: a RIFF AVI whose next chunk is not LIST or JUNK is not one; one with two extension
  // chunks is measured whole; a WAVE is not renamed by the bytes where an AVI keeps its codec.
  Bytes riff = {'R', 'I', 'F', 'F', 0xE8, 3, 0, 0, 'A', 'V', 'I', ' ', 'i', 'd', 'x', '1'};
  riff.resize(1008, 0x55);
  Bytes avi = riff;
  std::memcpy(avi.data() + 12, "LIST", 4);
  Bytes avix = {'R', 'I', 'F', 'F', 0xB8, 0x0B, 0, 0, 'A', 'V', 'I', 'X'};
  avix.resize(3008, 0x66);
  for (int i = 0; i < 2; ++i) avi.insert(avi.end(), avix.begin(), avix.end());
  Bytes wave = riff;
  std::memcpy(wave.data() + 8, "WAVEXVID", 8);
  std::memcpy(wave.data() + 112, "XVID", 4);
  // FLV: a first tag of type 7 ends the file after the header; after the last tag, a tag type
  // byte of other data does not go on the walk.
  Bytes flv = Flv(18);
  flv.insert(flv.end(), {9, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});

  test::MemorySource source;
  source.length = 4000 * 512;
  for (auto [sector, bytes] : {std::pair{10, swf},
                               {3000, bigSwf},
                               {3010, riff},
                               {3020, avi},
                               {3100, wave},
                               {3200, Flv(7)},
                               {3210, flv}}) {
    source.PutSector(sector, bytes);
  }
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  for (auto& s : Make<CSWFScanner, CAVIScanner, CFLVScanner>())
    registry.Insert(std::move(s), disk.get());
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  test::RecordingSink sink;
  RawScan(*disk, 0, disk->m_nTotalSectors, registry, fileType, nullptr, sink);
  const std::vector<test::Found> found = test::FoundFiles(fileType);
  const std::vector<std::tuple<uint64_t, uint64_t, uint64_t, std::u16string>> expected = {
      {10, 900000, 10 + 585, u"swf"},
      {3020, avi.size(), 3020 + 13, u"avi"},
      {3100, 1008, 3100 + 1, u"wav"},
      {3200, 13, 3200, u"flv"},
      {3210, flv.size() - 11, 3210, u"flv"}};
  ASSERT_EQ(found.size(), expected.size());
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(std::tie(found[i].location, found[i].size, found[i].endSector, found[i].folder),
              expected[i]);
  }
}

// A stop request during a walk rejects the file and leaves the record stopped.
TEST(MediaScannerEdges, StopDuringAWalkRejects) {
  Bytes asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  asf.resize(512, 0);
  StoreLe64(asf.data() + 16, 1000);
  StoreLe64(asf.data() + 70, 5000);
  const Bytes mov = Boxes({{"ftyp", 24}});
  const Bytes avi = {'R', 'I', 'F', 'F', 8, 0, 0, 0, 'A', 'V', 'I', ' ', 'L', 'I', 'S', 'T'};
  test::MemorySource source;
  source.length = 64 * 512;
  auto disk = test::OpenMemory(source);
  Scanners scanners = Make<CMOVScanner, CASFScanner, CAVIScanner, CFLVScanner>();
  const Bytes sectors[] = {mov, asf, avi, Flv(9)};
  for (size_t i = 0; i < scanners.size(); ++i) {
    Bytes sector = sectors[i];
    sector.resize(512, 0);
    ProgressRecord progress;
    progress.RequestStop();
    scanners[i]->m_pDisk = disk.get();
    scanners[i]->m_pProgress = &progress;
    ASSERT_TRUE(scanners[i]->MatchSignature(sector.data(), 0, 0)) << i;
    EXPECT_FALSE(scanners[i]->ParseFile(sector.data())) << i;
    EXPECT_EQ(progress.State(), PS_STOPPED) << i;
  }
}

}  // namespace
}  // namespace kavo

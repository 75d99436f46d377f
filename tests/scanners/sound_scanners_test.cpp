// The MP3, Ogg, MIDI, AIFF, AU and RealMedia scanners on files made by real encoders, laid between
// random bytes and zero runs; and the byte-exact cases real files do not reach.
#include <gtest/gtest.h>

#include <string>

#include "platform/bytes.h"
#include "scan_support.h"
#include "scanners/aiff_scanner.h"
#include "scanners/au_scanner.h"
#include "scanners/midi_scanner.h"
#include "scanners/mp3_scanner.h"
#include "scanners/ogg_scanner.h"
#include "scanners/ra_scanner.h"
#include "scanners/raw_scan.h"
#include "scanners/rm_scanner.h"
#include "support/recording_sink.h"
#ifndef _WIN32
#include "support/process.h"
#include "support/test_paths.h"
#endif

namespace kavo {
namespace {

void StoreBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void StoreBe32(uint8_t* p, uint32_t v) {
  StoreBe16(p, static_cast<uint16_t>(v >> 16));
  StoreBe16(p + 2, static_cast<uint16_t>(v));
}

std::vector<std::unique_ptr<CBaseScanner>> SoundScanners() {
  std::vector<std::unique_ptr<CBaseScanner>> s;
  s.push_back(std::make_unique<CMP3Scanner>());
  s.push_back(std::make_unique<COGGScanner>());
  s.push_back(std::make_unique<CMIDIScanner>());
  s.push_back(std::make_unique<CAIFFScanner>());
  s.push_back(std::make_unique<CAUScanner>());
  s.push_back(std::make_unique<CRAScanner>());
  s.push_back(std::make_unique<CRMScanner>());
  return s;
}

std::vector<test::Found> Scan(std::vector<test::LaidFile>& files, uint32_t sectorSize = 512) {
  test::MemorySource source;
  source.sectorSize = sectorSize;
  return test::LayAndScan(files, SoundScanners(), source);
}

#ifndef _WIN32

// One real file: the tool that makes it, the shell line that writes it under its label's name,
// and the folder it is found under.
struct Made {
  std::string label;
  const char* tool;
  std::string command;
  std::u16string folder;
};

class RealSound : public ::testing::Test {
 protected:
  // Makes each file; false when a tool is missing (named in m_missing).
  bool Make(const std::vector<Made>& made, std::vector<test::LaidFile>* files) {
    for (const Made& m : made) {
      if (!test::HaveTool(m.tool)) {
        m_missing = std::string(m.tool) + " is not installed";
        return false;
      }
      std::vector<uint8_t> bytes = test::MakeFile(m_dir.path(), m.command, m.label);
      EXPECT_FALSE(bytes.empty()) << m.command;
      files->push_back({m.label, std::move(bytes), m.folder});
    }
    return true;
  }

  test::ScratchDir m_dir;
  std::string m_missing;
};

#define MAKE_OR_SKIP(files, ...)                                                \
  std::vector<test::LaidFile> files;                                            \
  if (!Make(std::vector<Made>{__VA_ARGS__}, &files)) GTEST_SKIP() << m_missing; \
  if (HasFailure()) return

const std::string kTone = "ffmpeg -nostdin -y -f lavfi -i sine=frequency=440:duration=";
const std::string kStereo = kTone + "2 -ac 2";
const std::string kWav = kTone + "2 -f wav - | ";
const std::string kStereoWav = kStereo + " -f wav - | ";

TEST_F(RealSound, Mp3FilesAreFoundWhole) {
  MAKE_OR_SKIP(
      files,
      // Mono MPEG 1: its Info tag lies at 21, not where it is looked for, so the frames are walked.
      {"id3v23_mono.mp3", "ffmpeg", kTone + "2 -c:a libmp3lame -id3v2_version 3 id3v23_mono.mp3",
       u"mp3"},
      // Stereo: an Info tag at 36 with both a frame count and a byte count.
      {"id3v24_stereo.mp3", "ffmpeg", kStereo + " -c:a libmp3lame id3v24_stereo.mp3", u"mp3"},
      {"id3v2_and_v1.mp3", "ffmpeg",
       kStereo + " -c:a libmp3lame -id3v2_version 3 -write_id3v1 1 -metadata title=Kavo "
                 "id3v2_and_v1.mp3",
       u"mp3"},
      {"bare_mono.mp3", "ffmpeg", kTone + "2 -c:a libmp3lame -id3v2_version 0 bare_mono.mp3",
       u"mp3"},
      // MPEG 2 layer III: frames of 72000 x bit rate / rate bytes.
      {"mpeg2_22050.mp3", "ffmpeg", kTone + "3 -ar 22050 -c:a libmp3lame mpeg2_22050.mp3", u"mp3"},
      {"mpeg2_24000_bare.mp3", "ffmpeg",
       kTone + "3 -ar 24000 -c:a libmp3lame -id3v2_version 0 -write_xing 0 mpeg2_24000_bare.mp3",
       u"mp3"},
      // A bare MPEG 2 mono stream whose Info tag at 13 holds its byte count.
      {"mpeg2_bare_info.mp3", "ffmpeg",
       kTone + "3 -ar 22050 -c:a libmp3lame -id3v2_version 0 mpeg2_bare_info.mp3", u"mp3"},
      {"mpeg25_8000.mp3", "ffmpeg", kTone + "8 -ar 8000 -c:a libmp3lame mpeg25_8000.mp3", u"mp3"},
      // A cover picture of noise in the ID3v2 tag, with frame-like bytes in it.
      {"cover.mp3", "ffmpeg",
       "ffmpeg -nostdin -y -f lavfi -i color=c=gray:s=256x256,noise=alls=100:allf=t -frames:v 1 "
       "cover.png && " +
           kTone +
           "2 -i cover.png -map 0 -map 1 -c:a libmp3lame -c:v copy -id3v2_version 3 "
           "-disposition:v attached_pic cover.mp3",
       u"mp3"},
      {"lame_bare_id3v1.mp3", "lame",
       kWav + "lame --quiet --id3v1-only --tt Kavo - lame_bare_id3v1.mp3", u"mp3"},
      {"lame_vbr.mp3", "lame", kStereoWav + "lame --quiet -V2 --add-id3v2 --tt Kavo - lame_vbr.mp3",
       u"mp3"});
  test::ExpectFoundWhole(files, Scan(files));
}

TEST_F(RealSound, OggFilesAreFoundWhole) {
  MAKE_OR_SKIP(files, {"vorbis.ogg", "oggenc", kWav + "oggenc -Q -o vorbis.ogg -", u"ogg"},
               {"opus.opus", "opusenc", kWav + "opusenc --quiet - opus.opus", u"ogg"},
               {"theora.ogg", "ffmpeg",
                "ffmpeg -nostdin -y -f lavfi -i testsrc=duration=2:size=160x120:rate=10 -f lavfi "
                "-i sine=duration=2 -c:v libtheora -c:a libvorbis theora.ogg",
                u"ogg"});
  test::ExpectFoundWhole(files, Scan(files));
}

const std::string kSox = "sox -n -r 8000 ";
const std::string kAbc = "printf 'X:1\\nT:Kavo\\nM:4/4\\nL:1/8\\nK:C\\n";

TEST_F(RealSound, SoxAndMidiFilesAreFoundWholeAndNamedByContent) {
  MAKE_OR_SKIP(
      files, {"tone.aiff", "sox", kSox + "-c 1 tone.aiff synth 1 sine 440", u"aiff"},
      {"tone.aifc", "sox", kSox + "-c 1 tone.aifc synth 1 sine 440", u"aif"},
      // The field at 20 (the channel count) names the file: 1 gives "au", others "snd".
      {"mulaw.au", "sox", kSox + "-c 1 -e mu-law mulaw.au synth 1 sine 440", u"au"},
      {"stereo.au", "sox", kSox + "-c 2 -b 16 stereo.au synth 1 sine 440", u"snd"},
      {"format0.mid", "abc2midi",
       kAbc + "CDEF GABc|cBAG FEDC|\\n' > t0.abc && abc2midi t0.abc -o format0.mid", u"midi"},
      {"format1.mid", "abc2midi",
       kAbc + "V:1\\nCDEF GABc|cBAG FEDC|\\nV:2\\nC,D,E,F, G,A,B,C|\\n' > t1.abc && "
              "abc2midi t1.abc -o format1.mid",
       u"mid"});
  ASSERT_EQ(LoadBe16(files[4].bytes.data() + 10), 1u);
  ASSERT_GT(LoadBe16(files[5].bytes.data() + 10), 1u);
  test::ExpectFoundWhole(files, Scan(files));
}

// ffmpeg's RealMedia files hold one chunk fewer than their header count and end with 8 zero
// bytes; their DATA chunk claims 10 bytes more than its packets.
TEST_F(RealSound, RealMediaFilesAreFoundWhole) {
  MAKE_OR_SKIP(files, {"ac3.rm", "ffmpeg", kTone + "3 -c:a ac3 ac3.rm", u"rm"},
               {"real144.ra", "ffmpeg", kTone + "3 -ar 8000 -c:a real_144 real144.ra", u"rm"},
               {"video.rm", "ffmpeg",
                "ffmpeg -nostdin -y -f lavfi -i testsrc=duration=2:size=160x128:rate=10 -f lavfi "
                "-i sine=duration=2 -c:v rv10 -c:a ac3 video.rm",
                u"rm"});
  test::ExpectFoundWhole(files, Scan(files));
}

TEST_F(RealSound, AreFoundWholeOnFourKilobyteSectors) {
  MAKE_OR_SKIP(
      files, {"mpeg2.mp3", "ffmpeg", kTone + "4 -ar 24000 -c:a libmp3lame mpeg2.mp3", u"mp3"},
      {"bare.mp3", "ffmpeg", kTone + "4 -c:a libmp3lame -id3v2_version 0 bare.mp3", u"mp3"},
      {"vorbis.ogg", "ffmpeg", kTone + "4 -c:a libvorbis vorbis.ogg", u"ogg"},
      {"ac3.rm", "ffmpeg", kTone + "4 -c:a ac3 ac3.rm", u"rm"},
      {"tone.aiff", "sox", kSox + "-c 1 tone.aiff synth 2 sine 440", u"aiff"});
  test::ExpectFoundWhole(files, Scan(files, 4096));
}

// An AU file shorter than a sector ends before it starts; an ID3-tagged MP3 under 5120 bytes
// without a trailing tag is refused.
TEST_F(RealSound, ShortFilesYieldNoFile) {
  MAKE_OR_SKIP(files,
               {"short.au", "sox", kSox + "-c 1 -e mu-law short.au synth 0.01 sine 440", u"au"},
               {"short.mp3", "ffmpeg", kTone + "0.2 -c:a libmp3lame short.mp3", u"mp3"});
  ASSERT_LT(files[0].bytes.size(), 512u);
  ASSERT_LT(files[1].bytes.size(), CMP3Scanner::kMinTaggedLength);
  EXPECT_TRUE(Scan(files).empty());
}

#endif

// Random bytes, a third of whose sectors start with a valid MPEG 1 or 2 layer III frame header:
// a lone frame is no stream, and nothing else is found either.
TEST(SoundScanners, RandomDataYieldsNoFile) {
  test::MemorySource source;
  source.length = 4096 * 512;
  source.Put(0, test::RandomBytes(source.length, 99));
  for (uint64_t s = 0; s < 4096; s += 3) {
    const uint8_t header[2][4] = {{0xFF, 0xFB, 0x90, 0x64}, {0xFF, 0xF3, 0x84, 0xC4}};
    std::copy(header[s % 2], header[s % 2] + 4, source.pieces[0].begin() + s * 512);
  }
  auto disk = test::OpenMemory(source);
  ASSERT_TRUE(disk);
  ScannerRegistry registry;
  for (auto& scanner : SoundScanners()) registry.Insert(std::move(scanner), disk.get());
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  test::RecordingSink sink;
  RawScan(*disk, 0, disk->m_nTotalSectors, registry, fileType, nullptr, sink);
  EXPECT_TRUE(test::FoundFiles(fileType).empty());
}

TEST(SoundScanners, MpegFrameLengths) {
  struct Case {
    uint8_t header[4];
    uint32_t length;
  } cases[] = {
      {{0xFF, 0xFB, 0x90, 0x64}, 417},  // MPEG 1 layer III, 128 kbit/s, 44100 Hz
      {{0xFF, 0xFB, 0x92, 0x64}, 418},  // padded
      {{0xFF, 0xF3, 0x44, 0xC4}, 96},   // MPEG 2 layer III, 32 kbit/s, 24000 Hz
      {{0xFF, 0xE3, 0x18, 0xC4}, 72},   // MPEG 2.5 layer III, 8 kbit/s, 8000 Hz
      {{0xFF, 0xFD, 0x90, 0x64}, 522},  // MPEG 1 layer II, 160 kbit/s, 44100 Hz
      {{0xFF, 0xF5, 0x84, 0xC4}, 384},  // MPEG 2 layer II, 64 kbit/s, 24000 Hz: as MPEG 1
      {{0xFF, 0xFF, 0x90, 0x64}, 312},  // MPEG 1 layer I, 288 kbit/s, 44100 Hz
      {{0xFF, 0xFB, 0x00, 0x64}, 0},    // free format
      {{0xFF, 0xFB, 0xF0, 0x64}, 0},    // bit rate index 15
      {{0xFF, 0xEB, 0x90, 0x64}, 0},    // reserved version
  };
  CMP3Scanner scanner;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(scanner.DecodeHeader(c.header), c.length != 0);
    if (c.length != 0) {
      EXPECT_EQ(scanner.m_nFrameLength, c.length);
    }
  }
}

std::vector<uint8_t> RealAudio(uint32_t recordField, uint32_t count, size_t size) {
  std::vector<uint8_t> b(size, 0x11);
  std::copy_n(".ra\xFD\x00\x04\x00\x00.ra4", 12, b.begin());
  StoreBe32(b.data() + 12, recordField);
  if (recordField != 0) {
    std::copy_n("RaTC", 4, b.begin() + recordField + 16);
    StoreBe32(b.data() + recordField + 20, count);
  }
  return b;
}

std::vector<uint8_t> Midi(uint16_t tracks, std::vector<uint32_t> sizes) {
  std::vector<uint8_t> b = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 0, 0, 96};
  StoreBe16(b.data() + 10, tracks);
  for (uint32_t size : sizes) {
    b.insert(b.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
    StoreBe32(b.data() + b.size() - 4, size);
    b.resize(b.size() + size, 0x40);
  }
  return b;
}

// Files built byte by byte: fields across sector ends, and headers the rules refuse.
TEST(SoundScanners, ByteExactLayouts) {
  struct Case {
    const char* label;
    std::vector<uint8_t> bytes;
    std::u16string folder;  // empty: not found
    uint32_t sectorSize;
  } cases[] = {
      // "RaTC" at 510 crosses the first sector's end: 510 + (300 + 4) x 2 bytes.
      {"RaTC across a sector end", RealAudio(494, 300, 1118), u"ra", 512},
      {"RaTC on a 4096-byte sector", RealAudio(4094 - 16, 1000, 6102), u"ra", 4096},
      {"RealAudio without a record", RealAudio(0, 0, 1000), u"", 512},
      // Track chunk headers at 508 and 4090 cross sector ends.
      {"two tracks", Midi(2, {486, 3574}), u"mid", 512},
      {"three tracks, 4096-byte sectors", Midi(3, {486, 3574, 50}), u"mid", 4096},
      {"one track of 100 bytes", Midi(1, {100}), u"midi", 512},
      {"no track", Midi(0, {100}), u"", 512},
      {"a track chunk missing", Midi(3, {100, 200}), u"", 512},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<test::LaidFile> files = {{c.label, c.bytes, c.folder}};
    const std::vector<test::Found> found = Scan(files, c.sectorSize);
    if (c.folder.empty()) {
      EXPECT_TRUE(found.empty());
    } else {
      test::ExpectFoundWhole(files, found);
    }
  }
}

std::vector<uint8_t> BareFrames(int count) {
  std::vector<uint8_t> b;
  for (int i = 0; i < count; ++i) {
    b.insert(b.end(), {0xFF, 0xFB, 0x90, 0x64});  // 417 bytes
    b.resize(b.size() + 413, 0x55);
  }
  return b;
}

std::vector<uint8_t> OggPages(int count) {
  std::vector<uint8_t> b;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> page = {'O', 'g', 'g', 'S', 0, 2};
    page.resize(26, 0);
    page[18] = static_cast<uint8_t>(i);
    page.insert(page.end(), {1, 200});
    page.resize(page.size() + 200, 0x33);
    b.insert(b.end(), page.begin(), page.end());
  }
  return b;
}

// A PROP chunk and a DATA chunk without packets, then ffmpeg's end mark.
std::vector<uint8_t> RealMediaChunks() {
  std::vector<uint8_t> b = {'.', 'R', 'M', 'F', 0, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3};
  b.insert(b.end(), {'P', 'R', 'O', 'P', 0, 0, 0, 50});
  b.resize(b.size() + 42, 0x22);
  b.insert(b.end(), {'D', 'A', 'T', 'A', 0, 0, 0, 18});
  b.resize(b.size() + 10 + 8, 0);
  return b;
}

// Each walk measures its file without the bytes that follow it (an MPEG 2 header after MPEG 1
// frames, an "O" that starts no page), and a stop request rejects the file.
TEST(SoundScanners, WalksMeasureTheirFileAndHonourAStopRequest) {
  struct Case {
    const char* label;
    std::unique_ptr<CBaseScanner> scanner;
    std::vector<uint8_t> bytes;
    int64_t length;
    std::vector<uint8_t> tail = {};
  };
  const std::vector<uint8_t> mpeg2 = {0xFF, 0xF3, 0x44, 0xC4};
  const std::vector<uint8_t> notAPage = {'O', 'g', 'g', 's', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 9};
  Case cases[] = {
      {"mp3", std::make_unique<CMP3Scanner>(), BareFrames(6), 6 * 417, mpeg2},
      {"ogg", std::make_unique<COGGScanner>(), OggPages(2), 2 * 228, notAPage},
      {"midi", std::make_unique<CMIDIScanner>(), Midi(2, {486, 3574}), 4090},
      {"ra", std::make_unique<CRAScanner>(), RealAudio(494, 300, 1118), 1118},
      {"rm", std::make_unique<CRMScanner>(), RealMediaChunks(), 94},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    test::MemorySource source;
    source.length = 64 * 512;
    c.bytes.insert(c.bytes.end(), c.tail.begin(), c.tail.end());
    c.bytes.resize(c.bytes.size() + 1024, 0x11);
    source.Put(0, c.bytes);
    auto disk = test::OpenMemory(source);
    ASSERT_TRUE(disk);
    c.scanner->m_pDisk = disk.get();
    ProgressRecord progress;
    c.scanner->m_pProgress = &progress;
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(disk->ReadSectors(sector.data(), 512, 0));
    ASSERT_NE(c.scanner->MatchSignature(sector.data(), 0, 0), 0);
    ASSERT_NE(c.scanner->ParseFile(sector.data()), 0);
    EXPECT_EQ(c.scanner->m_nLength, c.length);
    progress.RequestStop();
    EXPECT_EQ(c.scanner->ParseFile(sector.data()), 0);
    EXPECT_EQ(progress.State(), PS_STOPPED);
  }
}

}  // namespace
}  // namespace kavo

// The copy engine on a fault-injecting device: chunking, salvage, retries, fillers, the log, the
// stop protocol and failed writes.
#include "copy/disk_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/messages.h"
#include "copy/fault_device.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::FaultDeviceState;

constexpr uint64_t kChunk = CDiskCopy::kSectorsPerChunk;

std::pair<uint64_t, uint64_t> P(uint64_t sector, uint64_t count) {
  return {sector, count};
}

class RecordingSink final : public MessageSink {
 public:
  explicit RecordingSink(const ProgressRecord& record) : m_record(record) {}
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    if (message == UM_PROGRESS) positions.push_back(m_record.Position());
    return 0;
  }
  std::vector<uint64_t> positions;

 private:
  const ProgressRecord& m_record;
};

class StopAfterAsk final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string&, PromptIcon,
                   PromptButtons) override {
    asked.push_back(text);
    return PromptAnswer::Ok;
  }
  std::vector<std::u16string> asked;
};

// A source device of `sectors` sectors, a destination of `destinationSectors` (the same when
// 0), both engines opened and wired as a run sets them up.
class CopyRig {
 public:
  CopyRig(uint64_t sectors, uint32_t sectorSize = 512, uint64_t destinationSectors = 0)
      : source(test::FaultOpener(src)), destination(test::FaultOpener(dst)), sink(record) {
    src.sectors = sectors;
    src.sectorSize = sectorSize;
    dst.sectorSize = sectorSize;
    dst.stored = true;
    dst.sectors = destinationSectors ? destinationSectors : sectors;
    dst.bytes.assign(dst.sectors * sectorSize, 0xEE);
    EXPECT_TRUE(source.Open(u"source", platform::OpenMode::Read)) << source.OpenFailureText();
    EXPECT_TRUE(destination.Open(u"target")) << destination.OpenFailureText();
    source.m_pDestination = &destination;
    source.m_pProgress = &record;
    source.m_sourceName = u"E:";
    source.m_destinationName = u"F:";
    source.m_logFile = dir / "copy.log";
    record.SetState(PS_RUNNING);
    // The probe's reads are not part of the copy.
    src.reads.clear();
  }

  bool Run(CopyDirection direction) {
    source.WriteLogHeader();
    return direction == CopyDirection::Forward ? source.CopyForward(sink)
                                               : source.CopyReverse(sink);
  }

  std::string Log() const { return test_ReadAll(dir / "copy.log"); }
  static std::string test_ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The destination's bytes of destination sector `sector`.
  std::vector<uint8_t> DestinationSector(uint64_t sector) const {
    const auto at = dst.bytes.begin() + static_cast<ptrdiff_t>(sector * dst.sectorSize);
    return {at, at + dst.sectorSize};
  }
  std::vector<uint8_t> SourceSector(uint64_t sector) const {
    std::vector<uint8_t> out(src.sectorSize);
    for (uint32_t i = 0; i < src.sectorSize; ++i) {
      out[i] = test::SourceByte(sector * src.sectorSize + i);
    }
    return out;
  }

  test::ScratchDir dir;
  FaultDeviceState src, dst;
  CDiskCopy source, destination;
  ProgressRecord record;
  RecordingSink sink;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<uint8_t> Repeat(const std::string& piece, size_t times) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), piece.begin(), piece.end());
  return out;
}

// The three fillers of a 512-byte sector, spelled out byte by byte.
std::vector<uint8_t> ShortFiller() {
  std::vector<uint8_t> f = Repeat("** BAD SECTORS *", 31);
  f.push_back('*');
  f.resize(512, 0);
  return f;
}
std::vector<uint8_t> ExhaustedForwardFiller() {
  return Repeat("** BAD SECTORS *", 32);
}
std::vector<uint8_t> ExhaustedReverseFiller() {
  std::vector<uint8_t> f = Repeat(std::string("**BAD SECTORS**\0", 16), 31);
  f.resize(512, 0);
  return f;
}

TEST(CopyEngine, CopiesChunksAndRemainderInOrderInBothDirections) {
  const uint64_t sectors = 2 * kChunk + 100;
  CopyRig forward(sectors);
  ASSERT_TRUE(forward.Run(CopyDirection::Forward));
  using Reads = std::vector<std::pair<uint64_t, uint64_t>>;
  EXPECT_EQ(forward.src.reads, (Reads{{0, kChunk}, {kChunk, kChunk}, {2 * kChunk, 100}}));
  EXPECT_EQ(forward.source.m_nSectorsCopied, sectors);
  EXPECT_EQ(forward.source.m_nBadSectors, 0u);
  EXPECT_EQ(forward.dst.flushes, 1);
  EXPECT_FALSE(forward.source.IsOpen());
  EXPECT_FALSE(forward.destination.IsOpen());
  // Progress in bytes, ending at the end of the range.
  ASSERT_FALSE(forward.sink.positions.empty());
  EXPECT_EQ(forward.sink.positions.front(), 0u);
  EXPECT_EQ(forward.sink.positions.back(), sectors * 512);
  EXPECT_TRUE(std::is_sorted(forward.sink.positions.begin(), forward.sink.positions.end()));

  CopyRig reverse(sectors);
  ASSERT_TRUE(reverse.Run(CopyDirection::Reverse));
  EXPECT_EQ(reverse.src.reads, (Reads{{2 * kChunk, 100}, {kChunk, kChunk}, {0, kChunk}}));
  EXPECT_EQ(reverse.sink.positions.back(), sectors * 512);
  EXPECT_TRUE(std::is_sorted(reverse.sink.positions.begin(), reverse.sink.positions.end()));

  EXPECT_EQ(forward.dst.bytes, reverse.dst.bytes);
  EXPECT_EQ(forward.source.m_nSectorsCopied, reverse.source.m_nSectorsCopied);
  EXPECT_EQ(forward.DestinationSector(sectors - 1), forward.SourceSector(sectors - 1));
  EXPECT_EQ(forward.DestinationSector(kChunk), forward.SourceSector(kChunk));

  const std::string log = forward.Log();
  EXPECT_EQ(log.rfind("Log File of Cloning/Imaging\r\nCurrent date and time : ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\n\r\nE: --------> F:\r\nStart Sector  :  0\r\nEnd Sector :  " +
                     std::to_string(sectors - 1) + "\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Operation successfully completed.\r\n" + std::to_string(sectors) +
                     " Sector(s) copied.\r\n0 Bad Sector(s) encountered.\r\n"),
            std::string::npos)
      << log;
}

TEST(CopyEngine, ShortRangeIsOneTransferAndAnExactMultipleHasNoRemainder) {
  using Reads = std::vector<std::pair<uint64_t, uint64_t>>;
  for (CopyDirection direction : {CopyDirection::Forward, CopyDirection::Reverse}) {
    CopyRig small(1000);
    ASSERT_TRUE(small.Run(direction));
    EXPECT_EQ(small.src.reads, (Reads{{0, 1000}}));
    EXPECT_EQ(small.dst.writes, (Reads{{0, 1000}}));

    CopyRig exact(kChunk);
    ASSERT_TRUE(exact.Run(direction));
    EXPECT_EQ(exact.src.reads, (Reads{{0, kChunk}}));
    EXPECT_EQ(exact.source.m_nSectorsCopied, kChunk);
  }
}

TEST(CopyEngine, FillersByteForByte) {
  // No retries: the short filler, either direction, written and logged once.
  for (CopyDirection direction : {CopyDirection::Forward, CopyDirection::Reverse}) {
    CopyRig rig(300);
    rig.source.m_nRetryAttempts = 0;
    rig.src.failingReads[7] = FaultDeviceState::kAlways;
    ASSERT_TRUE(rig.Run(direction));
    EXPECT_EQ(rig.DestinationSector(7), ShortFiller());
    EXPECT_EQ(rig.DestinationSector(6), rig.SourceSector(6));
    EXPECT_EQ(rig.DestinationSector(8), rig.SourceSector(8));
    EXPECT_EQ(Count(rig.Log(), "Bad Sector encountered. Sector No.\t:\t7\r\n"), 1u);
    EXPECT_EQ(rig.source.m_nBadSectors, 1u);
    EXPECT_EQ(rig.source.m_nSectorsCopied, 299u);
    EXPECT_EQ(std::count(rig.dst.writes.begin(), rig.dst.writes.end(), P(7, 1)), 1);
  }
  // Retries used up: "** BAD SECTORS **" to the last byte forward, "**BAD SECTORS**" reverse.
  CopyRig forward(300), reverse(300);
  for (CopyRig* rig : {&forward, &reverse}) {
    rig->source.m_nRetryAttempts = 2;
    rig->src.failingReads[299] = FaultDeviceState::kAlways;
  }
  ASSERT_TRUE(forward.Run(CopyDirection::Forward));
  ASSERT_TRUE(reverse.Run(CopyDirection::Reverse));
  EXPECT_EQ(forward.DestinationSector(299), ExhaustedForwardFiller());
  EXPECT_EQ(reverse.DestinationSector(299), ExhaustedReverseFiller());
  // The chunk, again in 64 KiB blocks (128, 128, 44 sectors), the failing block's sectors once
  // each while trimming, and sector 299 twice more.
  EXPECT_EQ(forward.src.reads.size(), 1u + 3u + 44u + 2u);
  EXPECT_EQ(forward.source.m_nBadSectors, 1u);
  EXPECT_EQ(Count(forward.Log(), "Bad Sector encountered."), 1u);
  EXPECT_NE(forward.Log().find("299 Sector(s) copied.\r\n1 Bad Sector(s) encountered.\r\n"),
            std::string::npos);
}

TEST(CopyEngine, SectorReadOnARetryIsCopiedCountedBadAndLoggedOnce) {
  CopyRig rig(200);
  rig.source.m_nRetryAttempts = 3;
  // The first read and the first retry fail; the second retry reads it.
  rig.src.failingReads[50] = 2;
  ASSERT_TRUE(rig.Run(CopyDirection::Forward));
  EXPECT_EQ(rig.DestinationSector(50), rig.SourceSector(50));
  EXPECT_EQ(rig.source.m_nBadSectors, 1u);
  EXPECT_EQ(rig.source.m_nSectorsCopied, 199u);
  EXPECT_EQ(std::count(rig.dst.writes.begin(), rig.dst.writes.end(), P(50, 1)), 1);
  EXPECT_EQ(Count(rig.Log(), "Sector No.\t:\t50\r\n"), 1u);
  const auto reads50 = std::count(rig.src.reads.begin(), rig.src.reads.end(), P(50, 1));
  EXPECT_EQ(reads50, 3);
}

TEST(CopyEngine, DestinationStartMapsEverySectorIncludingSalvagedAndFillers) {
  CopyRig rig(kChunk + 500, 512, kChunk + 3000);
  rig.source.m_nStartSector = 100;
  rig.source.m_nEndSector = kChunk + 400;
  rig.destination.m_nStartSector = 1000;
  rig.source.m_nRetryAttempts = 0;
  rig.src.failingReads[200] = FaultDeviceState::kAlways;
  rig.src.failingReads[kChunk + 350] = FaultDeviceState::kAlways;
  ASSERT_TRUE(rig.Run(CopyDirection::Forward));
  EXPECT_EQ(rig.DestinationSector(1000), rig.SourceSector(100));
  EXPECT_EQ(rig.DestinationSector(1099), rig.SourceSector(199));
  EXPECT_EQ(rig.DestinationSector(1100), ShortFiller());
  EXPECT_EQ(rig.DestinationSector(1101), rig.SourceSector(201));
  EXPECT_EQ(rig.DestinationSector(1000 + kChunk + 250), ShortFiller());
  EXPECT_EQ(rig.DestinationSector(1000 + kChunk + 299), rig.SourceSector(kChunk + 399));
  // Nothing outside the mapped range was touched.
  EXPECT_EQ(rig.DestinationSector(999), std::vector<uint8_t>(512, 0xEE));
  EXPECT_EQ(rig.DestinationSector(1000 + kChunk + 300), std::vector<uint8_t>(512, 0xEE));
  EXPECT_EQ(rig.source.m_nSectorsCopied + rig.source.m_nBadSectors, kChunk + 300);
  const std::string log = rig.Log();
  EXPECT_NE(log.find("Start Sector  :  100\r\nEnd Sector :  " + std::to_string(kChunk + 399)),
            std::string::npos);
  EXPECT_NE(log.find("Sector No.\t:\t200\r\n"), std::string::npos);
}

TEST(CopyEngine, ForwardAndReverseAgreeWithBadSectors) {
  CopyRig forward(kChunk + 777), reverse(kChunk + 777);
  for (CopyRig* rig : {&forward, &reverse}) {
    rig->source.m_nRetryAttempts = 0;
    for (uint64_t s : {uint64_t{0}, uint64_t{12345}, kChunk + 776}) {
      rig->src.failingReads[s] = FaultDeviceState::kAlways;
    }
  }
  ASSERT_TRUE(forward.Run(CopyDirection::Forward));
  ASSERT_TRUE(reverse.Run(CopyDirection::Reverse));
  EXPECT_EQ(forward.dst.bytes, reverse.dst.bytes);
  EXPECT_EQ(forward.source.m_nSectorsCopied, reverse.source.m_nSectorsCopied);
  EXPECT_EQ(forward.source.m_nBadSectors, 3u);
  EXPECT_EQ(reverse.source.m_nBadSectors, 3u);
}

TEST(CopyEngine, StopDuringSalvageEndsWithOneCancelledSummary) {
  CopyRig rig(kChunk + 10);
  rig.source.m_nRetryAttempts = 5;
  rig.src.failingReads[40] = FaultDeviceState::kAlways;
  // The user presses Cancel while the sector is being retried.
  int retries = 0;
  rig.src.onRead = [&](uint64_t sector, uint64_t count) {
    if (sector == 40 && count == 1 && ++retries == 3) rig.record.RequestStop();
  };
  EXPECT_FALSE(rig.Run(CopyDirection::Forward));
  const std::string log = rig.Log();
  EXPECT_EQ(Count(log, "Operation Cancelled.\r\n"), 1u) << log;
  EXPECT_EQ(Count(log, "Operation successfully completed."), 0u);
  // Every other sector was read before the retries began.
  EXPECT_NE(log.find("Operation Cancelled.\r\n" + std::to_string(kChunk + 9) +
                     " Sector(s) copied.\r\n1 Bad Sector(s) encountered.\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(rig.record.State(), PS_STOPPED);
  EXPECT_FALSE(rig.source.IsOpen());
  EXPECT_FALSE(rig.destination.IsOpen());
  // Nothing past the stop was read.
  EXPECT_EQ(rig.src.reads.back(), P(40, 1));
}

TEST(CopyEngine, StopBeforeTheFirstChunkWritesNoSummary) {
  for (CopyDirection direction : {CopyDirection::Forward, CopyDirection::Reverse}) {
    CopyRig rig(1000);
    rig.record.RequestStop();
    EXPECT_FALSE(rig.Run(direction));
    EXPECT_TRUE(rig.src.reads.empty());
    EXPECT_EQ(rig.Log().find("Operation"), std::string::npos);
    EXPECT_FALSE(rig.source.IsOpen());
  }
}

TEST(CopyEngine, FailedOrShortWriteEndsTheRunAsFailed) {
  {
    CopyRig rig(kChunk + 100);
    rig.dst.failWriteAt = kChunk + 5;
    EXPECT_FALSE(rig.Run(CopyDirection::Forward));
    EXPECT_EQ(rig.source.m_nWriteFailures, 1u);
    EXPECT_EQ(rig.source.m_nSectorsCopied, kChunk);
    const std::string log = rig.Log();
    EXPECT_NE(log.find("Write failed. Sector No.\t:\t" + std::to_string(kChunk) + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Operation terminated.\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Operation successfully completed."), std::string::npos);
    EXPECT_EQ(log.find("Operation Cancelled."), std::string::npos);
    EXPECT_NE(log.find("1 Write(s) failed.\r\n"), std::string::npos);
  }
  {
    // A filler that cannot be written, reported short by the device.
    CopyRig rig(300);
    rig.source.m_nRetryAttempts = 0;
    rig.src.failingReads[9] = FaultDeviceState::kAlways;
    rig.dst.failWriteAt = 9;
    rig.dst.shortWrite = true;
    EXPECT_FALSE(rig.Run(CopyDirection::Reverse));
    EXPECT_NE(rig.Log().find("Write failed. Sector No.\t:\t9\r\n"), std::string::npos);
  }
  {
    // Every write taken, but the device then reports them lost.
    CopyRig rig(300);
    rig.dst.failFlush = true;
    EXPECT_FALSE(rig.Run(CopyDirection::Forward));
    EXPECT_NE(rig.Log().find("Operation terminated."), std::string::npos);
  }
}

TEST(CopyEngine, LargeSectorsKeepTheirSizeThroughout) {
  // 4096-byte sectors: 32 MiB chunks of 8192 sectors, one-sector salvage of 4096 bytes.
  CopyRig rig(3 * 8192 + 3, 4096);
  EXPECT_EQ(rig.source.m_nSectorSize, 4096u);
  rig.source.m_nRetryAttempts = 0;
  rig.src.failingReads[8192 + 1] = FaultDeviceState::kAlways;
  ASSERT_TRUE(rig.Run(CopyDirection::Forward));
  EXPECT_EQ(rig.src.reads.front(), P(0, 8192));
  EXPECT_EQ(rig.source.m_nSectorsCopied, 3 * 8192 + 2u);
  EXPECT_EQ(rig.DestinationSector(3 * 8192 + 2), rig.SourceSector(3 * 8192 + 2));
  std::vector<uint8_t> filler(4096, 0);
  for (size_t at = 0; at + 32 <= 4096; at += 16) std::memcpy(&filler[at], "** BAD SECTORS **", 17);
  EXPECT_EQ(rig.DestinationSector(8193), filler);
  EXPECT_EQ(rig.sink.positions.back(), uint64_t{3 * 8192 + 3} * 4096);
}

TEST(CopyEngine, DestinationPreparation) {
  {
    // A volume that can be neither dismounted nor locked: "Access denied.", nothing copied.
    CopyRig rig(100);
    StopAfterAsk prompter;
    rig.source.m_pPrompter = &prompter;
    rig.source.m_bCloning = true;
    rig.dst.controlResults[platform::DeviceControl::DismountVolume] = false;
    rig.dst.controlResults[platform::DeviceControl::LockVolume] = false;
    EXPECT_FALSE(rig.Run(CopyDirection::Forward));
    EXPECT_EQ(prompter.asked, std::vector<std::u16string>{u"Access denied."});
    EXPECT_TRUE(rig.src.reads.empty());
    EXPECT_EQ(rig.Log().find("Operation"), std::string::npos);
  }
  {
    // Dismount refused but the lock taken: the copy goes on.
    CopyRig rig(100);
    rig.source.m_bCloning = true;
    rig.dst.controlResults[platform::DeviceControl::DismountVolume] = false;
    EXPECT_TRUE(rig.Run(CopyDirection::Reverse));
    EXPECT_EQ(rig.dst.controls,
              (std::vector<platform::DeviceControl>{platform::DeviceControl::DismountVolume,
                                                    platform::DeviceControl::LockVolume}));
  }
  {
    // A drive whose layout cannot be deleted: no message, nothing copied.
    CopyRig rig(100);
    StopAfterAsk prompter;
    rig.source.m_pPrompter = &prompter;
    rig.destination.m_nDeviceKind = 1;
    rig.dst.controlResults[platform::DeviceControl::DeleteDriveLayout] = false;
    EXPECT_FALSE(rig.Run(CopyDirection::Forward));
    EXPECT_TRUE(prompter.asked.empty());
    EXPECT_TRUE(rig.src.reads.empty());
  }
  {
    // A range that does not fit the destination device is never started.
    CopyRig rig(100, 512, 150);
    rig.destination.m_nStartSector = 60;
    EXPECT_FALSE(rig.Run(CopyDirection::Forward));
    EXPECT_TRUE(rig.src.reads.empty());
  }
  // The source is opened for reading only.
  CopyRig rig(10);
  EXPECT_EQ(rig.src.openModes, std::vector<platform::OpenMode>{platform::OpenMode::Read});
}

TEST(CopyLog, FileNameAndFolder) {
  EXPECT_EQ(LogFileName(u"E:"), u"DriveE.log");
  EXPECT_EQ(LogFileName(u"/dev/sdb"), u"sdb.log");
  EXPECT_EQ(LogFileName(u"Disk Model:  SN123 \r\n(8.00 GB)"),
            u"Disk Model_  SN123 __(8.00 GB).log");
#ifdef _WIN32
  EXPECT_EQ(DefaultLogFolder(), std::filesystem::path(u"C:\\Users"));
#else
  EXPECT_EQ(DefaultLogFolder(), std::filesystem::current_path());
#endif
}

}  // namespace
}  // namespace kavo

namespace kavo {
namespace {

std::string MapText(const RescueMap& map) {
  std::string blocks;
  MapBlock b;
  for (uint64_t at = 0; at < map.Size(); at = b.end) {
    b = map.BlockAt(at);
    blocks += std::to_string(b.begin / 512) + static_cast<char>(b.status);
  }
  return blocks;
}

TEST(CopyRescue, GoodDataFirstThenBadSectorsInTheMap) {
  for (CopyDirection direction : {CopyDirection::Forward, CopyDirection::Reverse}) {
    CopyRig rig(2 * kChunk);
    rig.source.m_nRetryAttempts = 2;
    rig.src.failingReads[1000] = FaultDeviceState::kAlways;
    rig.src.failingReads[1001] = FaultDeviceState::kAlways;
    rig.src.failingReads[kChunk + 5] = 1;  // reads on its first retry
    ASSERT_TRUE(rig.Run(direction));
    // Both chunks, and every 64 KiB block around the errors, before any sector on its own.
    const auto single = std::find_if(rig.src.reads.begin(), rig.src.reads.end(),
                                     [](const auto& r) { return r.second == 1; });
    ASSERT_NE(single, rig.src.reads.end());
    for (auto it = single; it != rig.src.reads.end(); ++it) EXPECT_EQ(it->second, 1u);
    EXPECT_EQ(MapText(rig.source.m_map), "0+1000-1002+");
    EXPECT_EQ(rig.source.m_counters.rescuedBytes.load(), (2 * kChunk - 2) * 512);
    EXPECT_EQ(rig.source.m_counters.badBytes.load(), 2u * 512);
    EXPECT_EQ(rig.source.m_counters.errors.load(), 1u);
    EXPECT_EQ(rig.DestinationSector(1001), direction == CopyDirection::Forward
                                               ? ExhaustedForwardFiller()
                                               : ExhaustedReverseFiller());
    EXPECT_EQ(rig.DestinationSector(kChunk + 5), rig.SourceSector(kChunk + 5));
    EXPECT_EQ(rig.source.m_map.phase, CopyPhase::Finished);
  }
}

TEST(CopyRescue, ErrorsFurtherOnAreSkippedAndReadFromTheOtherSide) {
  // A run of bad sectors: the first pass jumps ever further past it, the second comes back.
  CopyRig rig(4000);
  rig.source.m_nRetryAttempts = 0;
  for (uint64_t s = 1000; s < 2000; ++s) rig.src.failingReads[s] = FaultDeviceState::kAlways;
  ASSERT_TRUE(rig.Run(CopyDirection::Forward));
  EXPECT_EQ(MapText(rig.source.m_map), "0+1000-2000+");
  // Eight 128-sector blocks touch the bad run; the end of the source is reached after fewer
  // than that have failed (the chunk itself is the first failure).
  size_t failedBlocks = 0;
  for (const auto& r : rig.src.reads) {
    if (r.first + r.second == 4000 && r.second > 1) break;
    failedBlocks += r.first < 2000 && r.first + r.second > 1000;
  }
  EXPECT_LT(failedBlocks, 1u + 8u);
  EXPECT_EQ(rig.DestinationSector(2000), rig.SourceSector(2000));
  EXPECT_EQ(rig.DestinationSector(1500), ShortFiller());
}

TEST(CopyRescue, StoppedCopyGoesOnFromItsMapAndEndsAsOneRun) {
  const uint64_t sectors = 3 * kChunk;
  const auto failing = [](FaultDeviceState& s) {
    s.failingReads[70000] = FaultDeviceState::kAlways;
    s.failingReads[kChunk * 2 + 9] = FaultDeviceState::kAlways;
  };
  CopyRig once(sectors);
  failing(once.src);
  ASSERT_TRUE(once.Run(CopyDirection::Forward));

  CopyRig first(sectors);
  failing(first.src);
  int reads = 0;
  first.src.onRead = [&](uint64_t, uint64_t) {
    if (++reads == 3) first.record.RequestStop();
  };
  first.source.m_mapFile = first.dir / "copy.map";
  EXPECT_FALSE(first.Run(CopyDirection::Forward));

  CopyRig second(sectors);
  failing(second.src);
  second.dst.bytes = first.dst.bytes;
  ASSERT_EQ(second.source.LoadMap(first.dir / "copy.map"), "");
  ASSERT_TRUE(second.Run(CopyDirection::Forward));
  // Nothing the first run finished was read again.
  for (const auto& r : second.src.reads) EXPECT_GE(r.first + r.second, kChunk) << r.first;
  EXPECT_EQ(second.dst.bytes, once.dst.bytes);
  EXPECT_EQ(MapText(second.source.m_map), MapText(once.source.m_map));

  // A map of another source is refused.
  CopyRig other(sectors + 1);
  EXPECT_NE(other.source.LoadMap(first.dir / "copy.map"), "");
}

TEST(RescueMap, ParsesForeignMapsAndRefusesBrokenOnes) {
  struct Case {
    const char* text;
    const char* blocks;  // empty: refused
  };
  const Case cases[] = {
      {"# Mapfile\n# current_pos  current_status  current_pass\n0x400 ? 1\n"
       "#  pos  size  status\n0x0 0x400 +\n0x400 0x200 *\n0x600 0xA00 ?\n",
       "0+2*3?"},
      {"0x0 -\n0x0 0x200 /\n0x200 0x200 /\n0x400 0x200 -\n", "0/2-"},  // no pass, equal neighbours
      {"0 + 1\n0 1024 +\n", "0+"},
      {"0x0 ? 1\n0x0 0x200 +\n0x400 0x200 -\n", ""},  // gap
      {"0x0 ? 1\n0x0 0x200 +\n0x100 0x200 -\n", ""},  // overlap
      {"0x0 ? 1\n0x0 0x200 x\n", ""},                 // unknown status
      {"0x0 ? 1\n0x0 0xFFFFFFFFFFFFFFFF +\n0xFFFFFFFFFFFFFFFF 0x10 +\n", ""},
      {"garbage\n", ""},
  };
  for (const Case& c : cases) {
    RescueMap map;
    std::string why;
    const bool ok = map.Parse(c.text, &why);
    EXPECT_EQ(ok, *c.blocks != 0) << c.text << why;
    if (ok) {
      EXPECT_EQ(MapText(map), c.blocks) << c.text;
    }
  }
  // Our own text reads back the same, and Set merges neighbours.
  RescueMap map(8192);
  map.Set(512, 1024, BlockStatus::Bad);
  map.Set(1024, 2048, BlockStatus::Bad);
  map.Set(4096, 8192, BlockStatus::Finished);
  map.phase = CopyPhase::Scraping;
  RescueMap back;
  ASSERT_TRUE(back.Parse(map.Text(), nullptr));
  EXPECT_EQ(MapText(back), "0?1-4?8+");
  EXPECT_EQ(back.phase, CopyPhase::Scraping);
  EXPECT_EQ(back.Size(), 8192u);
}

}  // namespace
}  // namespace kavo

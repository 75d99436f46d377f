#include "base/progress.h"

#include <gtest/gtest.h>

#include <thread>

namespace kavo {
namespace {

TEST(StopProtocol, RoutinesHonourRequestsAtTheirChecks) {
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  EXPECT_FALSE(ShouldStop(&record));
  EXPECT_EQ(record.State(), PS_RUNNING);

  record.RequestStop();
  EXPECT_TRUE(ShouldStop(&record));
  EXPECT_EQ(record.State(), PS_STOPPED);
  // A later routine of the same job returns at its first check.
  EXPECT_TRUE(ShouldStop(&record));
  EXPECT_EQ(record.State(), PS_STOPPED);

  EXPECT_FALSE(ShouldStop(nullptr));
}

TEST(StopProtocol, AWorkerSeesARequestFromAnotherThread) {
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  record.SetEnd(1000000000);
  std::thread worker([&] {
    for (uint64_t i = 0; i < 1000000000 && !ShouldStop(&record); ++i) record.SetPosition(i);
  });
  while (record.Position() < 1000) std::this_thread::yield();
  record.RequestStop();
  worker.join();
  EXPECT_EQ(record.State(), PS_STOPPED);
  EXPECT_LT(record.Position(), record.End());
}

TEST(PercentDisplay, FollowsProgressAndPercentMessages) {
  PercentDisplay d;
  EXPECT_EQ(d.Last(), 1u);
  EXPECT_EQ(d.OnProgress(0, 0), 0u) << "an empty job shows 0, not a division by zero";
  EXPECT_EQ(d.OnProgress(1, 3), 33u);
  EXPECT_FALSE(d.OnProgress(1, 3).has_value()) << "the same value is not shown twice";
  EXPECT_EQ(d.OnProgress(5, 5), 100u);
  // Huge counts keep their precision.
  EXPECT_EQ(d.OnProgress((uint64_t{1} << 40) - 1, uint64_t{1} << 40), 99u);

  EXPECT_EQ(d.OnSetPercent(42), 42u);
  EXPECT_FALSE(d.OnSetPercent(42).has_value());
  EXPECT_EQ(d.OnSetPercent(100), 90u);
  EXPECT_EQ(d.OnSetPercent(250), 90u);
  EXPECT_EQ(PercentText(90), "90 %");
}

TEST(Texts, ElapsedTimeAndSizes) {
  EXPECT_EQ(ElapsedText(0), "00:00:00");
  EXPECT_EQ(ElapsedText(3 * 3600 + 25 * 60 + 7), "03:25:07");
  EXPECT_EQ(ElapsedText(100 * 3600 + 59), "100:00:59") << "hours do not wrap at 24";

  EXPECT_EQ(SizeText(512, 1), "0.50 KB");
  EXPECT_EQ(SizeText(512, 2048), "1024.00 KB") << "exactly 1 MiB is not above 1 MiB";
  EXPECT_EQ(SizeText(512, 2049), "1.00 MB");
  EXPECT_EQ(SizeText(512, 614400), "300.00 MB");
  EXPECT_EQ(SizeText(512, 2097152), "1024.00 MB");
  EXPECT_EQ(SizeText(512, 3907029168ull), "1863.02 GB");
  EXPECT_EQ(SizeText(4096, uint64_t{1} << 33), "32768.00 GB");
}

}  // namespace
}  // namespace kavo

// The gate that holds a job while the stop question is on screen, with a thread standing in for
// the job: it passes the gate before each of its steps.
#include "shell/job_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kavo::shell {
namespace {

TEST(JobGate, APausedGateHoldsTheJobAtItsNextStepAndResumeLetsItFinish) {
  JobGate gate;
  std::atomic<int> steps{0};
  std::atomic<bool> paused{false};
  std::thread job([&] {
    for (int i = 0; i < 200; ++i) {
      gate.WaitWhilePaused();
      steps.fetch_add(1);
      if (i == 20) {
        gate.Pause();
        paused = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  while (!paused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Held before its 22nd step, however long the question stays.
  EXPECT_EQ(steps.load(), 21);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(steps.load(), 21);
  gate.Resume();
  job.join();
  EXPECT_EQ(steps.load(), 200);
}

TEST(JobGate, AnOpenGateNeverWaits) {
  JobGate gate;
  gate.Pause();
  gate.Resume();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) gate.WaitWhilePaused();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace kavo::shell

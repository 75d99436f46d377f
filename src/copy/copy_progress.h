// What the progress displays of a copy show: rescued and bad bytes, error areas, the phase, the
// read rate over the last minute and the time left, which stays unknown once errors have made
// the rate of the rest impossible to foresee.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "copy/disk_copy.h"

namespace kavo {

struct CopyProgress {
  CopyPhase phase = CopyPhase::Copying;
  uint64_t rescuedBytes = 0;
  uint64_t badBytes = 0;
  uint64_t errors = 0;
  double bytesPerSecond = 0;            // rescued bytes per second over the last minute
  std::optional<uint64_t> secondsLeft;  // nothing: unknown
};

// Samples the counters of a running copy; keeps a minute of samples for the rate.
class CopyProgressMeter {
 public:
  explicit CopyProgressMeter(const CopyCounters& counters) : m_counters(counters) {}
  CopyProgress Sample(std::chrono::steady_clock::time_point now);

 private:
  const CopyCounters& m_counters;
  std::deque<std::pair<std::chrono::steady_clock::time_point, uint64_t>> m_samples;
};

// "rescued 1.20 GB, bad 4 KB, 2 errors, trimming, 35.1 MB/s, time left unknown".
std::string CopyProgressText(const CopyProgress& progress);
// One JSON object of the same figures (bytes, bytes per second, seconds or null).
std::string CopyProgressJson(const CopyProgress& progress);

}  // namespace kavo

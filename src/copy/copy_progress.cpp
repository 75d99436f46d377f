#include "copy/copy_progress.h"

#include <cstdio>

#include "base/progress.h"

namespace kavo {

namespace {

constexpr std::chrono::seconds kRateWindow{60};

std::string Bytes(double bytes) {
  char text[32];
  if (bytes >= 1073741824.0) {
    std::snprintf(text, sizeof text, "%.2f GB", bytes / 1073741824.0);
  } else if (bytes >= 1048576.0) {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  } else if (bytes >= 1024.0) {
    std::snprintf(text, sizeof text, "%.0f KB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  }
  return text;
}

}  // namespace

CopyProgress CopyProgressMeter::Sample(std::chrono::steady_clock::time_point now) {
  CopyProgress progress;
  progress.phase = static_cast<CopyPhase>(m_counters.phase.load(std::memory_order_relaxed));
  progress.rescuedBytes = m_counters.rescuedBytes.load(std::memory_order_relaxed);
  progress.badBytes = m_counters.badBytes.load(std::memory_order_relaxed);
  progress.errors = m_counters.errors.load(std::memory_order_relaxed);
  m_samples.emplace_back(now, progress.rescuedBytes);
  while (m_samples.size() > 2 && now - m_samples[1].first >= kRateWindow) m_samples.pop_front();
  const double seconds = std::chrono::duration<double>(now - m_samples.front().first).count();
  if (seconds > 0.5 && progress.rescuedBytes >= m_samples.front().second) {
    progress.bytesPerSecond =
        static_cast<double>(progress.rescuedBytes - m_samples.front().second) / seconds;
  }
  const uint64_t range = m_counters.rangeBytes.load(std::memory_order_relaxed);
  const uint64_t done = progress.rescuedBytes + progress.badBytes;
  // Once a read has failed, the rest may go at any speed: no estimate is better than a wrong one.
  if (progress.phase == CopyPhase::Copying && progress.errors == 0 && progress.bytesPerSecond > 0 &&
      range >= done) {
    progress.secondsLeft =
        static_cast<uint64_t>(static_cast<double>(range - done) / progress.bytesPerSecond);
  }
  return progress;
}

std::string CopyProgressText(const CopyProgress& progress) {
  return "rescued " + Bytes(static_cast<double>(progress.rescuedBytes)) + ", bad " +
         Bytes(static_cast<double>(progress.badBytes)) + ", " + std::to_string(progress.errors) +
         (progress.errors == 1 ? " error, " : " errors, ") + PhaseName(progress.phase) + ", " +
         Bytes(progress.bytesPerSecond) + "/s, time left " +
         (progress.secondsLeft ? ElapsedText(*progress.secondsLeft) : std::string("unknown"));
}

std::string CopyProgressJson(const CopyProgress& progress) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f", progress.bytesPerSecond);
  return std::string("{\"phase\":\"") + PhaseName(progress.phase) +
         "\",\"rescued_bytes\":" + std::to_string(progress.rescuedBytes) +
         ",\"bad_bytes\":" + std::to_string(progress.badBytes) +
         ",\"errors\":" + std::to_string(progress.errors) + ",\"bytes_per_second\":" + rate +
         ",\"seconds_left\":" +
         (progress.secondsLeft ? std::to_string(*progress.secondsLeft) : std::string("null")) + "}";
}

}  // namespace kavo

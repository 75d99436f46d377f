#include "cli/progress_bar.h"

#include <atomic>
#include <cstdio>

#include "base/messages.h"
#include "cli/output.h"
#include "platform/console.h"

namespace kavo::cli {

namespace {
std::atomic<ProgressRecord*> g_stopTarget{nullptr};
std::atomic<bool> g_interrupted{false};

void RequestStopFromSignal() {
  g_interrupted.store(true, std::memory_order_relaxed);
  if (ProgressRecord* record = g_stopTarget.load(std::memory_order_relaxed)) record->RequestStop();
}

std::string Clock(uint64_t seconds) {
  return ElapsedText(seconds);
}
}  // namespace

std::string HumanBytes(double bytes) {
  char text[32];
  if (bytes >= 1073741824.0) {
    std::snprintf(text, sizeof text, "%.2f GB", bytes / 1073741824.0);
  } else if (bytes >= 1048576.0) {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f KB", bytes / 1024.0);
  }
  return text;
}

ProgressBar::ProgressBar(ProgressRecord& record, std::string label, uint64_t unitBytes)
    : m_record(record),
      m_label(std::move(label)),
      m_unitBytes(unitBytes),
      m_enabled(platform::IsTerminal(platform::Stream::Err)),
      m_start(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
  Finish();
}

intptr_t ProgressBar::Send(uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == UM_SET_PERCENT) {
    m_hasOverride = true;
    m_percentOverride = wParam >= 100 ? 90 : static_cast<uint32_t>(wParam);
  }
  if (message == UM_PROGRESS || message == UM_SET_PERCENT) Draw();
  return 0;
}

void ProgressBar::ShowCopy(const CopyCounters& counters, bool json) {
  m_copy.emplace(counters);
  m_json = json;
}

void ProgressBar::Draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (m_json && m_copy && (force || now - m_lastJson >= std::chrono::seconds(1))) {
    m_lastJson = now;
    Out("{\"progress\": " + CopyProgressJson(m_copy->Sample(now)) + "}\n");
  }
  if (!m_enabled) return;
  if (!force && m_drawn && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  m_lastDraw = now;
  const uint64_t position = m_record.Position();
  const uint64_t end = m_record.End();
  uint32_t percent = m_percentOverride;
  if (!m_hasOverride && end > 0) {
    percent = static_cast<uint32_t>(std::min(100.0, static_cast<double>(position) / end * 100.0));
  }
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent * kWidth / 100);
  std::string line = "\r" + m_label + " [" + std::string(filled, '#') +
                     std::string(kWidth - filled, '.') + "] " + std::to_string(percent) + " %";
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  if (m_copy) {
    line += "  " + CopyProgressText(m_copy->Sample(now));
  } else if (m_unitBytes > 0 && seconds > 0.2 && !m_hasOverride) {
    const double rate = static_cast<double>(position) * static_cast<double>(m_unitBytes) / seconds;
    line += "  " + HumanBytes(rate) + "/s";
    if (end > position && position > 0) {
      const double left = static_cast<double>(end - position) * seconds / position;
      line += "  ETA " + Clock(static_cast<uint64_t>(left));
    }
  }
  line += "  " + Clock(static_cast<uint64_t>(seconds)) + "   ";
  Err(line);
  m_drawn = true;
}

void ProgressBar::Finish() {
  if (m_enabled && m_drawn) Err("\r" + std::string(100, ' ') + "\r");
  m_drawn = false;
}

StopOnInterrupt::StopOnInterrupt(ProgressRecord& record) {
  g_interrupted.store(false, std::memory_order_relaxed);
  g_stopTarget.store(&record, std::memory_order_relaxed);
  platform::OnInterrupt(RequestStopFromSignal);
}

StopOnInterrupt::~StopOnInterrupt() {
  g_stopTarget.store(nullptr, std::memory_order_relaxed);
}

bool StopOnInterrupt::Interrupted() {
  return g_interrupted.load(std::memory_order_relaxed);
}

}  // namespace kavo::cli

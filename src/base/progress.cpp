#include "base/progress.h"

#include <cstdio>

namespace kavo {

bool ShouldStop(ProgressRecord* record) {
  if (!record) return false;
  const uint32_t s = record->State();
  if (s == PS_STOP_REQUESTED || s == PS_STOPPED) {
    record->SetState(PS_STOPPED);
    return true;
  }
  return false;
}

std::optional<uint32_t> PercentDisplay::Show(uint32_t value, uint32_t raw) {
  if (raw == m_last) return std::nullopt;
  m_last = raw;
  return value;
}

std::optional<uint32_t> PercentDisplay::OnProgress(uint64_t position, uint64_t end) {
  uint32_t percent = 0;
  if (end != 0) {
    const double p = static_cast<double>(position) / static_cast<double>(end) * 100.0;
    percent = p >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(p);
  }
  return Show(percent, percent);
}

std::optional<uint32_t> PercentDisplay::OnSetPercent(uint32_t percent) {
  return Show(percent >= 100 ? 90 : percent, percent);
}

std::string PercentText(uint32_t percent) {
  char text[24];
  std::snprintf(text, sizeof text, "%u %%", percent);
  return text;
}

std::string ElapsedText(uint64_t seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%.2llu:%.2llu:%.2llu",
                static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60),
                static_cast<unsigned long long>(seconds % 60));
  return text;
}

std::string SizeText(uint64_t bytesPerSector, uint64_t sectors) {
  const float bytes = static_cast<float>(bytesPerSector) * static_cast<float>(sectors);
  char text[64];
  if (bytes / 1073741824.0f > 1.0f) {
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes / 1073741824.0f));
  } else if (bytes / 1048576.0f > 1.0f) {
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes / 1048576.0f));
  } else {
    std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes / 1024.0f));
  }
  return text;
}

}  // namespace kavo

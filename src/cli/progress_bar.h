// The progress display of kavo-cli: a bar with percentage, rate and time left on stderr while it
// is a terminal, and the Ctrl-C stop request.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "base/message_sink.h"
#include "base/progress.h"
#include "copy/copy_progress.h"

namespace kavo::cli {

class ProgressBar final : public MessageSink {
 public:
  // `unitBytes`: bytes per unit of the record's position (sector size, 1 for bytes, 0 when the
  // unit is not a size and no rate is shown). `label` starts the line ("Scanning").
  ProgressBar(ProgressRecord& record, std::string label, uint64_t unitBytes);
  ~ProgressBar() override;

  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // A copy's figures take the place of the rate and time left; with `json` they are also
  // printed on stdout once a second as {"progress": {...}} lines.
  void ShowCopy(const CopyCounters& counters, bool json);

  // Redraws now (no more than every 100 ms unless `force`).
  void Draw(bool force = false);
  // Clears the line.
  void Finish();

 private:
  ProgressRecord& m_record;
  std::string m_label;
  uint64_t m_unitBytes;
  bool m_enabled;
  bool m_drawn = false;
  uint32_t m_percentOverride = 0;
  bool m_hasOverride = false;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
  std::optional<CopyProgressMeter> m_copy;
  bool m_json = false;
  std::chrono::steady_clock::time_point m_lastJson;
};

// While alive, Ctrl-C asks the job of `record` to stop (its routines honour it at their next
// check); a second Ctrl-C ends the program.
class StopOnInterrupt {
 public:
  explicit StopOnInterrupt(ProgressRecord& record);
  ~StopOnInterrupt();
  // True when Ctrl-C was pressed during the job.
  static bool Interrupted();
};

// "12.3 MB", "1.02 GB": a byte count for progress lines.
std::string HumanBytes(double bytes);

}  // namespace kavo::cli

// The progress record shared by a running job and the page that shows it, the stop protocol,
// and what the scan page derives from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace kavo {

// Values of ProgressRecord::state.
enum ProgressState : uint32_t {
  PS_IDLE = 0,     // no job, or the job ended
  PS_STOPPED = 1,  // a routine honoured a stop request
  PS_RUNNING = 3,
  PS_STOP_REQUESTED = 4,
};

// Written by the worker, read by the user-interface thread (and `state` the other way round).
// Relaxed atomics: each field is a word of its own and a stale value only delays one update.
struct ProgressRecord {
  std::atomic<uint32_t> state{PS_IDLE};
  std::atomic<uint64_t> position{0};
  std::atomic<uint64_t> end{0};

  uint32_t State() const { return state.load(std::memory_order_relaxed); }
  void SetState(uint32_t s) { state.store(s, std::memory_order_relaxed); }
  uint64_t Position() const { return position.load(std::memory_order_relaxed); }
  void SetPosition(uint64_t p) { position.store(p, std::memory_order_relaxed); }
  uint64_t End() const { return end.load(std::memory_order_relaxed); }
  void SetEnd(uint64_t e) { end.store(e, std::memory_order_relaxed); }

  // The user-interface side: ask the running routine to stop at its next check.
  void RequestStop() { SetState(PS_STOP_REQUESTED); }
};

// The check at a routine's loop head: on a stop request (or a stop already honoured earlier in
// the same job) marks the record stopped and returns true, and the routine returns at once.
// A null record never stops.
bool ShouldStop(ProgressRecord* record);

// What the scan page shows: the last percentage, updated from the two progress messages.
class PercentDisplay {
 public:
  // UM_PROGRESS: integer part of position / end * 100 in double precision. Returns the new value
  // to show, or nothing when it equals the last one. While `end` is 0 the percentage is 0.
  std::optional<uint32_t> OnProgress(uint64_t position, uint64_t end);
  // UM_SET_PERCENT: values of 100 and above are shown as 90 (a routine reporting percent of its
  // own reaches 100 before its results are ready).
  std::optional<uint32_t> OnSetPercent(uint32_t percent);
  uint32_t Last() const { return m_last; }

 private:
  std::optional<uint32_t> Show(uint32_t value, uint32_t raw);
  uint32_t m_last = 1;  // the page starts at 1 %
};

// "%d %%": the percentage text of the scan page.
std::string PercentText(uint32_t percent);

// "%.2d:%.2d:%.2d" of hours, minutes and seconds; hours are not wrapped at 24.
std::string ElapsedText(uint64_t seconds);

// Size text of a source: bytes = bytesPerSector * sectors in single precision; above 1 GiB
// "%.2f GB", above 1 MiB "%.2f MB", else "%.2f KB".
std::string SizeText(uint64_t bytesPerSector, uint64_t sectors);

}  // namespace kavo

// The scan page: it starts the operation worker when it is created and shows the job's progress,
// its start and elapsed time until the worker's navigation message replaces it. Its button bar's
// Cancel asks whether to stop the job.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>

#include "base/progress.h"
#include "copy/copy_progress.h"
#include "shell/shell_context.h"
#include "shell/strip_wnd.h"

namespace kavo::shell {

inline constexpr UINT kScanTimer = 402;
inline constexpr UINT kCancelCommand = 403;
inline constexpr wchar_t kPleaseWait[] = L"Please wait.. It may take some time to complete...";
inline constexpr wchar_t kStopQuestion[] =
    L"Are you sure? Data scanning is in progress. Please cancel the current process.";

// Controls of the scan page.
inline constexpr int kScanProgressId = 4001;
inline constexpr int kDiskNameId = 4011;
inline constexpr int kDiskSizeId = 4012;
inline constexpr int kCompletedId = 4013;
inline constexpr int kStartTimeId = 4014;
inline constexpr int kElapsedTimeId = 4015;
inline constexpr int kOperationId = 4016;
inline constexpr int kCopyFiguresId = 4017;  // copies only: rescued, bad, phase, rate, time left

struct ScanJob;

class CScanWnd final : public Window {
 public:
  explicit CScanWnd(ShellContext& context) : m_context(context) {}
  ~CScanWnd() override;

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void CreateControls();
  void FillControls();
  void StartWorker();
  void ShowPercent(uint32_t percent);
  void OnStopRequest();

  ShellContext& m_context;
  std::shared_ptr<ScanJob> m_job;
  PercentDisplay m_percent;
  std::time_t m_start = 0;
  uint64_t m_elapsed = 0;
  HFONT m_font = nullptr;
  std::optional<CopyProgressMeter> m_copyMeter;
};

// The scan page's command bar: the name of the running operation.
class CScanCmdWnd final : public CStripWnd {
 public:
  explicit CScanCmdWnd(ShellContext& context);
};

// "Cancel": asks the scan page to stop the job.
class CScanSBar final : public Window {
 public:
  explicit CScanSBar(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  ShellContext& m_context;
};

}  // namespace kavo::shell

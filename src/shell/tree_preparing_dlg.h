// The modal wait dialog of the results page: a text line and a marquee bar over a job that runs
// on the dialog's own thread, so the window keeps painting while a long job (filling the tree,
// saving the marked files) works.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

namespace kavo::shell {

inline constexpr int kPreparingDialog = 322;
inline constexpr int kPreparingText = 1000;
inline constexpr int kPreparingBar = 1022;

inline constexpr UINT kDlgHideCancel = 2258;
inline constexpr UINT kDlgEnd = 2259;
inline constexpr UINT kDlgSetPosition = 2260;
inline constexpr UINT kDlgSetText = 2261;
inline constexpr UINT kDlgTerminate = 2262;
inline constexpr INT_PTR kDlgTerminated = 0x10002;

class TAVR_TreePreparingDlg {
 public:
  // The job runs on the dialog's thread; true ends the dialog with 1, false with 2.
  using Job = std::function<bool(TAVR_TreePreparingDlg&)>;

  TAVR_TreePreparingDlg(Job job, bool cancellable)
      : m_job(std::move(job)), m_cancellable(cancellable) {}
  TAVR_TreePreparingDlg(const TAVR_TreePreparingDlg&) = delete;
  TAVR_TreePreparingDlg& operator=(const TAVR_TreePreparingDlg&) = delete;
  // Asks the job to end and waits for it briefly before ending its thread.
  ~TAVR_TreePreparingDlg();

  // Shows the dialog until the job ends: 1 or 2 as the job answered, 2 when the thread could not
  // be started, kDlgTerminated after Cancel.
  INT_PTR Run(HWND owner);

  // From the job: the text line, the bar position (0..100; any position ends the marquee).
  void SetText(const wchar_t* text);
  void SetPosition(int percent);
  // Cancel (or Close) was pressed: the job should end at its next check.
  bool AbortRequested() const { return m_abort.load(); }
  HWND Handle() const { return m_hwnd; }

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static DWORD WINAPI Thread(void* self);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void HideCancel();
  void Terminate();
  bool ThreadRunning() const;

  Job m_job;
  bool m_cancellable;
  HWND m_hwnd = nullptr;
  HANDLE m_thread = nullptr;
  std::atomic<bool> m_abort{false};
  std::atomic<bool> m_running{false};
};

}  // namespace kavo::shell

// The drive loader of the drive-listing, drive-health, imaging and cloning pages: the system is
// asked for its drives on a thread of the loader's own, so the page keeps answering meanwhile,
// and what it reports comes back to the page's window with a synchronous message, handled on the
// page's thread. A page that goes while its load runs drops the answer.
#pragma once

#include <cstdint>
#include <functional>

#include "disk/drive_records.h"
#include "partition/drive_rows.h"
#include "shell/shell_context.h"

namespace kavo::shell {

inline constexpr wchar_t kLoadingDrivesText[] = L"Please wait while loading drives...";

// What one load found: the drive-list rows or the drive records it enumerated, and what the
// system said on the way.
struct DriveLoad {
  DriveList rows;
  DriveRecords records;
  platform::SystemNotices notices;
};

class CDriveLoader {
 public:
  using Enumerate = std::function<void(DriveLoad&)>;  // on the loader thread
  using Done = std::function<void(DriveLoad&)>;       // on the page's thread

  // The loader's answer reaches the page as `message`. With `holdsFrame` the main window is
  // disabled while a load runs.
  CDriveLoader(ShellContext& context, UINT message, bool holdsFrame)
      : m_context(context), m_message(message), m_holdsFrame(holdsFrame) {}
  CDriveLoader(const CDriveLoader&) = delete;
  CDriveLoader& operator=(const CDriveLoader&) = delete;
  ~CDriveLoader() { Stop(); }

  // Runs `enumerate` on a new thread for `page`; `done` takes what it found, then the system's
  // notices are shown. Without a thread `done` gets an empty load at once.
  void Start(HWND page, Enumerate enumerate, Done done);
  // The page hands every message here first: true for the loader's answer (handled). The
  // page's WM_DESTROY stops a running load and goes on to the page.
  bool Receive(UINT message, WPARAM wParam, LPARAM lParam);
  // Drops a running load's answer and gives the main window back.
  void Stop();
  bool Loading() const { return m_loading; }

  // The WM_PAINT of a page that lists drives: `page` white and, while a load runs, the wait text
  // centred on one line over it less its bottom 140 pixels, in the page font.
  void PaintPage(HWND page) const;
  // While a load runs: the wait text from (x, y), in the font selected into `dc`.
  void PaintAt(HDC dc, int x, int y) const;

 private:
  void Finish(DriveLoad& load);
  void SetFrameEnabled(bool enabled) const;

  ShellContext& m_context;
  UINT m_message;
  bool m_holdsFrame;
  bool m_loading = false;
  uintptr_t m_loadId = 0;
  Done m_done;
};

}  // namespace kavo::shell

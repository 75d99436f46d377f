// The drive-health page: a splitter with the drive table (one row per physical drive) above the
// attribute table of the drive the user selects. The drives and their SMART data are read on a
// loader thread of the page's own, so the window keeps answering while the drives are asked.
#pragma once

#include <cstdint>
#include <memory>

#include "disk/drive_records.h"
#include "shell/shell_context.h"
#include "shell/splitter.h"

namespace kavo::shell {

// To the attribute view: show the drive record in lParam (null: none).
inline constexpr UINT UM_SHOW_DRIVE_ATTRIBUTES = WM_USER + 4001;  // 5025

// The drive table, the splitter's top pane.
class CLeftListView final : public Window {
 public:
  void Fill(const DriveRecords& records);
  HWND List() const { return m_list; }

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // Sends the record of the selection mark to the splitter's other pane.
  void SendSelected();

  HWND m_list = nullptr;
};

// The attribute table of one drive, the splitter's bottom pane. A drive whose SMART data could
// not be read shows the empty table with a line that says so.
class CRightListView final : public Window {
 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Show(const DriveRecord* record);
  void Layout();

  HWND m_list = nullptr;
  HWND m_unread = nullptr;  // "SMART: N/A" over the empty table
};

class CDriveHealthWnd final : public Window {
 public:
  explicit CDriveHealthWnd(ShellContext& context) : m_context(context) {}
  // A page closed while its loader runs gives the frame back.
  ~CDriveHealthWnd() override;

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void StartLoad();
  void OnFilled(WPARAM loadId, LPARAM result);
  void Paint();
  void SetFrameEnabled(bool enabled);

  ShellContext& m_context;
  DriveRecords m_records;
  std::unique_ptr<CExtndSplitterWnd> m_splitter;
  CLeftListView* m_drives = nullptr;
  bool m_loading = false;
  uintptr_t m_loadId = 0;
};

}  // namespace kavo::shell

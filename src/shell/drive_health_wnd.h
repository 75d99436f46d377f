// The drive-health page: two tabs, the first a splitter with the drive table (one row per physical
// drive) above the attribute table of the drive the user selects, the second the other
// properties of that drive. The drives and their SMART data are read by the page's drive loader,
// so the window keeps answering while the drives are asked.
#pragma once

#include <cstdint>
#include <memory>

#include "base/messages.h"
#include "disk/drive_records.h"
#include "shell/drive_loader.h"
#include "shell/shell_context.h"
#include "shell/splitter.h"
#include "shell/tab_ctrl.h"

namespace kavo::shell {

// To the attribute view and the properties window: show the drive record in lParam (null: none).
inline constexpr UINT UM_SHOW_DRIVE_ATTRIBUTES = WM_USER + 4001;  // 5025

// The drive table, the splitter's top pane.
class CLeftListView final : public Window {
 public:
  void Fill(const DriveRecords& records);
  HWND List() const { return m_list; }
  // A window told of the selected drive besides the splitter's other pane.
  void AlsoTell(HWND window) { m_alsoTell = window; }

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // Sends the record of the selection mark to the splitter's other pane.
  void SendSelected();

  HWND m_list = nullptr;
  HWND m_alsoTell = nullptr;
};

// A pane whose table shows the drive record sent to it with UM_SHOW_DRIVE_ATTRIBUTES.
class CDriveRecordView : public Window {
 protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Empties the table and shows `record` in it (null: none).
  virtual void Show(const DriveRecord* record) = 0;
  // The table fills the pane.
  virtual void Layout();

  HWND m_list = nullptr;
};

// The attribute table of one drive, the splitter's bottom pane. A drive whose SMART data could
// not be read shows the empty table with a line that says so.
class CRightListView final : public CDriveRecordView {
 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Show(const DriveRecord* record) override;
  void Layout() override;

 private:
  HWND m_unread = nullptr;  // "SMART: N/A" over the empty table
};

// What the selected drive's record holds besides its SMART attributes, as a table of names and
// values; empty until a drive is selected.
class CExtraPoprtiesWnd final : public CDriveRecordView {
 protected:
  void OnCreated() override;
  void Show(const DriveRecord* record) override;
};

inline constexpr wchar_t kSmartTabTitle[] = L"SMART Attributes";
inline constexpr wchar_t kPropertiesTabTitle[] = L"Drive Properties";

class CDriveHealthWnd final : public Window {
 public:
  explicit CDriveHealthWnd(ShellContext& context)
      : m_context(context), m_loader(context, UM_FILL_LIST, true) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnFilled(DriveLoad& load);

  ShellContext& m_context;
  CDriveLoader m_loader;
  // The tables' items point at the records, and the pages are children of the tab control:
  // the windows go first.
  DriveRecords m_records;
  std::unique_ptr<CXTabCtrl> m_tabs;
  std::unique_ptr<CExtndSplitterWnd> m_splitter;
  std::unique_ptr<CExtraPoprtiesWnd> m_properties;
  CLeftListView* m_drives = nullptr;
};

}  // namespace kavo::shell

#include "shell/base_wnd.h"

#include "base/messages.h"
#include "base/operation_codes.h"
#include "shell/cloning_wnd.h"
#include "shell/drive_health_wnd.h"
#include "shell/drive_listing_wnd.h"
#include "shell/home_wnd.h"
#include "shell/imaging_wnd.h"
#include "shell/results_wnd.h"
#include "shell/scan_wnd.h"
#include "shell/splash_wnd.h"
#include "shell/strip_wnd.h"
#include "shell/tree_selection_wnd.h"

namespace kavo::shell {

namespace {

constexpr uint32_t kKeep = 0;  // the operation is left as it is

struct PageRow {
  UINT message;
  uint32_t operation;
  const wchar_t* command;  // null: unchanged
  const wchar_t* page;
  const wchar_t* bar;  // null: unchanged
  // The page's name on a command bar it keeps from the page before; null: the bar's own.
  const wchar_t* title = nullptr;
};

constexpr PageRow kPageTable[] = {
    {UM_FORMATTED_RECOVERY, kOpFormattedRecovery, L"CDriveListingCmdWnd", L"CDriveListingWnd",
     L"CDriveListSBar"},
    {UM_PARTITION_RECOVERY, kOpPartitionRecovery, L"CDriveListingCmdWnd", L"CDriveListingWnd",
     L"CDriveListSBar"},
    {UM_DELETED_RECOVERY, kOpDeletedRecovery, L"CDriveListingCmdWnd", L"CDriveListingWnd",
     L"CDriveListSBar"},
    {UM_ADVANCE_OPTION, kOpAdvanceOption, L"CSplashCmdWnd", L"CSplashWnd", L"CHomeSBar"},
    {UM_GO_HOME, kKeep, L"CHomeCmdWnd", L"CHomeWnd", L"CHomeSBar"},
    {UM_SHOW_SCAN, kKeep, L"CScanCmdWnd", L"CScanWnd", L"CScanSBar"},
    {UM_SHOW_SCAN_PAGE, kKeep, L"CScanCmdWnd", L"CScanWnd", L"CScanSBar"},
    {UM_SHOW_DRIVES, kKeep, L"CDriveListingCmdWnd", L"CDriveListingWnd", L"CDriveListSBar"},
    {UM_SHOW_RESULTS, kKeep, L"CTreeListCmdWnd", L"CTreeListWnd", L"CTreeListSBar"},
    {UM_DISK_IMAGING, kOpDiskImaging, nullptr, L"CImagingWnd", L"CImagingSBar", L"Disk Imaging"},
    {UM_DISK_CLONING, kOpDiskCloning, nullptr, L"CCloningWnd", L"CCloningSBar", L"Disk Cloning"},
    {UM_DRIVE_HEALTH, kKeep, nullptr, L"CDriveHealthWnd", nullptr, L"Drive Health"},
    {UM_SELECT_FORMATS, kKeep, L"CTreeSelectionCmdWnd", L"CTreeSelectionWnd",
     L"CTreeSelectionSBar"},
    {UM_RESULTS_BACK, kKeep, L"CDriveListingCmdWnd", L"CDriveListingWnd", L"CDriveListSBar"},
};

// The window object for the page, command bar or button bar class `name`; null for a class this
// program does not have.
std::unique_ptr<Window> NewPageWindow(std::wstring_view name, ShellContext& context) {
  if (name == L"CHomeWnd") return std::make_unique<CHomeWnd>(context);
  if (name == L"CSplashWnd") return std::make_unique<CSplashWnd>(context);
  if (name == L"CHomeCmdWnd") return std::make_unique<CStripWnd>(L"Select a recovery option");
  if (name == L"CSplashCmdWnd") return std::make_unique<CStripWnd>(L"Advance Option");
  if (name == L"CHomeSBar") return std::make_unique<CStripWnd>(L"");
  if (name == L"CScanWnd") return std::make_unique<CScanWnd>(context);
  if (name == L"CScanCmdWnd") return std::make_unique<CScanCmdWnd>(context);
  if (name == L"CScanSBar") return std::make_unique<CScanSBar>(context);
  if (name == L"CTreeSelectionWnd") return std::make_unique<CTreeSelectionWnd>(context);
  if (name == L"CTreeSelectionCmdWnd") return std::make_unique<CTreeSelectionCmdWnd>(context);
  if (name == L"CTreeSelectionSBar") return std::make_unique<CTreeSelectionSBar>(context);
  if (name == L"CDriveListingWnd") return std::make_unique<CDriveListingWnd>(context);
  if (name == L"CDriveListingCmdWnd") return std::make_unique<CDriveListingCmdWnd>(context);
  if (name == L"CDriveListSBar") return std::make_unique<CDriveListSBar>(context);
  if (name == L"CDriveHealthWnd") return std::make_unique<CDriveHealthWnd>(context);
  if (name == L"CImagingWnd") return std::make_unique<CImagingWnd>(context);
  if (name == L"CImagingSBar") return std::make_unique<CImagingSBar>(context);
  if (name == L"CCloningWnd") return std::make_unique<CCloningWnd>(context);
  if (name == L"CCloningSBar") return std::make_unique<CCloningSBar>(context);
  if (name == L"CTreeListWnd") return std::make_unique<CTreeListWnd>(context);
  if (name == L"CTreeListCmdWnd") return std::make_unique<CTreeListCmdWnd>(context);
  if (name == L"CTreeListSBar") return std::make_unique<CTreeListSBar>(context);
  return nullptr;
}

const PageRow* RowFor(UINT message) {
  for (const PageRow& row : kPageTable) {
    if (row.message == message) return &row;
  }
  return nullptr;
}

}  // namespace

void CBaseWnd::OnCreated() {
  const RECT none{};
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
  m_commands.Create(Handle(), L"CActiveToolCmdWnd", style, none);
  m_pages.Create(Handle(), L"CActiveToolWnd", style, none);
  m_bars.Create(Handle(), L"CSBar", style, none);
  const RECT rect = ClientRect(Handle());
  Layout(rect.right, rect.bottom);
  Show(L"CHomeCmdWnd", L"CHomeWnd", L"CHomeSBar");
}

void CBaseWnd::Layout(int width, int height) {
  MoveWindow(m_commands.Handle(), 0, 0, width, 30, TRUE);
  MoveWindow(m_pages.Handle(), 0, 30, width, height > 70 ? height - 70 : 0, TRUE);
  MoveWindow(m_bars.Handle(), 0, height > 35 ? height - 35 : 0, width, 35, TRUE);
}

void CBaseWnd::Show(const wchar_t* command, const wchar_t* page, const wchar_t* bar) {
  if (command != nullptr) m_commands.Replace(NewPageWindow(command, m_context), command);
  m_pages.Replace(NewPageWindow(page, m_context), page);
  if (bar != nullptr) m_bars.Replace(NewPageWindow(bar, m_context), bar);
}

void CBaseWnd::UpdateSideStrip() {
  const HWND strip = FindWindowExW(GetParent(Handle()), nullptr, nullptr, L"CPersistWnd");
  if (strip != nullptr) SendMessageW(strip, UM_SIDE_STRIP, 0, 0);
}

LRESULT CBaseWnd::PassToPage(UINT message, WPARAM wParam, LPARAM lParam) {
  Window* page = m_pages.Current();
  return page != nullptr ? SendMessageW(page->Handle(), message, wParam, lParam) : 0;
}

LRESULT CBaseWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const PageRow* row = RowFor(message)) {
    if (row->operation != kKeep) operation = row->operation;
    Show(row->command, row->page, row->bar);
    if (row->title != nullptr) {
      if (auto* strip = dynamic_cast<CStripWnd*>(m_commands.Current())) strip->SetTitle(row->title);
    }
    // Next of the format page and Back of the results page leave the strip as it was.
    if (message != UM_SHOW_SCAN_PAGE && message != UM_RESULTS_BACK) UpdateSideStrip();
    return 0;
  }
  const std::wstring page = CurrentPage();
  switch (message) {
    case WM_SIZE: Layout(LOWORD(lParam), HIWORD(lParam)); return 0;
    case UM_PAGE_REFRESH: return PassToPage(message, wParam, lParam);
    case UM_COPY_BACK:
      if (page == L"CImagingWnd" || page == L"CCloningWnd") {
        return OnMessage(UM_ADVANCE_OPTION, 0, 0);
      }
      return 0;
    case UM_COPY_START:
      if (page == L"CImagingWnd" || page == L"CCloningWnd") return OnMessage(UM_SHOW_SCAN, 0, 0);
      return 0;
    case UM_LOAD_IMAGE:
      return page == L"CDriveListingWnd" ? PassToPage(message, wParam, lParam) : 0;
    case UM_SCAN_LOADED: return OnMessage(UM_SHOW_RESULTS, 0, 0);
    case UM_PARTITIONS_LOADED: return PassToPage(UM_PAGE_REFRESH, 0, 0);
    case UM_VIEWER_NOTICE: return PassToPage(message, wParam, lParam);
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace kavo::shell

#include "shell/main_frame.h"

#include <commdlg.h>
#include <dbt.h>
#include <shellapi.h>

#include <ctime>
#include <filesystem>
#include <optional>

#include "base/messages.h"
#include "platform/program_folder.h"
#include "recovery/partition_list.h"
#include "recovery/scan_info.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kSaveScanOnClose[] =
    L"Would you like to save current scan info?  It could be reloaded later. ";
constexpr wchar_t kSaveScanOnHome[] =
    L"Would you like to save current scan info?  It could be reloaded later.";
constexpr wchar_t kSavePartitions[] = L"Do you want to save these partitions for future use?";
constexpr UINT kFreeOldTrees = WM_APP + 0x312;
constexpr wchar_t kInProgress[] =
    L"An operation is in progress. Please cancel the current process.";

// The device-interface classes whose arrival and removal refresh the drive list: USB devices,
// disks, HID, and three more classes of storage and volume devices.
constexpr GUID kNotifiedClasses[] = {
    {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}},
    {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
    {0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}},
    {0x219D0508, 0x57A8, 0x4FF5, {0x97, 0xA1, 0xBD, 0x86, 0x58, 0x7C, 0x6C, 0x7E}},
    {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}},
};

// A save dialog proposing `format` (a strftime format) filled with the local time; the chosen
// path gets `extension` unless it ends with exactly that text. Nothing when the user cancels.
std::optional<std::filesystem::path> AskWhereToSave(HWND owner, const wchar_t* filterName,
                                                    const wchar_t* pattern, const wchar_t* format,
                                                    std::u16string_view extension) {
  std::wstring filter = std::wstring(filterName) + L'\0' + pattern + L'\0' + L'\0';
  std::wstring file(32768, L'\0');
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  wcsftime(file.data(), MAX_PATH, format, &local);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  // The file is new as a rule, so its name need not exist yet.
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&ofn)) return std::nullopt;
  return WithExtension(std::filesystem::path(std::wstring(file.c_str())), extension);
}

}  // namespace

void CMainFrame::OnSaveScan() {
  const std::optional<std::filesystem::path> path =
      AskWhereToSave(Handle(), L"Norvel Scan Info(*.qsv)", L"*.qsv",
                     L"Scan Info File %B %d, %Y (%H %M %S).qsv", u".qsv");
  if (!path) return;
  const Session& session = m_context.session;
  const ScanInfoHeader header = ScanInfoHeaderFor(m_router.operation, session.currentSource.get());
  // The writer tells the user of a failure itself.
  if (SaveScanInfo(*path, header, session.treeRoot.get(), m_context.prompter)) {
    Ask(m_context, L"Scan info saved successfully.", L"Success", PromptIcon::Information,
        PromptButtons::Ok);
  }
}

void CMainFrame::OnSavePartitions() {
  const std::optional<std::filesystem::path> path =
      AskWhereToSave(Handle(), L"Partition File (*.psi)", L"*.psi",
                     L"Partition File %B %d, %Y (%H %M %S).psi", u".psi");
  if (!path) return;
  if (SavePartitionList(*path, static_cast<uint8_t>(m_router.operation),
                        m_context.session.foundPartitions, m_context.prompter)) {
    Ask(m_context, L"Partition info saved successfully.", L"Success", PromptIcon::Information,
        PromptButtons::Ok);
  }
}

void CMainFrame::OnJobResults(NodePtr* tree) {
  // The page showing the old tree goes before that tree does: its window is destroyed as the
  // router shows the results, its object when its holder next runs, and the tree after both.
  m_oldTrees.push_back(std::move(m_context.session.treeRoot));
  m_context.session.treeRoot = std::move(*tree);
  SendMessageW(m_router.Handle(), UM_SHOW_RESULTS, 0, 0);
  PostMessageW(Handle(), kFreeOldTrees, 0, 0);
}

bool CMainFrame::CreateFrame() {
  const RECT rect{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT + kWidth, CW_USEDEFAULT + kHeight};
  m_context.router = &m_router;
  if (!Create(nullptr, kProgramName,
              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, rect)) {
    return false;
  }
  m_context.frame = Handle();
  m_context.prompter.owner = Handle();
  return true;
}

void CMainFrame::OnCreated() {
  for (const GUID& cls : kNotifiedClasses) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    // The members and a one-unit name, without the structure's tail padding.
    filter.dbcc_size = 30;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = cls;
    if (HDEVNOTIFY n =
            RegisterDeviceNotificationW(Handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE)) {
      m_notifications.push_back(n);
    }
  }
  const RECT client = ClientRect(Handle());
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
  m_strip.Create(Handle(), L"CPersistWnd", style, {0, 0, client.right, 30});
  m_router.Create(Handle(), L"CBaseWnd", style, {0, 30, client.right, client.bottom});
  SendMessageW(m_strip.Handle(), UM_SIDE_STRIP, 0, 0);
}

bool CMainFrame::AskToSavePartitions() {
  if (m_router.CurrentPage() != L"CDriveListingWnd" || m_context.session.foundPartitions.empty()) {
    return false;
  }
  if (Ask(m_context, kSavePartitions, nullptr, PromptIcon::Information, PromptButtons::YesNo) ==
      PromptAnswer::Yes) {
    SendMessageW(Handle(), UM_SAVE_PARTITIONS, 0, 0);
  }
  return true;
}

void CMainFrame::OnClose() {
  const std::wstring page = m_router.CurrentPage();
  if (page.empty()) return;
  if (page == L"CScanWnd") {
    Ask(m_context, kInProgress, L"Information", PromptIcon::Information, PromptButtons::Ok);
    return;
  }
  if (page == L"CTreeListWnd") {
    if (Ask(m_context, kSaveScanOnClose, nullptr, PromptIcon::None, PromptButtons::YesNo) ==
        PromptAnswer::Yes) {
      SendMessageW(Handle(), UM_SAVE_SCAN, 0, 0);
    }
  } else {
    AskToSavePartitions();
  }
  SendMessageW(Handle(), UM_CLOSE_APP, 0, 0);
}

void CMainFrame::OnHome() {
  AskToSavePartitions();
  if (m_router.CurrentPage() == L"CTreeListWnd" &&
      Ask(m_context, kSaveScanOnHome, nullptr, PromptIcon::Information, PromptButtons::YesNo) ==
          PromptAnswer::Yes) {
    SendMessageW(Handle(), UM_SAVE_SCAN, 0, 0);
  }
  m_context.session.foundPartitions.clear();
  m_context.driveRows.clear();
  m_context.imageRow.reset();
  m_context.session.foundVolumes.clear();
  // The results page may still draw its tree until the home page replaces it.
  m_oldTrees.push_back(std::move(m_context.session.treeRoot));
  SendMessageW(m_router.Handle(), UM_GO_HOME, 0, 0);
  PostMessageW(Handle(), kFreeOldTrees, 0, 0);
  ShowWindow(Handle(), SW_SHOW);
  SetWindowLongPtrW(Handle(), GWL_STYLE,
                    GetWindowLongPtrW(Handle(), GWL_STYLE) | WS_THICKFRAME | WS_MAXIMIZEBOX);
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  // The thicker frame leaves a smaller client area: the pages are laid out again over all of it.
  const RECT client = ClientRect(Handle());
  SendMessageW(Handle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

void CMainFrame::OnHelp() {
  const std::wstring help = platform::ProgramFolder().wstring() + L"Kavo.chm";
  if (!std::filesystem::exists(std::filesystem::path(help))) {
    const std::wstring text = L"The help file " + help + L" was not found.";
    Ask(m_context, text.c_str(), nullptr, PromptIcon::Warning, PromptButtons::Ok);
    return;
  }
  ShellExecuteW(Handle(), L"open", help.c_str(), nullptr, nullptr, SW_SHOW);
}

LRESULT CMainFrame::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      MoveWindow(m_strip.Handle(), 0, 0, LOWORD(lParam), 30, TRUE);
      MoveWindow(m_router.Handle(), 0, 30, LOWORD(lParam),
                 HIWORD(lParam) > 30 ? HIWORD(lParam) - 30 : 0, TRUE);
      return 0;
    case WM_CLOSE: OnClose(); return 0;
    case UM_CLOSE_APP: DestroyWindow(Handle()); return 0;
    case UM_SAVE_SCAN: OnSaveScan(); return 0;
    case UM_SAVE_PARTITIONS: OnSavePartitions(); return 0;
    case UM_JOB_RESULTS: OnJobResults(reinterpret_cast<NodePtr*>(lParam)); return 0;
    case kFreeOldTrees:
      if (FreeNowOrLater(Handle(), kFreeOldTrees)) m_oldTrees.clear();
      return 0;
    case WM_TIMER:
      if (wParam == kFreeOldTrees) return OnMessage(kFreeOldTrees, 0, 0);
      return Window::OnMessage(message, wParam, lParam);
    case WM_COMMAND:
      if (LOWORD(wParam) == kHomeCommand) OnHome();
      if (LOWORD(wParam) == kHelpCommand) OnHelp();
      return 0;
    case WM_DEVICECHANGE:
      if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) {
        SendMessageW(m_router.Handle(), UM_PAGE_REFRESH, 0, 0);
      }
      return TRUE;
    case WM_COPYDATA:
      // The viewer's one request: the next picture of the folder.
      SendMessageW(m_router.Handle(), UM_VIEWER_NOTICE, 0, 0);
      return TRUE;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace kavo::shell

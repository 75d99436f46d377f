#include "shell/drive_listing_wnd.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/messages.h"
#include "disk/disk.h"
#include "disk/volume.h"
#include "partition/drive_list_view.h"
#include "recovery/partition_list.h"
#include "recovery/scan_info.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kImageFilter[] =
    L"Image File (*.img)|*.img|*.ctr|*.ctr|*.dd|*.dd|*.dat|*.dat|*.vhd|*.vhd|*.vdi|*.vdi|*.001|"
    L"*.001|*.vmdk|*.vmdk|*.vhdx|*.vhdx|*.qcow2|*.qcow2|*.qcow|*.qcow|*.e01|*.e01|*.raw|*.raw|"
    L"*.bin|*.bin|All Files (*.*)|*.*||";
constexpr wchar_t kScanInfoFilter[] = L"Norvel Scan Info (*.qsv)|*.qsv||";
constexpr wchar_t kPartitionListFilter[] = L"Partition Info (*.psi)|*.psi||";
constexpr wchar_t kConnectDrive[] =
    L"Please connect the appropriate drive whose scan info you want to open.";
constexpr UINT kListId = 1;

struct ColumnLayout {
  int width;
  int format;
};
constexpr ColumnLayout kColumns[] = {
    {300, LVCFMT_LEFT}, {200, LVCFMT_RIGHT}, {200, LVCFMT_CENTER}, {200, LVCFMT_CENTER}};

// An open dialog for an existing file; `filter` is written with '|' between its parts.
std::optional<std::wstring> AskForFile(HWND owner, const wchar_t* filter, const wchar_t* initial) {
  std::wstring parts(filter);
  for (wchar_t& c : parts) c = c == L'|' ? L'\0' : c;
  std::wstring file(32768, L'\0');
  if (initial != nullptr) file.replace(0, wcslen(initial), initial);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = parts.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags =
      OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return std::wstring(file.c_str());
}

// The shell's small icon for a row: a volume's own, an image file's by its type, the system
// drive's for drives and partitions.
int IconOf(const DriveListEntry& entry) {
  SHFILEINFOW info{};
  std::wstring path;
  UINT flags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
  DWORD attributes = 0;
  if (entry.kind == SourceKind::LogicalDrive) {
    path = Wide(entry.secondText) + L"\\";
  } else if (entry.kind == SourceKind::ImageFile) {
    path = Wide(entry.name);
    flags |= SHGFI_USEFILEATTRIBUTES;
    attributes = FILE_ATTRIBUTE_NORMAL;
  } else {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    path = std::wstring(windows).substr(0, 3);
  }
  if (SHGetFileInfoW(path.c_str(), attributes, &info, sizeof info, flags) == 0) return -1;
  return info.iIcon;
}

}  // namespace

// ---- the page ----

void CDriveListingWnd::OnCreated() {
  // Back on the list, an advanced search chosen on the way to an earlier scan no longer holds.
  if (m_context.router != nullptr) m_context.router->advancedSearch = 0;
  const RECT rect = ClientRect(Handle());
  m_list = CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
      WS_CHILD | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS, 0, 0,
      rect.right, rect.bottom, Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kListId)),
      GetModuleHandleW(nullptr), nullptr);
  ListView_SetExtendedListViewStyle(m_list, LVS_EX_FULLROWSELECT);
  for (int i = 0; i < 4; ++i) {
    std::wstring title = Wide(kDriveListColumns[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = kColumns[i].format;
    column.cx = kColumns[i].width;
    column.pszText = title.data();
    column.iSubItem = i;
    ListView_InsertColumn(m_list, i, &column);
  }
  SHFILEINFOW info{};
  const auto images = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  if (images != nullptr) ListView_SetImageList(m_list, images, LVSIL_SMALL);
  StartLoad();
}

const DriveListEntry* CDriveListingWnd::SelectedEntry() const {
  if (m_list == nullptr || m_loader.Loading()) return nullptr;
  const int mark = ListView_GetSelectionMark(m_list);
  if (mark < 0) return nullptr;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = mark;
  if (!ListView_GetItem(m_list, &item)) return nullptr;
  return reinterpret_cast<const DriveListEntry*>(item.lParam);
}

void CDriveListingWnd::StartLoad() {
  if (m_loader.Loading()) {
    m_reloadWanted = true;
    return;
  }
  // The items point at the rows; they go before any row does.
  ListView_DeleteAllItems(m_list);
  ShowWindow(m_list, SW_HIDE);
  InvalidateRect(Handle(), nullptr, TRUE);
  const uint32_t operation = m_context.router->operation;
  m_loader.Start(
      Handle(),
      [operation](DriveLoad& load) {
        if (operation == kOpPartitionRecovery) {
          EnumeratePhysicalRows(load.rows, load.notices);
        } else if (operation == kOpFormattedRecovery || operation == kOpDeletedRecovery) {
          EnumerateLogicalRows(load.rows, load.notices);
        }
      },
      [this](DriveLoad& load) {
        m_context.driveRows = std::move(load.rows);
        Fill();
      });
}

void CDriveListingWnd::Fill() {
  ListView_DeleteAllItems(m_list);
  // Group view where the list view has it; without it the items stand in the same order.
  ListView_RemoveAllGroups(m_list);
  ListView_EnableGroupView(m_list, TRUE);
  for (const DriveListGroup& g : kDriveListGroups) {
    std::wstring title = Wide(g.title);
    LVGROUP group{};
    group.cbSize = sizeof group;
    group.mask = LVGF_HEADER | LVGF_GROUPID;
    group.pszHeader = title.data();
    group.iGroupId = g.id;
    ListView_InsertGroup(m_list, -1, &group);
  }
  const std::vector<DriveListItem> items = DriveListItems(DriveListChain(
      m_context.driveRows, m_context.imageRow.get(), m_context.session.foundPartitions));
  int index = 0;
  for (const DriveListItem& it : items) {
    std::wstring text = Wide(it.columns[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE | LVIF_GROUPID;
    item.iItem = index;
    item.pszText = text.data();
    item.lParam = reinterpret_cast<LPARAM>(it.entry);
    item.iImage = IconOf(*it.entry);
    item.iGroupId = it.group;
    const int at = ListView_InsertItem(m_list, &item);
    if (at < 0) continue;
    for (int c = 1; c < 4; ++c) {
      std::wstring cell = Wide(it.columns[c]);
      ListView_SetItemText(m_list, at, c, cell.data());
    }
    ++index;
  }
  ShowWindow(m_list, SW_SHOW);
  InvalidateRect(Handle(), nullptr, TRUE);
}

void CDriveListingWnd::LoadImage() {
  const std::optional<std::wstring> path = AskForFile(Handle(), kImageFilter, nullptr);
  if (!path) return;
  ListView_DeleteAllItems(m_list);
  // The row shows the size of the disk the file holds: a container's virtual disk, else the file.
  CDisk image;
  image.m_nSourceKind = SourceKind::ImageFile;
  std::error_code error;
  uint64_t bytes = std::filesystem::file_size(std::filesystem::path(*path), error);
  if (error) bytes = 0;
  if (image.Open(Utf16(*path))) bytes = image.m_nTotalSectors * image.m_nSectorSize;
  m_context.imageRow = ImageFileRow(Utf16(*path), bytes);
  StartLoad();
}

void CDriveListingWnd::OpenScanInfo() {
  const std::optional<std::wstring> path = AskForFile(Handle(), kScanInfoFilter, L"*.qsv");
  if (!path) return;
  std::optional<LoadedScanInfo> loaded =
      LoadScanInfo(std::filesystem::path(*path), static_cast<uint8_t>(m_context.router->operation),
                   m_context.prompter);
  if (!loaded) return;
  // The scan's source is opened again; a tree whose files cannot be read back is not shown.
  const ScanInfoHeader& header = loaded->header;
  auto source = std::make_unique<CDisk>();
  const std::u16string selector = ScanInfoSelector(header);
  if (IsImageFileSelector(selector)) source->m_nSourceKind = SourceKind::ImageFile;
  if (selector.empty() || !source->Open(selector)) {
    Ask(m_context, kConnectDrive, nullptr, PromptIcon::Warning, PromptButtons::Ok);
    return;
  }
  const auto kind = static_cast<SourceKind>(header.sourceKind);
  source->m_nStartSector = header.startSector.value_or(0);
  if (kind == SourceKind::LogicalDrive || kind == SourceKind::Partition) DetectVolume(*source);
  source->m_nFileSystem = header.fileSystem;
  source->m_nSourceKind = kind;
  Session& session = m_context.session;
  if (session.currentSource) session.currentSource->Close();
  session.currentSource = std::move(source);
  session.treeRoot = std::move(loaded->root);
  SendMessageW(m_context.router->Handle(), UM_SCAN_LOADED, 0, 0);
}

void CDriveListingWnd::OpenPartitionList() {
  const std::optional<std::wstring> path = AskForFile(Handle(), kPartitionListFilter, L"*.psi");
  if (!path) return;
  std::optional<LoadedPartitionList> loaded =
      LoadPartitionList(std::filesystem::path(*path),
                        static_cast<uint8_t>(m_context.router->operation), m_context.prompter);
  if (!loaded) return;
  ListView_DeleteAllItems(m_list);
  m_context.session.foundPartitions = std::move(loaded->rows);
  SendMessageW(m_context.router->Handle(), UM_PARTITIONS_LOADED, 0, 0);
}

LRESULT CDriveListingWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_loader.Receive(message, wParam, lParam)) {
    // A refresh asked for while the load ran starts once it is done.
    if (m_reloadWanted && !m_loader.Loading()) {
      m_reloadWanted = false;
      StartLoad();
    }
    return 0;
  }
  switch (message) {
    case UM_PAGE_REFRESH: StartLoad(); return 0;
    case UM_LOAD_IMAGE: LoadImage(); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kOpenScanInfoCommand) OpenScanInfo();
      if (LOWORD(wParam) == kOpenPartitionListCommand) OpenPartitionList();
      return 0;
    case WM_SIZE: MoveWindow(m_list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    case WM_PAINT: m_loader.PaintPage(Handle()); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_DESTROY: return 0;  // the loader, stopped, gives the frame back
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

// ---- the command bar ----

void CDriveListingCmdWnd::OnCreated() {
  struct Button {
    UINT id;
    const wchar_t* text;
  };
  constexpr Button kButtons[] = {{kRefreshCommand, L"Refresh"},
                                 {kOpenScanInfoCommand, L"Open Scan Info"},
                                 {kLoadImageCommand, L"Load Image"},
                                 {kOpenPartitionListCommand, L"Open Partition List"}};
  int x = 10;
  for (const Button& b : kButtons) {
    CreateNorvelButton(Handle(), b.text, b.id, x, 2, 180, 26);
    x += 190;
  }
}

LRESULT CDriveListingCmdWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto drawn = DrawBar(Handle(), message, wParam, lParam)) return *drawn;
  switch (message) {
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED) break;
      const HWND router = m_context.router->Handle();
      switch (LOWORD(wParam)) {
        case kRefreshCommand: SendMessageW(router, UM_PAGE_REFRESH, 0, 0); return 0;
        case kLoadImageCommand: SendMessageW(router, UM_LOAD_IMAGE, 0, 0); return 0;
        case kOpenScanInfoCommand:
        case kOpenPartitionListCommand:
          if (m_context.router->CurrentPage() == L"CDriveListingWnd") {
            SendMessageW(m_context.router->Page()->Handle(), WM_COMMAND, LOWORD(wParam), 0);
          }
          return 0;
        default: break;
      }
      break;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- the button bar ----

void CDriveListSBar::OnCreated() {
  CreateNorvelButton(Handle(), L"Next", kDrivesNextCommand, 0, 4, 100, 27);
  Place(ClientRect(Handle()).right);
}

void CDriveListSBar::Place(int width) {
  SetWindowPos(GetDlgItem(Handle(), kDrivesNextCommand), nullptr, width > 120 ? width - 120 : 0, 4,
               0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

LRESULT CDriveListSBar::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto drawn = DrawBar(Handle(), message, wParam, lParam)) return *drawn;
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kDrivesNextCommand && HIWORD(wParam) == BN_CLICKED) {
        const DriveListEntry* selected = nullptr;
        if (m_context.router->CurrentPage() == L"CDriveListingWnd") {
          selected = static_cast<CDriveListingWnd*>(m_context.router->Page())->SelectedEntry();
        }
        OpenSelectedSource(m_context, selected);
        return 0;
      }
      break;
    case WM_SIZE: Place(LOWORD(lParam)); return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

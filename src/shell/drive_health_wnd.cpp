#include "shell/drive_health_wnd.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "health/health_tables.h"
#include "health/verdict.h"
#include "shell/controls.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr int kDriveTableHeight = 250;
constexpr UINT kListId = 1;

int FormatOf(ColumnAlign align) {
  switch (align) {
    case ColumnAlign::Right: return LVCFMT_RIGHT;
    case ColumnAlign::Centre: return LVCFMT_CENTER;
    case ColumnAlign::Left: break;
  }
  return LVCFMT_LEFT;
}

// A report list view filling `parent`, with the table's columns, drawn in the Explorer look
// where the system has it; `order` LVS_SORTASCENDING sorts the rows, 0 keeps them as added.
template <size_t N>
HWND CreateTable(HWND parent, const std::array<TableColumn, N>& columns,
                 DWORD order = LVS_SORTASCENDING) {
  const RECT rect = ClientRect(parent);
  const HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | LVS_REPORT |
                                        LVS_SINGLESEL | order | LVS_ALIGNLEFT | LVS_SHOWSELALWAYS,
                                    0, 0, rect.right, rect.bottom, parent,
                                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kListId)),
                                    GetModuleHandleW(nullptr), nullptr);
  if (list == nullptr) return nullptr;
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (size_t i = 0; i < N; ++i) {
    std::wstring title = Wide(columns[i].header);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = FormatOf(columns[i].align);
    // At least the header's width, so that no header is cut in a wider font.
    column.cx = std::max(columns[i].width, ListView_GetStringWidth(list, title.c_str()) + 16);
    column.pszText = title.data();
    column.iSubItem = static_cast<int>(i);
    ListView_InsertColumn(list, static_cast<int>(i), &column);
  }
  // The Explorer theme, through the library loaded at run time: without it the list keeps the
  // classic look.
  if (const HMODULE theme = LoadLibraryW(L"UxTheme.dll")) {
    using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    const auto set = reinterpret_cast<SetTheme>(
        reinterpret_cast<void*>(GetProcAddress(theme, "SetWindowTheme")));
    if (set != nullptr) set(list, L"Explorer", nullptr);
    FreeLibrary(theme);
  }
  return list;
}

// Adds a row of `cells` with `data` as its item data; the list sorts it into place.
void AddRow(HWND list, std::initializer_list<const std::u16string*> cells, LPARAM data) {
  auto cell = cells.begin();
  std::wstring text = Wide(**cell);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = ListView_GetItemCount(list);
  item.pszText = text.data();
  item.lParam = data;
  const int at = ListView_InsertItem(list, &item);
  if (at < 0) return;
  int column = 1;
  for (++cell; cell != cells.end(); ++cell, ++column) {
    std::wstring value = Wide(**cell);
    ListView_SetItemText(list, at, column, value.data());
  }
}

constexpr std::array<TableColumn, 2> kPropertyColumns = {
    {{u"Property", 150, ColumnAlign::Left}, {u"Value", 400, ColumnAlign::Left}}};

struct PropertyRow {
  std::u16string name, value;
};

// What became of the drive's SMART data.
std::u16string SmartState(const DriveRecord& record) {
  if (record.hasNvmeLog) return u"NVMe health log";
  const size_t attributes = SmartAttributes(record.smartArea).size();
  if (attributes > 0) {
    const std::string count = std::to_string(attributes);
    return std::u16string(count.begin(), count.end()) + u" attributes";
  }
  if (record.interfaceType == u"USB") return u"Not asked (USB drive)";
  return VerdictText(HealthVerdict::Unknown);
}

// The verdict with its findings, one after the other.
std::u16string HealthText(const DriveRecord& record) {
  const HealthAssessment assessment = AssessDrive(record);
  std::u16string text = VerdictText(assessment.verdict);
  for (const std::u16string& reason : assessment.reasons) text += u"; " + reason;
  return text;
}

// What a physical drive's record holds, in full (the drive table shortens the model and the size
// and shows only part of the rest).
std::vector<PropertyRow> PropertyRows(const DriveRecord& record) {
  const std::string index = std::to_string(record.driveIndex);
  const std::string bytes = std::to_string(record.size);
  return {{u"Model", record.model},
          {u"Serial Number", record.serialNumber},
          {u"Caption", record.caption},
          {u"Device", record.name},
          {u"Drive Index", std::u16string(index.begin(), index.end())},
          {u"Media Type", record.mediaType},
          {u"Interface", record.nvme ? record.interfaceType + u" (NVMe)" : record.interfaceType},
          {u"Size", std::u16string(bytes.begin(), bytes.end()) + u" bytes"},
          {u"Status", record.status},
          {u"Temperature", TemperatureText(record.temperature)},
          {u"SMART Data", SmartState(record)},
          {u"Health", HealthText(record)}};
}

}  // namespace

// ---- the drive table ----

void CLeftListView::OnCreated() {
  m_list = CreateTable(Handle(), kDriveTableColumns);
}

void CLeftListView::Fill(const DriveRecords& records) {
  ListView_DeleteAllItems(m_list);
  int number = 0;
  for (const DriveRecordPtr& record : records.physical) {
    const DriveTableRow row = DriveTableRowOf(*record, number++);
    AddRow(m_list,
           {&row.number, &row.manufacturer, &row.model, &row.serialNumber, &row.size,
            &row.temperature, &row.status},
           reinterpret_cast<LPARAM>(record.get()));
  }
}

void CLeftListView::SendSelected() {
  const int mark = ListView_GetSelectionMark(m_list);
  if (mark < 0) return;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = mark;
  if (!ListView_GetItem(m_list, &item)) return;
  if (m_alsoTell != nullptr) SendMessageW(m_alsoTell, UM_SHOW_DRIVE_ATTRIBUTES, 0, item.lParam);
  const auto* splitter = dynamic_cast<CExtndSplitterWnd*>(FromHandle(GetParent(Handle())));
  if (splitter == nullptr || splitter->Pane(1) == nullptr) return;
  SendMessageW(splitter->Pane(1)->Handle(), UM_SHOW_DRIVE_ATTRIBUTES, 0, item.lParam);
}

LRESULT CLeftListView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: MoveWindow(m_list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.hwndFrom != m_list) break;
      // A click, and a selection moved with the keyboard, show the selected drive.
      if (header.code == NM_CLICK) SendSelected();
      if (header.code == LVN_ITEMCHANGED) {
        const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change.uChanged & LVIF_STATE) != 0 && (change.uNewState & LVIS_SELECTED) != 0 &&
            (change.uOldState & LVIS_SELECTED) == 0) {
          SendSelected();
        }
      }
      return 0;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- the attribute table ----

// ---- the panes that show a drive record ----

LRESULT CDriveRecordView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: Layout(); return 0;
    case UM_SHOW_DRIVE_ATTRIBUTES: Show(reinterpret_cast<const DriveRecord*>(lParam)); return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

void CDriveRecordView::Layout() {
  const RECT rect = ClientRect(Handle());
  MoveWindow(m_list, 0, 0, rect.right, rect.bottom, TRUE);
}

void CRightListView::OnCreated() {
  m_list = CreateTable(Handle(), kAttributeTableColumns);
  const std::wstring unread = L"SMART: " + Wide(VerdictText(HealthVerdict::Unknown));
  // Above the table, which leaves it unpainted.
  SetWindowLongPtrW(m_list, GWL_STYLE, GetWindowLongPtrW(m_list, GWL_STYLE) | WS_CLIPSIBLINGS);
  m_unread = CreateWindowExW(0, L"STATIC", unread.c_str(), WS_CHILD | SS_LEFT, 0, 0, 0, 0, Handle(),
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowPos(m_unread, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SendMessageW(m_unread, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  Layout();
}

void CRightListView::Layout() {
  CDriveRecordView::Layout();
  RECT header{};
  GetWindowRect(ListView_GetHeader(m_list), &header);
  MoveWindow(m_unread, 10, header.bottom - header.top + 8, 300, 20, TRUE);
}

void CRightListView::Show(const DriveRecord* record) {
  ListView_DeleteAllItems(m_list);
  ShowWindow(m_unread, SW_HIDE);
  if (record == nullptr) return;
  if (record->hasNvmeLog) {
    // An NVMe drive's health log has names and values only: the values stand as raw data.
    const std::u16string none;
    for (const NvmeHealthRow& row : NvmeHealthRows(ParseNvmeHealthLog(record->nvmeLog))) {
      const std::u16string name = row.name;
      AddRow(m_list, {&none, &name, &none, &none, &none, &row.value}, 0);
    }
    return;
  }
  const std::vector<AttributeTableRow> rows = AttributeTableRows(record->smartArea);
  for (const AttributeTableRow& row : rows) {
    AddRow(m_list, {&row.id, &row.name, &row.current, &row.worst, &row.threshold, &row.rawData}, 0);
  }
  if (rows.empty()) ShowWindow(m_unread, SW_SHOW);
}

LRESULT CRightListView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLORSTATIC) {
    // The line stands on the table's own background.
    SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
  }
  return CDriveRecordView::OnMessage(message, wParam, lParam);
}

// ---- the other properties ----

void CExtraPoprtiesWnd::OnCreated() {
  m_list = CreateTable(Handle(), kPropertyColumns, 0);
}

void CExtraPoprtiesWnd::Show(const DriveRecord* record) {
  ListView_DeleteAllItems(m_list);
  if (record == nullptr) return;
  for (const PropertyRow& row : PropertyRows(*record)) AddRow(m_list, {&row.name, &row.value}, 0);
}

// ---- the page ----

void CDriveHealthWnd::OnCreated() {
  // Hidden, with its pages, while the drives load: the page shows the wait text meanwhile.
  m_tabs = std::make_unique<CXTabCtrl>();
  m_tabs->Create(Handle(), L"TAVR_CXTabCtrl", WS_CHILD | WS_CLIPCHILDREN, ClientRect(Handle()));
  const HWND holder = m_tabs->Handle();
  const RECT rect = ClientRect(holder);
  m_splitter =
      std::make_unique<CExtndSplitterWnd>(CExtndSplitterWnd::Split::Rows, kDriveTableHeight);
  if (m_splitter->Create(holder, L"TAVR_CExtndSplitterWnd", WS_CHILD | WS_CLIPCHILDREN, rect)) {
    auto drives = std::make_unique<CLeftListView>();
    CLeftListView* left = drives.get();
    if (m_splitter->CreatePanes(std::move(drives), L"CLeftListView",
                                std::make_unique<CRightListView>(), L"CRightListView")) {
      m_drives = left;
    }
  }
  m_properties = std::make_unique<CExtraPoprtiesWnd>();
  if (m_properties->Create(holder, L"CExtraPoprtiesWnd", WS_CHILD | WS_CLIPCHILDREN, rect)) {
    if (m_drives != nullptr) m_drives->AlsoTell(m_properties->Handle());
  }
  m_tabs->AddTab(kSmartTabTitle, m_splitter->Handle());
  m_tabs->AddTab(kPropertiesTabTitle, m_properties->Handle());
  m_loader.Start(
      Handle(), [](DriveLoad& load) { EnumerateDriveRecords(load.records, true, load.notices); },
      [this](DriveLoad& load) { OnFilled(load); });
}

void CDriveHealthWnd::OnFilled(DriveLoad& load) {
  // The tables' items point at the records: the old ones go only after the items have.
  if (m_drives != nullptr) m_drives->Fill({});
  m_records = std::move(load.records);
  if (m_drives != nullptr) m_drives->Fill(m_records);
  ShowWindow(m_tabs->Handle(), SW_SHOW);
  InvalidateRect(Handle(), nullptr, TRUE);
}

LRESULT CDriveHealthWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_loader.Receive(message, wParam, lParam)) return 0;
  switch (message) {
    case WM_SIZE:
      if (m_tabs) MoveWindow(m_tabs->Handle(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_PAINT: m_loader.PaintPage(Handle()); return 0;
    case WM_ERASEBKGND: return TRUE;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell

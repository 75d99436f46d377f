#include "shell/tree_selection_wnd.h"

#include <shellapi.h>

#include <string>

#include "base/messages.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr int kStateSize = 16;
constexpr UINT_PTR kTreeSubclassId = 2;

// The check-box pictures: 0 none, 1 clear, 2 ticked, 3 partly ticked.
HIMAGELIST MakeStateImages() {
  const HIMAGELIST list = ImageList_Create(kStateSize, kStateSize, ILC_COLOR24, 4, 0);
  if (list == nullptr) return nullptr;
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP strip = CreateCompatibleBitmap(screen, 4 * kStateSize, kStateSize);
  ReleaseDC(nullptr, screen);
  const HGDIOBJ oldBitmap = SelectObject(dc, strip);
  FillColour(dc, {0, 0, 4 * kStateSize, kStateSize}, kWhite);
  const HPEN border = CreatePen(PS_SOLID, 1, kButtonBlue);
  const HPEN tick = CreatePen(PS_SOLID, 2, kButtonBlue);
  const HGDIOBJ oldPen = SelectObject(dc, border);
  for (int i = 1; i < 4; ++i) {
    const int x = i * kStateSize;
    SelectObject(dc, border);
    MoveToEx(dc, x + 2, 2, nullptr);
    LineTo(dc, x + 13, 2);
    LineTo(dc, x + 13, 13);
    LineTo(dc, x + 2, 13);
    LineTo(dc, x + 2, 2);
    if (i == 2) {
      SelectObject(dc, tick);
      MoveToEx(dc, x + 4, 7, nullptr);
      LineTo(dc, x + 7, 10);
      LineTo(dc, x + 12, 4);
    } else if (i == 3) {
      FillColour(dc, {x + 5, 5, x + 11, 11}, kButtonHover);
    }
  }
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBitmap);
  DeleteObject(border);
  DeleteObject(tick);
  DeleteDC(dc);
  ImageList_Add(list, strip, nullptr);
  DeleteObject(strip);
  return list;
}

// The index of the system's small icon for files with `extension` (for folders when empty), and
// the system's small-icon list in `list`.
int SystemIcon(std::u16string_view extension, HIMAGELIST* list) {
  SHFILEINFOW info{};
  const std::wstring name = extension.empty() ? std::wstring(L"folder") : Wide(extension);
  const DWORD attributes = extension.empty() ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  const DWORD_PTR result =
      SHGetFileInfoW(name.c_str(), attributes, &info, sizeof info,
                     SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  if (result == 0) return -1;
  if (list != nullptr) *list = reinterpret_cast<HIMAGELIST>(result);
  return info.iIcon;
}

}  // namespace

HWND CurrentPageWindow(const ShellContext& context) {
  if (context.router == nullptr || context.router->Page() == nullptr) return nullptr;
  return context.router->Page()->Handle();
}

HWND CurrentCommandBar(const ShellContext& context) {
  if (context.router == nullptr) return nullptr;
  const HWND holder =
      FindWindowExW(context.router->Handle(), nullptr, nullptr, L"CActiveToolCmdWnd");
  return holder != nullptr ? GetWindow(holder, GW_CHILD) : nullptr;
}

// ---- CSignatureTreeWnd ----

CSignatureTreeWnd::~CSignatureTreeWnd() {
  Destroy();
}

bool CSignatureTreeWnd::Create(HWND parent, const RECT& rect, HWND notify) {
  m_notify = notify;
  m_hwnd = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"CSignatureTreeWnd",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_LINESATROOT |
                               TVS_HASBUTTONS | TVS_SHOWSELALWAYS,
                           rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                           parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (m_hwnd == nullptr) return false;
  SendMessageW(m_hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  // The check-box style only takes effect when added to a control that already exists.
  SetWindowLongPtrW(m_hwnd, GWL_STYLE, GetWindowLongPtrW(m_hwnd, GWL_STYLE) | TVS_CHECKBOXES);
  m_states = MakeStateImages();
  const auto own = reinterpret_cast<HIMAGELIST>(
      SendMessageW(m_hwnd, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(m_states)));
  // The control's own two-state list, made for the check-box style, is ours to free.
  if (own != nullptr && own != m_states) ImageList_Destroy(own);
  SetWindowSubclass(m_hwnd, &CSignatureTreeWnd::Subclass, kTreeSubclassId,
                    reinterpret_cast<DWORD_PTR>(this));
  Fill();
  return true;
}

HTREEITEM CSignatureTreeWnd::Insert(CatalogueItem& item, HTREEITEM parent, int icon) {
  const std::wstring text = Wide(item.text);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<wchar_t*>(text.c_str());
  insert.item.lParam = reinterpret_cast<LPARAM>(&item);
  insert.item.state = INDEXTOSTATEIMAGEMASK(1);
  insert.item.stateMask = TVIS_STATEIMAGEMASK;
  insert.item.iImage = icon;
  insert.item.iSelectedImage = icon;
  const auto handle = reinterpret_cast<HTREEITEM>(
      SendMessageW(m_hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (handle != nullptr) m_items.emplace_back(handle, &item);
  return handle;
}

void CSignatureTreeWnd::Fill() {
  HIMAGELIST icons = nullptr;
  const int folder = SystemIcon({}, &icons);
  if (icons != nullptr) {
    SendMessageW(m_hwnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(icons));
  }
  CatalogueItem& root = m_catalogue.Root();
  const HTREEITEM rootItem = Insert(root, TVI_ROOT, folder);
  for (const auto& category : root.children) {
    const HTREEITEM categoryItem = Insert(*category, rootItem, folder);
    for (const auto& format : category->children) {
      Insert(*format, categoryItem, SystemIcon(format->iconExtension, nullptr));
    }
  }
  SendMessageW(m_hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(rootItem));
}

void CSignatureTreeWnd::ShowStates() {
  for (const auto& [handle, item] : m_items) {
    TVITEMW tv{};
    tv.mask = TVIF_STATE;
    tv.hItem = handle;
    tv.state = INDEXTOSTATEIMAGEMASK(item->State() + 1u);
    tv.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageW(m_hwnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
  }
  if (m_notify != nullptr) {
    SendMessageW(m_notify, kFormatTreeChanged, reinterpret_cast<WPARAM>(m_hwnd), 0);
  }
}

void CSignatureTreeWnd::Toggle(HTREEITEM handle) {
  for (const auto& [h, item] : m_items) {
    if (h == handle) {
      m_catalogue.Toggle(*item);
      ShowStates();
      return;
    }
  }
}

void CSignatureTreeWnd::SelectAll() {
  m_catalogue.SelectAll();
  ShowStates();
}

void CSignatureTreeWnd::ClearAll() {
  m_catalogue.ClearAll();
  ShowStates();
}

std::vector<std::u16string> CSignatureTreeWnd::SelectedFormats() const {
  std::vector<std::u16string> texts;
  for (const auto& [handle, item] : m_items) {
    if (item->IsFormat() && item->State() != 0) texts.emplace_back(item->text);
  }
  return texts;
}

bool CSignatureTreeWnd::OnCheckBox(LPARAM point, HTREEITEM& hit) const {
  TVHITTESTINFO test{};
  test.pt = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
  hit = reinterpret_cast<HTREEITEM>(
      SendMessageW(m_hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&test)));
  return hit != nullptr && (test.flags & TVHT_ONITEMSTATEICON) != 0;
}

void CSignatureTreeWnd::Destroy() {
  if (m_hwnd != nullptr) {
    // The state pictures are this object's: taken back before the control goes.
    SendMessageW(m_hwnd, TVM_SETIMAGELIST, TVSIL_STATE, 0);
    DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
  }
  if (m_states != nullptr) {
    ImageList_Destroy(m_states);
    m_states = nullptr;
  }
  m_items.clear();
}

LRESULT CALLBACK CSignatureTreeWnd::Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CSignatureTreeWnd*>(data);
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      HTREEITEM hit = nullptr;
      if (self->OnCheckBox(lParam, hit)) {
        SetFocus(hwnd);
        self->Toggle(hit);
        return 0;
      }
      break;
    }
    case WM_LBUTTONUP: {
      // Some versions of the control toggle a box when the button comes up: the catalogue has
      // toggled it already.
      HTREEITEM hit = nullptr;
      if (self->OnCheckBox(lParam, hit)) return 0;
      break;
    }
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) {
        const auto selected =
            reinterpret_cast<HTREEITEM>(SendMessageW(hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (selected != nullptr) self->Toggle(selected);
        return 0;
      }
      break;
    case WM_CHAR:
      if (wParam == L' ') return 0;
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &CSignatureTreeWnd::Subclass, kTreeSubclassId);
      break;
    default: break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// ---- CSignatureContentWnd ----

LRESULT CSignatureContentWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_SIZE) {
    InvalidateRect(Handle(), nullptr, FALSE);
    return 0;
  }
  if (message != WM_PAINT) return Window::OnMessage(message, wParam, lParam);
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(Handle(), &paint);
  const RECT area = ClientRect(Handle());
  FillColour(dc, area, RGB(235, 240, 248));
  // Four file sheets in a row, stretched with the window: one for each kind of format.
  const COLORREF colours[] = {RGB(46, 187, 255), RGB(22, 73, 154), RGB(90, 160, 90),
                              RGB(200, 120, 40)};
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  for (int i = 0; i < 4; ++i) {
    const int left = width * (2 + 9 * i) / 38;
    const int right = left + width * 7 / 38;
    const int top = height / 4 + (i % 2) * height / 16;
    const int bottom = top + height / 2;
    FillColour(dc, {left, top, right, bottom}, kWhite);
    FillColour(dc, {left, top, right, top + height / 12}, colours[i]);
    for (int line = 0; line < 5; ++line) {
      const int y = top + height / 8 + line * height / 14;
      FillColour(dc, {left + width / 60, y, right - width / 60, y + height / 80 + 1},
                 RGB(200, 208, 220));
    }
  }
  EndPaint(Handle(), &paint);
  return 0;
}

// ---- CTreeSelectionWnd ----

void CTreeSelectionWnd::OnCreated() {
  const RECT client = ClientRect(Handle());
  m_tree.Create(Handle(), {0, 0, kTreeWidth, client.bottom}, Handle());
  m_content.Create(Handle(), L"CSignatureContentWnd", WS_CHILD | WS_VISIBLE,
                   {kTreeWidth, 0, client.right, client.bottom});
}

LRESULT CTreeSelectionWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kSelectAllFormats: m_tree.SelectAll(); return 0;
    case kClearAllFormats: m_tree.ClearAll(); return 0;
    case kCountSelectedFormats: return m_tree.CountSelected();
    case kFormatTreeChanged:
      if (const HWND bar = CurrentCommandBar(m_context)) {
        SendMessageW(bar, message, wParam, lParam);
      }
      return 0;
    case WM_SIZE: {
      const int width = LOWORD(lParam);
      const int height = HIWORD(lParam);
      MoveWindow(m_tree.Handle(), 0, 0, width < kTreeWidth ? width : kTreeWidth, height, TRUE);
      MoveWindow(m_content.Handle(), kTreeWidth, 0, width > kTreeWidth ? width - kTreeWidth : 0,
                 height, TRUE);
      return 0;
    }
    case WM_DESTROY:
      // The ticked formats are what the next signature scan looks for: the worker registers
      // their scanners, in tree order, bound to the source it scans.
      m_context.signatureFormats = m_tree.SelectedFormats();
      m_tree.Destroy();
      return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- CTreeSelectionCmdWnd ----

void CTreeSelectionCmdWnd::OnCreated() {
  CreateNorvelButton(Handle(), L"Mark All", kMarkAllCommand, 8, 3, 110, 24);
  CreateNorvelButton(Handle(), L"Unmark All", kUnmarkAllCommand, 124, 3, 110, 24);
  // A new page starts with nothing ticked.
  EnableWindow(GetDlgItem(Handle(), kUnmarkAllCommand), FALSE);
}

LRESULT CTreeSelectionCmdWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto drawn = DrawBar(Handle(), message, wParam, lParam)) return *drawn;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        const UINT id = LOWORD(wParam);
        const HWND page = CurrentPageWindow(m_context);
        if (page != nullptr && id == kMarkAllCommand) SendMessageW(page, kSelectAllFormats, 0, 0);
        if (page != nullptr && id == kUnmarkAllCommand) SendMessageW(page, kClearAllFormats, 0, 0);
      }
      return 0;
    case kFormatTreeChanged: {
      const auto tree = reinterpret_cast<HWND>(wParam);
      const auto root =
          reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
      const UINT state =
          static_cast<UINT>(SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(root),
                                         TVIS_STATEIMAGEMASK)) >>
          12;
      // 1 clear, 2 ticked, 3 partly ticked.
      EnableWindow(GetDlgItem(Handle(), kMarkAllCommand), state != 2);
      EnableWindow(GetDlgItem(Handle(), kUnmarkAllCommand), state != 1);
      return 0;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- CTreeSelectionSBar ----

void CTreeSelectionSBar::OnNext() {
  if (m_context.router == nullptr) return;
  const HWND page = CurrentPageWindow(m_context);
  if (page == nullptr || SendMessageW(page, kCountSelectedFormats, 0, 0) == 0) {
    Ask(m_context, kNoFormatSelected, L"Information", PromptIcon::Information, PromptButtons::Ok);
    return;
  }
  SendMessageW(m_context.router->Handle(), UM_SHOW_SCAN_PAGE, 0, 0);
}

void CTreeSelectionSBar::OnBack() {
  if (m_context.router != nullptr) SendMessageW(m_context.router->Handle(), UM_SHOW_DRIVES, 0, 0);
}

}  // namespace kavo::shell

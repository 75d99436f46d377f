#include "shell/results_wnd.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <memory>

#include "base/messages.h"
#include "platform/device.h"
#include "recovery/extract.h"
#include "recovery/save.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"
#include "shell/res/resource.h"
#include "shell/tree_preparing_dlg.h"
#include "shell/tree_selection_wnd.h"
#include "viewer/viewer_protocol.h"

namespace kavo::shell {

using namespace kavo::viewer;

namespace {

constexpr int kStateSize = 16;
constexpr uint64_t kPreviewLimit = 0xC80000000ull;  // 50 GiB
constexpr wchar_t kPreviewable[][6] = {
    L".BMP", L".PNG", L".GIF", L".JPG", L".JPEG", L".TIFF", L".TIF", L".CRW", L".CR2", L".SRF",
    L".SR2", L".NEF", L".ARW", L".MRW", L".RAF",  L".3FR",  L".DCR", L".KDC", L".K25", L".RAW",
    L".PEF", L".NRW", L".PSD", L".X3F", L".ORF",  L".DNG",  L".WMF", L".ANI", L".PSP", L".PIC",
    L".J6I", L".EPS", L".DPX", L".PIX", L".ALS",  L".FLI",  L".FLC", L".CAM", L".DCM", L".DDS",
    L".ICO", L".ICL", L".JIF", L".KPQ", L".LFF",  L".MNG",  L".SWF"};

std::wstring Wide(std::u16string_view text) {
  return {text.begin(), text.end()};
}
std::u16string Narrow16(const std::wstring& text) {
  return {text.begin(), text.end()};
}

std::wstring Upper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

void Inform(ShellContext& context, const wchar_t* text, const wchar_t* caption = L"Information") {
  Ask(context, text, caption, PromptIcon::Information, PromptButtons::Ok);
}

// The folder of the program's file, with its trailing backslash.
std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  const size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

// The check-box pictures: 0 none, 1 clear, 2 ticked, 3 partly ticked (greyed tick).
HIMAGELIST MakeStateImages() {
  const HIMAGELIST list = ImageList_Create(kStateSize, kStateSize, ILC_COLOR24, 4, 0);
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP strip = CreateCompatibleBitmap(screen, 4 * kStateSize, kStateSize);
  ReleaseDC(nullptr, screen);
  const HGDIOBJ old = SelectObject(dc, strip);
  FillColour(dc, {0, 0, 4 * kStateSize, kStateSize}, kWhite);
  const UINT styles[] = {DFCS_BUTTONCHECK | DFCS_FLAT, DFCS_BUTTONCHECK | DFCS_CHECKED | DFCS_FLAT,
                         DFCS_BUTTON3STATE | DFCS_CHECKED | DFCS_FLAT};
  for (int i = 1; i < 4; ++i) {
    RECT box{i * kStateSize + 2, 2, i * kStateSize + 14, 14};
    DrawFrameControl(dc, &box, DFC_BUTTON, styles[i - 1]);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  ImageList_Add(list, strip, nullptr);
  DeleteObject(strip);
  return list;
}

// The system's small-icon list, with the deleted-entry picture added once as overlay 1.
HIMAGELIST SystemIcons(int& folderIcon) {
  static HIMAGELIST list = nullptr;
  static int folder = 0;
  if (list == nullptr) {
    wchar_t windows[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, windows);
    SHFILEINFOW info{};
    list = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(windows, 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    folder = info.iIcon;
    if (list != nullptr) {
      const auto icon = static_cast<HICON>(LoadImageW(
          GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_DELETED_OVERLAY), IMAGE_ICON, 16, 16, 0));
      const int at = ImageList_AddIcon(list, icon);
      if (at >= 0) ImageList_SetOverlayImage(list, at, 1);
      DestroyIcon(icon);
    }
  }
  folderIcon = folder;
  return list;
}

bool IsFolder(const RecoveredNode& node) {
  return (node.flags & NF_FOLDER) != 0;
}
UINT Overlay(const RecoveredNode& node) {
  return (node.flags & NF_PRESENT) != 0 ? 0 : INDEXTOOVERLAYMASK(1);
}

std::wstring DateText(uint16_t dos) {
  if (dos == 0) return {};
  wchar_t text[16];
  swprintf(text, 16, L"%02u/%02u/%02u", (dos >> 5) & 15u, dos & 31u, (1980u + (dos >> 9)) % 100u);
  return text;
}

HWND Router(const ShellContext& context) {
  return context.router != nullptr ? context.router->Handle() : nullptr;
}

}  // namespace

std::wstring SizeText(uint64_t size) {
  if (size == 0) return L"0 KB";
  const std::wstring digits = std::to_wstring((size + 1024) / 1024);
  wchar_t thousand[8] = L",", grouping[16] = L"3;0";
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousand, 8);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, grouping, 16);
  wchar_t decimal[] = L".";
  NUMBERFMTW format{0, 0, static_cast<UINT>(wcstoul(grouping, nullptr, 10)), decimal, thousand, 1};
  wchar_t out[64] = {};
  if (GetNumberFormatW(LOCALE_USER_DEFAULT, 0, digits.c_str(), &format, out, 64) == 0) {
    return digits + L" KB";
  }
  return std::wstring(out) + L" KB";
}

// ---- TAVR_CNorvelTree ----

void TAVR_CNorvelTree::OnCreated() {
  const RECT r = ClientRect(Handle());
  m_tree = CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"TAVR_CTreeView",
      WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
      0, 0, r.right, r.bottom, Handle(), nullptr, nullptr, nullptr);
  int folder = 0;
  SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_NORMAL,
               reinterpret_cast<LPARAM>(SystemIcons(folder)));
  SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(MakeStateImages()));
}

RecoveredNode* TAVR_CNorvelTree::NodeOf(HTREEITEM item) const {
  TVITEMW tv{};
  tv.mask = TVIF_PARAM | TVIF_HANDLE;
  tv.hItem = item;
  if (item == nullptr || !SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) {
    return nullptr;
  }
  return reinterpret_cast<RecoveredNode*>(tv.lParam);
}

HTREEITEM TAVR_CNorvelTree::ChildItem(HTREEITEM parent, const RecoveredNode* node) {
  InsertChildren(parent);
  for (HTREEITEM i = TreeView_GetChild(m_tree, parent); i != nullptr;
       i = TreeView_GetNextSibling(m_tree, i)) {
    if (NodeOf(i) == node) return i;
  }
  return nullptr;
}

HTREEITEM TAVR_CNorvelTree::ItemOf(const RecoveredNode* folder) {
  std::vector<const RecoveredNode*> way;
  for (const RecoveredNode* n = folder; n != nullptr && n->parent != nullptr; n = n->parent) {
    way.push_back(n);
  }
  HTREEITEM item = TreeView_GetRoot(m_tree);
  for (auto it = way.rbegin(); it != way.rend() && item != nullptr; ++it) {
    Expand(item);
    item = ChildItem(item, *it);
  }
  return item;
}

HTREEITEM TAVR_CNorvelTree::InsertFolder(RecoveredNode* node, HTREEITEM parent) {
  const std::wstring name = node->parent == nullptr ? L"Root" : Wide(NodeName(*node));
  TVINSERTSTRUCTW in{};
  in.hParent = parent;
  in.hInsertAfter = TVI_LAST;
  in.item.mask =
      TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_CHILDREN;
  in.item.pszText = const_cast<wchar_t*>(name.c_str());
  in.item.iImage = in.item.iSelectedImage = m_folderIcon;
  // The expand button stands for folders not yet inserted.
  in.item.cChildren = 0;
  for (const RecoveredNode* c = node->firstChild; c != nullptr && in.item.cChildren == 0;
       c = c->nextSibling) {
    in.item.cChildren = IsFolder(*c) ? 1 : 0;
  }
  in.item.lParam = reinterpret_cast<LPARAM>(node);
  in.item.state = INDEXTOSTATEIMAGEMASK(node->mark + 1) | Overlay(*node);
  in.item.stateMask = TVIS_STATEIMAGEMASK | TVIS_OVERLAYMASK;
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&in)));
}

void TAVR_CNorvelTree::InsertChildren(HTREEITEM item) {
  RecoveredNode* folder = NodeOf(item);
  if (folder == nullptr || !m_filled.insert(folder).second) return;
  for (RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
    if (IsFolder(*c)) InsertFolder(c, item);
  }
}

void TAVR_CNorvelTree::Expand(HTREEITEM item) {
  InsertChildren(item);
  TreeView_Expand(m_tree, item, TVE_EXPAND);
}

void TAVR_CNorvelTree::ShowState(HTREEITEM item) {
  const RecoveredNode* node = NodeOf(item);
  if (node == nullptr) return;
  TreeView_SetItemState(m_tree, item, INDEXTOSTATEIMAGEMASK(node->mark + 1), TVIS_STATEIMAGEMASK);
}

bool TAVR_CNorvelTree::Fill() {
  RecoveredNode* root = m_context.session.treeRoot.get();
  m_totals = {};
  m_filled.clear();
  if (root == nullptr) return true;
  CountMarked(root, m_totals);
  CountAll(root, m_totals);
  SystemIcons(m_folderIcon);
  // The folders of a folder are inserted when it is first opened. Some tree controls validate
  // each item handle by a search of all their items: a million folders inserted at once would
  // take hours there, while the folders a user opens take no time.
  SendMessageW(m_tree, WM_SETREDRAW, FALSE, 0);
  InsertChildren(InsertFolder(root, TVI_ROOT));
  SendMessageW(m_tree, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(m_tree, nullptr, TRUE);
  SendMessageW(Handle(), kShowRoot, 0, 0);
  return true;
}

void TAVR_CNorvelTree::Toggle(HTREEITEM item) {
  RecoveredNode* node = NodeOf(item);
  if (node == nullptr) return;
  MarkSubtree(node, node->mark == 1 ? 0 : 1);
  ShowState(item);
  // The folder items below follow their nodes.
  std::vector<HTREEITEM> items;
  std::vector<HTREEITEM> stack{TreeView_GetChild(m_tree, item)};
  while (!stack.empty()) {
    HTREEITEM i = stack.back();
    stack.pop_back();
    for (; i != nullptr; i = TreeView_GetNextSibling(m_tree, i)) {
      items.push_back(i);
      if (HTREEITEM child = TreeView_GetChild(m_tree, i)) stack.push_back(child);
    }
  }
  // Some tree controls lay out every shown item again on each change of a check box, even with
  // redrawing off: thousands of open folders then took seconds. Hidden, the control does not.
  const bool hide = items.size() > 32 && IsWindowVisible(m_tree);
  if (hide) ShowWindow(m_tree, SW_HIDE);
  for (HTREEITEM i : items) ShowState(i);
  if (hide) ShowWindow(m_tree, SW_SHOW);
  RecomputeAncestors(item);
}

void TAVR_CNorvelTree::RecomputeAncestors(HTREEITEM item) {
  for (HTREEITEM p = TreeView_GetParent(m_tree, item); p != nullptr;
       p = TreeView_GetParent(m_tree, p)) {
    if (RecoveredNode* node = NodeOf(p)) node->mark = MarkFromChildren(*node);
    ShowState(p);
  }
}

void TAVR_CNorvelTree::RowChanged(RecoveredNode* node) {
  const HTREEITEM current = TreeView_GetSelection(m_tree);
  RecoveredNode* folder = NodeOf(current);
  if (folder == nullptr || node == nullptr) return;
  if (IsFolder(*node)) {
    // The row's own toggle is undone; the folder item toggles with its whole subtree.
    node->mark = node->mark == 0 ? 1 : 0;
    if (HTREEITEM child = ChildItem(current, node)) Toggle(child);
  } else {
    folder->mark = MarkFromChildren(*folder);
    ShowState(current);
    RecomputeAncestors(current);
  }
  AfterChange();
}

void TAVR_CNorvelTree::AfterChange() {
  if (m_list != nullptr) SendMessageW(m_list->Handle(), kPaneCommand, kMarksOfNode, 0);
  m_totals.markedFiles = m_totals.markedFolders = m_totals.markedBytes = 0;
  const RecoveredNode* root = m_context.session.treeRoot.get();
  if (root != nullptr) CountMarked(root, m_totals);
  if (const HWND bar = CurrentCommandBar(m_context)) {
    SendMessageW(bar, kMarksChanged, root != nullptr ? root->mark : 0, 0);
  }
}

void TAVR_CNorvelTree::MarkAll() {
  const HTREEITEM root = TreeView_GetRoot(m_tree);
  if (RecoveredNode* node = NodeOf(root)) {
    node->mark = 0;
    Toggle(root);
  }
  AfterChange();
}

void TAVR_CNorvelTree::UnmarkAll() {
  const HTREEITEM root = TreeView_GetRoot(m_tree);
  if (RecoveredNode* node = NodeOf(root)) {
    node->mark = 1;
    Toggle(root);
  }
  AfterChange();
}

void TAVR_CNorvelTree::Search() {
  const RecoveredNode* root = m_context.session.treeRoot.get();
  const RecoveredNode* hit = nullptr;
  std::vector<const RecoveredNode*> stack;
  if (root != nullptr) stack.push_back(root);
  while (!stack.empty() && hit == nullptr) {
    const RecoveredNode* folder = stack.back();
    stack.pop_back();
    std::vector<const RecoveredNode*> folders;
    for (const RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
      if (IsFolder(*c)) {
        folders.push_back(c);
      } else if (hit == nullptr && !m_found.contains(c) &&
                 Upper(Wide(NodeName(*c))).find(m_search, 1) != std::wstring::npos) {
        hit = c;
      }
    }
    stack.insert(stack.end(), folders.rbegin(), folders.rend());
  }
  const HWND bar = CurrentCommandBar(m_context);
  if (hit == nullptr) {
    Inform(m_context, L"Searching Finished.");
    m_found.clear();
    m_search.clear();
    if (bar != nullptr) SendMessageW(bar, kFindCaption, 0, 0);
    return;
  }
  m_found.insert(hit);
  if (HTREEITEM item = ItemOf(hit->parent)) {
    Expand(item);
    TreeView_SelectItem(m_tree, item);
    if (m_list != nullptr) m_list->SelectRow(hit);
  }
  if (bar != nullptr) SendMessageW(bar, kFindCaption, 1, 0);
}

LRESULT TAVR_CNorvelTree::OnNotify(const NMHDR& header) {
  if (header.hwndFrom != m_tree) return 0;
  if (header.code == TVN_SELCHANGEDW && m_list != nullptr) {
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    SendMessageW(m_list->Handle(), kPaneCommand, kShowNode, change.itemNew.lParam);
  } else if (header.code == NM_CLICK) {
    TVHITTESTINFO hit{};
    const DWORD pos = GetMessagePos();
    hit.pt = {GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
    ScreenToClient(m_tree, &hit.pt);
    SendMessageW(m_tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.hItem != nullptr && (hit.flags & TVHT_ONITEMSTATEICON) != 0) {
      Toggle(hit.hItem);
      AfterChange();
      return 1;
    }
  } else if (header.code == TVN_ITEMEXPANDINGW) {
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    if ((change.action & TVE_EXPAND) != 0) InsertChildren(change.itemNew.hItem);
  } else if (header.code == TVN_KEYDOWN &&
             reinterpret_cast<const NMTVKEYDOWN&>(header).wVKey == VK_SPACE) {
    if (HTREEITEM item = TreeView_GetSelection(m_tree)) {
      Toggle(item);
      AfterChange();
    }
    return 1;
  }
  return 0;
}

LRESULT TAVR_CNorvelTree::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kShowRoot: {
      const HTREEITEM root = TreeView_GetRoot(m_tree);
      Expand(root);
      TreeView_SelectItem(m_tree, root);
      return 0;
    }
    case kFillOrNext: {
      TAVR_TreePreparingDlg dialog(
          [this](TAVR_TreePreparingDlg& d) {
            d.SetText(L"Please wait...");
            return Fill();
          },
          false);
      dialog.Run(m_context.frame);
      // The page may have been replaced while the dialog ran.
      if (Handle() != nullptr) AfterChange();
      return 0;
    }
    case kPaneCommand: {
      auto* node = reinterpret_cast<RecoveredNode*>(lParam);
      if (wParam == kShowNode) {
        if (HTREEITEM item = ChildItem(TreeView_GetSelection(m_tree), node)) {
          Expand(item);
          TreeView_SelectItem(m_tree, item);
        }
      } else if (wParam == kMarksOfNode) {
        RowChanged(node);
      }
      return 0;
    }
    case kRunSearch:
      m_search = reinterpret_cast<const wchar_t*>(lParam);
      Search();
      return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SIZE: MoveWindow(m_tree, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

// ---- TAVR_CNorvelList ----

void TAVR_CNorvelList::OnCreated() {
  const RECT r = ClientRect(Handle());
  m_list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"TAVR_CListView",
                           WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA |
                               LVS_SHAREIMAGELISTS | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                           0, 0, r.right, r.bottom, Handle(), nullptr, nullptr, nullptr);
  int folder = 0;
  SendMessageW(m_list, LVM_SETIMAGELIST, LVSIL_SMALL,
               reinterpret_cast<LPARAM>(SystemIcons(folder)));
  SendMessageW(m_list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(MakeStateImages()));
  SendMessageW(m_list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK | LVIS_OVERLAYMASK, 0);
  SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const std::pair<const wchar_t*, int> columns[] = {
      {L"Name", 200}, {L"Size", 90}, {L"Modified", 120}, {L"Created", 120}};
  int i = 0;
  for (const auto& [title, width] : columns) {
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.fmt = LVCFMT_LEFT;
    c.cx = width;
    c.pszText = const_cast<wchar_t*>(title);
    SendMessageW(m_list, LVM_INSERTCOLUMNW, i++, reinterpret_cast<LPARAM>(&c));
  }
}

void TAVR_CNorvelList::Show(RecoveredNode* folder) {
  m_folder = folder;
  m_rows.clear();
  for (RecoveredNode* c = folder != nullptr ? folder->firstChild : nullptr; c != nullptr;
       c = c->nextSibling) {
    m_rows.push_back(c);
  }
  SendMessageW(m_list, LVM_SETITEMCOUNT, m_rows.size(), 0);
  InvalidateRect(m_list, nullptr, TRUE);
}

void TAVR_CNorvelList::SelectRow(const RecoveredNode* node) {
  const auto it = std::find(m_rows.begin(), m_rows.end(), node);
  if (it == m_rows.end()) return;
  const int row = static_cast<int>(it - m_rows.begin());
  ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetItemState(m_list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(m_list, row, FALSE);
  SetFocus(m_list);
}

int TAVR_CNorvelList::FileIcon(const RecoveredNode& node) {
  int folder = 0;
  SystemIcons(folder);
  if (IsFolder(node)) return folder;
  const std::wstring name = Wide(NodeName(node));
  const size_t dot = name.rfind(L'.');
  const std::wstring ext = dot == std::wstring::npos ? std::wstring() : Upper(name.substr(dot));
  if (const auto it = m_icons.find(ext); it != m_icons.end()) return it->second;
  SHFILEINFOW info{};
  SHGetFileInfoW((L"a" + ext).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                 SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  return m_icons[ext] = info.iIcon;
}

void TAVR_CNorvelList::ToggleRow(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return;
  RecoveredNode* node = m_rows[row];
  node->mark = node->mark == 0 ? 1 : 0;
  if (m_tree != nullptr)
    SendMessageW(m_tree->Handle(), kPaneCommand, kMarksOfNode, reinterpret_cast<LPARAM>(node));
}

LRESULT TAVR_CNorvelList::OnNotify(NMHDR& header) {
  if (header.hwndFrom != m_list) return 0;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
      if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= m_rows.size()) return 0;
      const RecoveredNode& node = *m_rows[item.iItem];
      if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        std::wstring text;
        switch (item.iSubItem) {
          case 0: text = Wide(NodeName(node)); break;
          case 1: text = IsFolder(node) ? std::wstring() : SizeText(node.size); break;
          case 2: text = DateText(node.modifiedDate); break;
          case 3: text = DateText(node.createdDate); break;
          default: break;
        }
        lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
      }
      if ((item.mask & LVIF_IMAGE) != 0) item.iImage = FileIcon(node);
      if ((item.mask & LVIF_STATE) != 0) {
        item.state = (item.state & ~(LVIS_STATEIMAGEMASK | LVIS_OVERLAYMASK)) |
                     INDEXTOSTATEIMAGEMASK(node.mark != 0 ? 2 : 1) | Overlay(node);
      }
      return 0;
    }
    case NM_CLICK: {
      const auto& act = reinterpret_cast<const NMITEMACTIVATE&>(header);
      LVHITTESTINFO hit{};
      hit.pt = act.ptAction;
      SendMessageW(m_list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
      if (hit.iItem >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0) ToggleRow(hit.iItem);
      return 0;
    }
    case LVN_KEYDOWN:
      if (reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey == VK_SPACE) {
        ToggleRow(ListView_GetNextItem(m_list, -1, LVNI_FOCUSED));
      }
      return 0;
    case NM_DBLCLK: {
      const int row = reinterpret_cast<const NMITEMACTIVATE&>(header).iItem;
      if (row >= 0 && static_cast<size_t>(row) < m_rows.size() && IsFolder(*m_rows[row]) &&
          m_tree != nullptr) {
        SendMessageW(m_tree->Handle(), kPaneCommand, kShowNode,
                     reinterpret_cast<LPARAM>(m_rows[row]));
      }
      return 0;
    }
    case NM_RCLICK: {
      const int row = reinterpret_cast<const NMITEMACTIVATE&>(header).iItem;
      if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return 0;
      RecoveredNode* node = m_rows[row];
      if (node->flags == (NF_PRESENT | NF_FOLDER)) return 0;  // live folders have no preview
      const HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_PREVIEW_MENU));
      POINT at{};
      GetCursorPos(&at);
      // The command comes back as WM_COMMAND for the focused row.
      TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, at.x, at.y, 0, Handle(), nullptr);
      DestroyMenu(menu);
      return 0;
    }
    case NM_CUSTOMDRAW: {
      auto& draw = reinterpret_cast<NMLVCUSTOMDRAW&>(header);
      if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYPOSTPAINT;
      if (draw.nmcd.dwDrawStage == CDDS_POSTPAINT && m_rows.empty()) {
        RECT area = ClientRect(m_list);
        RECT head{};
        GetWindowRect(ListView_GetHeader(m_list), &head);
        area.top += head.bottom - head.top + 8;
        SetBkMode(draw.nmcd.hdc, TRANSPARENT);
        DrawTextW(draw.nmcd.hdc, L"No items to show in this view", -1, &area,
                  DT_CENTER | DT_TOP | DT_SINGLELINE);
      }
      return CDRF_DODEFAULT;
    }
    default: return 0;
  }
}

bool TAVR_CNorvelList::ExtractForViewer(const RecoveredNode& node) {
  if (!m_context.session.currentSource) return false;
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  Extractor extractor(*m_context.session.currentSource, nullptr, m_context.prompter);
  const bool done = extractor.ExtractNode(std::filesystem::path(ProgramFolder()), node).has_value();
  SetCurrentDirectoryW(current);
  return done;
}

void TAVR_CNorvelList::Preview(RecoveredNode* node) {
  const std::wstring name = Wide(NodeName(*node));
  const size_t dot = name.rfind(L'.');
  const std::wstring ext = dot == std::wstring::npos ? std::wstring() : Upper(name.substr(dot));
  const bool known = std::any_of(std::begin(kPreviewable), std::end(kPreviewable),
                                 [&](const wchar_t* e) { return ext == e; });
  if (!known) {
    Inform(m_context, L"Preview is not available for this file format");
    return;
  }
  if (node->size >= kPreviewLimit) {
    Inform(m_context, L"File size is too large");
    return;
  }
  if (FindWindowW(nullptr, kViewerTitle) != nullptr) {
    Inform(m_context, L"Please close the current instance of this window");
    return;
  }
  m_previewed = node;
  ExtractForViewer(*node);
  ShellExecuteW(nullptr, L"open", (ProgramFolder() + L"Pictel.exe").c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
  SetTimer(Handle(), kPreviewTimer, 5000, nullptr);
}

void TAVR_CNorvelList::NextFile() {
  SetTimer(Handle(), kPreviewTimer, 1000, nullptr);
  // Folders are stepped over: extracted beside the program they would stay there, and the viewer
  // has nothing to show of them.
  RecoveredNode* next = m_previewed != nullptr ? m_previewed->nextSibling : nullptr;
  while (next != nullptr && (next->flags & NF_FOLDER) != 0) next = next->nextSibling;
  if (next == nullptr) {
    Inform(m_context, L"No more files are found in current folder.");
    return;
  }
  m_previewed = next;
  if (next->size < kPreviewLimit) ExtractForViewer(*next);
}

void TAVR_CNorvelList::OnTimer() {
  const HWND viewer = FindWindowW(nullptr, kViewerTitle);
  if (viewer == nullptr || !KillTimer(Handle(), kPreviewTimer) || m_previewed == nullptr) return;
  const std::wstring path = ProgramFolder() + Wide(NodeName(*m_previewed));
  const HandOverRecord record = PackHandOver(Narrow16(path), m_previewed->size);
  COPYDATASTRUCT data{kCopyDataKind, static_cast<DWORD>(record.size()),
                      const_cast<uint8_t*>(record.data())};
  SendMessageW(viewer, WM_COPYDATA, reinterpret_cast<WPARAM>(m_context.frame),
               reinterpret_cast<LPARAM>(&data));
  DeleteFileW(path.c_str());
}

LRESULT TAVR_CNorvelList::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kPaneCommand:
      if (wParam == kShowNode) Show(reinterpret_cast<RecoveredNode*>(lParam));
      if (wParam == kMarksOfNode) InvalidateRect(m_list, nullptr, FALSE);
      return 0;
    case kFillOrNext: NextFile(); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kPreviewCommand) {
        const int row = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
        if (row >= 0 && static_cast<size_t>(row) < m_rows.size() &&
            m_rows[row]->flags != (NF_PRESENT | NF_FOLDER)) {
          Preview(m_rows[row]);
        }
      }
      return 0;
    case WM_TIMER:
      if (wParam == kPreviewTimer) OnTimer();
      return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_SIZE: MoveWindow(m_list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    case WM_DESTROY: KillTimer(Handle(), kPreviewTimer); break;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- CTreeListWnd ----

void CTreeListWnd::OnCreated() {
  auto tree = std::make_unique<TAVR_CNorvelTree>(m_context);
  auto list = std::make_unique<TAVR_CNorvelList>(m_context);
  m_tree = tree.get();
  m_list = list.get();
  if (!m_splitter.Create(Handle(), L"TAVR_CExtndSplitterWnd",
                         WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, ClientRect(Handle())) ||
      !m_splitter.CreatePanes(std::move(tree), L"TAVR_CNorvelTree", std::move(list),
                              L"TAVR_CNorvelList")) {
    m_tree = nullptr;
    m_list = nullptr;
    return;
  }
  m_tree->SetList(m_list);
  m_list->SetTree(m_tree);
  // Filled once the router has put the page's bars in place.
  PostMessageW(m_tree->Handle(), kFillOrNext, 0, 0);
}

namespace {

// Passes the save's progress to the wait dialog and its Cancel to the save.
class SaveProgress final : public MessageSink {
 public:
  SaveProgress(TAVR_TreePreparingDlg& dialog, ProgressRecord& record)
      : m_dialog(dialog), m_record(record) {}
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    if (m_dialog.AbortRequested()) m_record.RequestStop();
    if (message == UM_PROGRESS && m_record.End() > 0) {
      m_dialog.SetPosition(static_cast<int>(m_record.Position() * 100 / m_record.End()));
    }
    return 0;
  }

 private:
  TAVR_TreePreparingDlg& m_dialog;
  ProgressRecord& m_record;
};

// The folder the user picks, or empty.
std::wstring ChooseFolder(HWND owner) {
  std::wstring chosen;
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&dialog)))) {
    return chosen;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(L"Select the folder to save the marked files in");
  IShellItem* item = nullptr;
  if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
    wchar_t* path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      chosen = path;
      CoTaskMemFree(path);
    }
    item->Release();
  }
  dialog->Release();
  return chosen;
}

}  // namespace

void CTreeListWnd::SaveMarkedFiles() {
  const RecoveredNode* root = m_context.session.treeRoot.get();
  TreeTotals totals;
  if (root != nullptr) CountMarked(root, totals);
  if (root == nullptr || (totals.markedFiles == 0 && totals.markedFolders == 0)) {
    Inform(m_context, L"Please mark the files and folders to save.");
    return;
  }
  if (!m_context.session.currentSource) {
    Ask(m_context, L"The source of these results is not open.", L"Error", PromptIcon::Error,
        PromptButtons::Ok);
    return;
  }
  const std::wstring folder = ChooseFolder(m_context.frame);
  if (folder.empty()) return;
  CDisk& source = *m_context.session.currentSource;
  // Every file written onto the storage being recovered may land on clusters that still hold
  // the lost data.
  if (platform::SharesStorage(source.m_devicePath, Narrow16(folder))) {
    Ask(m_context,
        L"The selected folder is on the drive being recovered. Saving there can overwrite the "
        L"files being recovered. Please choose a folder on another drive.",
        L"Warning", PromptIcon::Warning, PromptButtons::Ok);
    return;
  }
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  record.SetEnd(totals.markedBytes);
  Extractor extractor(source, &record, m_context.prompter);
  TAVR_TreePreparingDlg dialog(
      [&](TAVR_TreePreparingDlg& d) {
        d.SetText(L"Saving the marked files...");
        SaveProgress progress(d, record);
        SaveMarked(extractor, root, std::filesystem::path(folder), progress);
        return true;
      },
      true);
  const bool stopped = dialog.Run(m_context.frame) == kDlgTerminated;
  const SaveCounts& c = extractor.Counts();
  wchar_t text[256];
  swprintf(text, 256, L"%ls%llu files, %llu folders, %llu bytes saved, %llu errors.",
           stopped ? L"Saving was stopped. " : L"", static_cast<unsigned long long>(c.files),
           static_cast<unsigned long long>(c.folders), static_cast<unsigned long long>(c.bytes),
           static_cast<unsigned long long>(c.errors));
  const bool clean = !stopped && !extractor.Aborted() && c.errors == 0;
  Ask(m_context, text, clean ? L"Success" : L"Warning",
      clean ? PromptIcon::Information : PromptIcon::Warning, PromptButtons::Ok);
}

LRESULT CTreeListWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kMarkAllNodes:
      if (m_tree != nullptr) m_tree->MarkAll();
      return 0;
    case kUnmarkAllNodes:
      if (m_tree != nullptr) m_tree->UnmarkAll();
      return 0;
    case kStartSearch:
      return m_tree != nullptr ? SendMessageW(m_tree->Handle(), kRunSearch, wParam, lParam) : 0;
    case UM_VIEWER_NOTICE:
      return m_list != nullptr ? SendMessageW(m_list->Handle(), kFillOrNext, 0, 0) : 0;
    case WM_SIZE:
      MoveWindow(m_splitter.Handle(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

// ---- CTreeListCmdWnd ----

void CTreeListCmdWnd::OnCreated() {
  const HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", kSearchPlaceholder,
                                    WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 8, 4, 200, 22, Handle(),
                                    reinterpret_cast<HMENU>(kResultsSearchText), nullptr, nullptr);
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  CreateNorvelButton(Handle(), L"Find", kResultsFind, 214, 3, 90, 24);
  CreateNorvelButton(Handle(), L"Mark All", kResultsMarkAll, 310, 3, 110, 24);
  CreateNorvelButton(Handle(), L"Unmark All", kResultsUnmarkAll, 426, 3, 110, 24);
}

void CTreeListCmdWnd::Find() {
  wchar_t buffer[512] = {};
  GetDlgItemTextW(Handle(), kResultsSearchText, buffer, 512);
  std::wstring text = buffer;
  if (text.empty() || text == kSearchPlaceholder) {
    Inform(m_context, L"Please enter an extension.");
    return;
  }
  text = Upper(text);
  const size_t first = text.find_first_not_of(L" \t");
  const size_t last = text.find_last_not_of(L" \t");
  text = first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
  if (const size_t star = text.find(L'*'); star != std::wstring::npos) {
    text = text.substr(star + 1);
  }
  if (text.empty()) {
    Inform(m_context, L"Please enter an extension.");
    return;
  }
  if (const HWND page = CurrentPageWindow(m_context)) {
    SendMessageW(page, kStartSearch, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

LRESULT CTreeListCmdWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const UINT id = LOWORD(wParam);
      if (id == kResultsSearchText && HIWORD(wParam) == EN_SETFOCUS) {
        wchar_t buffer[64] = {};
        GetDlgItemTextW(Handle(), kResultsSearchText, buffer, 64);
        if (std::wstring(buffer) == kSearchPlaceholder) {
          SetDlgItemTextW(Handle(), kResultsSearchText, L"");
        }
        return 0;
      }
      if (HIWORD(wParam) != BN_CLICKED) return 0;
      const HWND page = CurrentPageWindow(m_context);
      if (id == kResultsFind) Find();
      if (page != nullptr && id == kResultsMarkAll) SendMessageW(page, kMarkAllNodes, 0, 0);
      if (page != nullptr && id == kResultsUnmarkAll) SendMessageW(page, kUnmarkAllNodes, 0, 0);
      return 0;
    }
    case kMarksChanged:
      EnableWindow(GetDlgItem(Handle(), kResultsMarkAll), wParam != 1);
      EnableWindow(GetDlgItem(Handle(), kResultsUnmarkAll), wParam != 0);
      return 0;
    case kFindCaption: {
      const HWND find = GetDlgItem(Handle(), kResultsFind);
      SetWindowTextW(find, wParam != 0 ? L"Find Next" : L"Find");
      InvalidateRect(find, nullptr, FALSE);
      return 0;
    }
    case WM_DRAWITEM:
      if (DrawNorvelButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
      break;
    case WM_ERASEBKGND:
      FillColour(reinterpret_cast<HDC>(wParam), ClientRect(Handle()), kBarGrey);
      return 1;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- CTreeListSBar ----

void CTreeListSBar::OnNext() {
  AskToSaveScanInfo();
  if (auto* page = dynamic_cast<CTreeListWnd*>(Window::FromHandle(CurrentPageWindow(m_context)))) {
    page->SaveMarkedFiles();
  }
}

void CTreeListSBar::OnBack() {
  AskToSaveScanInfo();
  // The page goes first: its panes point into the tree.
  const HWND router = Router(m_context);
  NodePtr tree = std::move(m_context.session.treeRoot);
  if (router != nullptr) SendMessageW(router, UM_RESULTS_BACK, 0, 0);
  if (tree) FreeChildren(tree.get());
}

void CTreeListSBar::AskToSaveScanInfo() {
  if (Ask(m_context, kSaveScanQuestion, L"Information", PromptIcon::Information,
          PromptButtons::YesNo) == PromptAnswer::Yes) {
    SendMessageW(m_context.frame, UM_SAVE_SCAN, 0, 0);
  }
}

}  // namespace kavo::shell

#include "shell/results_tree.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>
#include <shlobj.h>
// clang-format on

#include <vector>

#include "shell/controls.h"
#include "shell/page_helpers.h"
#include "shell/res/resource.h"
#include "shell/results_list.h"
#include "shell/tree_preparing_dlg.h"
#include "shell/tree_selection_wnd.h"

namespace kavo::shell {

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

UINT Overlay(const RecoveredNode& node) {
  return (node.flags & NF_PRESENT) != 0 ? 0 : INDEXTOOVERLAYMASK(1);
}

void TAVR_CNorvelTree::OnCreated() {
  const RECT r = ClientRect(Handle());
  m_tree = CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"TAVR_CTreeView",
      WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
      0, 0, r.right, r.bottom, Handle(), nullptr, nullptr, nullptr);
  int folder = 0;
  SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_NORMAL,
               reinterpret_cast<LPARAM>(SystemIcons(folder)));
  SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_STATE,
               reinterpret_cast<LPARAM>(MakeStateImages(StateImagesFor::TreeView)));
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
  } else if (node->parent == folder) {
    folder->mark = MarkFromChildren(*folder);
    ShowState(current);
    RecomputeAncestors(current);
  } else {
    // A row of the search's finds, from any folder: its folder and their ancestors follow.
    for (RecoveredNode* p = node->parent; p != nullptr; p = p->parent) {
      p->mark = MarkFromChildren(*p);
    }
    ShowAllStates();
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

void TAVR_CNorvelTree::ShowAllStates() {
  std::vector<HTREEITEM> stack{TreeView_GetRoot(m_tree)};
  while (!stack.empty()) {
    HTREEITEM i = stack.back();
    stack.pop_back();
    for (; i != nullptr; i = TreeView_GetNextSibling(m_tree, i)) {
      ShowState(i);
      if (HTREEITEM child = TreeView_GetChild(m_tree, i)) stack.push_back(child);
    }
  }
}

std::vector<RecoveredNode*> TAVR_CNorvelTree::Matches() const {
  std::vector<RecoveredNode*> matches;
  std::vector<RecoveredNode*> stack;
  if (RecoveredNode* root = m_context.session.treeRoot.get()) stack.push_back(root);
  while (!stack.empty()) {
    RecoveredNode* folder = stack.back();
    stack.pop_back();
    std::vector<RecoveredNode*> folders;
    for (RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
      if (IsFolder(*c)) {
        folders.push_back(c);
      } else if (Upper(Wide(NodeName(*c))).find(m_search, 1) != std::wstring::npos) {
        matches.push_back(c);
      }
    }
    stack.insert(stack.end(), folders.rbegin(), folders.rend());
  }
  return matches;
}

void TAVR_CNorvelTree::ListAllMatches() {
  std::vector<RecoveredNode*> matches = Matches();
  if (matches.empty()) {
    Inform(m_context, L"No files match the search.");
    return;
  }
  if (m_list != nullptr) m_list->ShowNodes(std::move(matches));
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
    case kFillTree: {
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
    case kListAllMatches:
      m_search = reinterpret_cast<const wchar_t*>(lParam);
      ListAllMatches();
      return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SIZE: MoveWindow(m_tree, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace kavo::shell

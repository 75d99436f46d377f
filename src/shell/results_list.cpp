#include "shell/results_list.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cwchar>
#include <filesystem>

#include "platform/program_folder.h"
#include "recovery/extract.h"
#include "shell/page_helpers.h"
#include "shell/res/resource.h"
#include "viewer/viewer_protocol.h"

namespace kavo::shell {

using namespace kavo::viewer;

namespace {

constexpr uint64_t kPreviewLimit = 0xC80000000ull;  // 50 GiB
constexpr wchar_t kPreviewable[][6] = {
    L".BMP", L".PNG", L".GIF", L".JPG", L".JPEG", L".TIFF", L".TIF", L".CRW", L".CR2", L".SRF",
    L".SR2", L".NEF", L".ARW", L".MRW", L".RAF",  L".3FR",  L".DCR", L".KDC", L".K25", L".RAW",
    L".PEF", L".NRW", L".PSD", L".X3F", L".ORF",  L".DNG",  L".WMF", L".ANI", L".PSP", L".PIC",
    L".J6I", L".EPS", L".DPX", L".PIX", L".ALS",  L".FLI",  L".FLC", L".CAM", L".DCM", L".DDS",
    L".ICO", L".ICL", L".JIF", L".KPQ", L".LFF",  L".MNG",  L".SWF"};

constexpr COLORREF kDeletedText = RGB(128, 128, 128);

// A deleted entry of the file system. "Lost+Found", shown as not present, holds found entries but
// is none itself; the finds of the raw scan were never entries of a folder.
bool Deleted(const RecoveredNode& node) {
  return (node.flags & NF_PRESENT) == 0 && node.origin != ORIGIN_RAW_SCAN &&
         !(IsFolder(node) && NodeName(node) == u"Lost+Found");
}

std::wstring DateText(uint16_t dos) {
  if (dos == 0) return {};
  wchar_t text[16];
  swprintf(text, 16, L"%02u/%02u/%02u", (dos >> 5) & 15u, dos & 31u, (1980u + (dos >> 9)) % 100u);
  return text;
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

void TAVR_CNorvelList::OnCreated() {
  const RECT r = ClientRect(Handle());
  m_list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"TAVR_CListView",
                           WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA |
                               LVS_SHAREIMAGELISTS | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                           0, 0, r.right, r.bottom, Handle(), nullptr, nullptr, nullptr);
  int folder = 0;
  SendMessageW(m_list, LVM_SETIMAGELIST, LVSIL_SMALL,
               reinterpret_cast<LPARAM>(SystemIcons(folder)));
  SendMessageW(m_list, LVM_SETIMAGELIST, LVSIL_STATE,
               reinterpret_cast<LPARAM>(MakeStateImages(StateImagesFor::ListView)));
  SendMessageW(m_list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK | LVIS_OVERLAYMASK | LVIS_CUT, 0);
  SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const std::pair<const wchar_t*, int> columns[] = {
      {L"Name", 200}, {L"Size", 90}, {L"Modified", 120}, {L"Created", 120}, {L"State", 80}};
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

void TAVR_CNorvelList::ShowNodes(std::vector<RecoveredNode*> nodes) {
  m_folder = nullptr;
  m_rows = std::move(nodes);
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
  const std::wstring ext = UpperExtension(Wide(NodeName(node)));
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
          case 4: text = Deleted(node) ? L"Deleted" : L""; break;
          default: break;
        }
        lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
      }
      if ((item.mask & LVIF_IMAGE) != 0) item.iImage = FileIcon(node);
      if ((item.mask & LVIF_STATE) != 0) {
        // A deleted entry's icon is drawn dimmed, under the deleted-entry overlay.
        item.state = (item.state & ~(LVIS_STATEIMAGEMASK | LVIS_OVERLAYMASK | LVIS_CUT)) |
                     INDEXTOSTATEIMAGEMASK(std::min<int>(node.mark, 2) + 1) | Overlay(node) |
                     (Deleted(node) ? LVIS_CUT : 0);
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
      if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
        return CDRF_NOTIFYPOSTPAINT | CDRF_NOTIFYITEMDRAW;
      }
      if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        const size_t row = draw.nmcd.dwItemSpec;
        if (row < m_rows.size() && Deleted(*m_rows[row])) draw.clrText = kDeletedText;
        return CDRF_DODEFAULT;
      }
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
  const bool done = extractor.ExtractNode(platform::ProgramFolder(), node).has_value();
  SetCurrentDirectoryW(current);
  return done;
}

void TAVR_CNorvelList::Preview(RecoveredNode* node) {
  const std::wstring ext = UpperExtension(Wide(NodeName(*node)));
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
  m_previewed = node;
  ExtractForViewer(*node);
  // A viewer already open takes the new picture at once and comes to the front.
  if (const HWND viewer = FindWindowW(nullptr, kViewerTitle)) {
    KillTimer(Handle(), kPreviewTimer);
    HandOver(viewer);
    return;
  }
  ShellExecuteW(nullptr, L"open", (platform::ProgramFolder().wstring() + L"Pictel.exe").c_str(),
                nullptr, nullptr, SW_SHOWNORMAL);
  SetTimer(Handle(), kPreviewTimer, 5000, nullptr);
}

void TAVR_CNorvelList::NextFile() {
  // Folders are stepped over: extracted beside the program they would stay there, and the viewer
  // has nothing to show of them.
  RecoveredNode* next = m_previewed != nullptr ? m_previewed->nextSibling : nullptr;
  while (next != nullptr && (next->flags & NF_FOLDER) != 0) next = next->nextSibling;
  if (next == nullptr) {
    // Nothing is handed over: the viewer keeps the picture it shows.
    Inform(m_context, L"No more files are found in current folder.");
    return;
  }
  m_previewed = next;
  if (next->size < kPreviewLimit) ExtractForViewer(*next);
  SetTimer(Handle(), kPreviewTimer, 1000, nullptr);
}

void TAVR_CNorvelList::OnTimer() {
  const HWND viewer = FindWindowW(nullptr, kViewerTitle);
  if (viewer == nullptr || !KillTimer(Handle(), kPreviewTimer)) return;
  HandOver(viewer);
}

void TAVR_CNorvelList::HandOver(HWND viewer) {
  if (m_previewed == nullptr) return;
  // The viewer brings itself to the front when the picture arrives; the program the user works
  // in lets it.
  DWORD process = 0;
  GetWindowThreadProcessId(viewer, &process);
  AllowSetForegroundWindow(process);
  const std::wstring path = platform::ProgramFolder().wstring() + Wide(NodeName(*m_previewed));
  const HandOverRecord record = PackHandOver(Utf16(path), m_previewed->size);
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
    case kNextFile: NextFile(); return 0;
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

}  // namespace kavo::shell

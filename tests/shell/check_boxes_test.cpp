// The results page's check-box pictures as a list view and a tree view of this process draw them:
// each state image shows the same box in both controls.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "shell/check_boxes.h"

#include <gtest/gtest.h>

#include <vector>

namespace kavo::shell {
namespace {

constexpr int kWidth = 200, kHeight = 120;

// The drawn (not white) pixels in the 16 pixels left of `icon` of a control painted into a
// bitmap: none for no box, the frame for a clear box, more for a ticked one.
class Painted {
 public:
  explicit Painted(HWND control) {
    const HDC screen = GetDC(nullptr);
    m_dc = CreateCompatibleDC(screen);
    m_bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    m_old = SelectObject(m_dc, m_bitmap);
    const RECT all{0, 0, kWidth, kHeight};
    FillRect(m_dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dc),
                 PRF_CLIENT | PRF_ERASEBKGND);
  }
  ~Painted() {
    SelectObject(m_dc, m_old);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
  }
  int DrawnLeftOf(const RECT& icon) const {
    int drawn = 0;
    for (int y = icon.top; y < icon.bottom; ++y) {
      for (int x = icon.left - 16; x < icon.left; ++x) {
        const COLORREF c = GetPixel(m_dc, x, y);
        if (x >= 0 && GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 240) ++drawn;
      }
    }
    return drawn;
  }

 private:
  HDC m_dc = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_old = nullptr;
};

// The pixels drawn for state images 0 to 3.
std::vector<int> ListBoxes() {
  const HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, kWidth,
                                    kHeight, nullptr, nullptr, nullptr, nullptr);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 150;
  ListView_InsertColumn(list, 0, &column);
  const HIMAGELIST icons = ImageList_Create(16, 16, ILC_COLOR24, 1, 0);
  ListView_SetImageList(list, icons, LVSIL_SMALL);
  ListView_SetImageList(list, MakeStateImages(StateImagesFor::ListView), LVSIL_STATE);
  for (int i = 0; i < 4; ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_STATE;
    item.iItem = i;
    item.pszText = const_cast<wchar_t*>(L"row");
    item.state = INDEXTOSTATEIMAGEMASK(i);
    item.stateMask = LVIS_STATEIMAGEMASK;
    ListView_InsertItem(list, &item);
  }
  const Painted painted(list);
  std::vector<int> dark;
  for (int i = 0; i < 4; ++i) {
    RECT icon{};
    ListView_GetItemRect(list, i, &icon, LVIR_ICON);
    dark.push_back(painted.DrawnLeftOf(icon));
  }
  DestroyWindow(list);
  return dark;
}

std::vector<int> TreeBoxes() {
  const HWND tree = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_POPUP, 0, 0, kWidth, kHeight, nullptr,
                                    nullptr, nullptr, nullptr);
  const HIMAGELIST icons = ImageList_Create(16, 16, ILC_COLOR24, 1, 0);
  TreeView_SetImageList(tree, icons, TVSIL_NORMAL);
  TreeView_SetImageList(tree, MakeStateImages(StateImagesFor::TreeView), TVSIL_STATE);
  std::vector<HTREEITEM> items;
  for (int i = 0; i < 4; ++i) {
    TVINSERTSTRUCTW in{};
    in.hParent = TVI_ROOT;
    in.hInsertAfter = TVI_LAST;
    in.item.mask = TVIF_TEXT | TVIF_STATE;
    in.item.pszText = const_cast<wchar_t*>(L"item");
    in.item.state = INDEXTOSTATEIMAGEMASK(i);
    in.item.stateMask = TVIS_STATEIMAGEMASK;
    items.push_back(TreeView_InsertItem(tree, &in));
  }
  const Painted painted(tree);
  std::vector<int> dark;
  for (HTREEITEM item : items) {
    RECT text{};
    TreeView_GetItemRect(tree, item, &text, TRUE);
    text.left -= 16;  // the icon; the box is left of it
    dark.push_back(painted.DrawnLeftOf(text));
  }
  DestroyWindow(tree);
  return dark;
}

TEST(CheckBoxes, EachStateImageShowsTheSameBoxInTheListAndInTheTree) {
  INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&init);
  for (const std::vector<int>& drawn : {ListBoxes(), TreeBoxes()}) {
    SCOPED_TRACE(::testing::PrintToString(drawn));
    ASSERT_EQ(drawn.size(), 4u);
    EXPECT_EQ(drawn[0], 0);         // no box
    EXPECT_GT(drawn[1], 0);         // a clear box
    EXPECT_GT(drawn[2], drawn[1]);  // the box with its tick
    EXPECT_GT(drawn[3], drawn[1]);  // partly ticked
  }
}

}  // namespace
}  // namespace kavo::shell

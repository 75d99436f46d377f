#include "shell/controls.h"

#include <commctrl.h>

#include <string>

namespace kavo::shell {

namespace {

constexpr wchar_t kHoverProperty[] = L"KavoHover";
constexpr wchar_t kPictureProperty[] = L"KavoPicture";
constexpr UINT_PTR kSubclassId = 1;

LRESULT CALLBACK ButtonProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
  switch (message) {
    case WM_MOUSEMOVE:
      if (GetPropW(hwnd, kHoverProperty) == nullptr) {
        SetPropW(hwnd, kHoverProperty, reinterpret_cast<HANDLE>(1));
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&track);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      RemovePropW(hwnd, kHoverProperty);
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_SETCURSOR: SetCursor(LoadCursorW(nullptr, IDC_HAND)); return TRUE;
    case WM_NCDESTROY:
      RemovePropW(hwnd, kHoverProperty);
      RemovePropW(hwnd, kPictureProperty);
      RemoveWindowSubclass(hwnd, &ButtonProcedure, kSubclassId);
      break;
    default: break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

void AddTooltip(HWND button, const wchar_t* text) {
  const HWND tip =
      CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, button, nullptr,
                      GetModuleHandleW(nullptr), nullptr);
  if (tip == nullptr) return;
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = button;
  info.uId = reinterpret_cast<UINT_PTR>(button);
  info.lpszText = const_cast<wchar_t*>(text);
  SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  SendMessageW(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 10000);
}

}  // namespace

HFONT PageFont(bool bold) {
  static const HFONT fonts[2] = {
      CreateFontW(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                  L"Tahoma"),
      CreateFontW(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                  L"Tahoma"),
  };
  return fonts[bold ? 1 : 0];
}

HWND CreateNorvelButton(HWND parent, const wchar_t* text, UINT id, int x, int y, int width,
                        int height, ButtonPicture picture) {
  const HWND button =
      CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, y,
                      width, height, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                      GetModuleHandleW(nullptr), nullptr);
  if (button == nullptr) return nullptr;
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(PageFont()), FALSE);
  if (picture != nullptr) {
    SetPropW(button, kPictureProperty, reinterpret_cast<HANDLE>(picture));
  }
  SetWindowSubclass(button, &ButtonProcedure, kSubclassId, 0);
  AddTooltip(button, text);
  return button;
}

bool DrawNorvelButton(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON) return false;
  const HWND button = item.hwndItem;
  const bool hover = GetPropW(button, kHoverProperty) != nullptr;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  const HDC dc = item.hDC;
  RECT rect = item.rcItem;
  FillColour(dc, rect, pressed ? kBarGrey : hover ? kButtonHover : kButtonBlue);

  wchar_t text[128] = {};
  GetWindowTextW(button, text, 128);
  const auto picture = reinterpret_cast<ButtonPicture>(GetPropW(button, kPictureProperty));
  RECT caption = rect;
  if (picture != nullptr) {
    RECT face = rect;
    InflateRect(&face, -12, -12);
    face.bottom -= 50;
    picture(dc, face, static_cast<UINT>(GetDlgCtrlID(button)));
    caption.top = face.bottom;
  }
  const HGDIOBJ oldFont = SelectObject(dc, PageFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, disabled ? RGB(160, 160, 160) : kWhite);
  DrawTextW(dc, text, -1, &caption, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  if ((item.itemState & ODS_FOCUS) != 0) {
    InflateRect(&rect, -3, -3);
    DrawFocusRect(dc, &rect);
  }
  return true;
}

void FillColour(HDC dc, const RECT& rect, COLORREF colour) {
  const HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

}  // namespace kavo::shell

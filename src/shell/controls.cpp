#include "shell/controls.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resource.h"
#include "shell/png_picture.h"

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

// The faces keep this many pixels at each edge unscaled (their corners and border); only the
// middle is stretched.
constexpr int kFaceRim = 6;
constexpr COLORREF kDisabledText = RGB(176, 186, 204);

// The pixel of a face `source` pixels long that lands at `d` of `size`: the rim at each end is
// kept as it is (cut in half when `size` is too short for both), the middle is stretched.
int SourcePixel(int d, int size, int source) {
  const int edge = std::min(kFaceRim, size / 2);
  if (d < edge) return d;
  if (d >= size - edge) return source - (size - d);
  return kFaceRim + (d - edge) * (source - 2 * kFaceRim) / (size - 2 * edge);
}

// Draws skin picture `id` stretched over `rect`, its rim unscaled. The stretched face is made
// here, pixel by pixel, and drawn in one piece: drawn in parts, GDI+ leaves seams between them.
// False when the picture is missing.
bool DrawFace(HDC dc, const RECT& rect, UINT id) {
  Gdiplus::Bitmap* face = SkinPicture(id);
  if (face == nullptr) return false;
  const int w = static_cast<int>(face->GetWidth());
  const int h = static_cast<int>(face->GetHeight());
  const int width = static_cast<int>(rect.right - rect.left);
  const int height = static_cast<int>(rect.bottom - rect.top);
  if (w <= 2 * kFaceRim || h <= 2 * kFaceRim || width <= 0 || height <= 0) return false;
  Gdiplus::Rect whole(0, 0, w, h);
  Gdiplus::BitmapData source{};
  if (face->LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &source) !=
      Gdiplus::Ok) {
    return false;
  }
  std::vector<int> columns(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) columns[static_cast<size_t>(x)] = SourcePixel(x, width, w);
  std::vector<UINT32> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const UINT32*>(static_cast<const BYTE*>(source.Scan0) +
                                                      SourcePixel(y, height, h) * source.Stride);
    UINT32* out = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int x = 0; x < width; ++x) out[x] = row[columns[static_cast<size_t>(x)]];
  }
  face->UnlockBits(&source);
  Gdiplus::Bitmap stretched(width, height, width * 4, PixelFormat32bppPARGB,
                            reinterpret_cast<BYTE*>(pixels.data()));
  Gdiplus::Graphics graphics(dc);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  return graphics.DrawImage(&stretched, static_cast<int>(rect.left), static_cast<int>(rect.top),
                            width, height) == Gdiplus::Ok;
}

// Paints the parent's background under `button` into `dc` (a picture of the button's client
// area), so that the rounded corners of the face show the parent around them.
void PaintParentBackground(HWND button, HDC dc) {
  const HWND parent = GetParent(button);
  POINT origin{0, 0};
  MapWindowPoints(button, parent, &origin, 1);
  POINT old{};
  SetViewportOrgEx(dc, -origin.x, -origin.y, &old);
  SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

void DrawCaption(HDC dc, const wchar_t* text, const RECT& area, COLORREF colour) {
  const int length = static_cast<int>(wcslen(text));
  const HGDIOBJ oldFont = SelectObject(dc, PageFont());
  SIZE size{};
  GetTextExtentPoint32W(dc, text, length, &size);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  const int x = area.left + (area.right - area.left - size.cx) / 2;
  const int y = area.top + (area.bottom - area.top - size.cy) / 2;
  ExtTextOutW(dc, x, y, ETO_CLIPPED, &area, text, static_cast<UINT>(length), nullptr);
  SelectObject(dc, oldFont);
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
  const RECT& target = item.rcItem;
  const int width = target.right - target.left;
  const int height = target.bottom - target.top;
  if (width <= 0 || height <= 0) return true;

  // Drawn off screen and copied in one piece, so that a hover change does not flicker.
  const HDC dc = CreateCompatibleDC(item.hDC);
  const HBITMAP canvas = CreateCompatibleBitmap(item.hDC, width, height);
  const HGDIOBJ oldCanvas = SelectObject(dc, canvas);
  RECT rect{0, 0, width, height};
  PaintParentBackground(button, dc);
  const UINT face = disabled  ? IDB_BUTTON_DISABLED
                    : pressed ? IDB_BUTTON_PRESSED
                    : hover   ? IDB_BUTTON_HOVER
                              : IDB_BUTTON_NORMAL;
  if (!DrawFace(dc, rect, face)) {
    FillColour(dc, rect, pressed ? kBarGrey : hover ? kButtonHover : kButtonBlue);
  }

  wchar_t text[128] = {};
  GetWindowTextW(button, text, 128);
  const auto picture = reinterpret_cast<ButtonPicture>(GetPropW(button, kPictureProperty));
  RECT caption = rect;
  if (picture != nullptr) {
    RECT area = rect;
    InflateRect(&area, -12, -12);
    area.bottom -= 50;
    picture(dc, area, static_cast<UINT>(GetDlgCtrlID(button)));
    caption.top = area.bottom;
  }
  InflateRect(&caption, -2, 0);
  DrawCaption(dc, text, caption, disabled ? kDisabledText : kWhite);
  if ((item.itemState & ODS_FOCUS) != 0) {
    InflateRect(&rect, -4, -4);
    DrawFocusRect(dc, &rect);
  }
  BitBlt(item.hDC, target.left, target.top, width, height, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(dc);
  return true;
}

void DrawPageBackground(HDC dc, const RECT& rect) {
  if (!DrawSkinPicture(dc, rect, IDB_PAGE_BACKGROUND, Gdiplus::InterpolationModeNearestNeighbor)) {
    FillColour(dc, rect, kPagePale);
  }
}

void FillColour(HDC dc, const RECT& rect, COLORREF colour) {
  const HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

}  // namespace kavo::shell

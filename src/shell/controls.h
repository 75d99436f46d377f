// The skinned controls of the pages: owner-drawn buttons in the program's colours that show the
// hand cursor while the pointer is over them, and the fonts and brushes they are drawn with.
#pragma once

#include <windows.h>

namespace kavo::shell {

inline constexpr COLORREF kButtonBlue = RGB(22, 73, 154);
inline constexpr COLORREF kButtonHover = RGB(46, 187, 255);
inline constexpr COLORREF kBarGrey = RGB(45, 45, 45);
inline constexpr COLORREF kWhite = RGB(255, 255, 255);
inline constexpr COLORREF kPagePale = RGB(235, 240, 248);

// The default GUI font at height 20 (`bold` for titles); made once, kept for the program's run.
HFONT PageFont(bool bold = false);

// A `TAVR_CNorvelButton`: an owner-drawn push button with `text` centred in white on the
// button blue, with a tooltip of the same text. Its face is a skin picture per state (normal,
// hovered, pressed, disabled) stretched over the button; plain colours stand in when a picture
// is missing. `picture` (may be null) draws the face of a picture button into the rectangle
// above the caption.
using ButtonPicture = void (*)(HDC dc, const RECT& area, UINT id);
HWND CreateNorvelButton(HWND parent, const wchar_t* text, UINT id, int x, int y, int width,
                        int height, ButtonPicture picture = nullptr);

// Draws an owner-drawn button made by CreateNorvelButton; the parent's WM_DRAWITEM calls it.
// Returns false for items that are not such buttons.
bool DrawNorvelButton(const DRAWITEMSTRUCT& item);

// Paints the background of the pages of picture buttons over `rect`: the skin picture
// stretched, or the pale page colour without it.
void DrawPageBackground(HDC dc, const RECT& rect);

// Fills `rect` of `dc` with `colour`.
void FillColour(HDC dc, const RECT& rect, COLORREF colour);

}  // namespace kavo::shell

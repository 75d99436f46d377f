// What the pages write again and again: the core's UTF-16 text as the wide text of the window
// functions and back, the upper-case extension of a file name, the grey of the bars, and the
// message box that only informs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "shell/shell_context.h"

namespace kavo::shell {

// Unit for unit: both are UTF-16 on Windows.
inline std::wstring Wide(std::u16string_view text) {
  return {text.begin(), text.end()};
}
// ASCII text (the core's size texts), character for character.
inline std::wstring Wide(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}
inline std::u16string Utf16(std::wstring_view text) {
  return {text.begin(), text.end()};
}

// `text` in upper case, as the system's user locale has it.
std::wstring Upper(std::wstring text);
// The extension of `name` from its last dot on, in upper case (".JPG"); empty without a dot.
std::wstring UpperExtension(std::wstring_view name);

// Fills the client area of a bar window with the bar grey.
void PaintBarBackground(HWND bar, HDC dc);
// The drawing every bar of skinned buttons does alike: its buttons' WM_DRAWITEM and the grey
// of its WM_ERASEBKGND. The answer when the message was one of those and handled; nothing else.
std::optional<LRESULT> DrawBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);

// An information box with OK.
void Inform(ShellContext& context, const wchar_t* text, const wchar_t* caption = L"Information");

}  // namespace kavo::shell

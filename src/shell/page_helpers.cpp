#include "shell/page_helpers.h"

#include "shell/controls.h"

namespace kavo::shell {

std::wstring Upper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring UpperExtension(std::wstring_view name) {
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring_view::npos ? std::wstring() : Upper(std::wstring(name.substr(dot)));
}

void PaintBarBackground(HWND bar, HDC dc) {
  FillColour(dc, ClientRect(bar), kBarGrey);
}

std::optional<LRESULT> DrawBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DRAWITEM &&
      DrawNorvelButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
    return TRUE;
  }
  if (message != WM_ERASEBKGND) return std::nullopt;
  PaintBarBackground(bar, reinterpret_cast<HDC>(wParam));
  return 1;
}

void Inform(ShellContext& context, const wchar_t* text, const wchar_t* caption) {
  Ask(context, text, caption, PromptIcon::Information, PromptButtons::Ok);
}

}  // namespace kavo::shell

// The faces of the picture buttons of the home and advanced-options pages: a drive and an emblem
// for the button's operation, from the skin pictures, or drawn with GDI when a picture is
// missing.
#pragma once

#include <windows.h>

namespace kavo::shell {

// Draws the face of picture button `id` (commands 101 to 107) into `area`.
void DrawOptionPicture(HDC dc, const RECT& area, UINT id);

}  // namespace kavo::shell

#include "shell/check_boxes.h"

namespace kavo::shell {

namespace {

constexpr int kStateSize = 16;

}  // namespace

HIMAGELIST MakeStateImages(StateImagesFor control) {
  // The list view's list leaves out the unused first picture.
  const int first = control == StateImagesFor::ListView ? 1 : 0;
  const int count = 4 - first;
  const HIMAGELIST list = ImageList_Create(kStateSize, kStateSize, ILC_COLOR24, count, 0);
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP strip = CreateCompatibleBitmap(screen, count * kStateSize, kStateSize);
  ReleaseDC(nullptr, screen);
  const HGDIOBJ old = SelectObject(dc, strip);
  const RECT all{0, 0, count * kStateSize, kStateSize};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const UINT styles[] = {DFCS_BUTTONCHECK | DFCS_FLAT, DFCS_BUTTONCHECK | DFCS_CHECKED | DFCS_FLAT,
                         DFCS_BUTTON3STATE | DFCS_CHECKED | DFCS_FLAT};
  for (int i = 1; i < 4; ++i) {
    const int x = (i - first) * kStateSize;
    RECT box{x + 2, 2, x + 14, 14};
    DrawFrameControl(dc, &box, DFC_BUTTON, styles[i - 1]);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  ImageList_Add(list, strip, nullptr);
  DeleteObject(strip);
  return list;
}

}  // namespace kavo::shell

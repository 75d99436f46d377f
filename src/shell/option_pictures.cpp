#include "shell/option_pictures.h"

#include <cmath>

#include "resource.h"
#include "shell/controls.h"
#include "shell/png_picture.h"

namespace kavo::shell {

namespace {

class Pen {
 public:
  Pen(HDC dc, COLORREF colour, int width, COLORREF fill)
      : m_dc(dc), m_pen(CreatePen(PS_SOLID, width, colour)), m_brush(CreateSolidBrush(fill)) {
    m_oldPen = SelectObject(dc, m_pen);
    m_oldBrush = SelectObject(dc, m_brush);
  }
  ~Pen() {
    SelectObject(m_dc, m_oldPen);
    SelectObject(m_dc, m_oldBrush);
    DeleteObject(m_pen);
    DeleteObject(m_brush);
  }
  Pen(const Pen&) = delete;
  Pen& operator=(const Pen&) = delete;

 private:
  HDC m_dc;
  HPEN m_pen;
  HBRUSH m_brush;
  HGDIOBJ m_oldPen;
  HGDIOBJ m_oldBrush;
};

constexpr COLORREF kLine = RGB(255, 255, 255);
constexpr COLORREF kAccent = RGB(255, 196, 0);

// A hard drive seen from above: the case, the platter and the arm.
void Drive(HDC dc, int x, int y, int w, int h) {
  {
    Pen pen(dc, kLine, 3, RGB(70, 110, 180));
    RoundRect(dc, x, y, x + w, y + h, 18, 18);
  }
  const int r = w * 3 / 10;
  const int cx = x + w / 2;
  const int cy = y + h * 2 / 5;
  {
    Pen pen(dc, kLine, 2, RGB(190, 205, 230));
    Ellipse(dc, cx - r, cy - r, cx + r, cy + r);
  }
  {
    Pen pen(dc, RGB(60, 60, 60), 2, RGB(60, 60, 60));
    Ellipse(dc, cx - 6, cy - 6, cx + 6, cy + 6);
    MoveToEx(dc, x + w - 14, y + h - 18, nullptr);
    LineTo(dc, cx + r / 2, cy + r / 3);
  }
}

void Emblem(HDC dc, UINT id, int cx, int cy, int r) {
  Pen pen(dc, kAccent, 4, kAccent);
  switch (id) {
    case 101:  // formatted: the sweep of a new file system
      for (int k = -1; k <= 1; ++k) {
        MoveToEx(dc, cx - r, cy + k * r / 2, nullptr);
        LineTo(dc, cx + r, cy + k * r / 2);
      }
      break;
    case 102:  // partitions: a disk split in slices
      Pie(dc, cx - r, cy - r, cx + r, cy + r, cx + r, cy, cx, cy - r);
      break;
    case 103: {  // deleted: a file brought back, the arrow of a return
      Arc(dc, cx - r, cy - r, cx + r, cy + r, cx - r, cy, cx, cy - r);
      const POINT head[3] = {{cx - r - 8, cy - 4}, {cx - r + 8, cy - 4}, {cx - r, cy + 10}};
      Polygon(dc, head, 3);
      break;
    }
    case 104:  // more operations: a gear
    case 107:  // health: a pulse
      if (id == 104) {
        for (int k = 0; k < 8; ++k) {
          const double a = k * 3.14159265 / 4;
          MoveToEx(dc, cx, cy, nullptr);
          LineTo(dc, cx + static_cast<int>(r * std::cos(a)),
                 cy + static_cast<int>(r * std::sin(a)));
        }
        Ellipse(dc, cx - r / 2, cy - r / 2, cx + r / 2, cy + r / 2);
      } else {
        const POINT pulse[6] = {{cx - r, cy},         {cx - r / 3, cy}, {cx - r / 6, cy - r},
                                {cx + r / 6, cy + r}, {cx + r / 3, cy}, {cx + r, cy}};
        Polyline(dc, pulse, 6);
      }
      break;
    case 105: {  // imaging: the drive into a file
      Rectangle(dc, cx - r / 2, cy - r, cx + r / 2, cy + r);
      break;
    }
    case 106:  // cloning: a second drive
      RoundRect(dc, cx - r, cy - r / 2, cx + r, cy + r / 2, 8, 8);
      break;
    default: break;
  }
}

// The skin picture of each option button, by command.
UINT PictureOf(UINT id) {
  switch (id) {
    case 101: return IDB_OPTION_FORMATTED;
    case 102: return IDB_OPTION_PARTITION;
    case 103: return IDB_OPTION_DELETED;
    case 104: return IDB_OPTION_ADVANCE;
    case 105: return IDB_OPTION_IMAGING;
    case 106: return IDB_OPTION_CLONING;
    case 107: return IDB_OPTION_HEALTH;
    default: return 0;
  }
}

// The face drawn with GDI alone, for a button whose picture cannot be loaded.
void DrawPlainPicture(HDC dc, const RECT& area, UINT id) {
  const int w = area.right - area.left;
  const int h = area.bottom - area.top;
  FillColour(dc, area, RGB(30, 86, 176));
  const int driveW = w * 3 / 4;
  const int driveH = h * 3 / 5;
  const int x = area.left + (w - driveW) / 2;
  const int y = area.top + h / 10;
  Drive(dc, x, y, driveW, driveH);
  Emblem(dc, id, area.left + w / 2, y + driveH + (area.bottom - y - driveH) / 2, w / 7);
}

}  // namespace

void DrawOptionPicture(HDC dc, const RECT& area, UINT id) {
  const UINT resource = PictureOf(id);
  if (resource == 0 ||
      !DrawSkinPicture(dc, area, resource, Gdiplus::InterpolationModeHighQualityBicubic)) {
    DrawPlainPicture(dc, area, id);
  }
}

}  // namespace kavo::shell

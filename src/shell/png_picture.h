// PNG pictures kept in the program's resources (type "PNG", numeric IDs), decoded with GDI+:
// the skin of the buttons and pages.
#pragma once

// The Windows header, then OLE, whose types GDI+ needs (the lean Windows header leaves them out).
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>
// clang-format on

namespace kavo::shell {

// Owns one GDI+ bitmap.
class CGdiPlusBitmap {
 public:
  CGdiPlusBitmap() = default;
  virtual ~CGdiPlusBitmap();
  CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
  CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;

  Gdiplus::Bitmap* Bitmap() const { return m_pBitmap; }

 protected:
  void DeleteBitmap();

  Gdiplus::Bitmap* m_pBitmap = nullptr;
};

// A bitmap decoded from a PNG resource. GDI+ reads the picture lazily from the stream it was
// made from, so the memory block under that stream lives as long as the bitmap.
class TAVR_GDIWithPNG : public CGdiPlusBitmap {
 public:
  TAVR_GDIWithPNG() = default;
  ~TAVR_GDIWithPNG() override;

  // Loads PNG resource `id` of `module` (null: the program itself), replacing what was held.
  // False, and nothing held, when there is no such resource or it does not decode.
  // GDI+ must be started.
  bool Load(UINT id, HMODULE module = nullptr);

 private:
  void Empty();

  HGLOBAL m_hBuffer = nullptr;
};

// The skin picture `id` of the program, loaded on first use and kept for the program's run;
// null when it cannot be loaded, and the caller draws without it.
Gdiplus::Bitmap* SkinPicture(UINT id);

// Draws skin picture `id` stretched over `area` of `dc` with `mode` (nearest neighbour keeps a
// flat picture's edges sharp, bicubic smooths a drawing). False, and nothing drawn, when the
// picture cannot be loaded.
bool DrawSkinPicture(HDC dc, const RECT& area, UINT id, Gdiplus::InterpolationMode mode);

}  // namespace kavo::shell

#include "shell/png_picture.h"

#include <cstring>
#include <map>

namespace kavo::shell {

CGdiPlusBitmap::~CGdiPlusBitmap() {
  DeleteBitmap();
}

void CGdiPlusBitmap::DeleteBitmap() {
  delete m_pBitmap;
  m_pBitmap = nullptr;
}

TAVR_GDIWithPNG::~TAVR_GDIWithPNG() {
  Empty();
}

void TAVR_GDIWithPNG::Empty() {
  DeleteBitmap();
  if (m_hBuffer != nullptr) {
    GlobalUnlock(m_hBuffer);
    GlobalFree(m_hBuffer);
    m_hBuffer = nullptr;
  }
}

bool TAVR_GDIWithPNG::Load(UINT id, HMODULE module) {
  Empty();
  if (module == nullptr) module = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  if (resource == nullptr) return false;
  const DWORD size = SizeofResource(module, resource);
  const HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (size == 0 || data == nullptr) return false;

  m_hBuffer = GlobalAlloc(GMEM_MOVEABLE, size);
  void* buffer = m_hBuffer != nullptr ? GlobalLock(m_hBuffer) : nullptr;
  if (buffer == nullptr) {
    Empty();
    return false;
  }
  std::memcpy(buffer, data, size);
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(m_hBuffer, FALSE, &stream) != S_OK) {
    Empty();
    return false;
  }
  m_pBitmap = Gdiplus::Bitmap::FromStream(stream);
  stream->Release();  // the bitmap keeps its own reference
  if (m_pBitmap == nullptr || m_pBitmap->GetLastStatus() != Gdiplus::Ok) {
    Empty();
    return false;
  }
  return true;
}

Gdiplus::Bitmap* SkinPicture(UINT id) {
  // Never destroyed: GDI+ is shut down before the program's static objects go.
  static auto* pictures = new std::map<UINT, TAVR_GDIWithPNG>;
  const auto [it, added] = pictures->try_emplace(id);
  if (added) it->second.Load(id);
  return it->second.Bitmap();
}

bool DrawSkinPicture(HDC dc, const RECT& area, UINT id, Gdiplus::InterpolationMode mode) {
  Gdiplus::Bitmap* picture = SkinPicture(id);
  if (picture == nullptr) return false;
  Gdiplus::Graphics graphics(dc);
  graphics.SetInterpolationMode(mode);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.DrawImage(
      picture, Gdiplus::Rect(area.left, area.top, area.right - area.left, area.bottom - area.top),
      0, 0, static_cast<INT>(picture->GetWidth()), static_cast<INT>(picture->GetHeight()),
      Gdiplus::UnitPixel);
  return true;
}

}  // namespace kavo::shell

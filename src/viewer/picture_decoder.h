// The picture decoder of the viewer: a file path in, a device-dependent bitmap and an error code
// out. It decodes with the Windows Imaging Component; a file that no installed codec reads (the
// camera RAW formats) shows the largest JPEG preview embedded in it instead.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kavo::viewer {

// Load results: 0 is success, every other value names why no bitmap was made.
enum DecodeError : int16_t {
  kDecodeOk = 0,
  kDecodeNoMemory = 1,
  kDecodeCannotOpen = 2,
  kDecodeCannotRead = 3,
  kDecodeUnknownFormat = 5,
  kDecodeBadPicture = 6,
  kDecodeNoCodecs = 7,
};

// Where outside codec modules would be looked for. The imaging component finds its codecs
// itself, so this only keeps the start-up order of the viewer; it changes nothing.
void SetDecoderPluginsPath(const char* path);

// Decodes frame 0 of the picture at `path` into a new bitmap compatible with the screen. On
// success `*bitmap` receives it (the caller owns it); on failure `*bitmap` is left as it was.
// COM must be initialised on the calling thread.
int16_t LoadBitmapIntoDDB(const wchar_t* path, HBITMAP* bitmap);

}  // namespace kavo::viewer

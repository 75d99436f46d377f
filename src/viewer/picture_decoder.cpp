#include "viewer/picture_decoder.h"

// clang-format off
#include <windows.h>
#include <wincodec.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

namespace kavo::viewer {
namespace {

// The most of a file read when looking for embedded previews, the most candidates tried, and the
// largest picture made (in bytes of 32-bit pixels).
constexpr uint64_t kScanLimit = 512ull << 20;
constexpr size_t kCandidateLimit = 256;
constexpr uint64_t kPixelBytesLimit = 1ull << 30;

// Holds one COM interface and releases it.
template <typename T>
class Com {
 public:
  Com() = default;
  ~Com() { Reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T* operator->() const { return m_ptr; }
  T* Get() const { return m_ptr; }
  T** Out() {
    Reset();
    return &m_ptr;
  }
  void Reset() {
    if (m_ptr != nullptr) m_ptr->Release();
    m_ptr = nullptr;
  }

 private:
  T* m_ptr = nullptr;
};

// Turns frame 0 of `decoder` into a bitmap compatible with the screen.
int16_t FrameToBitmap(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, HBITMAP* out) {
  Com<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.Out()))) return kDecodeBadPicture;
  Com<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.Out()))) return kDecodeNoCodecs;
  if (FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return kDecodeBadPicture;
  }
  UINT width = 0, height = 0;
  if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0) {
    return kDecodeBadPicture;
  }
  const uint64_t bytes = uint64_t{width} * height * 4;
  if (width > 0x7FFFFFFF / 4 || height > 0x7FFFFFFF || bytes > kPixelBytesLimit) {
    return kDecodeNoMemory;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as the pixels come
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr || bits == nullptr) return kDecodeNoMemory;
  if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(bytes),
                                   static_cast<BYTE*>(bits)))) {
    DeleteObject(section);
    return kDecodeBadPicture;
  }
  const HDC screen = GetDC(nullptr);
  HBITMAP ddb = CreateCompatibleBitmap(screen, static_cast<int>(width), static_cast<int>(height));
  if (ddb != nullptr && SetDIBits(screen, ddb, 0, height, bits, &info, DIB_RGB_COLORS) == 0) {
    DeleteObject(ddb);
    ddb = nullptr;
  }
  ReleaseDC(nullptr, screen);
  DeleteObject(section);
  if (ddb == nullptr) return kDecodeNoMemory;
  *out = ddb;
  return kDecodeOk;
}

// Reads up to kScanLimit bytes of the file; false when it cannot be read.
bool ReadHead(const wchar_t* path, std::vector<BYTE>& data) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) != 0 && size.QuadPart >= 0;
  if (ok) {
    try {
      data.resize(static_cast<size_t>(std::min<uint64_t>(size.QuadPart, kScanLimit)));
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  size_t done = 0;
  while (ok && done < data.size()) {
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
    DWORD got = 0;
    ok = ReadFile(file, data.data() + done, ask, &got, nullptr) != 0;
    if (got == 0) break;
    done += got;
  }
  CloseHandle(file);
  data.resize(done);
  return ok;
}

// A JPEG decoder over the bytes from `offset` to the end of `data`, or false.
bool JpegAt(IWICImagingFactory* factory, std::vector<BYTE>& data, size_t offset,
            Com<IWICStream>& stream, Com<IWICBitmapDecoder>& decoder) {
  if (FAILED(factory->CreateStream(stream.Out()))) return false;
  const size_t rest = std::min<size_t>(data.size() - offset, 0xFFFFFFFFu);
  if (FAILED(stream->InitializeFromMemory(data.data() + offset, static_cast<DWORD>(rest)))) {
    return false;
  }
  if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.Out()))) {
    return false;
  }
  GUID container{};
  return SUCCEEDED(decoder->GetContainerFormat(&container)) &&
         container == GUID_ContainerFormatJpeg;
}

// The largest JPEG embedded in the file that decodes (the preview a camera writes into its RAW
// files): every FF D8 FF start is asked for its size, then the largest are decoded in turn.
int16_t LoadEmbeddedJpeg(IWICImagingFactory* factory, std::vector<BYTE>& data, HBITMAP* out) {
  struct Candidate {
    size_t offset;
    uint64_t area;
  };
  std::vector<Candidate> candidates;
  for (size_t i = 0; i + 3 <= data.size() && candidates.size() < kCandidateLimit; ++i) {
    if (data[i] != 0xFF || data[i + 1] != 0xD8 || data[i + 2] != 0xFF) continue;
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (JpegAt(factory, data, i, stream, decoder) && SUCCEEDED(decoder->GetFrame(0, frame.Out())) &&
        SUCCEEDED(frame->GetSize(&width, &height)) && width > 0 && height > 0) {
      candidates.push_back({i, uint64_t{width} * height});
    }
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.area > b.area; });
  for (const Candidate& candidate : candidates) {
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    if (!JpegAt(factory, data, candidate.offset, stream, decoder)) continue;
    if (FrameToBitmap(factory, decoder.Get(), out) == kDecodeOk) return kDecodeOk;
  }
  return kDecodeUnknownFormat;
}

}  // namespace

void SetDecoderPluginsPath(const char*) {}

int16_t LoadBitmapIntoDDB(const wchar_t* path, HBITMAP* bitmap) {
  if (path == nullptr || path[0] == 0 || bitmap == nullptr) return kDecodeCannotOpen;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return kDecodeCannotOpen;
  }
  Com<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out())))) {
    return kDecodeNoCodecs;
  }
  // The file is read into memory and closed before decoding: Kavo deletes its extracted copy as
  // soon as the hand-over returns, which fails while a decoder still holds the file open (wine's
  // file decoder keeps it open after a picture it cannot read). Past the scan limit a file is
  // decoded from its head, which no previewable picture needs.
  std::vector<BYTE> data;
  if (!ReadHead(path, data)) return kDecodeCannotRead;
  HBITMAP made = nullptr;
  int16_t result = kDecodeUnknownFormat;
  {
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    if (!data.empty() && SUCCEEDED(factory->CreateStream(stream.Out())) &&
        SUCCEEDED(stream->InitializeFromMemory(
            data.data(), static_cast<DWORD>(std::min<size_t>(data.size(), 0xFFFFFFFFu)))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                   WICDecodeMetadataCacheOnDemand,
                                                   decoder.Out()))) {
      result = FrameToBitmap(factory.Get(), decoder.Get(), &made);
    }
  }
  // A picture too large for memory is not retried through its previews.
  if (result != kDecodeOk && result != kDecodeNoMemory) {
    result = LoadEmbeddedJpeg(factory.Get(), data, &made);
  }
  if (result == kDecodeOk) *bitmap = made;
  return result;
}

}  // namespace kavo::viewer

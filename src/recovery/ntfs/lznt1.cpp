#include "recovery/ntfs/lznt1.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint16_t kChunkCompressed = 0x8000;
constexpr uint16_t kChunkSizeMask = 0x0FFF;

// Decodes one compressed chunk into out[start, limit). Returns the end of the data it wrote, or
// nothing useful (with `ok` false) on damage; the bytes written so far stay in `out`.
size_t DecodeChunk(const uint8_t* p, const uint8_t* end, uint8_t* out, size_t start, size_t limit,
                   bool& ok) {
  size_t pos = start;
  ok = true;
  while (p < end) {
    const uint8_t tags = *p++;
    for (int bit = 0; bit < 8 && p < end; ++bit) {
      if ((tags & (1 << bit)) == 0) {
        if (pos >= limit) return pos;
        out[pos++] = *p++;
        continue;
      }
      if (end - p < 2) {
        ok = false;
        return pos;
      }
      const uint16_t token = LoadLe16(p);
      p += 2;
      const size_t written = pos - start;
      // The split between offset and length bits moves as the chunk fills.
      unsigned lengthBits = 12;
      for (size_t i = written - 1; written > 0 && i >= 0x10; i >>= 1) --lengthBits;
      const size_t back = (token >> lengthBits) + 1;
      const size_t length = (token & ((1u << lengthBits) - 1)) + 3;
      if (written == 0 || back > written || written + length > kLznt1ChunkBytes) {
        ok = false;
        return pos;
      }
      // Byte by byte: the copy may overlap the bytes it produces.
      for (size_t i = 0; i < length && pos < limit; ++i, ++pos) out[pos] = out[pos - back];
    }
  }
  return pos;
}

}  // namespace

bool DecompressLznt1(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes,
                     size_t* produced) {
  size_t inPos = 0;
  size_t outPos = 0;
  bool ok = true;
  while (inPos + 2 <= inBytes && outPos < outBytes) {
    const uint16_t header = LoadLe16(in + inPos);
    if (header == 0) break;
    const size_t dataBytes = (header & kChunkSizeMask) + 1u;
    if (inPos + 2 + dataBytes > inBytes) {
      ok = false;
      break;
    }
    const uint8_t* data = in + inPos + 2;
    const size_t chunkEnd = std::min(outPos + kLznt1ChunkBytes, outBytes);
    if ((header & kChunkCompressed) == 0) {
      const size_t n = std::min(dataBytes, chunkEnd - outPos);
      std::memcpy(out + outPos, data, n);
      outPos += n;
    } else {
      outPos = DecodeChunk(data, data + dataBytes, out, outPos, chunkEnd, ok);
      if (!ok) break;
    }
    inPos += 2 + dataBytes;
    // A short chunk still stands for 4096 bytes when another chunk follows it.
    if (outPos < chunkEnd && inPos + 2 <= inBytes && LoadLe16(in + inPos) != 0) {
      std::memset(out + outPos, 0, chunkEnd - outPos);
      outPos = chunkEnd;
    }
  }
  *produced = outPos;
  return ok;
}

}  // namespace kavo

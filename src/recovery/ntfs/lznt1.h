// LZNT1, the compression of NTFS compressed files: a compression unit is a sequence of chunks,
// each standing for 4096 bytes of data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavo {

inline constexpr size_t kLznt1ChunkBytes = 4096;

// Decompresses `in` into `out` (at most `outBytes` bytes). A chunk that yields fewer than 4096
// bytes is followed by zeros up to its 4096 bytes, as NTFS reads it. `*produced` receives the
// bytes written to `out`, also when the data turn out to be damaged; the result is false then.
bool DecompressLznt1(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes,
                     size_t* produced);

}  // namespace kavo

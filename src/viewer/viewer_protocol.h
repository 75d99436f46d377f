// The hand-over between Kavo's results page and the Pictel viewer: both directions are
// WM_COPYDATA sent synchronously. Kavo finds the viewer by its title and sends the 533-byte
// record below (dwData 1); the viewer finds Kavo by its title and asks for the next file of the
// folder with dwData 1, cbData 536 and no data. Only the path of the record is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kavo::viewer {

inline constexpr wchar_t kViewerTitle[] = L"NorvelView";
inline constexpr wchar_t kKavoTitle[] = L"Kavo";
inline constexpr unsigned long kCopyDataKind = 1;
inline constexpr unsigned long kNextFileBytes = 536;  // cbData of the next-file request
inline constexpr size_t kRecordBytes = 533;
inline constexpr size_t kPathUnits = 260;  // path units at offset 0, the last always zero

using HandOverRecord = std::array<uint8_t, kRecordBytes>;

// Packs the record little-endian: the path (UTF-16, cut to 259 units, zero-terminated) at 0, the
// size's low and high halves at 520 and 524, two 16-bit 1 values at 528 and 530, and the path's
// length in characters (its low byte) at 532.
inline HandOverRecord PackHandOver(const std::u16string& path, uint64_t size) {
  HandOverRecord record{};
  const size_t units = path.size() < kPathUnits - 1 ? path.size() : kPathUnits - 1;
  for (size_t i = 0; i < units; ++i) {
    record[2 * i] = static_cast<uint8_t>(path[i] & 0xFF);
    record[2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
  }
  const auto put = [&record](size_t at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) record[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(520, size & 0xFFFFFFFFu, 4);
  put(524, size >> 32, 4);
  put(528, 1, 2);
  put(530, 1, 2);
  record[532] = static_cast<uint8_t>(units);
  return record;
}

// The path of a record of `bytes` bytes: the units up to the first zero, never past the path
// field or the bytes given (a short or unterminated record yields what it holds).
inline std::u16string HandOverPath(const uint8_t* data, size_t bytes) {
  std::u16string path;
  const size_t limit = bytes < 2 * kPathUnits ? bytes / 2 : kPathUnits;
  for (size_t i = 0; i < limit; ++i) {
    const char16_t unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (unit == 0) break;
    path.push_back(unit);
  }
  return path;
}

}  // namespace kavo::viewer

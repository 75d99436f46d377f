// Little- and big-endian field access at fixed offsets of on-disk and file records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kavo {

inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLe32(p)) | (static_cast<uint64_t>(LoadLe32(p + 4)) << 32);
}
inline uint16_t LoadBe16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t LoadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t LoadBe64(const uint8_t* p) {
  return (static_cast<uint64_t>(LoadBe32(p)) << 32) | static_cast<uint64_t>(LoadBe32(p + 4));
}

inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A GUID as files and disks store it: the first three fields little-endian, the last eight bytes
// in order, so that MakeGuid(0x2DC27766, 0xF623, 0x4200, 0x9D64115E9BFD4A08) is the GUID written
// {2DC27766-F623-4200-9D64-115E9BFD4A08}.
using Guid = std::array<uint8_t, 16>;
constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
  Guid g{};
  for (int i = 0; i < 4; ++i) g[i] = static_cast<uint8_t>(a >> (8 * i));
  for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<uint8_t>(b >> (8 * i));
  for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<uint8_t>(c >> (8 * i));
  for (int i = 0; i < 8; ++i) g[8 + i] = static_cast<uint8_t>(d >> (8 * (7 - i)));
  return g;
}

}  // namespace kavo

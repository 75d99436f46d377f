// MD5 (RFC 1321), for checking a disk image against the digest stored with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kavo {

class Md5 {
 public:
  void Update(const void* data, size_t bytes);
  // The digest of everything given; the object is spent afterwards.
  std::array<uint8_t, 16> Finish();
  // Lower-case hex of a digest.
  static std::string Hex(const std::array<uint8_t, 16>& digest);

 private:
  void Block(const uint8_t* block);

  uint32_t m_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  uint64_t m_nBytes = 0;
  uint8_t m_buffer[64] = {};
};

}  // namespace kavo

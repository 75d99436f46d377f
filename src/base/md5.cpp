#include "base/md5.h"

#include <algorithm>
#include <cstring>

namespace kavo {
namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

uint32_t Rotate(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

}  // namespace

void Md5::Block(const uint8_t* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = block[4 * i] | block[4 * i + 1] << 8 | block[4 * i + 2] << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int g;
    switch (round) {
      case 0: f = (b & c) | (~b & d), g = i; break;
      case 1: f = (d & b) | (~d & c), g = (5 * i + 1) % 16; break;
      case 2: f = b ^ c ^ d, g = (3 * i + 5) % 16; break;
      default: f = c ^ (b | ~d), g = (7 * i) % 16; break;
    }
    const uint32_t next = b + Rotate(a + f + kSine[i] + m[g], kShift[round * 4 + i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
}

void Md5::Update(const void* data, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t used = m_nBytes % 64;
  m_nBytes += bytes;
  if (used > 0) {
    const size_t take = std::min<size_t>(bytes, 64 - used);
    std::memcpy(m_buffer + used, p, take);
    p += take;
    bytes -= take;
    if (used + take < 64) return;
    Block(m_buffer);
  }
  for (; bytes >= 64; p += 64, bytes -= 64) Block(p);
  std::memcpy(m_buffer, p, bytes);
}

std::array<uint8_t, 16> Md5::Finish() {
  const uint64_t bits = m_nBytes * 8;
  const uint8_t pad = 0x80;
  Update(&pad, 1);
  const uint8_t zero[64] = {};
  Update(zero, (120 - m_nBytes % 64) % 64);
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(length, 8);
  std::array<uint8_t, 16> digest;
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(m_state[i / 4] >> (8 * (i % 4)));
  return digest;
}

std::string Md5::Hex(const std::array<uint8_t, 16>& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  return hex;
}

}  // namespace kavo

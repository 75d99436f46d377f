// Reads shared by the container readers: exact reads at a byte offset of a container's file or
// of a parent disk, and the bounds every table entry is checked against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/device.h"

namespace kavo::containers {

// The largest block or cluster table a reader holds in memory (a table this size maps tens of
// terabytes); a larger one is refused rather than allocated.
constexpr uint64_t kMaxTableBytes = 256u << 20;

// The largest virtual disk a reader accepts (64 PiB): sizes past it are damage, and staying below
// it keeps every byte offset of the disk and its sector counts far from overflowing.
constexpr uint64_t kMaxVirtualBytes = 1ULL << 56;

// Blocks of `blockBytes` needed to cover `bytes`.
inline uint64_t BlocksFor(uint64_t bytes, uint64_t blockBytes) {
  return bytes / blockBytes + (bytes % blockBytes != 0);
}

// Reads exactly `bytes` bytes at `offset` of `device`; a failed or short read is a read fault.
inline bool ReadExact(platform::RawDevice& device, uint64_t offset, void* buffer, size_t bytes,
                      platform::ErrorCode* error) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (bytes > 0) {
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        !device.Seek(static_cast<int64_t>(offset), platform::SeekOrigin::Begin, nullptr)) {
      *error = platform::FaultCode(platform::Fault::BadPosition);
      return false;
    }
    const uint32_t step = static_cast<uint32_t>(std::min<size_t>(bytes, 1u << 30));
    uint32_t got = 0;
    if (!device.Read(out, step, &got)) {
      *error = device.LastError() ? device.LastError() : platform::FaultCode(platform::Fault::Read);
      return false;
    }
    if (got != step) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    out += step;
    offset += step;
    bytes -= step;
  }
  return true;
}

// Reads from a parent disk: bytes past its end read as zeros (a parent may be smaller than the
// child built on it).
inline bool ReadParent(platform::RawDevice& parent, uint64_t parentSize, uint64_t offset,
                       uint8_t* buffer, uint32_t bytes, platform::ErrorCode* error) {
  const uint64_t inside = offset >= parentSize ? 0 : std::min<uint64_t>(bytes, parentSize - offset);
  if (inside > 0 && !ReadExact(parent, offset, buffer, static_cast<size_t>(inside), error)) {
    return false;
  }
  std::memset(buffer + inside, 0, bytes - static_cast<uint32_t>(inside));
  return true;
}

// Splits a read of `bytes` at virtual `offset` into the pieces that blocks of `blockBytes` hold
// and hands each to `piece(block, within, buffer, step)`; false as soon as one piece fails.
template <typename Piece>
bool ForEachBlockPiece(uint64_t offset, uint8_t* buffer, uint32_t bytes, uint32_t blockBytes,
                       Piece&& piece) {
  while (bytes > 0) {
    const uint64_t block = offset / blockBytes;
    const uint32_t within = static_cast<uint32_t>(offset % blockBytes);
    const uint32_t step = std::min(bytes, blockBytes - within);
    if (!piece(block, within, buffer, step)) return false;
    offset += step;
    buffer += step;
    bytes -= step;
  }
  return true;
}

// True when [offset, offset + length) lies inside a file of `size` bytes.
inline bool InsideFile(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace kavo::containers

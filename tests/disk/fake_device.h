// A device in memory whose reads can be made to fail: by read size, by byte range, or always.
// Used to drive the sector source's probe and failure paths.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/storage.h"

namespace kavo::test {

struct FakeDeviceState {
  uint64_t length = 0;               // reported length; bytes past `data` read as a pattern
  std::vector<uint8_t> data;         // the first bytes of the device
  uint32_t blockSize = 1;            // reads not a multiple of it fail, as on unbuffered devices
  std::function<bool(uint64_t offset, uint32_t bytes)> failRead;  // true: this read fails
  bool failLength = false;

  // What happened, for the test to inspect.
  std::vector<std::u16string> openedPaths;
  std::vector<std::pair<uint64_t, uint32_t>> reads;  // (offset, bytes) of successful reads
  int opens = 0;
};

// An opener that gives out devices backed by `state`; the state must outlive them.
DeviceOpener FakeOpener(FakeDeviceState& state);

// The pattern byte at an offset of the fake device beyond its explicit data.
uint8_t PatternByte(uint64_t offset);

}  // namespace kavo::test

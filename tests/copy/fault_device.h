// A device in memory for driving the copy engine through its failure paths: chosen sectors fail
// to read (always, or for their first few reads), writes at a chosen sector fail or come up
// short, preparation controls fail, and every call is recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "disk/storage.h"

namespace kavo::test {

struct FaultDeviceState {
  static constexpr int kAlways = std::numeric_limits<int>::max();

  uint32_t sectorSize = 512;  // transfers not a multiple of it fail, as on unbuffered devices
  uint64_t sectors = 0;
  // Contents: explicit bytes when `stored` is set (destinations), else SourceByte(offset).
  bool stored = false;
  std::vector<uint8_t> bytes;

  // Sector -> how many more reads of it fail (kAlways: every one). A read covering several
  // sectors fails while any of them still fails, without using up a failure; a one-sector read
  // uses one up.
  std::map<uint64_t, int> failingReads;
  // A write covering this sector fails; with `shortWrite` it reports half its bytes written.
  std::optional<uint64_t> failWriteAt;
  bool shortWrite = false;
  bool failFlush = false;
  std::map<platform::DeviceControl, bool> controlResults;  // missing: succeeds

  // Called before every read with (sector, sector count).
  std::function<void(uint64_t, uint64_t)> onRead;

  // What happened.
  std::vector<std::pair<uint64_t, uint64_t>> reads;   // (sector, count), failed ones too
  std::vector<std::pair<uint64_t, uint64_t>> writes;  // (sector, count) of accepted writes
  std::vector<platform::DeviceControl> controls;
  std::vector<platform::OpenMode> openModes;
  int flushes = 0;
};

// The byte at `offset` of an unstored device: varies with the sector and the place in it.
uint8_t SourceByte(uint64_t offset);

// An opener handing out devices backed by `state` (which must outlive them).
DeviceOpener FaultOpener(FaultDeviceState& state);

}  // namespace kavo::test

// The reader every carver that walks a found file reads through.
#include "scanners/walk_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kavo {
namespace {

// Four sectors of 8 bytes; sector 2's read fails after scribbling over the buffer, as a device
// read that fails part way may, and sector 4 lies past the source's end.
SectorRead FourSectors(uint64_t sector, uint8_t* buffer) {
  if (sector >= 4) return SectorRead::PastEnd;
  std::memset(buffer, 0xEE, 8);
  if (sector == 2) return SectorRead::Failed;
  for (uint8_t i = 0; i < 8; ++i) buffer[i] = static_cast<uint8_t>(sector * 8 + i);
  return SectorRead::Ok;
}

TEST(WalkReader, ReadsAcrossSectorEndsWithAFailedSectorAsZeros) {
  const std::vector<uint8_t> first{0, 1, 2, 3, 4, 5, 6, 7};
  WalkReader file(first.data(), 8, 0, FourSectors);
  struct Case {
    uint64_t offset;
    std::vector<uint8_t> bytes;  // empty: the read fails
  };
  const Case cases[] = {
      {6, {6, 7, 8, 9}},     // across the first sector's end
      {14, {14, 15, 0, 0}},  // into the sector that fails: zeros, never stale bytes
      {22, {0, 0, 24, 25}},  // out of it again
      {18, {0, 0}},          // back into it: still zeros
      {30, {}},              // past the source's end
      {0, {0, 1}},           // the first sector comes from the source again
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.bytes.empty() ? 4 : c.bytes.size(), 0xAA);
    const bool ok = file.Read(c.offset, out.data(), static_cast<uint32_t>(out.size()));
    EXPECT_EQ(ok, !c.bytes.empty()) << c.offset;
    if (ok) {
      EXPECT_EQ(out, c.bytes) << c.offset;
    }
  }
  ASSERT_TRUE(file.Load(2));
  EXPECT_TRUE(file.HeldFailed());
  ASSERT_TRUE(file.Load(3));
  EXPECT_FALSE(file.HeldFailed());
}

}  // namespace
}  // namespace kavo

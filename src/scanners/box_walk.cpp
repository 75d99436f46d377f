#include "scanners/box_walk.h"

#include <cstring>
#include <limits>
#include <utility>

#include "platform/bytes.h"

namespace kavo {

namespace {

// The boxes of a file's body: media data, the movie, free space, and the fragments (with their
// index) of fragmented files.
bool IsBodyBox(const uint8_t* type) {
  static constexpr char kTypes[][5] = {"uuid", "mdat", "free", "moov", "wide",
                                       "skip", "moof", "mfra", "sidx"};
  for (const char* t : kTypes) {
    if (std::memcmp(type, t, 4) == 0) return true;
  }
  return false;
}

// The size of the box at `offset` whose header starts with `header` (8 bytes read), reading its
// 64-bit size when it has one. Nothing when the size is 0, below the header, or unreadable.
std::optional<uint64_t> BoxSize(WalkReader& file, uint64_t offset, const uint8_t* header) {
  const uint32_t size = LoadBe32(header);
  if (size != 1) {
    if (size < 8) return std::nullopt;
    return size;
  }
  uint8_t large[8];
  if (offset > std::numeric_limits<uint64_t>::max() - 8 || !file.Read(offset + 8, large, 8)) {
    return std::nullopt;
  }
  const uint64_t value = (uint64_t{LoadBe32(large)} << 32) | LoadBe32(large + 4);
  if (value < 16) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint64_t> MeasureTopLevelBoxes(WalkReader& file,
                                             const std::function<bool()>& stopRequested) {
  uint8_t header[8];
  if (!file.Read(0, header, 8)) return std::nullopt;
  const uint32_t first = LoadBe32(header);
  if (first == 0 || first == 0xFFFFFFFF) return std::nullopt;
  const std::optional<uint64_t> firstSize = BoxSize(file, 0, header);
  if (!firstSize) return std::nullopt;

  uint64_t offset = *firstSize;
  for (uint32_t boxes = 1; boxes < kMaxTopLevelBoxes; ++boxes) {
    if (stopRequested()) return std::nullopt;
    // A file that ends where the source ends is measured up to there.
    if (!file.Read(offset, header, 8) || !IsBodyBox(header + 4)) break;
    const std::optional<uint64_t> size = BoxSize(file, offset, header);
    if (!size || *size > std::numeric_limits<uint64_t>::max() - offset) break;
    offset += *size;
  }
  return offset;
}

bool MeasureBoxedFile(const uint8_t* sector, uint32_t sectorSize, uint64_t startSector,
                      WalkReader::SectorReader read, const std::function<bool()>& stopRequested,
                      int64_t& length, uint64_t& endSector) {
  WalkReader file(sector, sectorSize, startSector, std::move(read));
  const std::optional<uint64_t> measured = MeasureTopLevelBoxes(file, stopRequested);
  if (!measured || *measured > uint64_t{std::numeric_limits<int64_t>::max()}) return false;
  length = static_cast<int64_t>(*measured);
  endSector = startSector + *measured / sectorSize;
  return true;
}

}  // namespace kavo

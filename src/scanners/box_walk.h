// The top-level box walk that measures ISO media and QuickTime files (MOV, MP4 and their kin):
// from the end of the first box (the "ftyp" box), the walk steps over the boxes that make up the
// file's body and ends at the first box of any other type.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "scanners/walk_reader.h"

namespace kavo {

// Most boxes the walk steps over; a walk that gets this far ends there.
constexpr uint32_t kMaxTopLevelBoxes = 65536;

// The length of the file whose first box starts at offset 0 of `file`: the offset at which the
// walk ends. A box of size 0 (one that runs to an end nobody recorded) or of a size below its
// own header ends the walk at that box; size 1 means a 64-bit size follows the type. Nothing when
// the first box's size is 0, FFFFFFFF or below its header, or when `stopRequested` answers true
// before a box.
std::optional<uint64_t> MeasureTopLevelBoxes(WalkReader& file,
                                             const std::function<bool()>& stopRequested);

// Measures the file whose first sector (`sectorSize` bytes, at source sector `startSector`) is
// `sector` by that walk: sets `length` and `endSector` (the sector holding the byte after the
// file) and returns true when the walk gives a length.
bool MeasureBoxedFile(const uint8_t* sector, uint32_t sectorSize, uint64_t startSector,
                      WalkReader::SectorReader read, const std::function<bool()>& stopRequested,
                      int64_t& length, uint64_t& endSector);

}  // namespace kavo

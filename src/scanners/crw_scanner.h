// Canon CRW (camera image file format): a heap of records behind an "II" header; the file ends
// with the root heap's record table and the pointer to it.
#pragma once

#include <vector>

#include "scanners/tiff_base_scanner.h"

namespace kavo {

// Keyed by its whole header mark, not the family's "MM", so that it scans beside the TIFF
// scanner (see CORFScanner).
class CCRWScanner final : public CTiffBaseScanner {
 public:
  CCRWScanner();
  // How far the root record table is sought, in bytes from the file's start.
  static constexpr uint64_t kSearchBytes = 40960ull * 512;
  // Shorter results are not pictures.
  static constexpr uint64_t kMinLength = 100;

  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // The file's length when the JPEG record's tag at `tag` lies in the root record table.
  bool RootTableEnd(uint64_t tag, uint64_t* length);

  std::vector<uint8_t> m_search;
};

}  // namespace kavo

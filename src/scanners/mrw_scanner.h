// Minolta MRW: a block header whose picture-raw-dimensions block gives the sensor size and the
// packing; the raw data follows the blocks.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CMRWScanner final : public CBaseScanner {
 public:
  CMRWScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

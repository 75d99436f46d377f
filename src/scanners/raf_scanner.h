// Fujifilm RAF: a fixed header with the offsets and lengths of the embedded JPEG and the raw
// data.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CRAFScanner final : public CBaseScanner {
 public:
  CRAFScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

// Flash video: "FLV", version 1, audio and/or video flags; measured by a walk over its tags.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CFLVScanner final : public CBaseScanner {
 public:
  CFLVScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

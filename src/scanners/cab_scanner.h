// Cabinet archives: "MSCF" with two zero reserved fields; the header states the cabinet's size,
// and a signed cabinet carries its signature after that.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CabScanner final : public CBaseScanner {
 public:
  CabScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

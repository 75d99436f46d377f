// QuickTime and ISO media files of any brand: "ftyp" at offset 4, measured by the top-level box
// walk, named "mov".
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CMOVScanner final : public CBaseScanner {
 public:
  CMOVScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
  // The signature lies at offset 4, after the first box's size, whose first byte can be any.
  bool CanMatchLeadByte(uint8_t) const override { return true; }
};

}  // namespace kavo

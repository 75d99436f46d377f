// MPEG-4 family files (MP4, M4V, M4A, 3GP) and QuickTime files of the brands this scanner
// knows: "ftyp" at offset 4, the major brand at 8 choosing the name, measured by the top-level
// box walk.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CMPEGScanner final : public CBaseScanner {
 public:
  CMPEGScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
  // The signature lies at offset 4, after the first box's size, whose first byte can be any.
  bool CanMatchLeadByte(uint8_t) const override { return true; }
};

}  // namespace kavo

// Olympus ORF and Panasonic RAW/RW2 files: TIFF directories behind their own header marks; the
// file ends with its image data.
#pragma once

#include "scanners/tiff_base_scanner.h"

namespace kavo {

// The registry key is the scanner's own header mark rather than the family's "MM", so that a
// scan with TIFF selected too still offers sectors to this scanner; MatchSignature tests every
// byte order and mark itself.
class CORFScanner final : public CTiffBaseScanner {
 public:
  CORFScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

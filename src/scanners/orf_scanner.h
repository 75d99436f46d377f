// Olympus ORF and Panasonic RAW/RW2 files: TIFF directories behind their own header marks; the
// file ends with its image data.
#pragma once

#include "scanners/tiff_base_scanner.h"

namespace kavo {

class CORFScanner final : public CTiffBaseScanner {
 public:
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

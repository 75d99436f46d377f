// TIFF images and the camera RAW files built on TIFF directories (DNG, PEF, NEF, ARW, 3FR, CR2,
// SR2, MEF, Ricoh, IIQ): one scanner names them all from the header and the camera maker.
#pragma once

#include "scanners/tiff_base_scanner.h"

namespace kavo {

class CTiffScanner final : public CTiffBaseScanner {
 public:
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  int Reject();
};

}  // namespace kavo

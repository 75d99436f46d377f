// AIFF and AIFC: an IFF "FORM" whose form type is "AIFF" or "AIFC"; the file is the FORM chunk.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CAIFFScanner final : public CBaseScanner {
 public:
  CAIFFScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

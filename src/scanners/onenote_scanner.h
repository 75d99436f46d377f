// OneNote sections: the section file-type GUID starts the header, which records the file's
// expected length.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class COne final : public CBaseScanner {
 public:
  COne();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

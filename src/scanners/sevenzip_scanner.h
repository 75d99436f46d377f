// 7z archives: the six-byte signature; the signature header gives where the next header lies
// and how long it is, and the next header ends the archive.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class C7Z final : public CBaseScanner {
 public:
  C7Z();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

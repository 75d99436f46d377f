// Outlook mail stores (.pst) and offline stores (.ost): "!BDN", the client magic and the
// platform bytes; the header's end-of-file field, which sits where the format version puts it,
// gives the length.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class Pst final : public CBaseScanner {
 public:
  Pst();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

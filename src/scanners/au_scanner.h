// Sun/NeXT audio (".snd"): a header of at least 24 bytes followed by the sound data.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CAUScanner final : public CBaseScanner {
 public:
  static constexpr uint32_t kMinHeaderSize = 24;

  CAUScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

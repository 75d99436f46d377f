// Windows bitmaps: "BM", the reserved words zero, the length from the header.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CBmpScanner final : public CBaseScanner {
 public:
  // A declared size this large is taken for damage and replaced by kFallbackLength.
  static constexpr uint32_t kSizeLimit = 104857600;
  static constexpr uint32_t kFallbackLength = 52428800;

  CBmpScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

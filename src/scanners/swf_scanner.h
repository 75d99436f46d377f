// Flash movies: "WS" at offset 1 after "F" (plain), "C" (zlib) or "Z" (LZMA); the length is the
// one the header records, which for a compressed movie is its length once expanded.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CSWFScanner final : public CBaseScanner {
 public:
  // Longer recorded lengths are taken for damage.
  static constexpr uint32_t kMaxLength = 1048575;

  CSWFScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
  bool CanMatchLeadByte(uint8_t byte) const override;
};

}  // namespace kavo

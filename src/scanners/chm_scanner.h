// Compiled help files: "ITSF" with 1 at offset 12; the header section that follows the header
// states the file's size.
#pragma once

#include <vector>

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CCHMScanner final : public CBaseScanner {
 public:
  CCHMScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // Copies `count` bytes at `offset` of the file into `out`, reading the sectors they lie in;
  // false on a stop request or when the source ends first.
  bool ReadAt(uint64_t offset, uint8_t* out, uint32_t count);

  WalkReader m_walk;
};

}  // namespace kavo

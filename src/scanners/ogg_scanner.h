// Ogg: a chain of "OggS" pages whose first page has sequence number 0.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class COGGScanner final : public CBaseScanner {
 public:
  COGGScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  WalkReader m_reader;
};

}  // namespace kavo

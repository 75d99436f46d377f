// RealMedia (".RMF"): an 18-byte file header followed by PROP, CONT, MDPR, DATA and INDX chunks.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CRMScanner final : public CBaseScanner {
 public:
  // Chunks walked beyond the header count of the file header.
  static constexpr uint32_t kExtraChunks = 5;

  CRMScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // Where the DATA chunk at `at` of `size` bytes ends; false on a stop request.
  bool DataEnd(uint64_t at, uint32_t size, uint64_t* end);
  int Accept(uint64_t length);

  WalkReader m_reader;
};

}  // namespace kavo

// RealAudio (".ra" FD): the header points at a "RaTC" record whose count gives the file's length.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CRAScanner final : public CBaseScanner {
 public:
  CRAScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  WalkReader m_reader;
};

}  // namespace kavo

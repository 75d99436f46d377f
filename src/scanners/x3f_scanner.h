// Sigma/Foveon X3F: a header followed by sections; the file ends with the directory section
// "SECd" and the pointer to it.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CX3FScanner final : public CBaseScanner {
 public:
  // How far the directory section is sought, in bytes from the file's start.
  static constexpr uint64_t kSearchBytes = 241126ull * 512;

  CX3FScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  bool ReadLe32(uint64_t position, uint32_t* value);

  WalkReader m_file;
};

}  // namespace kavo

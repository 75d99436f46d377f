// PNG: the eight-byte signature and an IHDR first chunk; the file ends with its IEND chunk.
#pragma once

#include <vector>

#include "scanners/base_scanner.h"

namespace kavo {

class CPngScanner final : public CBaseScanner {
 public:
  // How far the IEND chunk is sought from the file's start.
  static constexpr uint32_t kSearchBytes = 2u << 20;
  // Bytes recorded past the end of the IEND chunk's CRC.
  static constexpr uint32_t kTrailingBytes = 512;

  CPngScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  std::vector<uint8_t> m_buffer;
};

}  // namespace kavo

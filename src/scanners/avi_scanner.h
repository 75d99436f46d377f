// RIFF files: AVI videos (named by their first stream's codec, "DIVX" and "XVID" for the MPEG-4
// part 2 encoders that go by those names) and WAVE sound. The length is the RIFF chunk's; an AVI
// of more than one RIFF chunk (the "AVIX" extensions of large AVI files) is measured whole.
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CAVIScanner final : public CBaseScanner {
 public:
  // Most "AVIX" extension chunks followed after the first RIFF chunk (each up to 4 GiB).
  static constexpr uint32_t kMaxExtensions = 4096;

  CAVIScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

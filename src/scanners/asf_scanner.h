// ASF files (Windows Media): the header object's GUID at offset 0; the length is the file size
// that the File Properties object records; the codec list names video files "wmv" and sound
// files "wma", others stay "asf".
#pragma once

#include "scanners/base_scanner.h"

namespace kavo {

class CASFScanner final : public CBaseScanner {
 public:
  // Larger recorded file sizes are taken for damage.
  static constexpr uint64_t kMaxLength = 104857600;
  // Most entries of the codec list looked at for a video codec.
  static constexpr uint32_t kMaxCodecEntries = 128;

  CASFScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
};

}  // namespace kavo

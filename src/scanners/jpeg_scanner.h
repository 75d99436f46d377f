// JPEG with a JFIF (APP0) or Exif (APP1) header. The length comes from a walk over the marker
// segments up to the start of scan, then a search for the end-of-image marker.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CJpegScanner final : public CBaseScanner {
 public:
  // Longer files are cut to this length.
  static constexpr uint32_t kMaxLength = 209715200;
  // Shorter results are not pictures.
  static constexpr uint32_t kMinLength = 50;

  CJpegScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // Accepts a file of `length` bytes when it is long enough.
  int Accept(uint64_t length);

  WalkReader m_file;
};

}  // namespace kavo

// JPEG with a JFIF (APP0) or Exif (APP1) header. The length comes from a walk over the marker
// segments up to the start of scan, then a search for the end-of-image marker.
#pragma once

#include <vector>

#include "scanners/base_scanner.h"

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
  // Makes m_buffer hold sector `k` of the file (counted from its first sector). False when the
  // source ends before it; a failed read leaves the buffer as it was.
  bool Load(uint64_t k);
  // The byte at `position` of the file, through Load.
  bool ByteAt(uint64_t position, uint8_t* value);
  // Accepts a file of `length` bytes when it is long enough.
  int Accept(uint64_t length);

  std::vector<uint8_t> m_buffer;
  uint64_t m_nBuffered = 0;
};

}  // namespace kavo

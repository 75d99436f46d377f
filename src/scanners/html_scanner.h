// Web pages, in 8-bit text or UTF-16LE: recognised by their opening ("<html", "<!DOCTYPE html",
// ...), ended by their closing tag "</html>".
#pragma once

#include <vector>

#include "scanners/base_scanner.h"

namespace kavo {

class CHTML final : public CBaseScanner {
 public:
  CHTML();
  // Every opening starts with "<", the signature's first byte, so the base's lead-byte test holds.
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // The file's end after the closing tag at file offset `tag`, found in the sector that starts
  // at file offset `sectorStart` (held in m_buffer): the tag, then the line end after it when
  // the page has one, read from the next sector when need be.
  uint64_t EndAfterTag(uint64_t tag, uint64_t sectorStart);

  std::vector<uint8_t> m_buffer;  // the tail of the previous sector, then the current one
  std::vector<uint8_t> m_next;
  bool m_bWide = false;  // the page opened in UTF-16LE
};

}  // namespace kavo

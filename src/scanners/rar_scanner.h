// RAR archives of both layouts: version 4 ("Rar!" 1A 07 00, fixed-size block headers) and
// version 5 ("Rar!" 1A 07 01 00, headers of variable-length numbers). The length comes from a
// walk over the blocks to the end-of-archive block.
#pragma once

#include <vector>

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CRARScanner final : public CBaseScanner {
 public:
  // Largest version 5 header: its size field has at most three bytes.
  static constexpr uint64_t kMaxHeader5Bytes = 2u << 20;

  CRARScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  int WalkVersion4();
  int WalkVersion5();
  // Accepts a file of `length` bytes when it is not empty.
  int Accept(uint64_t length);
  // Copies `count` bytes at `offset` of the file into `out`, reading the sectors they lie in;
  // false on a stop request or when the source ends first.
  bool ReadAt(uint64_t offset, uint8_t* out, uint32_t count);
  // Reads the variable-length number at `*offset` and moves the offset past it; false when it
  // cannot be read or runs over ten bytes.
  bool ReadNumber(uint64_t* offset, uint64_t* value);

  WalkReader m_walk;
};

}  // namespace kavo

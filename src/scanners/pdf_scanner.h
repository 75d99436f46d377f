// PDF documents of versions 1.0 to 1.7, measured through their cross-reference sections to the
// "%%EOF" that ends their last revision.
#pragma once

#include <cstddef>
#include <vector>

#include "scanners/base_scanner.h"

namespace kavo {

class CPdFormat final : public CBaseScanner {
 public:
  // Every keyword is sought within this many bytes from the file's start (500000 sectors of 512
  // bytes).
  static constexpr uint64_t kSearchBytes = 500000ull * 512;
  // "%%EOF" is sought within this many bytes: ten 512-byte sectors from the one holding the
  // trailer (or the "startxref").
  static constexpr uint32_t kEndSearchBytes = 10 * 512;

  CPdFormat();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  static constexpr uint64_t kNone = ~0ull;

  // Sector `k` of the file (counted from its first sector), or null when the source ends before
  // it or a stop was requested (m_bStopped). Unreadable sectors read as zeros.
  const uint8_t* SectorAt(uint64_t k);
  // The byte at `position` of the file, or -1 when it is not there.
  int ByteAt(uint64_t position);
  bool BytesAt(uint64_t position, const char* text, size_t length);
  // The first place of `keyword` in [from, limit) (the keyword wholly inside), or kNone.
  uint64_t Find(const char* keyword, size_t length, uint64_t from, uint64_t limit);
  // Past the run of PDF white space (not NUL) at `position`.
  uint64_t SkipWhite(uint64_t position, uint64_t limit);
  // Past a run of at most ten digits at `position`; `position` itself when there is none.
  uint64_t SkipDigits(uint64_t position);

  // Measures the revision whose body starts at `from`; returns the offset past its "%%EOF" and
  // that marker's line end, or 0 when the revision cannot be measured.
  uint64_t MeasureRevision(uint64_t from);
  // Steps over the cross-reference table after the "xref" keyword at `keyword`; returns the
  // offset of "trailer", or kNone.
  uint64_t StepOverTable(uint64_t keyword);
  // Where the next revision starts when one follows the file end `end` (an incremental update,
  // or the rest of a linearized file); kNone otherwise.
  uint64_t NextRevision(uint64_t end);

  struct Slot {
    std::vector<uint8_t> bytes;
    uint64_t sector = kNone;
  };
  Slot m_slots[2];
  size_t m_nLastSlot = 0;
  bool m_bStopped = false;
};

}  // namespace kavo

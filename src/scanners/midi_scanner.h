// Standard MIDI files: an "MThd" header of six bytes followed by its "MTrk" track chunks.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CMIDIScanner final : public CBaseScanner {
 public:
  CMIDIScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  WalkReader m_reader;
};

}  // namespace kavo

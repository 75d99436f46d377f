// MPEG audio (MP3): an ID3v2 tag followed by frames, or bare frames. The length comes from the
// Xing/Info tag of the first frame when it holds a byte count, else from a walk over the frames;
// a trailing ID3v1 tag is part of the file.
#pragma once

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CMP3Scanner final : public CBaseScanner {
 public:
  // Consecutive frames a stream without an ID3v2 tag needs: a lone frame header is as likely
  // in random data as in sound.
  static constexpr uint32_t kMinBareFrames = 4;
  // A tagged file shorter than this, without a trailing tag, is refused.
  static constexpr uint32_t kMinTaggedLength = 5120;
  static constexpr uint32_t kId3v1Length = 128;
  // How far after the ID3v2 tag the first frame is sought.
  static constexpr uint32_t kFrameSearchBytes = 1u << 20;

  CMP3Scanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;
  bool CanMatchLeadByte(uint8_t byte) const override { return byte == 0xFF || byte == 'I'; }

  // Decodes the frame header `header` (4 bytes) into the version and layer codes and the frame
  // length; false when it is no frame header of known length.
  bool DecodeHeader(const uint8_t* header);

  uint8_t m_nVersion = 0;  // version code: 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
  uint8_t m_nLayer = 0;    // layer code: 1 layer III, 2 layer II, 3 layer I
  uint32_t m_nFrameLength = 0;

 private:
  int ParseBare();
  int ParseTagged(const uint8_t* sector);
  // Walks the frames from `from`; `*end` is where the walk stopped and `*frames` the frames
  // passed. False on a stop request.
  bool Walk(uint64_t from, uint64_t* end, uint32_t* frames);
  // The stream's byte count from a Xing or Info tag at `tag`, when the tag holds one.
  bool TagBytes(uint64_t tag, uint32_t* bytes);
  // `length` with the ID3v1 tag that starts there, if one does.
  uint64_t WithTrailingTag(uint64_t length);
  int Accept(uint64_t length);

  uint8_t m_nRateIndex = 0;
  WalkReader m_reader;
};

}  // namespace kavo

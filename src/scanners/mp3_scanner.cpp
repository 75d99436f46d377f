#include "scanners/mp3_scanner.h"

#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint8_t kMpeg1 = 3;
constexpr uint8_t kLayer1 = 3;
constexpr uint8_t kLayer3 = 1;

// Bit rates in kbit/s by index 1 to 14: MPEG 1 layers I, II, III; MPEG 2 and 2.5 layer I;
// MPEG 2 and 2.5 layers II and III.
constexpr uint16_t kBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

// Sampling rates by version code (1 is reserved) and rate index.
constexpr uint32_t kRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// The second header bytes a file may start with: MPEG 1 layer III, MPEG 2 layer III,
// MPEG 2.5 layer III, MPEG 1 layer II, MPEG 1 layer III with CRC.
bool LeadingFrame(uint8_t second) {
  return second == 0xFB || second == 0xF3 || second == 0xE3 || second == 0xFD || second == 0xFA;
}

// Where the first frame is sought in an ID3v2-tagged file: after the tag when its size is a
// valid synchsafe number (so that a picture in the tag is not searched), else from offset 5.
uint64_t FrameSearchStart(const uint8_t* tag) {
  const uint8_t* s = tag + 6;
  if ((s[0] | s[1] | s[2] | s[3]) & 0x80) return 5;
  const uint64_t size =
      (uint64_t{s[0]} << 21) | (uint64_t{s[1]} << 14) | (uint64_t{s[2]} << 7) | s[3];
  const bool footer = tag[3] == 4 && (tag[5] & 0x10) != 0;
  return 10 + size + (footer ? 10 : 0);
}

}  // namespace

CMP3Scanner::CMP3Scanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{'I', 'D', '3'});
}

int CMP3Scanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector) && !(sector[0] == 0xFF && LeadingFrame(sector[1]))) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"mp3";
  return 1;
}

bool CMP3Scanner::DecodeHeader(const uint8_t* h) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const uint8_t version = (h[1] >> 3) & 3;
  const uint8_t layer = (h[1] >> 1) & 3;
  const uint8_t bitrateIndex = h[2] >> 4;
  const uint8_t rateIndex = (h[2] >> 2) & 3;
  // Index 0 is the free format, whose frames carry no length: a walk ends before such a frame,
  // so a bare stream that starts with one falls short of the frame minimum, and a tagged one
  // with no frame before it is refused.
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
    return false;
  }
  const uint32_t padding = (h[2] >> 1) & 1;
  const int row = version == kMpeg1 ? 3 - layer : (layer == kLayer1 ? 3 : 4);
  const uint32_t bitrate = kBitrates[row][bitrateIndex];
  const uint32_t rate = kRates[version][rateIndex];
  if (layer == kLayer1) {
    m_nFrameLength = (12000 * bitrate / rate + padding) * 4;
  } else {
    // A layer III frame of MPEG 2 and 2.5 holds 576 samples, half of MPEG 1's 1152.
    const uint32_t factor = layer == kLayer3 && version != kMpeg1 ? 72000 : 144000;
    m_nFrameLength = factor * bitrate / rate + padding;
  }
  m_nVersion = version;
  m_nLayer = layer;
  m_nRateIndex = rateIndex;
  return true;
}

bool CMP3Scanner::Walk(uint64_t from, uint64_t* end, uint32_t* frames) {
  // Version, layer and sampling rate stay the same through a stream; a header that changes them
  // is taken as the first bytes after it. Every frame is at least 24 bytes, and the source's end
  // ends the walk.
  *frames = 0;
  uint64_t p = from;
  uint8_t version = 0, layer = 0, rateIndex = 0;
  for (;;) {
    if (StopRequested()) return false;
    uint8_t h[4];
    if (!m_reader.Read(p, h, 4) || !DecodeHeader(h)) break;
    if (*frames == 0) {
      version = m_nVersion;
      layer = m_nLayer;
      rateIndex = m_nRateIndex;
    } else if (m_nVersion != version || m_nLayer != layer || m_nRateIndex != rateIndex) {
      break;
    }
    p += m_nFrameLength;
    ++*frames;
  }
  *end = p;
  return true;
}

// The tag's flags say which of its fields are present: bit 0 the frame count, bit 1 the byte
// count, in that order after the flags.
bool CMP3Scanner::TagBytes(uint64_t tag, uint32_t* bytes) {
  uint32_t flags = 0;
  if (!(m_reader.Equals(tag, "Xing", 4) || m_reader.Equals(tag, "Info", 4)) ||
      !m_reader.Be32(tag + 4, &flags) || (flags & 2) == 0) {
    return false;
  }
  return m_reader.Be32(tag + 8 + ((flags & 1) ? 4 : 0), bytes) && *bytes != 0;
}

uint64_t CMP3Scanner::WithTrailingTag(uint64_t length) {
  return m_reader.Equals(length, "TAG", 3) ? length + kId3v1Length : length;
}

int CMP3Scanner::Accept(uint64_t length) {
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / SectorSize();
  return 1;
}

int CMP3Scanner::ParseFile(uint8_t* sector) {
  m_reader.Start(sector, SectorSize(), m_nStartSector, SectorReads());
  return SignatureAtStart(sector) ? ParseTagged(sector) : ParseBare();
}

int CMP3Scanner::ParseBare() {
  uint32_t bytes = 0;
  if (TagBytes(13, &bytes)) return Accept(WithTrailingTag(bytes));
  uint64_t end = 0;
  uint32_t frames = 0;
  if (!Walk(0, &end, &frames) || frames < kMinBareFrames) return 0;
  return Accept(WithTrailingTag(end));
}

int CMP3Scanner::ParseTagged(const uint8_t* sector) {
  if ((sector[3] != 3 && sector[3] != 4) || sector[4] != 0) return 0;

  // The first frame: the first FF followed by a frame's second byte.
  const uint32_t ss = SectorSize();
  const uint64_t from = FrameSearchStart(sector);
  uint64_t first = 0;
  bool found = false;
  for (uint64_t p = from; !found && p < from + kFrameSearchBytes;) {
    if (StopRequested()) return 0;
    if (!m_reader.Load(p / ss)) return 0;
    const uint32_t at = static_cast<uint32_t>(p % ss);
    const uint8_t* data = m_reader.Data();
    const auto* hit = static_cast<const uint8_t*>(std::memchr(data + at, 0xFF, ss - at));
    if (hit == nullptr) {
      p += ss - at;
      continue;
    }
    const uint64_t candidate = p + static_cast<uint64_t>(hit - (data + at));
    uint8_t second = 0;
    if (!m_reader.Byte(candidate + 1, &second)) return 0;
    found = LeadingFrame(second);
    first = candidate;
    p = candidate + 1;
  }
  if (!found) return 0;

  uint64_t length = 0;
  uint32_t bytes = 0;
  if (TagBytes(first + 36, &bytes)) {
    length = first + bytes;
  } else {
    uint32_t frames = 0;
    // No frame of known length (a free-format stream among them): nothing to measure.
    if (!Walk(first, &length, &frames) || frames == 0) return 0;
  }
  const uint64_t whole = WithTrailingTag(length);
  if (whole == length && length < kMinTaggedLength) return 0;
  return Accept(whole);
}

}  // namespace kavo

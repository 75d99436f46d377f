// A page ends after its closing tag "</html>" (lower case only; in UTF-16LE for a page that opens
// in UTF-16LE) and the line end that follows it, if any (CR LF, CR or LF, in the page's own
// width). The tag may straddle two sectors. The search runs sector by sector to the end of the
// source, but only through text: a NUL byte (a NUL code unit in a UTF-16LE page) before the tag
// means the page's text ended without one, and the page is rejected rather than measured to a
// tag of some later file.
#include "scanners/html_scanner.h"

#include <algorithm>
#include <cstring>

namespace kavo {

namespace {

struct Opening {
  const char* bytes;
  size_t length;
  bool wide;
};

// The 8-bit openings, then the UTF-16LE ones.
constexpr Opening kOpenings[] = {
    {"<HTML", 5, false},
    {"<html", 5, false},
    {"<!DOCTYPE html", 14, false},
    {"<!DOCTYPE HTML", 14, false},
    {"<\0H\0T\0", 6, true},
    {"<\0h\0t\0", 6, true},
    {"<\0!\0D\0O\0C\0T\0Y\0P\0E\0 \0h\0t\0m\0l\0", 28, true},
    {"<\0!\0D\0O\0C\0T\0Y\0P\0E\0 \0H\0T\0M\0L\0", 28, true},
};

constexpr char kTag[] = "</html>";
constexpr size_t kTagLength = 7;
// The UTF-16LE tag without its last zero byte.
constexpr char kWideTag[] = "<\0/\0h\0t\0m\0l\0>";
constexpr size_t kWideTagLength = 13;
// Bytes of the previous sector kept in front of the current one: enough for a straddling tag,
// and even, so that offsets in the buffer have the parity of offsets in the file.
constexpr size_t kCarry = 14;

}  // namespace

CHTML::CHTML() {
  m_pSignature = std::make_unique<ScannerSignature>(
      std::initializer_list<uint8_t>{0x3C, 0x48, 0x54, 0x4D, 0x4C});
}

int CHTML::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (StopRequested()) return 0;
  if (sector[0] != '<') return 0;
  for (const Opening& opening : kOpenings) {
    if (std::memcmp(sector, opening.bytes, opening.length) == 0) {
      PositionAtMatch(blockFirstSector, index, false);
      m_bWide = opening.wide;
      m_strExtension = u"html";
      return 1;
    }
  }
  return 0;
}

uint64_t CHTML::EndAfterTag(uint64_t tag, uint64_t sectorStart) {
  const uint32_t ss = SectorSize();
  bool nextRead = false;
  bool haveNext = false;
  auto byteAt = [&](uint64_t position) -> int {
    if (position < sectorStart + ss) return m_buffer[kCarry + (position - sectorStart)];
    if (position >= sectorStart + 2 * uint64_t{ss}) return -1;
    if (!nextRead) {
      nextRead = true;
      m_next.resize(ss);
      haveNext =
          ReadSourceSector(m_nStartSector + sectorStart / ss + 1, m_next.data()) == SectorRead::Ok;
    }
    return haveNext ? m_next[position - sectorStart - ss] : -1;
  };
  // A code unit of the page: one byte, or two in a UTF-16LE page (the high one zero).
  const uint64_t width = m_bWide ? 2 : 1;
  auto unitIs = [&](uint64_t position, char c) {
    return byteAt(position) == c && (!m_bWide || byteAt(position + 1) == 0);
  };
  uint64_t end = tag + (m_bWide ? kWideTagLength : kTagLength);
  if (m_bWide && byteAt(end) == 0) ++end;
  if (unitIs(end, '\r')) {
    end += width;
    if (unitIs(end, '\n')) end += width;
  } else if (unitIs(end, '\n')) {
    end += width;
  }
  return end;
}

int CHTML::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  const char* tag = m_bWide ? kWideTag : kTag;
  const size_t tagLength = m_bWide ? kWideTagLength : kTagLength;
  m_buffer.assign(kCarry + ss, 0);
  std::memcpy(m_buffer.data() + kCarry, sector, ss);
  uint8_t* const bytes = m_buffer.data();
  for (uint64_t k = 0;; ++k) {
    if (StopRequested()) return 0;
    if (k > 0) {
      std::memmove(bytes, bytes + ss, kCarry);
      if (ReadSourceSector(m_nStartSector + k, bytes + kCarry) != SectorRead::Ok) return 0;
    }
    // Where this sector's text ends, as an offset in the buffer.
    size_t textEnd = kCarry + ss;
    if (!m_bWide) {
      if (const void* nul = std::memchr(bytes + kCarry, 0, ss)) {
        textEnd = static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes);
      }
    } else {
      for (size_t i = kCarry; i + 1 < kCarry + ss; i += 2) {
        if (bytes[i] == 0 && bytes[i + 1] == 0) {
          textEnd = i;
          break;
        }
      }
    }
    // A tag that starts in the carried bytes straddles the boundary; the first sector has none.
    const size_t from = k == 0 ? kCarry : 0;
    for (size_t i = from; i + tagLength <= textEnd; ++i) {
      const void* lt = std::memchr(bytes + i, '<', textEnd - tagLength + 1 - i);
      if (lt == nullptr) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(lt) - bytes);
      if (m_bWide && i % 2 != 0) continue;
      if (std::memcmp(bytes + i, tag, tagLength) == 0) {
        const uint64_t sectorStart = k * ss;
        const uint64_t end = EndAfterTag(sectorStart + i - kCarry, sectorStart);
        m_nLength = static_cast<int64_t>(end);
        m_nEndSector = m_nStartSector + end / ss;
        return 1;
      }
    }
    if (textEnd < kCarry + ss) return 0;
  }
}

}  // namespace kavo

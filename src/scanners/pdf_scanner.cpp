// The measure of a PDF.
//
// The header names one of the versions 1.0 to 1.7. A revision of the file is measured by three
// searches, in this order:
//   1. "xref" is sought from the revision's start. Only a keyword on its own (white space on both
//      sides) or the tail of "startxref" (white space after it) counts; other places, such as
//      bytes of a compressed stream, are passed over.
//   2. After a keyword on its own (a cross-reference table) the table is stepped over: each
//      subsection's "first count" line and its count 20-byte entries, whatever line ends the
//      writer used (CR LF, CR, LF, or a space before either). The keyword "trailer" must follow,
//      else the file is rejected. A "startxref" found first (a file whose cross-reference is a
//      stream, PDF 1.5 and later, with no table) goes straight on to step 3.
//   3. "%%EOF" is sought from the trailer (or the "startxref") within ten 512-byte sectors from
//      the one that holds it. The revision ends after the marker and its line end (CR LF, CR or
//      LF, as the file has it; none when the next byte is neither).
// When what follows that end, past white space and comment lines, is an object ("12 0 obj") or a
// table ("xref"), another revision follows it: an incremental update (several "%%EOF"), or the
// body of a linearized file after its first-page section. It is measured the same way, and the
// file ends with the last revision that measures whole. A "%PDF-" comment there is the next file.
// All searches stay within 500000 512-byte sectors of the file's start. The last sector is the
// one that holds the file's last byte, the last sector the search needed. The stop state rejects
// at every sector read.
#include "scanners/pdf_scanner.h"

#include <algorithm>
#include <cstring>

namespace kavo {

namespace {

constexpr uint64_t kEndUnit = 512;  // the unit of the "%%EOF" search
// Comment lines passed over between revisions, and the longest of them.
constexpr int kMaxComments = 4;
constexpr uint64_t kMaxCommentBytes = 256;
constexpr uint64_t kMaxGapBytes = 64;  // white space between revisions

bool IsWhite(int c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f';
}
bool IsLineEnd(int c) {
  return c == '\r' || c == '\n';
}
bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

}  // namespace

CPdFormat::CPdFormat() {
  m_pSignature =
      std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{0x25, 0x50, 0x44, 0x46});
}

int CPdFormat::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  m_strExtension = u"pdf";
  return 1;
}

const uint8_t* CPdFormat::SectorAt(uint64_t k) {
  for (size_t i = 0; i < 2; ++i) {
    if (m_slots[i].sector == k) {
      m_nLastSlot = i;
      return m_slots[i].bytes.data();
    }
  }
  if (m_bStopped) return nullptr;
  if (StopRequested()) {
    m_bStopped = true;
    return nullptr;
  }
  // The slot used longer ago takes the sector, so the one before stays at hand for keywords that
  // straddle the boundary.
  Slot& slot = m_slots[1 - m_nLastSlot];
  slot.bytes.resize(SectorSize());
  const SectorRead read = ReadSourceSector(m_nStartSector + k, slot.bytes.data());
  if (read == SectorRead::PastEnd) return nullptr;
  if (read == SectorRead::Failed) std::fill(slot.bytes.begin(), slot.bytes.end(), 0);
  slot.sector = k;
  m_nLastSlot = static_cast<size_t>(&slot - m_slots);
  return slot.bytes.data();
}

int CPdFormat::ByteAt(uint64_t position) {
  const uint32_t ss = SectorSize();
  const uint8_t* sector = SectorAt(position / ss);
  return sector ? sector[position % ss] : -1;
}

bool CPdFormat::BytesAt(uint64_t position, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (ByteAt(position + i) != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

uint64_t CPdFormat::Find(const char* keyword, size_t length, uint64_t from, uint64_t limit) {
  const uint32_t ss = SectorSize();
  const auto first = static_cast<uint8_t>(keyword[0]);
  for (uint64_t p = from; p + length <= limit;) {
    const uint64_t k = p / ss;
    const uint8_t* sector = SectorAt(k);
    if (sector == nullptr) return kNone;
    const uint64_t offset = p % ss;
    // Candidates are first bytes that leave room for the keyword before the limit.
    const uint64_t span = std::min<uint64_t>(ss - offset, limit - length + 1 - p);
    const uint8_t* bytes = sector + offset;
    for (const uint8_t* at = bytes;
         (at = static_cast<const uint8_t*>(std::memchr(at, first, bytes + span - at))) != nullptr;
         ++at) {
      const uint64_t candidate = p + static_cast<uint64_t>(at - bytes);
      if (offset + static_cast<uint64_t>(at - bytes) + length <= ss) {
        if (std::memcmp(at, keyword, length) == 0) return candidate;
        continue;
      }
      // The keyword would straddle into the next sector.
      if (BytesAt(candidate, keyword, length)) return candidate;
      if (m_bStopped) return kNone;
      sector = SectorAt(k);  // back to this sector, which the comparison may have displaced
      if (sector == nullptr) return kNone;
      bytes = sector + offset;
      at = bytes + (candidate - p);
    }
    p += span;
  }
  return kNone;
}

uint64_t CPdFormat::SkipWhite(uint64_t position, uint64_t limit) {
  while (position < limit && IsWhite(ByteAt(position))) ++position;
  return position;
}

uint64_t CPdFormat::SkipDigits(uint64_t position) {
  uint64_t p = position;
  while (p - position < 10 && IsDigit(ByteAt(p))) ++p;
  return p;
}

uint64_t CPdFormat::StepOverTable(uint64_t keyword) {
  uint64_t p = keyword + 4;
  while (p < kSearchBytes) {
    p = SkipWhite(p, kSearchBytes);
    if (BytesAt(p, "trailer", 7)) return p;
    // A subsection: its first object number, its count, then the entries.
    const uint64_t firstEnd = SkipDigits(p);
    if (firstEnd == p || ByteAt(firstEnd) != ' ') return kNone;
    const uint64_t countStart = SkipWhite(firstEnd, kSearchBytes);
    const uint64_t countEnd = SkipDigits(countStart);
    if (countEnd == countStart || !IsWhite(ByteAt(countEnd))) return kNone;
    uint64_t count = 0;
    for (uint64_t q = countStart; q < countEnd; ++q) count = count * 10 + (ByteAt(q) - '0');
    p = SkipWhite(countEnd, kSearchBytes);
    // An entry is "nnnnnnnnnn ggggg n" and its end of line (one to three bytes).
    for (uint64_t i = 0; i < count; ++i) {
      if (p + 20 > kSearchBytes) return kNone;
      const int kind = ByteAt(p + 17);
      if (ByteAt(p + 10) != ' ' || (kind != 'n' && kind != 'f')) return kNone;
      p = SkipWhite(p + 18, std::min(p + 21, kSearchBytes));
    }
  }
  return kNone;
}

uint64_t CPdFormat::MeasureRevision(uint64_t from) {
  uint64_t keyword = kNone;
  uint64_t endFrom = 0;
  for (uint64_t p = from; keyword == kNone;) {
    const uint64_t at = Find("xref", 4, p, kSearchBytes);
    if (at == kNone) return 0;
    p = at + 1;
    if (!IsWhite(ByteAt(at + 4))) continue;
    if (at >= 5 && BytesAt(at - 5, "start", 5)) {
      keyword = at;
      endFrom = at - 5;
    } else if (at > 0 && IsWhite(ByteAt(at - 1))) {
      keyword = at;
      endFrom = StepOverTable(at);
      if (endFrom == kNone) return 0;
    }
  }
  const uint64_t limit = std::min(kSearchBytes, (endFrom / kEndUnit) * kEndUnit + kEndSearchBytes);
  const uint64_t marker = Find("%%EOF", 5, endFrom, limit);
  if (marker == kNone) return 0;
  uint64_t end = marker + 5;
  const int c = ByteAt(end);
  if (c == '\r') {
    ++end;
    if (ByteAt(end) == '\n') ++end;
  } else if (c == '\n') {
    ++end;
  }
  return end;
}

uint64_t CPdFormat::NextRevision(uint64_t end) {
  uint64_t p = SkipWhite(end, std::min(kSearchBytes, end + kMaxGapBytes));
  for (int i = 0; i < kMaxComments && ByteAt(p) == '%'; ++i) {
    if (BytesAt(p, "%PDF-", 5)) return kNone;
    const uint64_t lineLimit = p + kMaxCommentBytes;
    while (p < lineLimit && ByteAt(p) >= 0 && !IsLineEnd(ByteAt(p))) ++p;
    if (!IsLineEnd(ByteAt(p))) return kNone;
    p = SkipWhite(p, std::min(kSearchBytes, p + kMaxGapBytes));
  }
  if (p >= kSearchBytes) return kNone;
  if (BytesAt(p, "xref", 4) && IsWhite(ByteAt(p + 4))) return p;
  // "12 0 obj"
  const uint64_t numberEnd = SkipDigits(p);
  if (numberEnd == p || ByteAt(numberEnd) != ' ') return kNone;
  const uint64_t generation = SkipWhite(numberEnd, numberEnd + 8);
  const uint64_t generationEnd = SkipDigits(generation);
  if (generationEnd == generation || ByteAt(generationEnd) != ' ') return kNone;
  return BytesAt(SkipWhite(generationEnd, generationEnd + 8), "obj", 3) ? p : kNone;
}

int CPdFormat::ParseFile(uint8_t* sector) {
  const uint32_t ss = SectorSize();
  if (std::memcmp(sector, "%PDF-1.", 7) != 0 || sector[7] < '0' || sector[7] > '7') return 0;
  m_bStopped = false;
  m_slots[0].bytes.assign(sector, sector + ss);
  m_slots[0].sector = 0;
  m_slots[1].sector = kNone;
  m_nLastSlot = 0;

  uint64_t end = MeasureRevision(8);
  while (end != 0 && !m_bStopped) {
    const uint64_t next = NextRevision(end);
    if (next == kNone) break;
    const uint64_t later = MeasureRevision(next);
    if (later == 0) break;
    end = later;
  }
  if (end == 0 || m_bStopped) return 0;
  m_nLength = static_cast<int64_t>(end);
  m_nEndSector = m_nStartSector + (end - 1) / ss;
  return 1;
}

}  // namespace kavo

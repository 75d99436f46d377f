#include "recovery/names.h"

#include <algorithm>
#include <array>

namespace kavo {

namespace {

bool IsForbidden(char16_t c) {
  return c < 0x20 || c == 0x7F || c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' ||
         c == u'"' || c == u'<' || c == u'>' || c == u'|';
}

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, alone or before an extension ("nul.txt"), in any case.
bool IsReservedDeviceName(std::u16string_view name) {
  const size_t dot = name.find(u'.');
  std::u16string base(name.substr(0, dot));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  std::transform(base.begin(), base.end(), base.begin(), Upper);
  static const std::array<std::u16string_view, 4> kPlain = {u"CON", u"PRN", u"AUX", u"NUL"};
  if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) return true;
  return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
         base[3] >= u'1' && base[3] <= u'9';
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Bytes of the UTF-8 form of one unit (a surrogate pair's four bytes counted on its high half).
size_t Utf8Bytes(char16_t c) {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (IsHighSurrogate(c)) return 4;
  if (IsLowSurrogate(c)) return 0;
  return 3;
}

// Units of `units` that fit in `bytes` bytes of UTF-8, a pair never split.
size_t FittingUnits(std::u16string_view units, size_t bytes) {
  size_t used = 0;
  size_t i = 0;
  for (; i < units.size(); ++i) {
    const size_t n = Utf8Bytes(units[i]);
    if (used + n > bytes) break;
    used += n;
  }
  if (i > 0 && i < units.size() && IsHighSurrogate(units[i - 1])) --i;
  return i;
}

size_t Utf8Length(std::u16string_view units) {
  size_t n = 0;
  for (char16_t c : units) n += Utf8Bytes(c);
  return n;
}

}  // namespace

std::u16string FitOutputName(std::u16string name) {
  if (name.size() <= kMaxOutputName && Utf8Length(name) <= kMaxOutputNameBytes) return name;
  const size_t dot = name.rfind(u'.');
  const size_t extLength =
      (dot != std::u16string::npos && dot > 0 && name.size() - dot <= 16) ? name.size() - dot : 0;
  const std::u16string_view ext = std::u16string_view(name).substr(name.size() - extLength);
  const size_t baseUnits = kMaxOutputName - extLength;
  const size_t baseBytes = kMaxOutputNameBytes - Utf8Length(ext);
  const std::u16string_view base = std::u16string_view(name).substr(0, name.size() - extLength);
  const size_t keep = FittingUnits(base.substr(0, std::min(base.size(), baseUnits)), baseBytes);
  return std::u16string(base.substr(0, keep)) + std::u16string(ext);
}

std::u16string SafeOutputName(std::u16string_view name) {
  std::u16string out(name.substr(0, name.find(u'\0')));
  for (size_t i = 0; i < out.size(); ++i) {
    char16_t& c = out[i];
    if (IsForbidden(c)) {
      c = u'_';
    } else if (IsHighSurrogate(c) && i + 1 < out.size() && IsLowSurrogate(out[i + 1])) {
      ++i;  // a whole pair
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;
    }
  }
  if (out.empty()) return u"_";
  if (std::all_of(out.begin(), out.end(), [](char16_t c) { return c == u'.'; })) {
    std::fill(out.begin(), out.end(), u'_');
  }
  if (out.back() == u'.' || out.back() == u' ') out.back() = u'_';
  if (IsReservedDeviceName(out)) out.insert(out.begin(), u'_');
  return FitOutputName(std::move(out));
}

}  // namespace kavo

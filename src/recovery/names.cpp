#include "recovery/names.h"

#include <algorithm>
#include <array>

namespace kavo {

namespace {

bool IsForbidden(char16_t c) {
  return c < 0x20 || c == 0x7F || c == u'/' || c == u'\\' || c == u':' || c == u'*' ||
         c == u'?' || c == u'"' || c == u'<' || c == u'>' || c == u'|';
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

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

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::u16string SafeOutputName(std::u16string_view name) {
  std::u16string out(name.substr(0, name.find(u'\0')));
  for (char16_t& c : out) {
    if (IsForbidden(c)) c = u'_';
  }
  if (out.empty()) return u"_";
  if (std::all_of(out.begin(), out.end(), [](char16_t c) { return c == u'.'; })) {
    std::fill(out.begin(), out.end(), u'_');
  }
  if (out.back() == u'.' || out.back() == u' ') out.back() = u'_';
  if (IsReservedDeviceName(out)) out.insert(out.begin(), u'_');

  if (out.size() > kMaxOutputName) {
    const size_t dot = out.rfind(u'.');
    const size_t extLength = (dot != std::u16string::npos && out.size() - dot <= 16) ? out.size() - dot : 0;
    size_t keep = kMaxOutputName - extLength;
    if (keep > 0 && IsHighSurrogate(out[keep - 1])) --keep;  // never split a surrogate pair
    out = out.substr(0, keep) + out.substr(out.size() - extLength);
  }
  return out;
}

}  // namespace kavo

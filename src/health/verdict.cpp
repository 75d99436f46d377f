#include "health/verdict.h"

#include <algorithm>

#include "health/health_tables.h"
#include "platform/text.h"

namespace kavo {

namespace {

std::u16string Num(uint64_t v) {
  return platform::Widen(std::to_string(v));
}

void Raise(HealthAssessment& a, HealthVerdict v, std::u16string reason) {
  a.verdict = std::max(a.verdict, v);
  a.reasons.push_back(std::move(reason));
}

HealthAssessment AssessNvme(const NvmeHealth& h) {
  HealthAssessment a;
  a.verdict = HealthVerdict::Ok;
  if (h.criticalWarning != 0) {
    static const char16_t* const kBits[] = {u"available spare below its threshold",
                                            u"temperature beyond its limits",
                                            u"reliability degraded by media or internal errors",
                                            u"media placed in read-only mode",
                                            u"volatile memory backup failed",
                                            u"persistent memory region unreliable"};
    for (int bit = 0; bit < 6; ++bit) {
      if (h.criticalWarning & (1 << bit)) {
        Raise(a, HealthVerdict::Failing, u"Critical Warning: " + std::u16string(kBits[bit]));
      }
    }
    if (h.criticalWarning >= 0x40)
      Raise(a, HealthVerdict::Failing, u"Critical Warning: reserved bits set");
  }
  if (h.availableSpare < h.availableSpareThreshold && (h.criticalWarning & 1) == 0) {
    Raise(a, HealthVerdict::Failing,
          u"Available Spare: " + Num(h.availableSpare) + u"% below its threshold of " +
              Num(h.availableSpareThreshold) + u"%");
  }
  if (h.percentageUsed >= 100) {
    Raise(a, HealthVerdict::Warning, u"Percentage Used: " + Num(h.percentageUsed) + u"%");
  }
  if (h.mediaErrors != 0) {
    Raise(a, HealthVerdict::Warning, u"Media and Data Integrity Errors: " + Num(h.mediaErrors));
  }
  return a;
}

}  // namespace

HealthAssessment AssessDrive(const DriveRecord& record) {
  if (record.hasNvmeLog) return AssessNvme(ParseNvmeHealthLog(record.nvmeLog));
  HealthAssessment a;
  const std::vector<SmartAttribute> attributes = SmartAttributes(record.smartArea);
  if (attributes.empty()) return a;
  a.verdict = HealthVerdict::Ok;
  for (const SmartAttribute& s : attributes) {
    const std::u16string name = std::u16string(SmartAttributeName(s.id)).empty()
                                    ? u"Attribute " + AttributeIdText(s.id)
                                    : std::u16string(SmartAttributeName(s.id));
    if (s.threshold >= 1 && s.threshold <= 253 && s.current <= s.threshold) {
      Raise(a, HealthVerdict::Failing,
            name + u": current value " + Num(s.current) + u" at or below its threshold " +
                Num(s.threshold));
    }
    const uint32_t count = s.raw[0] | s.raw[1] << 8 | s.raw[2] << 16 | uint32_t{s.raw[3]} << 24;
    if ((s.id == 5 || s.id == 187 || s.id == 197 || s.id == 198) && count != 0) {
      Raise(a, HealthVerdict::Warning, name + u": " + Num(count));
    }
  }
  return a;
}

const char16_t* VerdictText(HealthVerdict verdict) {
  switch (verdict) {
    case HealthVerdict::Ok: return u"OK";
    case HealthVerdict::Warning: return u"WARNING";
    case HealthVerdict::Failing: return u"FAILING";
    case HealthVerdict::Unknown: break;
  }
  return u"N/A";
}

}  // namespace kavo

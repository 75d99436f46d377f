// What a user with a failing disk asks first: is the drive healthy?
#pragma once

#include <string>
#include <vector>

#include "disk/drive_records.h"

namespace kavo {

enum class HealthVerdict {
  Unknown,  // no SMART data or health log could be read
  Ok,
  Warning,  // sectors reallocated, pending or uncorrectable; an NVMe drive worn out or with
            // media errors
  Failing,  // an attribute at or below its threshold; an NVMe critical warning
};

struct HealthAssessment {
  HealthVerdict verdict = HealthVerdict::Unknown;
  std::vector<std::u16string> reasons;  // one line per finding, in table order
};

// ATA: an attribute whose threshold is set (1 to 253) and whose current value is at or below it
// fails the drive; a non-zero count (raw bytes 0-3) of reallocated sectors (5), reported
// uncorrectable errors (187), pending sectors (197) or uncorrectable sectors (198) warns. NVMe:
// a critical-warning bit or the spare below its threshold fails the drive; 100 % of its rated
// life used or media errors warn.
HealthAssessment AssessDrive(const DriveRecord& record);

// "N/A", "OK", "WARNING", "FAILING".
const char16_t* VerdictText(HealthVerdict verdict);

}  // namespace kavo

// The operation the user chose on the home page, and how an image file is scanned.
#pragma once

#include <cstdint>

namespace kavo {

inline constexpr uint32_t kOpPartitionRecovery = 1;  // "Partition Recovery"
inline constexpr uint32_t kOpFormattedRecovery = 2;  // "Formatted Recovery"
inline constexpr uint32_t kOpDeletedRecovery = 3;    // "Deleted Recovery"
inline constexpr uint32_t kOpAdvanceOption = 4;      // "Advance Option"
inline constexpr uint32_t kOpDiskImaging = 5;        // "Disk Imaging"
inline constexpr uint32_t kOpDiskCloning = 6;        // "Disk Cloning"

// The display name of an operation code; empty for codes that name none.
inline const char16_t* OperationName(uint32_t operation) {
  switch (operation) {
    case kOpPartitionRecovery: return u"Partition Recovery";
    case kOpFormattedRecovery: return u"Formatted Recovery";
    case kOpDeletedRecovery: return u"Deleted Recovery";
    case kOpAdvanceOption: return u"Advance Option";
    case kOpDiskImaging: return u"Disk Imaging";
    case kOpDiskCloning: return u"Disk Cloning";
    default: return u"";
  }
}

// How an image file is searched: its tables only, sector by sector for volumes, or for file
// signatures.
enum class ImageScanType : uint32_t { QuickScan = 0, LongScan = 1, RawScan = 2 };

}  // namespace kavo

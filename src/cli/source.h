// Opening the SOURCE argument of a command as the sector source.
#pragma once

#include <memory>
#include <string>

#include "disk/disk.h"

namespace kavo::cli {

// Opens `selector` (an image file, a device path, a drive number or a volume name) for reading.
// On failure prints "Failed to open disk." with the reason and returns null.
std::unique_ptr<CDisk> OpenSource(const std::u16string& selector);

// "Image file", "Physical drive", ... for the human output.
const char* SourceKindName(SourceKind kind);
const char* DeviceTypeName(uint32_t deviceType);

}  // namespace kavo::cli

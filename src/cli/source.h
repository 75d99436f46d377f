// Opening the SOURCE argument of a command as the sector source.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/args.h"
#include "disk/disk.h"

namespace kavo::cli {

// Opens `selector` (an image file, a device path, a drive number or a volume name) for reading.
// On failure prints "Failed to open disk." with the reason and returns null.
std::unique_ptr<CDisk> OpenSource(const std::u16string& selector);

// Picks the volume to read on an opened source: the one at `start` when given, else the one at
// sector 0. Sets the source's start sector and detects its file system; on failure prints what
// to give instead and returns false.
bool SelectVolume(CDisk& disk, std::optional<uint64_t> start);

// SelectVolume, or with --partition N in `args` the volume of row N (the number in its label) of
// the source's partition tables, or with --lost / --formatted of that search run again; a row
// whose boot sector is gone is read with the geometry its record keeps. Prints why on failure.
bool SelectVolume(std::unique_ptr<CDisk>& source, std::optional<uint64_t> start,
                  const ParsedArgs& args);

// "Image file", "Physical drive", ... for the human output.
const char* SourceKindName(SourceKind kind);
const char* DeviceTypeName(uint32_t deviceType);

}  // namespace kavo::cli

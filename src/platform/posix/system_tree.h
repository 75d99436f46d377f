// Where the Linux drive enumeration reads: the running system, or a tree laid out the same way
// below a folder (the tests' fake sysfs).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drives.h"

namespace kavo::platform {

struct SystemTree {
  std::filesystem::path sysBlock = "/sys/block";
  std::filesystem::path mounts = "/proc/self/mounts";
  std::filesystem::path byLabel = "/dev/disk/by-label";
};

// The whole disks of sysBlock in name order, without loop, RAM, device-mapper, md, CD-ROM,
// floppy and network block devices; a drive's index counts those disks from 0 in that order
// (as drive-number selectors do), and disks of size 0 (a card reader without a card) are left
// out.
std::vector<PhysicalDriveInfo> ListPhysicalDrives(const SystemTree& tree);

// The block devices mounted in `mounts`, each once (its first mount), in mount order; loop,
// RAM, CD-ROM, floppy and network devices, removable disks and devices of size 0 are left out.
std::vector<VolumeInfo> ListVolumes(const SystemTree& tree);

// A field of /proc/self/mounts with its octal escapes ("\040" for a space) undone.
std::string UnescapeMountField(std::string_view field);

// A udev link name with its "\x20"-style escapes undone.
std::string UnescapeUdevName(std::string_view name);

}  // namespace kavo::platform

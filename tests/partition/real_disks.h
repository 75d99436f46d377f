// Disks made at test time by the real partitioning and formatting tools (Linux only): sparse
// images whose partitions are formatted in place, through loop devices where the formatter
// needs a device. Each maker returns an empty string on success, or why it could not.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "disk/disk.h"
#include "support/process.h"

namespace kavo::test {

// An image file opened as a source, or null.
inline std::unique_ptr<CDisk> OpenImage(const std::filesystem::path& path) {
  auto disk = std::make_unique<CDisk>();
  disk->m_nSourceKind = SourceKind::ImageFile;
  if (!disk->Open(path.u16string())) return nullptr;
  return disk;
}

}  // namespace kavo::test

#ifndef _WIN32

namespace kavo::test {

// Formats sectors [start, start + sectors) of `image` with `mkfs` (the device appended) through
// a loop device that is always detached again.
inline std::string FormatThroughLoop(const std::filesystem::path& image, uint64_t start,
                                     uint64_t sectors, const std::string& mkfs) {
  const std::string script = "set -e; d=$(losetup -f --show -o " + std::to_string(start * 512) +
                             " --sizelimit " + std::to_string(sectors * 512) + " '" +
                             image.string() + "'); trap 'losetup -d $d' EXIT; " + mkfs +
                             " $d >/dev/null 2>&1";
  if (RunShell("(" + script + ")") != 0) {
    return "formatting through a loop device failed (" + mkfs + "; root and loop devices needed)";
  }
  return {};
}

inline std::string NeedTools(std::initializer_list<const char*> tools) {
  for (const char* tool : tools) {
    if (!HaveTool(tool)) return std::string(tool) + " is not installed";
  }
  return {};
}

// Sector numbers of the MBR disk: an NTFS primary and two FAT32 logical drives of 300 MiB.
inline constexpr uint64_t kMbrNtfsStart = 2048;
inline constexpr uint64_t kMbrFirstLogical = 618496;
inline constexpr uint64_t kMbrSecondLogical = 1234944;
inline constexpr uint64_t kVolumeSectors = 614400;

// An 1100 MiB disk partitioned by sfdisk: 1 NTFS (type 07), 2 extended (0F) holding 5 and 6,
// FAT32 (type 0C), each formatted by mkntfs and mkfs.fat.
inline std::string MakeMbrDisk(const std::filesystem::path& image) {
  if (auto why = NeedTools({"sfdisk", "mkntfs", "mkfs.fat", "losetup"}); !why.empty()) return why;
  const std::string q = "'" + image.string() + "'";
  const std::string n = image.filename().string();
  if (RunShell("rm -f " + q + " && truncate -s 1100M " + q + " && printf 'label: dos\\n" + n +
               "1 : start=2048, size=300MiB, type=7\\n" + n + "2 : size=700MiB, type=f\\n" + n +
               "5 : size=300MiB, type=c\\n" + n + "6 : size=300MiB, type=c\\n' | sfdisk -q " + q +
               " >/dev/null 2>&1") != 0) {
    return "sfdisk could not partition the image";
  }
  if (auto why = FormatThroughLoop(image, kMbrNtfsStart, kVolumeSectors,
                                   "mkntfs -q -F -Q -p 2048 -H 255 -S 63");
      !why.empty()) {
    return why;
  }
  for (const uint64_t start : {kMbrFirstLogical, kMbrSecondLogical}) {
    const std::string s = std::to_string(start);
    if (RunShell("mkfs.fat -F 32 -h " + s + " --offset=" + s + " " + q + " " +
                 std::to_string(kVolumeSectors / 2) + " >/dev/null 2>&1") != 0) {
      return "mkfs.fat failed";
    }
  }
  return {};
}

// Sector numbers of the GPT disk: basic-data NTFS at 2048 and exFAT after it, 300 MiB each.
inline constexpr uint64_t kGptNtfsStart = 2048;
inline constexpr uint64_t kGptExfatStart = 2048 + kVolumeSectors;

inline std::string MakeGptDisk(const std::filesystem::path& image) {
  if (auto why = NeedTools({"sgdisk", "mkntfs", "mkfs.exfat", "losetup"}); !why.empty()) return why;
  const std::string q = "'" + image.string() + "'";
  if (RunShell("rm -f " + q + " && truncate -s 700M " + q +
               " && sgdisk -n 1:2048:+300M -t 1:0700 " + "-n 2:0:+300M -t 2:0700 " + q +
               " >/dev/null 2>&1") != 0) {
    return "sgdisk could not partition the image";
  }
  if (auto why = FormatThroughLoop(image, kGptNtfsStart, kVolumeSectors,
                                   "mkntfs -q -F -Q -p 2048 -H 255 -S 63");
      !why.empty()) {
    return why;
  }
  return FormatThroughLoop(image, kGptExfatStart, kVolumeSectors, "mkfs.exfat");
}

// Zeroes `count` sectors of `image` from `sector`.
inline bool WipeSectors(const std::filesystem::path& image, uint64_t sector, uint64_t count = 1) {
  return RunShell("dd if=/dev/zero of='" + image.string() +
                  "' bs=512 seek=" + std::to_string(sector) + " count=" + std::to_string(count) +
                  " conv=notrunc status=none") == 0;
}

}  // namespace kavo::test

#endif  // _WIN32

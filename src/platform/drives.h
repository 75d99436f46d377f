// What the system says about its drives and volumes, and the SMART commands sent to a drive.
// Backends: win32/ (WMI, GetDiskFreeSpace(Ex)W, GetVolumeInformationW, the SMART device
// controls) and posix/ (/sys/block, /proc/self/mounts, statvfs, SG_IO ATA pass-through and the
// NVMe admin command).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kavo::platform {

// One whole disk. Empty texts and zero numbers are facts the system did not give.
struct PhysicalDriveInfo {
  std::u16string name;     // the path it opens by: "\\.\PHYSICALDRIVE0", "/dev/sda"
  std::u16string caption;  // "WDC WD10EZEX-08WN4A0 ATA Device", "WDC WD10EZEX-08WN4A0"
  std::u16string model;
  std::u16string serialNumber;    // as reported
  bool serialHexEncoded = false;  // Windows before 6.2 reports it hex-encoded, pairs swapped
  std::u16string mediaType;
  std::u16string interfaceType;  // "IDE", "SCSI", "USB", "NVMe", ...
  std::u16string status;         // "OK" when the system reports the drive working
  uint64_t size = 0;             // bytes
  uint32_t bytesPerSector = 0;   // 0: the system gave none (the drive is left out of the list)
  uint32_t index = 0;            // the drive number kavo opens it by
  bool removable = false;
  bool nvme = false;
};

// One mounted volume (a drive letter on Windows, a mounted block device elsewhere).
struct VolumeInfo {
  std::u16string caption;     // the designation it opens by: "C:", "/dev/sda1"
  std::u16string name;        // "C:\", the mount point
  std::u16string volumeName;  // the label, empty when it has none
  std::u16string fileSystem;  // "NTFS", "FAT32", "FAT", "exFAT", or the system's own name
  std::u16string devicePath;  // the device to read its boot sector from
  uint64_t size = 0;          // bytes of the volume
  uint64_t totalBytes = 0;    // bytes the file system offers
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t serialNumber = 0;
  bool removable = false;  // removable media or a CD-ROM: not listed
};

// A failure of the enumeration that the user is told about: the system's text and its caption
// (Windows: the WMI connection's texts; shown through the caller's Prompter). The enumeration
// ends with what it has.
struct SystemNotice {
  std::u16string text;
  std::u16string caption;
  bool error = false;  // error icon; information otherwise
};
using SystemNotices = std::vector<SystemNotice>;

// Which enumeration asks for the volumes: the drive-list rows and the volume records tell the
// same failures under different captions.
enum class VolumeQuery { Rows, Records };

// Physical drives in the system's order; volumes in the system's order.
std::vector<PhysicalDriveInfo> ListPhysicalDrives(SystemNotices& notices);
std::vector<VolumeInfo> ListVolumes(SystemNotices& notices, VolumeQuery query);

// The answers of a drive to the SMART commands, in the ATA 512-byte layouts.
struct SmartBlocks {
  bool attributesRead = false;  // SMART READ DATA answered
  bool thresholdsRead = false;  // SMART READ THRESHOLDS answered
  std::array<uint8_t, 512> attributes{};
  std::array<uint8_t, 512> thresholds{};
};

// Opens the drive, checks that it takes SMART commands, enables SMART and reads the attribute
// data and the thresholds (a failed attribute read does not stop the threshold read). False when
// the drive cannot be opened, takes no SMART commands or refuses the enable command.
bool ReadSmartBlocks(const PhysicalDriveInfo& drive, SmartBlocks& blocks);

// The 512-byte SMART / health information log (log page 02h) of an NVMe drive. False when the
// drive cannot be opened or refuses the command.
bool ReadNvmeHealthLog(const PhysicalDriveInfo& drive, std::array<uint8_t, 512>& log);

}  // namespace kavo::platform

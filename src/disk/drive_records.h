// The drive records of the cloning, imaging and drive-health pages: one per physical drive (with
// its SMART data) and one per volume, gathered from what the system reports.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/drives.h"

namespace kavo {

// The SMART area of a drive record: bytes 0-359 of the drive's attribute data, with each slot's
// status-flags high byte replaced by the slot's threshold, inside a zeroed area of 256 x 12
// bytes. Slot i of 30 starts at 2 + 12 i: ID, flags, threshold, current, worst, raw 0-5, reserved.
inline constexpr size_t kSmartAreaBytes = 256 * 12;
inline constexpr size_t kSmartCopiedBytes = 360;
inline constexpr size_t kSmartSlots = 30;
using SmartArea = std::array<uint8_t, kSmartAreaBytes>;

struct DriveRecord {
  std::u16string caption;
  uint64_t size = 0;  // bytes
  std::u16string name;
  std::u16string mediaType;
  std::u16string serialNumber;
  SmartArea smartArea{};
  uint32_t driveIndex = 0;
  std::u16string volumeName;  // volumes: the label, "Local Disk" when it has none
  uint64_t totalBytes = 0;
  uint32_t volumeSerial = 0;
  std::u16string model;
  std::u16string status;
  std::u16string interfaceType;
  uint32_t physical = 0;     // 1 physical drive, 0 volume
  uint32_t temperature = 0;  // degrees Celsius; 0: no reading

  // NVMe drives answer with their health log instead of ATA SMART data.
  bool nvme = false;
  bool hasNvmeLog = false;
  std::array<uint8_t, 512> nvmeLog{};
  std::u16string devicePath;  // what SMART commands are sent to
};

using DriveRecordPtr = std::unique_ptr<DriveRecord>;

// The two record arrays: physical drives and volumes.
struct DriveRecords {
  std::vector<DriveRecordPtr> physical;
  std::vector<DriveRecordPtr> volumes;
};

// Copies bytes 0-359 of a drive's 512-byte attribute data into `area` and returns the
// temperature: the raw byte 0 of the last slot whose ID is 194 or 190, 0 when none is.
uint32_t CopySmartAttributes(std::span<const uint8_t, 512> attributes, SmartArea& area);

// Puts the threshold of slot i of the 512-byte threshold data (its byte 3 + 12 i) into byte
// 4 + 12 i of the area, for the 30 slots.
void PatchSmartThresholds(std::span<const uint8_t, 512> thresholds, SmartArea& area);

// Reads SMART for one physical-drive record (its attribute data, or an NVMe drive's health log)
// into the record. False when nothing could be read; the record then keeps a zero area.
bool ReadDriveSmart(DriveRecord& record, const platform::PhysicalDriveInfo& drive);

// The serial number of a drive as older Windows versions report it, hex-encoded with its byte
// pairs swapped: every group of four characters has its two pairs swapped, "2", "0", "&", "."
// and "_" are trimmed from both ends, and the text is read as hexadecimal bytes (a character that
// is no hex digit counts as 0), keeping the bytes that are digits or upper-case letters.
std::u16string DecodeSerial(std::u16string_view raw);

// Fills the physical-drive records from the system's drives. With `withSerial` the serial
// numbers (decoded where the system reports them hex-encoded) and SMART data are read too; USB
// drives are not asked for SMART data.
void EnumerateDriveRecords(DriveRecords& records, bool withSerial,
                           platform::SystemNotices& notices);
void EnumerateDriveRecords(DriveRecords& records, bool withSerial,
                           const std::vector<platform::PhysicalDriveInfo>& drives);

// Fills the volume records from the system's volumes: label ("Local Disk" when empty), total
// bytes and volume serial (from the boot sector when the system gives none).
void EnumerateVolumeRecords(DriveRecords& records, platform::SystemNotices& notices);
void EnumerateVolumeRecords(DriveRecords& records,
                            const std::vector<platform::VolumeInfo>& volumes);

void ClearDriveRecords(DriveRecords& records);

// The file-system code of a file-system name as the system gives it: "exFAT" 4, "NTFS" 3,
// "FAT32" 2, "FAT" 1, anything else 0.
uint8_t FileSystemFromName(std::u16string_view name);

// What the boot sector of a volume device says: its file-system code and its serial number.
// False (and nothing set) when the device cannot be read or holds no recognised volume.
bool ReadVolumeIdentity(const std::u16string& devicePath, uint8_t& fileSystem, uint32_t& serial);

// The SMART / health information log of an NVMe drive (log page 02h). The 16-byte counters are
// held to 64 bits (a counter beyond that reads UINT64_MAX).
struct NvmeHealth {
  uint8_t criticalWarning = 0;
  uint16_t temperatureKelvin = 0;  // composite temperature; 0: not reported
  uint8_t availableSpare = 0;      // percent
  uint8_t availableSpareThreshold = 0;
  uint8_t percentageUsed = 0;  // may exceed 100
  uint64_t dataUnitsRead = 0;  // thousands of 512-byte units
  uint64_t dataUnitsWritten = 0;
  uint64_t hostReadCommands = 0;
  uint64_t hostWriteCommands = 0;
  uint64_t controllerBusyMinutes = 0;
  uint64_t powerCycles = 0;
  uint64_t powerOnHours = 0;
  uint64_t unsafeShutdowns = 0;
  uint64_t mediaErrors = 0;
  uint64_t errorLogEntries = 0;
};
NvmeHealth ParseNvmeHealthLog(std::span<const uint8_t, 512> log);

// Degrees Celsius of a temperature in kelvins, 0 for no reading (0 K or below 1 degree).
uint32_t CelsiusFromKelvin(uint16_t kelvin);

}  // namespace kavo

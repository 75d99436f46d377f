#include "disk/drive_records.h"

#include <algorithm>
#include <vector>

#include "disk/disk.h"
#include "disk/volume.h"
#include "platform/bytes.h"

namespace kavo {

namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 0;
}

// A 16-byte little-endian counter of the NVMe log, held to 64 bits.
uint64_t LoadCounter(const uint8_t* p) {
  return LoadLe64(p + 8) != 0 ? UINT64_MAX : LoadLe64(p);
}

}  // namespace

uint32_t CopySmartAttributes(std::span<const uint8_t, 512> attributes, SmartArea& area) {
  std::copy_n(attributes.begin(), kSmartCopiedBytes, area.begin());
  uint32_t temperature = 0;
  for (size_t i = 0; i < kSmartSlots; ++i) {
    const uint8_t* slot = area.data() + 2 + 12 * i;
    if (slot[0] == 194 || slot[0] == 190) temperature = slot[5];
  }
  return temperature;
}

void PatchSmartThresholds(std::span<const uint8_t, 512> thresholds, SmartArea& area) {
  for (size_t i = 0; i < kSmartSlots; ++i) area[4 + 12 * i] = thresholds[3 + 12 * i];
}

NvmeHealth ParseNvmeHealthLog(std::span<const uint8_t, 512> log) {
  const uint8_t* b = log.data();
  NvmeHealth h;
  h.criticalWarning = b[0];
  h.temperatureKelvin = LoadLe16(b + 1);
  h.availableSpare = b[3];
  h.availableSpareThreshold = b[4];
  h.percentageUsed = b[5];
  h.dataUnitsRead = LoadCounter(b + 32);
  h.dataUnitsWritten = LoadCounter(b + 48);
  h.hostReadCommands = LoadCounter(b + 64);
  h.hostWriteCommands = LoadCounter(b + 80);
  h.controllerBusyMinutes = LoadCounter(b + 96);
  h.powerCycles = LoadCounter(b + 112);
  h.powerOnHours = LoadCounter(b + 128);
  h.unsafeShutdowns = LoadCounter(b + 144);
  h.mediaErrors = LoadCounter(b + 160);
  h.errorLogEntries = LoadCounter(b + 176);
  return h;
}

uint32_t CelsiusFromKelvin(uint16_t kelvin) {
  return kelvin > 273 ? kelvin - 273u : 0u;
}

bool ReadDriveSmart(DriveRecord& record, const platform::PhysicalDriveInfo& drive) {
  if (drive.nvme) {
    if (!platform::ReadNvmeHealthLog(drive, record.nvmeLog)) return false;
    record.hasNvmeLog = true;
    record.temperature = CelsiusFromKelvin(ParseNvmeHealthLog(record.nvmeLog).temperatureKelvin);
    return true;
  }
  platform::SmartBlocks blocks;
  if (!platform::ReadSmartBlocks(drive, blocks)) return false;
  if (blocks.attributesRead)
    record.temperature = CopySmartAttributes(blocks.attributes, record.smartArea);
  if (blocks.thresholdsRead) PatchSmartThresholds(blocks.thresholds, record.smartArea);
  return blocks.attributesRead || blocks.thresholdsRead;
}

std::u16string DecodeSerial(std::u16string_view raw) {
  std::u16string text(raw);
  for (size_t i = 0; i + 4 <= text.size(); i += 4) {
    std::swap_ranges(text.begin() + i, text.begin() + i + 2, text.begin() + i + 2);
  }
  const std::u16string_view trimmed = u"20&._";
  const size_t first = text.find_first_not_of(trimmed);
  if (first == std::u16string::npos) return {};
  text = text.substr(first, text.find_last_not_of(trimmed) - first + 1);
  std::u16string serial;
  for (size_t i = 0; i + 2 <= text.size(); i += 2) {
    const auto c = static_cast<char16_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1]));
    if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z')) serial += c;
  }
  return serial;
}

void EnumerateDriveRecords(DriveRecords& records, bool withSerial,
                           const std::vector<platform::PhysicalDriveInfo>& drives) {
  for (const platform::PhysicalDriveInfo& d : drives) {
    auto r = std::make_unique<DriveRecord>();
    r->caption = d.caption;
    r->name = d.name;
    r->size = d.size;
    r->driveIndex = d.index & 0xFF;
    r->model = d.model;
    r->mediaType = d.mediaType;
    r->interfaceType = d.interfaceType;
    r->status = d.status;
    r->nvme = d.nvme;
    r->devicePath = d.name;
    if (withSerial) {
      r->serialNumber = d.serialHexEncoded ? DecodeSerial(d.serialNumber) : d.serialNumber;
      if (d.interfaceType != u"USB") ReadDriveSmart(*r, d);
    }
    r->physical = 1;
    records.physical.push_back(std::move(r));
  }
}

void EnumerateDriveRecords(DriveRecords& records, bool withSerial,
                           platform::SystemNotices& notices) {
  EnumerateDriveRecords(records, withSerial, platform::ListPhysicalDrives(notices));
}

uint8_t FileSystemFromName(std::u16string_view name) {
  if (name == u"exFAT") return FS_EXFAT;
  if (name == u"NTFS") return FS_NTFS;
  if (name == u"FAT32") return FS_FAT32;
  if (name == u"FAT") return FS_FAT16;
  return FS_NONE;
}

bool ReadVolumeIdentity(const std::u16string& devicePath, uint8_t& fileSystem, uint32_t& serial) {
  CDisk disk;
  // A volume laid in an image file (a test's, a user's) is read the same way.
  disk.m_nSourceKind =
      IsImageFileSelector(devicePath) ? SourceKind::ImageFile : SourceKind::LogicalDrive;
  if (devicePath.empty() || !disk.Open(devicePath) || !DetectVolume(disk)) return false;
  std::vector<uint8_t> sector(std::max<uint32_t>(disk.m_nSectorSize, 512));
  if (!disk.ReadSectors(sector.data(), disk.m_nSectorSize, 0)) return false;
  fileSystem = disk.m_nFileSystem;
  switch (fileSystem) {
    case FS_FAT12:
    case FS_FAT16: serial = LoadLe32(sector.data() + 0x27); break;
    case FS_FAT32: serial = LoadLe32(sector.data() + 0x43); break;
    case FS_NTFS: serial = LoadLe32(sector.data() + 0x48); break;
    case FS_EXFAT: serial = LoadLe32(sector.data() + 0x64); break;
  }
  return true;
}

void EnumerateVolumeRecords(DriveRecords& records,
                            const std::vector<platform::VolumeInfo>& volumes) {
  for (const platform::VolumeInfo& v : volumes) {
    if (v.removable) continue;
    auto r = std::make_unique<DriveRecord>();
    r->caption = v.caption;
    r->size = v.size;
    r->name = v.name;
    r->volumeName = v.volumeName.empty() ? u"Local Disk" : v.volumeName;
    r->totalBytes = v.totalBytes;
    r->volumeSerial = v.serialNumber;
    r->devicePath = v.devicePath;
    uint8_t code = 0;
    if (r->volumeSerial == 0) ReadVolumeIdentity(v.devicePath, code, r->volumeSerial);
    r->physical = 0;
    records.volumes.push_back(std::move(r));
  }
}

void EnumerateVolumeRecords(DriveRecords& records, platform::SystemNotices& notices) {
  EnumerateVolumeRecords(records, platform::ListVolumes(notices, platform::VolumeQuery::Records));
}

void ClearDriveRecords(DriveRecords& records) {
  records.physical.clear();
  records.volumes.clear();
}

}  // namespace kavo

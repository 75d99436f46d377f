#include "disk/disk.h"

#include <algorithm>
#include <vector>

#include "disk/container.h"
#include "disk/mapped_image.h"
#include "platform/text.h"

namespace kavo {

namespace {

constexpr std::u16string_view kImageExtensions[] = {
    u".IMG",  u".CTR",  u".DD",    u".DAT",  u".VHD", u".VDI", u".001",
    u".VMDK", u".VHDX", u".QCOW2", u".QCOW", u".E01", u".RAW", u".BIN"};

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}
bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}
bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

}  // namespace

bool HasImageExtension(std::u16string_view selector) {
  return std::any_of(std::begin(kImageExtensions), std::end(kImageExtensions),
                     [&](std::u16string_view ext) {
                       if (selector.size() < ext.size()) return false;
                       const auto tail = selector.substr(selector.size() - ext.size());
                       return std::equal(tail.begin(), tail.end(), ext.begin(),
                                         [](char16_t a, char16_t b) { return Upper(a) == b; });
                     });
}

bool IsImageFileSelector(const std::u16string& selector) {
  return HasImageExtension(selector) ||
         (!selector.empty() && platform::ClassifyPath(selector) == platform::PathKind::RegularFile);
}

CDisk::CDisk() : CDisk(DeviceOpener(&platform::OpenDevice)) {}

CDisk::CDisk(DeviceOpener opener) : m_opener(std::move(opener)) {}

SelectedDevice DeviceForSelector(const std::u16string& selector) {
  SelectedDevice device;
  if (!selector.empty() && IsDigit(selector[0])) {
    device.type = platform::DeviceType::PhysicalDrive;
    device.path = platform::PhysicalDrivePath(selector);
  } else if (!selector.empty() && IsLetter(selector[0])) {
    device.type = platform::DeviceType::Volume;
    device.path = platform::VolumePath(selector);
  } else if (platform::IsDevicePathSelector(selector)) {
    const platform::PathKind kind = platform::ClassifyPath(selector);
    if (kind == platform::PathKind::WholeDisk) device.type = platform::DeviceType::PhysicalDrive;
    if (kind == platform::PathKind::Partition) device.type = platform::DeviceType::Volume;
    if (device.type != platform::DeviceType::None) device.path = selector;
  }
  return device;
}

bool CDisk::Open(const std::u16string& selector) {
  m_name = selector;
  m_hDevice.reset();
  m_nOpenFailure = OpenFailure::None;
  m_nOpenError = 0;
  m_openReason.clear();

  std::u16string path;
  platform::DeviceType type = platform::DeviceType::None;
  if (m_nSourceKind == SourceKind::ImageFile) {
    if (!IsImageFileSelector(selector)) {
      m_nOpenFailure = OpenFailure::NotImageExtension;
      return false;
    }
    path = selector;
    type = platform::DeviceType::ImageFile;
  } else {
    SelectedDevice device = DeviceForSelector(selector);
    if (device.type == platform::DeviceType::None) {
      m_nOpenFailure = OpenFailure::BadSelector;
      return false;
    }
    type = device.type;
    path = std::move(device.path);
  }
  if (path.empty()) {
    m_nOpenFailure = OpenFailure::NoSuchDrive;
    return false;
  }

  // Sources are only ever read: the copy engine opens its destinations through its own device.
  platform::OpenResult opened;
  bool container = false;
  if (type == platform::DeviceType::ImageFile) {
    ImageSource source = OpenImageSource(path, m_opener);
    opened.device = std::move(source.device);
    opened.error = source.systemError;
    container = source.container != nullptr;
    if (source.refused) {
      m_nOpenFailure = OpenFailure::Container;
      m_openReason = source.error;
      return false;
    }
  } else {
    opened = m_opener(path, platform::OpenMode::Read);
  }
  if (!opened.device) {
    m_nOpenFailure = OpenFailure::System;
    m_nOpenError = opened.error;
    return false;
  }
  // A partial image reads as damaged wherever the map beside it says its copy did not finish.
  if (type == platform::DeviceType::ImageFile) {
    opened.device = WithRescueMap(std::move(opened.device), path);
  }

  // The sector size is the smallest read, in 512-byte steps, that the device accepts at byte 0;
  // a container's virtual disk has 512-byte sectors.
  std::vector<uint8_t> probe(kMaxProbeSize);
  uint32_t sectorSize = container ? 512 : 0;
  for (uint32_t size = 512; size <= kMaxProbeSize && sectorSize == 0; size += 512) {
    uint32_t got = 0;
    if (!opened.device->Seek(0, platform::SeekOrigin::Begin, nullptr)) continue;
    if (opened.device->Read(probe.data(), size, &got)) {
      sectorSize = size;
      break;
    }
  }
  if (sectorSize == 0) {
    m_nOpenFailure = OpenFailure::NoSectorSize;
    m_nOpenError = opened.device->LastError();
    return false;
  }
  opened.device->Seek(0, platform::SeekOrigin::Begin, nullptr);

  uint64_t length = 0;
  if (!opened.device->GetLength(type, &length)) length = 0;

  m_hDevice = std::move(opened.device);
  m_devicePath = path;
  m_nDeviceType = static_cast<uint32_t>(type);
  m_nSectorSize = sectorSize;
  m_nTotalSectors = length / sectorSize;
  m_nStartSector = 0;
  return true;
}

bool CDisk::ReadSectors(void* buffer, uint32_t bytes, uint64_t sector) {
  if (!m_hDevice) return false;
  uint64_t offset = 0;
  if (__builtin_mul_overflow(sector, static_cast<uint64_t>(m_nSectorSize), &offset) ||
      offset > static_cast<uint64_t>(INT64_MAX)) {
    return false;
  }
  if (!m_hDevice->Seek(static_cast<int64_t>(offset), platform::SeekOrigin::Begin, nullptr)) {
    return false;
  }
  uint32_t got = 0;
  if (m_hDevice->Read(buffer, bytes, &got)) return true;
  ++m_nFailedReads;
  return false;
}

bool CDisk::SeekToStart() {
  if (m_hDevice) m_hDevice->Seek(0, platform::SeekOrigin::Begin, nullptr);
  return true;
}

uint64_t CDisk::Tell() {
  uint64_t position = 0;
  if (!m_hDevice || !m_hDevice->Seek(0, platform::SeekOrigin::Current, &position)) return 0;
  return position;
}

bool CDisk::SeekRelative(int64_t distance) {
  return m_hDevice && m_hDevice->Seek(distance, platform::SeekOrigin::Current, nullptr);
}

SourceKind SourceKindForSelector(const std::u16string& selector) {
  if (selector.empty()) return SourceKind::None;
  if (std::all_of(selector.begin(), selector.end(), IsDigit)) return SourceKind::PhysicalDrive;
  if (selector.size() == 2 && IsLetter(selector[0]) && selector[1] == u':') {
    return SourceKind::LogicalDrive;
  }
  switch (platform::ClassifyPath(selector)) {
    case platform::PathKind::RegularFile: return SourceKind::ImageFile;
    case platform::PathKind::WholeDisk: return SourceKind::PhysicalDrive;
    case platform::PathKind::Partition: return SourceKind::LogicalDrive;
    case platform::PathKind::Other: return SourceKind::None;
    case platform::PathKind::Missing: break;
  }
  if (IsLetter(selector[0]) && selector.find_first_of(u"./\\") == std::u16string::npos) {
    return SourceKind::LogicalDrive;
  }
  // A missing file with an image extension: let the open report the system's reason.
  if (HasImageExtension(selector)) return SourceKind::ImageFile;
  return SourceKind::None;
}

std::string OpenFailureText(const CDisk& disk) {
  switch (disk.m_nOpenFailure) {
    case OpenFailure::None: return {};
    case OpenFailure::BadSelector:
      return "not a drive number, a volume name, a device or an image file";
    case OpenFailure::NotImageExtension: return "no such image file";
    case OpenFailure::Container: return disk.m_openReason;
    case OpenFailure::NoSuchDrive: return "no such drive";
    case OpenFailure::System: return platform::ErrorText(disk.m_nOpenError);
    case OpenFailure::NoSectorSize:
      return "no read at the start of the source succeeded (" +
             platform::ErrorText(disk.m_nOpenError) + ")";
  }
  return {};
}

}  // namespace kavo

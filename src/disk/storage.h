// The sector source: everything the program reads from a drive, a volume or a disk-image file
// goes through one CDisk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/device.h"

namespace kavo {

// The kind of a drive-list row and of the source opened from it.
enum class SourceKind : uint8_t { None = 0, Partition = 1, PhysicalDrive = 2, LogicalDrive = 3, ImageFile = 4 };

// Opens a device path; tests put a device of their own behind it.
using DeviceOpener =
    std::function<platform::OpenResult(const std::u16string& path, platform::OpenMode mode)>;

class CStorage {
 public:
  virtual ~CStorage() = default;
  virtual bool Open(const std::u16string& selector) = 0;

  std::u16string GetName() const { return m_name; }

  std::u16string m_name;            // the selector given to Open
  uint64_t m_nStartSector = 0;      // first sector of the selected volume within the source
  uint64_t m_nTotalSectors = 0;     // sectors of the whole source
  SourceKind m_nSourceKind = SourceKind::None;
  uint32_t m_nSectorSize = 0;       // bytes per sector, probed by Open
  std::unique_ptr<platform::RawDevice> m_hDevice;
};

}  // namespace kavo

// CDisk: a source opened for reading. Open takes a selector (a drive number, a volume, a device
// path or an image file), probes the sector size and counts the sectors; the readers then set
// m_nStartSector to a volume's first sector, and DetectVolume (disk/volume.h) fills m_volume and
// m_nFileSystem from its boot sector. Every read goes through ReadSectors at absolute sectors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "disk/storage.h"
#include "disk/volume_params.h"

namespace kavo {

// Why the last CDisk::Open failed, for the caller's message.
enum class OpenFailure : uint8_t {
  None,
  BadSelector,        // neither a drive number, a volume name, a device path nor an image path
  NotImageExtension,  // an image source whose name lacks one of the image extensions
  NoSuchDrive,        // a drive number with no drive behind it
  System,             // the system refused the open; see m_nOpenError
  NoSectorSize,       // no read of 512 ... 66048 bytes succeeded
  Container,          // a disk-image container that cannot be read; see m_openReason
};

class CDisk : public CStorage {
 public:
  // Largest sector size the probe tries: 64 KiB plus one 512-byte step.
  static constexpr uint32_t kMaxProbeSize = 65536 + 512;

  CDisk();
  explicit CDisk(DeviceOpener opener);

  // Opens the selector as a physical drive (digit-led: drive number), a volume (letter-led), a
  // device path where the system has them, or, when m_nSourceKind is ImageFile, an image file:
  // an existing regular file whatever its name, or a path with one of the image extensions. An
  // image file holding a disk-image container is read as the virtual disk inside, in 512-byte
  // sectors. Probes the sector size and sets the total sector count.
  bool Open(const std::u16string& selector) override;

  // Reads `bytes` bytes at absolute sector `sector` of the source (m_nStartSector is not added).
  // True when the read call succeeded, whatever byte count it reported.
  bool ReadSectors(void* buffer, uint32_t bytes, uint64_t sector);

  bool SeekToStart();
  uint64_t Tell();
  bool SeekRelative(int64_t distance);

  // Closes the device; the object stays, with no usable handle.
  void Close() { m_hDevice.reset(); }
  bool IsOpen() const { return m_hDevice != nullptr; }

  uint32_t m_nDeviceType = 0;  // 1 physical drive, 2 volume, 3 image file
  uint8_t m_nFileSystem = 0;   // FileSystemCode: 1 FAT16, 2 FAT32, 3 NTFS, 4 exFAT, 6 FAT12, 0 none
  VolumeParams m_volume;       // geometry of the selected volume's file system

  std::u16string m_devicePath;  // the path Open opened ("\\.\C:", "/dev/sdb1", the image path)
  uint64_t m_nFailedReads = 0;  // ReadSectors calls that failed (damaged or unfinished sectors)
  OpenFailure m_nOpenFailure = OpenFailure::None;
  platform::ErrorCode m_nOpenError = 0;
  std::string m_openReason;  // why a container could not be read

 private:
  DeviceOpener m_opener;
};

// The device a drive or volume selector names: a digit-led selector a drive number, a letter-led
// one a volume name and, where the system has them, a device path a whole disk or a partition.
// The type is None when the selector is none of these; the path is empty when no such drive
// exists.
struct SelectedDevice {
  platform::DeviceType type = platform::DeviceType::None;
  std::u16string path;
};
SelectedDevice DeviceForSelector(const std::u16string& selector);

// True when the selector ends, in any case, with one of the image-file extensions (those the
// Load Image dialog offers).
bool HasImageExtension(std::u16string_view selector);

// True when the selector names an image file: it has an image extension or is an existing
// regular file (a raw image may be named anything).
bool IsImageFileSelector(const std::u16string& selector);

// The source kind a command-line selector names: an existing regular file is an image file, a
// whole-disk device or a drive number a physical drive, a partition device or a volume name a
// logical drive. None when it names nothing usable.
SourceKind SourceKindForSelector(const std::u16string& selector);

// A one-line English reason for the last failed Open (empty when it succeeded).
std::string OpenFailureText(const CDisk& disk);

}  // namespace kavo

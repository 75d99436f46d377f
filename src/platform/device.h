// Raw device and file access: the one interface through which the layers above reach drives,
// volumes and image files. Backends: win32/ (CreateFileW, ReadFile, DeviceIoControl) and posix/
// (open, pread, ioctl BLKGETSIZE64/BLKSSZGET, fstat).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kavo::platform {

// How the sector source reaches a device; the values are those of the sector source's device
// type field.
enum class DeviceType : uint32_t { None = 0, PhysicalDrive = 1, Volume = 2, ImageFile = 3 };

enum class SeekOrigin { Begin, Current, End };

// A system error code: GetLastError() on Windows, errno elsewhere. 0 means no error.
using ErrorCode = uint32_t;

// Controls sent to a copy destination before it is overwritten. Windows keeps a drive's layout
// and a volume's file system in use; other systems have nothing to send and accept them as done
// (a mounted destination is refused there instead, see DeviceInUse).
enum class DeviceControl {
  DeleteDriveLayout,  // IOCTL_DISK_DELETE_DRIVE_LAYOUT
  DismountVolume,     // FSCTL_DISMOUNT_VOLUME
  LockVolume,         // FSCTL_LOCK_VOLUME
};

// One open device or file. Reads and seeks follow the Windows file-pointer model: a read starts
// at the current position and advances it by the bytes read.
class RawDevice {
 public:
  virtual ~RawDevice() = default;

  // Reads up to `bytes` bytes at the current position. Returns false when the read call fails
  // (the position is then unchanged); `*got` receives the byte count the call reported, which
  // may be short at the end of a file.
  virtual bool Read(void* buffer, uint32_t bytes, uint32_t* got) = 0;

  // Writes at the current position; `*put` receives the byte count written.
  virtual bool Write(const void* buffer, uint32_t bytes, uint32_t* put) = 0;

  // Moves the position; `*newPosition` (may be null) receives the resulting byte position.
  virtual bool Seek(int64_t distance, SeekOrigin origin, uint64_t* newPosition) = 0;

  // The length in bytes, asked the way that fits the device type: the disk length for a
  // physical drive, the partition length for a volume, the file size for an image file.
  virtual bool GetLength(DeviceType type, uint64_t* length) = 0;

  // The system error of the last failed call on this object.
  virtual ErrorCode LastError() const = 0;

  // Makes the data written so far durable (fsync, FlushFileBuffers). False when the device
  // reports that earlier writes were lost.
  virtual bool Flush() { return true; }

  // Sends a control that readies a copy destination for overwriting (see DeviceControl).
  virtual bool Control(DeviceControl control) {
    (void)control;
    return true;
  }
};

enum class OpenMode {
  Read,       // sources: never written
  ReadWrite,  // copy destinations
  Create,     // new or truncated image files
};

struct OpenResult {
  std::unique_ptr<RawDevice> device;  // null on failure
  ErrorCode error = 0;
};

// Opens a device path ("\\.\PHYSICALDRIVE0", "\\.\C:", "/dev/sdb") or a file path.
OpenResult OpenDevice(const std::u16string& path, OpenMode mode);

// Creates one folder; returns 0 or the system's error (an existing folder or file is an error).
ErrorCode MakeDirectory(const std::u16string& path);

// A calendar day of the local time zone.
struct LocalDay {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
};

// Sets a file's or folder's modification time and its creation time to the first second of the
// given local days; an absent day leaves that time as it is. Windows keeps both. Linux keeps no
// creation time that can be set (a file's birth time is the moment it was made), so there only the
// modification time changes. Returns 0 or the system's error.
ErrorCode SetFileDays(const std::u16string& path, std::optional<LocalDay> modified,
                      std::optional<LocalDay> created);

// What an error code means for creating an output file or folder.
enum class ErrorKind { None, PathNotFound, NameTooLong, AlreadyExists, Other };
ErrorKind ClassifyError(ErrorCode code);

// The system's codes for faults the program reports on its own devices: a read that could not
// give its data (EIO; ERROR_READ_FAULT), a write to a read-only device (EROFS;
// ERROR_WRITE_PROTECT) and a position outside a device (EINVAL; ERROR_NEGATIVE_SEEK).
enum class Fault { Read, WriteProtected, BadPosition };
ErrorCode FaultCode(Fault fault);

// The system's text for an error code, in UTF-8, without a trailing newline.
std::string ErrorText(ErrorCode code);

// What a selector names on this system.
enum class PathKind { Missing, RegularFile, WholeDisk, Partition, Other };

// Classifies a path: a regular file, a block device that is a whole disk, a block device that is
// a partition (judged from sysfs on Linux), or something else.
PathKind ClassifyPath(const std::u16string& path);

// The device path of physical drive `number` (the digits of a drive selector), or empty when
// there is no such drive. Windows: "\\.\PHYSICALDRIVE%s". Linux: the number-th whole disk of
// /sys/block, counting from 0 in name order, skipping loop, RAM and device-mapper devices.
std::u16string PhysicalDrivePath(const std::u16string& number);

// The device path of a volume named by a letter-led selector. Windows: "\\.\%s" ("C:" ->
// "\\.\C:"). Linux: "/dev/%s" ("sdb1" -> "/dev/sdb1").
std::u16string VolumePath(const std::u16string& name);

// Whether a selector given as a device path ("/dev/sdb") is accepted on this system.
bool IsDevicePathSelector(const std::u16string& selector);

// What keeps a device from being overwritten safely: "mounted at /mnt/x" when the device or one
// of its partitions is mounted, "in use by dm-0" when another device is stacked on it. Empty when
// nothing does. Windows answers empty: a copy dismounts or locks its destination volume instead.
std::string DeviceInUse(const std::u16string& devicePath);

// True when writing `destination` would overwrite `source` or the storage that holds it: the same
// file or device, a disk and one of its partitions (either way round), a device stacked on the
// other, or a file on a file system of the other. A destination file that does not exist yet is
// judged by the folder that will hold it. False when nothing links them or it cannot be told.
bool SharesStorage(const std::u16string& source, const std::u16string& destination);

// Whether standard input is an interactive terminal (someone can answer a question).
bool IsInputTerminal();

}  // namespace kavo::platform

// Disk-image containers: a virtual disk held in a file (VHD, VHDX, VMDK, VDI, qcow2, EWF, split
// raw). Each format's reader is a VirtualDisk, a read-only platform::RawDevice whose bytes are
// those of the disk inside, so the sector source and everything above it read a container as
// they read a raw image. The format is chosen by the file's content, never by its name; a file
// no reader recognises is read as raw sectors.
//
// Every value read from a container (table offsets, sizes, counts, paths of parents and extents)
// is untrusted: a reader checks it against the file's length before use and refuses the file
// with a one-line reason ("parent disk not found: base.vhd") rather than reading outside it.
// A block whose data cannot be read or decoded (a read error, a corrupt compressed grain) makes
// the read that touches it fail, as a bad sector of a drive would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/storage.h"
#include "platform/device.h"

namespace kavo {

class VirtualDisk : public platform::RawDevice {
 public:
  // Reads at the current position; a read that reaches past the virtual size is short, one that
  // touches an unreadable block fails (LastError gives the system's read-fault code).
  bool Read(void* buffer, uint32_t bytes, uint32_t* got) final;
  // Containers are only ever read.
  bool Write(const void* buffer, uint32_t bytes, uint32_t* put) final;
  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) final;
  // The virtual disk's size, whatever the device type asked.
  bool GetLength(platform::DeviceType type, uint64_t* length) final;
  platform::ErrorCode LastError() const final { return m_nLastError; }

  uint64_t VirtualSize() const { return m_nVirtualSize; }
  // The container's kind as shown to the user: "VHD (dynamic)", "VMDK (stream-optimized)",
  // "EWF (3 segments)", "raw (2 pieces)".
  const std::string& Format() const { return m_format; }
  // Further facts for `info`, one "Name: value" per line ("Stored MD5: ..."); may be empty.
  virtual std::string Details() const { return {}; }

 protected:
  // Fills `bytes` bytes at virtual offset `offset` (the range lies inside the virtual size).
  // False when any part of it cannot be read; `*error` then holds the system's error code.
  virtual bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
                      platform::ErrorCode* error) = 0;

  uint64_t m_nVirtualSize = 0;
  std::string m_format;

 private:
  uint64_t m_nPosition = 0;
  platform::ErrorCode m_nLastError = 0;
};

// The outcome of opening a file as a container.
struct ContainerOpen {
  std::unique_ptr<VirtualDisk> disk;  // the virtual disk; null when the file is not a container
                                      // or when it is one that cannot be read
  std::string error;                  // why a recognised container cannot be read, else empty
};

// Opens `path` (through `opener`, read only) as whichever container its content shows. A file
// that is no container gives neither a disk nor an error: the caller reads it as raw sectors.
ContainerOpen OpenContainer(const std::u16string& path, const DeviceOpener& opener);

// An image file opened as a sector source: the virtual disk of a container, else the file itself
// read as raw sectors. On failure `device` is null and `error` says why: a container's reason, or
// the system's text for `systemError` when the file would not open.
struct ImageSource {
  std::unique_ptr<platform::RawDevice> device;
  const VirtualDisk* container = nullptr;  // the virtual disk inside `device`, null for raw
  bool refused = false;                    // a container that cannot be read
  std::string error;
  platform::ErrorCode systemError = 0;
};
ImageSource OpenImageSource(const std::u16string& path, const DeviceOpener& opener);

// What a format's reader is handed: the file opened read only, its path (parents and extents are
// looked for beside it), its length, its first bytes (up to kHeadBytes) and the opener for the
// files it names. `chain` lists the paths of the children already open above this file, so a
// parent that leads back to one of them is refused as a cycle.
struct ContainerFile {
  static constexpr size_t kHeadBytes = 65536;
  std::unique_ptr<platform::RawDevice> device;
  std::u16string path;
  uint64_t size = 0;
  std::vector<uint8_t> head;
  const DeviceOpener* opener = nullptr;
  std::vector<std::u16string> chain;
};

// Opens the parent (backing) disk a differencing container names, found by `candidates` in
// order (each tried relative to the child's folder first, then as given): whatever the parent
// is, a container or a raw file. Null with `*error` set ("parent disk not found: base.vhd",
// "cycle of parent disks: a.vhd") when none opens.
std::unique_ptr<platform::RawDevice> OpenParentDisk(const ContainerFile& child,
                                                    const std::vector<std::u16string>& candidates,
                                                    std::string* error);

// One reader per format, each in its own file of src/disk. Open* is called only when Is* said
// yes, and returns a disk or a reason.
bool IsVhd(const ContainerFile& file);
ContainerOpen OpenVhd(ContainerFile file);
bool IsVhdx(const ContainerFile& file);
ContainerOpen OpenVhdx(ContainerFile file);
bool IsVmdk(const ContainerFile& file);
ContainerOpen OpenVmdk(ContainerFile file);
bool IsVdi(const ContainerFile& file);
ContainerOpen OpenVdi(ContainerFile file);
bool IsQcow(const ContainerFile& file);
ContainerOpen OpenQcow(ContainerFile file);
bool IsEwf(const ContainerFile& file);
ContainerOpen OpenEwf(ContainerFile file);
// Split raw: "name.001" whose "name.002" exists.
bool IsSplitRaw(const ContainerFile& file);
ContainerOpen OpenSplitRaw(ContainerFile file);

}  // namespace kavo

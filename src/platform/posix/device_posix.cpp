#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {

// Block devices are opened buffered, so the kernel would accept reads of any length. Reads and
// writes are held to multiples of the logical block size instead, as an unbuffered Windows device
// handle does, so the sector-size probe finds 4096 on a 4Kn disk on both systems.
class PosixDevice final : public RawDevice {
 public:
  PosixDevice(int fd, uint32_t blockSize) : m_fd(fd), m_blockSize(blockSize) {}
  ~PosixDevice() override { ::close(m_fd); }

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    *got = 0;
    if (m_blockSize > 1 && bytes % m_blockSize != 0) return Fail(EINVAL);
    uint32_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pread(m_fd, static_cast<uint8_t*>(buffer) + done, bytes - done,
                                static_cast<off_t>(m_position + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      if (n == 0) break;
      done += static_cast<uint32_t>(n);
    }
    m_position += done;
    *got = done;
    return true;
  }

  bool Write(const void* buffer, uint32_t bytes, uint32_t* put) override {
    *put = 0;
    if (m_blockSize > 1 && bytes % m_blockSize != 0) return Fail(EINVAL);
    uint32_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pwrite(m_fd, static_cast<const uint8_t*>(buffer) + done, bytes - done,
                                 static_cast<off_t>(m_position + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        m_position += done;
        *put = done;
        return Fail(errno);
      }
      if (n == 0) break;
      done += static_cast<uint32_t>(n);
    }
    m_position += done;
    *put = done;
    return done == bytes || Fail(ENOSPC);
  }

  bool Seek(int64_t distance, SeekOrigin origin, uint64_t* newPosition) override {
    int64_t base = 0;
    if (origin == SeekOrigin::Current) {
      base = static_cast<int64_t>(m_position);
    } else if (origin == SeekOrigin::End) {
      uint64_t length = 0;
      if (!GetLength(DeviceType::None, &length)) return false;
      base = static_cast<int64_t>(length);
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, distance, &target) || target < 0) return Fail(EINVAL);
    m_position = static_cast<uint64_t>(target);
    if (newPosition) *newPosition = m_position;
    return true;
  }

  bool GetLength(DeviceType, uint64_t* length) override {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return Fail(errno);
    if (S_ISBLK(st.st_mode)) {
      uint64_t bytes = 0;
      if (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0) return Fail(errno);
      *length = bytes;
      return true;
    }
    *length = static_cast<uint64_t>(st.st_size);
    return true;
  }

  ErrorCode LastError() const override { return m_error; }

  bool Flush() override { return ::fsync(m_fd) == 0 || errno == EINVAL || Fail(errno); }

 private:
  bool Fail(int error) {
    m_error = static_cast<ErrorCode>(error);
    return false;
  }

  int m_fd;
  uint32_t m_blockSize;
  uint64_t m_position = 0;
  ErrorCode m_error = 0;
};

std::string Narrow(const std::u16string& path) {
  return Utf16ToUtf8(path);
}

// The sysfs folder of a block device node, e.g. /sys/dev/block/8:17.
std::filesystem::path SysfsOf(const struct stat& st) {
  return "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
         std::to_string(minor(st.st_rdev));
}

bool IsVirtualDiskName(const std::string& name) {
  static const char* const kPrefixes[] = {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"};
  return std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                     [&](const char* p) { return name.rfind(p, 0) == 0; });
}

// A device number as sysfs and mountinfo write it: "7:0".
std::string DevText(dev_t dev) {
  return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

std::string ReadLine(const std::filesystem::path& path) {
  std::string line;
  if (FILE* f = std::fopen(path.c_str(), "r")) {
    char buffer[256];
    if (std::fgets(buffer, sizeof buffer, f)) line = buffer;
    std::fclose(f);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

// The sysfs folder of a block device, resolved ("/sys/devices/.../block/loop0/loop0p1").
std::filesystem::path BlockDir(const std::string& devText) {
  std::error_code ec;
  const auto resolved = std::filesystem::canonical("/sys/dev/block/" + devText, ec);
  return ec ? std::filesystem::path() : resolved;
}

bool IsPartitionDir(const std::filesystem::path& dir) {
  std::error_code ec;
  return std::filesystem::exists(dir / "partition", ec);
}

// The device numbers of the partitions of a whole disk.
std::vector<std::string> PartitionsOf(const std::filesystem::path& dir) {
  std::vector<std::string> parts;
  std::error_code ec;
  if (dir.empty() || IsPartitionDir(dir)) return parts;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (IsPartitionDir(entry.path())) parts.push_back(ReadLine(entry.path() / "dev"));
  }
  return parts;
}

// The device and the devices it is built on (device-mapper and md members, recursively), as
// device numbers. Depth is bounded: stacks are a few levels deep.
std::vector<std::string> StackBelow(const std::string& devText) {
  std::vector<std::string> devices{devText};
  for (size_t i = 0; i < devices.size() && devices.size() < 256; ++i) {
    const auto dir = BlockDir(devices[i]);
    std::error_code ec;
    if (dir.empty()) continue;
    for (const auto& slave : std::filesystem::directory_iterator(dir / "slaves", ec)) {
      const std::string d = ReadLine(slave.path() / "dev");
      if (!d.empty() && std::find(devices.begin(), devices.end(), d) == devices.end()) {
        devices.push_back(d);
      }
    }
  }
  return devices;
}

// The whole disk a partition belongs to; the device itself otherwise.
std::string DiskOf(const std::string& devText) {
  const auto dir = BlockDir(devText);
  if (dir.empty() || !IsPartitionDir(dir)) return devText;
  const std::string parent = ReadLine(dir.parent_path() / "dev");
  return parent.empty() ? devText : parent;
}

// Two device numbers whose blocks overlap: the same device, or a disk and one of its partitions.
bool Overlap(const std::string& a, const std::string& b) {
  if (a == b) return true;
  return (DiskOf(a) == b && DiskOf(b) == b) || (DiskOf(b) == a && DiskOf(a) == a);
}

struct Identity {
  bool exists = false;
  bool isFile = false;
  dev_t fileDev = 0;  // the file system a file lives on
  ino_t inode = 0;
  std::string block;  // the device number of a block device, or of a file's file system
};

// The block device under a file system, from its mount's source: FUSE file systems (ntfs-3g)
// report a device number of their own, not the device they read.
std::string BlockOfFileSystem(dev_t dev) {
  const std::string devText = DevText(dev);
  std::string block = devText;
  FILE* f = std::fopen("/proc/self/mountinfo", "r");
  if (!f) return block;
  char line[4096];
  while (std::fgets(line, sizeof line, f)) {
    char field[64];
    if (std::sscanf(line, "%*s %*s %63s", field) != 1 || devText != field) continue;
    const char* dash = std::strstr(line, " - ");
    char source[1024] = "";
    struct stat st {};
    if (dash && std::sscanf(dash + 3, "%*s %1023s", source) == 1 && ::stat(source, &st) == 0 &&
        S_ISBLK(st.st_mode)) {
      block = DevText(st.st_rdev);
    }
    break;
  }
  std::fclose(f);
  return block;
}

Identity IdentityOf(const std::u16string& path) {
  Identity id;
  struct stat st {};
  std::string p = Narrow(path);
  if (::stat(p.c_str(), &st) != 0) {
    // Not there yet: the nearest folder above it that exists decides where it will live.
    std::filesystem::path parent = std::filesystem::absolute(p).parent_path();
    while (::stat(parent.c_str(), &st) != 0) {
      if (parent == parent.parent_path()) return id;
      parent = parent.parent_path();
    }
    id.exists = true;
    id.isFile = true;
    id.fileDev = st.st_dev;
    id.block = BlockOfFileSystem(st.st_dev);
    return id;
  }
  id.exists = true;
  if (S_ISBLK(st.st_mode)) {
    id.block = DevText(st.st_rdev);
  } else {
    id.isFile = true;
    id.fileDev = st.st_dev;
    id.inode = st.st_ino;
    id.block = BlockOfFileSystem(st.st_dev);
  }
  return id;
}

// The mount points in /proc/self/mountinfo whose device is `devText` or whose source is `node`.
std::string MountPointOf(const std::string& devText, const std::string& node) {
  FILE* f = std::fopen("/proc/self/mountinfo", "r");
  if (!f) return {};
  std::string found;
  char line[4096];
  while (found.empty() && std::fgets(line, sizeof line, f)) {
    // id parent major:minor root mountpoint options ... - fstype source superoptions
    char dev[64], root[1024], mountPoint[1024];
    if (std::sscanf(line, "%*s %*s %63s %1023s %1023s", dev, root, mountPoint) != 3) continue;
    const char* dash = std::strstr(line, " - ");
    char source[1024] = "";
    if (dash) std::sscanf(dash + 3, "%*s %1023s", source);
    std::error_code ec;
    const bool sameNode =
        !node.empty() && source[0] == '/' && std::filesystem::equivalent(source, node, ec);
    if (devText == dev || sameNode) found = mountPoint;
  }
  std::fclose(f);
  return found;
}

}  // namespace

std::string DeviceInUse(const std::u16string& devicePath) {
  struct stat st {};
  if (::stat(Narrow(devicePath).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  const std::string self = DevText(st.st_rdev);
  std::vector<std::string> devices{self};
  for (const auto& part : PartitionsOf(BlockDir(self))) devices.push_back(part);
  for (const auto& dev : devices) {
    const auto dir = BlockDir(dev);
    const std::string name = dir.filename().string();
    const std::string mountPoint = MountPointOf(dev, name.empty() ? "" : "/dev/" + name);
    if (!mountPoint.empty()) {
      return (dev == self ? "mounted at " : "/dev/" + name + " is mounted at ") + mountPoint;
    }
    std::error_code ec;
    for (const auto& holder : std::filesystem::directory_iterator(dir / "holders", ec)) {
      return "in use by " + holder.path().filename().string();
    }
  }
  return {};
}

bool SharesStorage(const std::u16string& source, const std::u16string& destination) {
  const Identity a = IdentityOf(source);
  const Identity b = IdentityOf(destination);
  if (!a.exists || !b.exists) return false;
  if (a.isFile && b.isFile) return a.fileDev == b.fileDev && a.inode == b.inode;
  // A device against a device, or a file against the device its file system may sit on.
  for (const auto& x : StackBelow(a.block)) {
    for (const auto& y : StackBelow(b.block)) {
      if (Overlap(x, y)) return true;
    }
  }
  return false;
}

bool IsInputTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

OpenResult OpenDevice(const std::u16string& path, OpenMode mode) {
  OpenResult result;
  if (path.empty()) {
    result.error = ENOENT;
    return result;
  }
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::Read: flags |= O_RDONLY; break;
    case OpenMode::ReadWrite: flags |= O_RDWR; break;
    case OpenMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  const int fd = ::open(Narrow(path).c_str(), flags, 0644);
  if (fd < 0) {
    result.error = static_cast<ErrorCode>(errno);
    return result;
  }
  struct stat st {};
  uint32_t blockSize = 1;
  if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
    int logical = 0;
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0) {
      blockSize = static_cast<uint32_t>(logical);
    }
  } else if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    result.error = EISDIR;
    return result;
  }
  result.device = std::make_unique<PosixDevice>(fd, blockSize);
  return result;
}

ErrorCode MakeDirectory(const std::u16string& path) {
  return ::mkdir(Narrow(path).c_str(), 0755) == 0 ? 0 : static_cast<ErrorCode>(errno);
}

ErrorCode SetFileDays(const std::u16string& path, std::optional<LocalDay> modified,
                      std::optional<LocalDay>) {
  if (!modified) return 0;
  std::tm local{};
  local.tm_year = modified->year - 1900;
  local.tm_mon = modified->month - 1;
  local.tm_mday = modified->day;
  local.tm_isdst = -1;
  const time_t at = std::mktime(&local);
  if (at == static_cast<time_t>(-1)) return EINVAL;
  const timespec times[2] = {{0, UTIME_OMIT}, {at, 0}};
  return ::utimensat(AT_FDCWD, Narrow(path).c_str(), times, 0) == 0 ? 0
                                                                    : static_cast<ErrorCode>(errno);
}

ErrorKind ClassifyError(ErrorCode code) {
  switch (static_cast<int>(code)) {
    case 0: return ErrorKind::None;
    case ENOENT:
    case ENOTDIR: return ErrorKind::PathNotFound;
    case ENAMETOOLONG: return ErrorKind::NameTooLong;
    case EEXIST:
    case EISDIR: return ErrorKind::AlreadyExists;
  }
  return ErrorKind::Other;
}

ErrorCode FaultCode(Fault fault) {
  switch (fault) {
    case Fault::Read: return EIO;
    case Fault::WriteProtected: return EROFS;
    case Fault::BadPosition: break;
  }
  return EINVAL;
}

std::string ErrorText(ErrorCode code) {
  return std::strerror(static_cast<int>(code));
}

PathKind ClassifyPath(const std::u16string& path) {
  struct stat st {};
  if (path.empty() || ::stat(Narrow(path).c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISREG(st.st_mode)) return PathKind::RegularFile;
  if (!S_ISBLK(st.st_mode)) return PathKind::Other;
  std::error_code ec;
  return std::filesystem::exists(SysfsOf(st) / "partition", ec) ? PathKind::Partition
                                                                : PathKind::WholeDisk;
}

std::u16string PhysicalDrivePath(const std::u16string& number) {
  if (number.empty() || number.size() > 6 ||
      !std::all_of(number.begin(), number.end(), [](char16_t c) { return c >= '0' && c <= '9'; })) {
    return {};
  }
  const size_t wanted = std::stoul(Narrow(number));
  std::vector<std::string> disks;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/block", ec)) {
    const std::string name = entry.path().filename().string();
    if (!IsVirtualDiskName(name)) disks.push_back(name);
  }
  std::sort(disks.begin(), disks.end());
  if (wanted >= disks.size()) return {};
  return Utf8ToUtf16("/dev/" + disks[wanted]);
}

std::u16string VolumePath(const std::u16string& name) {
  // A name, not a path: "sdb1" but never "../x" or "a/b".
  if (name.find(u'/') != std::u16string::npos || name == u"." || name == u"..") return {};
  return u"/dev/" + name;
}

bool IsDevicePathSelector(const std::u16string& selector) {
  return !selector.empty() && selector[0] == u'/';
}

}  // namespace kavo::platform

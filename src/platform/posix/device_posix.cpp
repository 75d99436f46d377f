#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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
    struct stat st{};
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

std::string Narrow(const std::u16string& path) { return Utf16ToUtf8(path); }

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

}  // namespace

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
  struct stat st{};
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

std::string ErrorText(ErrorCode code) { return std::strerror(static_cast<int>(code)); }

PathKind ClassifyPath(const std::u16string& path) {
  struct stat st{};
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

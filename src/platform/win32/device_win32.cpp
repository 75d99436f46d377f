#include <windows.h>
#include <winioctl.h>

#include <string>

#include "platform/device.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {

const wchar_t* Wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// Absolute file paths in the "\\?\" form, which lifts the 260-character limit: recovered trees
// can be far deeper than that. Device paths ("\\.\C:") and relative paths stay as they are.
std::u16string LongPath(const std::u16string& path) {
  std::u16string p = path;
  for (char16_t& c : p) {
    if (c == u'/') c = u'\\';
  }
  const bool driveAbsolute = p.size() >= 3 && p[1] == u':' && p[2] == u'\\';
  const bool unc = p.size() >= 2 && p[0] == u'\\' && p[1] == u'\\';
  if (driveAbsolute) return u"\\\\?\\" + p;
  if (unc && !p.starts_with(u"\\\\?\\") && !p.starts_with(u"\\\\.\\")) {
    return u"\\\\?\\UNC\\" + p.substr(2);
  }
  return path;
}

class Win32Device final : public RawDevice {
 public:
  explicit Win32Device(HANDLE handle) : m_handle(handle) {}
  ~Win32Device() override { CloseHandle(m_handle); }

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    DWORD n = 0;
    *got = 0;
    if (!ReadFile(m_handle, buffer, bytes, &n, nullptr)) return Fail();
    *got = n;
    return true;
  }

  bool Write(const void* buffer, uint32_t bytes, uint32_t* put) override {
    DWORD n = 0;
    *put = 0;
    if (!WriteFile(m_handle, buffer, bytes, &n, nullptr)) return Fail();
    *put = n;
    if (n != bytes) {
      m_error = ERROR_HANDLE_DISK_FULL;
      return false;
    }
    return true;
  }

  bool Seek(int64_t distance, SeekOrigin origin, uint64_t* newPosition) override {
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER now;
    const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                         : origin == SeekOrigin::Current ? FILE_CURRENT
                                                         : FILE_END;
    if (!SetFilePointerEx(m_handle, move, &now, method)) return Fail();
    if (newPosition) *newPosition = static_cast<uint64_t>(now.QuadPart);
    return true;
  }

  bool GetLength(DeviceType type, uint64_t* length) override {
    DWORD returned = 0;
    if (type == DeviceType::PhysicalDrive) {
      GET_LENGTH_INFORMATION info{};
      if (DeviceIoControl(m_handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof info,
                          &returned, nullptr)) {
        *length = static_cast<uint64_t>(info.Length.QuadPart);
        return true;
      }
    } else if (type == DeviceType::Volume) {
      PARTITION_INFORMATION info{};
      if (DeviceIoControl(m_handle, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &info, sizeof info,
                          &returned, nullptr)) {
        *length = static_cast<uint64_t>(info.PartitionLength.QuadPart);
        return true;
      }
    }
    // Image files, and devices whose disk controls are not answered (a raw volume that is really
    // a file mapping, as under wine): the size of the file behind the handle.
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_handle, &size)) return Fail();
    *length = static_cast<uint64_t>(size.QuadPart);
    return true;
  }

  ErrorCode LastError() const override { return m_error; }

 private:
  bool Fail() {
    m_error = GetLastError();
    return false;
  }

  HANDLE m_handle;
  ErrorCode m_error = 0;
};

}  // namespace

OpenResult OpenDevice(const std::u16string& path, OpenMode mode) {
  OpenResult result;
  if (path.empty()) {
    result.error = ERROR_PATH_NOT_FOUND;
    return result;
  }
  const DWORD access = mode == OpenMode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition = mode == OpenMode::Create ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = CreateFileW(Wide(LongPath(path)), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    result.error = GetLastError();
    return result;
  }
  result.device = std::make_unique<Win32Device>(h);
  return result;
}

ErrorCode MakeDirectory(const std::u16string& path) {
  return CreateDirectoryW(Wide(LongPath(path)), nullptr) ? 0 : GetLastError();
}

ErrorKind ClassifyError(ErrorCode code) {
  switch (code) {
    case 0: return ErrorKind::None;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: return ErrorKind::PathNotFound;
    case ERROR_FILENAME_EXCED_RANGE: return ErrorKind::NameTooLong;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return ErrorKind::AlreadyExists;
  }
  return ErrorKind::Other;
}

std::string ErrorText(ErrorCode code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string s;
  if (n && text) s.assign(reinterpret_cast<const char16_t*>(text), n);
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == u'\r' || s.back() == u'\n' || s.back() == u' ')) s.pop_back();
  if (s.empty()) return "system error " + std::to_string(code);
  return Utf16ToUtf8(s);
}

PathKind ClassifyPath(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Other;
  return PathKind::RegularFile;
}

std::u16string PhysicalDrivePath(const std::u16string& number) {
  return u"\\\\.\\PHYSICALDRIVE" + number;
}

std::u16string VolumePath(const std::u16string& name) { return u"\\\\.\\" + name; }

bool IsDevicePathSelector(const std::u16string&) { return false; }

}  // namespace kavo::platform

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {

const wchar_t* Wide(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

// `path` with "." and ".." resolved, as Windows itself would resolve them; unchanged when that
// fails.
std::u16string FullPath(const std::u16string& path) {
  const DWORD needed = GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::u16string full(needed, u'\0');
  const DWORD written =
      GetFullPathNameW(Wide(path), needed, reinterpret_cast<wchar_t*>(full.data()), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  return full;
}

// Absolute file paths in the "\\?\" form, which lifts the 260-character limit: recovered trees
// can be far deeper than that. Device paths ("\\.\C:") and relative paths stay as they are.
std::u16string LongPath(const std::u16string& path) {
  std::u16string p = path;
  for (char16_t& c : p) {
    if (c == u'/') c = u'\\';
  }
  const bool driveAbsolute = p.size() >= 3 && p[1] == u':' && p[2] == u'\\';
  const bool unc = p.size() >= 2 && p[0] == u'\\' && p[1] == u'\\';
  // The "\\?\" form is taken literally: "." and ".." must be resolved before it is added.
  if (driveAbsolute) return u"\\\\?\\" + FullPath(p);
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

  bool Flush() override {
    // Volumes and drives opened without write caching may refuse the call; nothing is lost then.
    return FlushFileBuffers(m_handle) || GetLastError() == ERROR_INVALID_FUNCTION || Fail();
  }

  bool Control(DeviceControl control) override {
    DWORD code = 0;
    switch (control) {
      case DeviceControl::DeleteDriveLayout: code = IOCTL_DISK_DELETE_DRIVE_LAYOUT; break;
      case DeviceControl::DismountVolume: code = FSCTL_DISMOUNT_VOLUME; break;
      case DeviceControl::LockVolume: code = FSCTL_LOCK_VOLUME; break;
    }
    DWORD returned = 0;
    return DeviceIoControl(m_handle, code, nullptr, 0, nullptr, 0, &returned, nullptr) || Fail();
  }

 private:
  bool Fail() {
    m_error = GetLastError();
    return false;
  }

  HANDLE m_handle;
  ErrorCode m_error = 0;
};

// Where a path lives: the disks under it, the volume (a drive letter, 0 for a whole disk), and for
// a file its identity on that volume.
struct Placement {
  bool known = false;
  std::vector<DWORD> disks;
  wchar_t volume = 0;
  bool isFile = false;
  DWORD serial = 0;
  uint64_t fileIndex = 0;
};

std::vector<DWORD> DisksOfVolume(wchar_t letter) {
  std::vector<DWORD> disks;
  const std::wstring path = std::wstring(L"\\\\.\\") + letter + L":";
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return disks;
  union {
    VOLUME_DISK_EXTENTS extents;
    char room[sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT)];
  } answer{};
  DWORD returned = 0;
  if (DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &answer, sizeof answer,
                      &returned, nullptr)) {
    const DWORD n = std::min<DWORD>(answer.extents.NumberOfDiskExtents, 32);
    for (DWORD i = 0; i < n; ++i) disks.push_back(answer.extents.Extents[i].DiskNumber);
  }
  CloseHandle(h);
  return disks;
}

wchar_t UpperLetter(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? c - 32 : c;
}

Placement PlacementOf(const std::u16string& path) {
  Placement p;
  const std::wstring w(reinterpret_cast<const wchar_t*>(path.c_str()));
  const std::wstring drivePrefix = L"\\\\.\\PHYSICALDRIVE";
  if (w.size() > drivePrefix.size() &&
      _wcsnicmp(w.c_str(), drivePrefix.c_str(), drivePrefix.size()) == 0) {
    p.known = true;
    p.disks.push_back(static_cast<DWORD>(_wtoi(w.c_str() + drivePrefix.size())));
    return p;
  }
  if (w.size() == 6 && w.compare(0, 4, L"\\\\.\\") == 0 && w[5] == L':') {
    p.known = true;
    p.volume = UpperLetter(w[4]);
    p.disks = DisksOfVolume(p.volume);
    return p;
  }
  // A file: its volume and identity; a file yet to be made is judged by its folder.
  wchar_t full[MAX_PATH * 2];
  if (!GetFullPathNameW(w.c_str(), MAX_PATH * 2, full, nullptr)) return p;
  wchar_t root[MAX_PATH * 2];
  std::wstring probe = full;
  if (GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES) {
    const size_t slash = probe.find_last_of(L"\\/");
    if (slash != std::wstring::npos) probe.resize(slash + 1);
  }
  if (!GetVolumePathNameW(probe.c_str(), root, MAX_PATH * 2)) return p;
  p.known = true;
  p.isFile = true;
  if (root[0] && root[1] == L':') {
    p.volume = UpperLetter(root[0]);
    p.disks = DisksOfVolume(p.volume);
  }
  HANDLE h = CreateFileW(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(h, &info)) {
      p.serial = info.dwVolumeSerialNumber;
      p.fileIndex = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    }
    CloseHandle(h);
  }
  return p;
}

}  // namespace

std::string DeviceInUse(const std::u16string&) {
  return {};
}

bool SharesStorage(const std::u16string& source, const std::u16string& destination) {
  const Placement a = PlacementOf(source);
  const Placement b = PlacementOf(destination);
  if (!a.known || !b.known) return false;
  if (a.isFile && b.isFile) {
    return a.fileIndex != 0 && a.serial == b.serial && a.fileIndex == b.fileIndex;
  }
  if (a.volume && b.volume) return a.volume == b.volume;
  // A whole disk against anything on it.
  for (DWORD x : a.disks) {
    for (DWORD y : b.disks) {
      if (x == y) return true;
    }
  }
  return false;
}

bool IsInputTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

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

namespace {

// The first second of a local day as the system's UTC file time.
bool DayTime(const LocalDay& day, FILETIME& out) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(day.year);
  local.wMonth = static_cast<WORD>(day.month);
  local.wDay = static_cast<WORD>(day.day);
  SYSTEMTIME utc{};
  return TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && SystemTimeToFileTime(&utc, &out);
}

}  // namespace

ErrorCode SetFileDays(const std::u16string& path, std::optional<LocalDay> modified,
                      std::optional<LocalDay> created) {
  FILETIME modifiedTime{}, createdTime{};
  const bool haveModified = modified && DayTime(*modified, modifiedTime);
  const bool haveCreated = created && DayTime(*created, createdTime);
  if (!haveModified && !haveCreated) return 0;
  // Folders open only with backup semantics.
  const HANDLE h = CreateFileW(Wide(LongPath(path)), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  const BOOL set = SetFileTime(h, haveCreated ? &createdTime : nullptr, nullptr,
                               haveModified ? &modifiedTime : nullptr);
  const ErrorCode error = set ? 0 : GetLastError();
  CloseHandle(h);
  return error;
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

ErrorCode FaultCode(Fault fault) {
  switch (fault) {
    case Fault::Read: return ERROR_READ_FAULT;
    case Fault::WriteProtected: return ERROR_WRITE_PROTECT;
    case Fault::BadPosition: break;
  }
  return ERROR_NEGATIVE_SEEK;
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

std::u16string VolumePath(const std::u16string& name) {
  return u"\\\\.\\" + name;
}

bool IsDevicePathSelector(const std::u16string&) {
  return false;
}

}  // namespace kavo::platform

#include "disk/container.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/text.h"

namespace kavo {

namespace {

// A chain of differencing disks deeper than this is refused rather than followed.
constexpr size_t kMaxParentDepth = 64;

struct ContainerFormat {
  bool (*is)(const ContainerFile& file);
  ContainerOpen (*open)(ContainerFile file);
};

// Tried in order; a format whose signature is at a fixed place of the file comes before VHD
// (signed at the end) and split raw (signed by its name alone).
constexpr ContainerFormat kFormats[] = {
    {IsVhdx, OpenVhdx},
    {IsVmdk, OpenVmdk},
    {IsEwf, OpenEwf},
    {IsQcow, OpenQcow},
    {IsVdi, OpenVdi},
    {IsVhd, OpenVhd},
    {IsSplitRaw, OpenSplitRaw},
};

// Fills file.size and file.head from file.device; false when the file cannot be read.
bool ReadHead(ContainerFile& file) {
  if (!file.device->GetLength(platform::DeviceType::ImageFile, &file.size)) return false;
  file.head.resize(static_cast<size_t>(std::min<uint64_t>(file.size, ContainerFile::kHeadBytes)));
  if (file.head.empty()) return true;
  uint32_t got = 0;
  if (!file.device->Seek(0, platform::SeekOrigin::Begin, nullptr) ||
      !file.device->Read(file.head.data(), static_cast<uint32_t>(file.head.size()), &got)) {
    return false;
  }
  file.head.resize(got);
  file.device->Seek(0, platform::SeekOrigin::Begin, nullptr);
  return true;
}

// Hands the file to the first format that recognises it; `*recognised` tells whether one did
// (the device stays in `file` when none did).
ContainerOpen OpenAsContainer(ContainerFile& file, bool* recognised) {
  *recognised = false;
  for (const ContainerFormat& format : kFormats) {
    if (format.is(file)) {
      *recognised = true;
      return format.open(std::move(file));
    }
  }
  return {};
}

std::filesystem::path ToPath(std::u16string text) {
#ifndef _WIN32
  // Windows paths stored in a container use backslashes.
  for (char16_t& c : text) {
    if (c == u'\\') c = u'/';
  }
#endif
  return std::filesystem::path(text);
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace

bool VirtualDisk::Read(void* buffer, uint32_t bytes, uint32_t* got) {
  *got = 0;
  if (m_nPosition >= m_nVirtualSize || bytes == 0) return true;
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(bytes, m_nVirtualSize - m_nPosition));
  platform::ErrorCode error = 0;
  if (!ReadAt(m_nPosition, static_cast<uint8_t*>(buffer), n, &error)) {
    m_nLastError = error ? error : platform::FaultCode(platform::Fault::Read);
    return false;
  }
  m_nPosition += n;
  *got = n;
  return true;
}

bool VirtualDisk::Write(const void* buffer, uint32_t bytes, uint32_t* put) {
  (void)buffer;
  (void)bytes;
  *put = 0;
  m_nLastError = platform::FaultCode(platform::Fault::WriteProtected);
  return false;
}

bool VirtualDisk::Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) {
  int64_t base = 0;
  if (origin == platform::SeekOrigin::Current) base = static_cast<int64_t>(m_nPosition);
  if (origin == platform::SeekOrigin::End) base = static_cast<int64_t>(m_nVirtualSize);
  int64_t target = 0;
  if (__builtin_add_overflow(base, distance, &target) || target < 0) {
    m_nLastError = platform::FaultCode(platform::Fault::BadPosition);
    return false;
  }
  m_nPosition = static_cast<uint64_t>(target);
  if (newPosition) *newPosition = m_nPosition;
  return true;
}

bool VirtualDisk::GetLength(platform::DeviceType type, uint64_t* length) {
  (void)type;
  *length = m_nVirtualSize;
  return true;
}

ImageSource OpenImageSource(const std::u16string& path, const DeviceOpener& opener) {
  ImageSource source;
  platform::OpenResult opened = opener(path, platform::OpenMode::Read);
  if (!opened.device) {
    source.systemError = opened.error;
    source.error = platform::ErrorText(opened.error);
    return source;
  }
  ContainerFile file;
  file.device = std::move(opened.device);
  file.path = path;
  file.opener = &opener;
  if (!ReadHead(file)) {
    // Left to the raw sector source, which reports the read failure as it would for any file.
    file.device->Seek(0, platform::SeekOrigin::Begin, nullptr);
    source.device = std::move(file.device);
    return source;
  }
  bool recognised = false;
  ContainerOpen container = OpenAsContainer(file, &recognised);
  if (!recognised) {
    source.device = std::move(file.device);
  } else if (container.disk) {
    source.container = container.disk.get();
    source.device = std::move(container.disk);
  } else {
    source.refused = true;
    source.error = container.error;
  }
  return source;
}

ContainerOpen OpenContainer(const std::u16string& path, const DeviceOpener& opener) {
  ImageSource source = OpenImageSource(path, opener);
  ContainerOpen open;
  if (source.container) {
    open.disk.reset(static_cast<VirtualDisk*>(source.device.release()));
  } else if (source.refused) {
    open.error = source.error;
  }
  return open;
}

std::unique_ptr<platform::RawDevice> OpenParentDisk(const ContainerFile& child,
                                                    const std::vector<std::u16string>& candidates,
                                                    std::string* error) {
  // Messages name the parent by its file name.
  const std::u16string shown =
      candidates.empty() ? std::u16string() : ToPath(candidates.front()).filename().u16string();
  if (child.chain.size() + 1 >= kMaxParentDepth) {
    *error = "more than " + std::to_string(kMaxParentDepth) + " parent disks in a chain";
    return nullptr;
  }
  const std::filesystem::path folder = ToPath(child.path).parent_path();
  std::vector<std::filesystem::path> tries;
  for (const std::u16string& candidate : candidates) {
    if (candidate.empty()) continue;
    const std::filesystem::path given = ToPath(candidate);
    if (given.is_relative() && !folder.empty()) tries.push_back(folder / given);
    tries.push_back(given);
  }
  for (const std::filesystem::path& path : tries) {
    platform::OpenResult opened = (*child.opener)(path.u16string(), platform::OpenMode::Read);
    if (!opened.device) continue;
    std::vector<std::u16string> chain = child.chain;
    chain.push_back(child.path);
    for (const std::u16string& above : chain) {
      if (above == path.u16string() || SameFile(ToPath(above), path)) {
        *error = "cycle of parent disks: " + platform::Utf16ToUtf8(shown);
        return nullptr;
      }
    }
    ContainerFile file;
    file.device = std::move(opened.device);
    file.path = path.u16string();
    file.opener = child.opener;
    file.chain = std::move(chain);
    if (!ReadHead(file)) {
      *error = "parent disk cannot be read: " + platform::Utf16ToUtf8(shown);
      return nullptr;
    }
    bool recognised = false;
    ContainerOpen parent = OpenAsContainer(file, &recognised);
    if (!recognised) return std::move(file.device);
    if (!parent.disk) {
      *error = parent.error;
      return nullptr;
    }
    return std::move(parent.disk);
  }
  *error = "parent disk not found: " + platform::Utf16ToUtf8(shown);
  return nullptr;
}

}  // namespace kavo

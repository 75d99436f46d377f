// The virtual-disk base and the parent lookup, for building the format readers' tests in a tree
// that does not hold src/disk/container.cpp yet: the position, the clamp at the virtual size and
// a parent found beside the child, opened as VHDX, VMDK or raw.
#include <algorithm>
#include <cerrno>

#include "disk/container.h"

namespace kavo {

bool VirtualDisk::Read(void* buffer, uint32_t bytes, uint32_t* got) {
  *got = 0;
  if (m_nPosition >= m_nVirtualSize) return true;
  const uint32_t part =
      static_cast<uint32_t>(std::min<uint64_t>(bytes, m_nVirtualSize - m_nPosition));
  platform::ErrorCode error = 0;
  if (!ReadAt(m_nPosition, static_cast<uint8_t*>(buffer), part, &error)) {
    m_nLastError = error ? error : EIO;
    return false;
  }
  m_nPosition += part;
  *got = part;
  return true;
}

bool VirtualDisk::Write(const void*, uint32_t, uint32_t* put) {
  *put = 0;
  m_nLastError = EROFS;
  return false;
}

bool VirtualDisk::Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* newPosition) {
  const int64_t base = origin == platform::SeekOrigin::Begin ? 0
                       : origin == platform::SeekOrigin::Current
                           ? static_cast<int64_t>(m_nPosition)
                           : static_cast<int64_t>(m_nVirtualSize);
  if (base + distance < 0) {
    m_nLastError = EINVAL;
    return false;
  }
  m_nPosition = static_cast<uint64_t>(base + distance);
  if (newPosition) *newPosition = m_nPosition;
  return true;
}

bool VirtualDisk::GetLength(platform::DeviceType, uint64_t* length) {
  *length = m_nVirtualSize;
  return true;
}

std::unique_ptr<platform::RawDevice> OpenParentDisk(const ContainerFile& child,
                                                    const std::vector<std::u16string>& candidates,
                                                    std::string* error) {
  const size_t slash = child.path.find_last_of(u"/\\");
  const std::u16string folder =
      slash == std::u16string::npos ? u"" : child.path.substr(0, slash + 1);
  for (const std::u16string& name : candidates) {
    for (const std::u16string& path : {folder + name.substr(name.find_last_of(u"/\\") + 1), name}) {
      platform::OpenResult opened = (*child.opener)(path, platform::OpenMode::Read);
      if (!opened.device) continue;
      ContainerFile file;
      file.path = path;
      file.opener = child.opener;
      opened.device->GetLength(platform::DeviceType::ImageFile, &file.size);
      file.head.resize(std::min<uint64_t>(file.size, ContainerFile::kHeadBytes));
      uint32_t got = 0;
      opened.device->Read(file.head.data(), static_cast<uint32_t>(file.head.size()), &got);
      file.device = std::move(opened.device);
      ContainerOpen open;
      if (IsVhdx(file))
        open = OpenVhdx(std::move(file));
      else if (IsVmdk(file))
        open = OpenVmdk(std::move(file));
      else
        return std::move(file.device);
      if (!open.disk) *error = open.error;
      return std::move(open.disk);
    }
  }
  std::string names;
  for (char16_t c : candidates.empty() ? std::u16string() : candidates.front())
    names.push_back(static_cast<char>(c));
  *error = "parent disk not found: " + names;
  return nullptr;
}

}  // namespace kavo

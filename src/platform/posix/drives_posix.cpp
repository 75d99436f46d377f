#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/drives.h"
#include "platform/posix/system_tree.h"
#include "platform/smart_commands.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without its trailing newline and padding. sysfs pads
// the ATA model field with spaces.
std::string ReadAttribute(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  const auto last = line.find_last_not_of(" \t\r\n");
  line.erase(last == std::string::npos ? 0 : last + 1);
  const auto first = line.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : line.substr(first);
}

uint64_t ReadNumber(const fs::path& path) {
  const std::string text = ReadAttribute(path);
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      text.size() > 19) {
    return 0;
  }
  return std::stoull(text);
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// Devices that are no drive of their own. Must agree with the numbering of drive-number
// selectors (PhysicalDrivePath), which skips the same names.
bool IsVirtualDisk(const std::string& name) {
  for (const char* p : {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"}) {
    if (StartsWith(name, p)) return true;
  }
  return false;
}

// Volumes are looked for on stacked devices too (device-mapper, md), not on these.
bool IsNoVolumeDevice(const std::string& name) {
  for (const char* p : {"loop", "ram", "zram", "sr", "fd", "nbd"}) {
    if (StartsWith(name, p)) return true;
  }
  return false;
}

// The serial number from the device's attribute, else from its unit serial number page (VPD
// page 80h: a 4-byte head whose byte 3 is the length, then the text).
std::string SerialOf(const fs::path& dir) {
  std::string serial = ReadAttribute(dir / "device" / "serial");
  if (!serial.empty()) return serial;
  std::ifstream in(dir / "device" / "vpd_pg80", std::ios::binary);
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (page.size() < 4) return {};
  const size_t length = std::min<size_t>(static_cast<uint8_t>(page[3]), page.size() - 4);
  serial = page.substr(4, length);
  serial.erase(std::remove(serial.begin(), serial.end(), '\0'), serial.end());
  const auto first = serial.find_first_not_of(' ');
  const auto last = serial.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : serial.substr(first, last - first + 1);
}

std::string InterfaceOf(const std::string& name, const fs::path& dir) {
  if (StartsWith(name, "nvme")) return "NVMe";
  std::error_code ec;
  const std::string path = fs::canonical(dir, ec).string();
  if (path.find("/usb") != std::string::npos) return "USB";
  if (StartsWith(name, "vd")) return "VIRTIO";
  if (StartsWith(name, "mmcblk")) return "SD";
  if (path.find("/ata") != std::string::npos) return "IDE";
  return "SCSI";
}

std::string StatusOf(const fs::path& dir) {
  const std::string state = ReadAttribute(dir / "device" / "state");
  return state == "running" || state == "live" ? "OK" : state;
}

// The sysfs folder of a block device by its kernel name: a whole disk, or a partition inside
// the folder of its disk. `disk` receives the whole disk's folder.
fs::path FindBlockDir(const fs::path& sysBlock, const std::string& name, fs::path& disk) {
  std::error_code ec;
  if (name.empty() || name.find('/') != std::string::npos) return {};
  if (fs::exists(sysBlock / name, ec)) {
    disk = sysBlock / name;
    return disk;
  }
  for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
    if (fs::exists(entry.path() / name / "partition", ec)) {
      disk = entry.path();
      return entry.path() / name;
    }
  }
  return {};
}

// The kernel name of a mount source ("/dev/sda1" -> "sda1", "/dev/mapper/x" -> "dm-0").
std::string KernelName(const std::string& source) {
  std::error_code ec;
  const fs::path resolved = fs::canonical(source, ec);
  return (ec ? fs::path(source) : resolved).filename().string();
}

std::string LabelOf(const fs::path& byLabel, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(byLabel, ec)) {
    const fs::path target = fs::read_symlink(entry.path(), ec);
    if (!ec && target.filename() == name) {
      return UnescapeUdevName(entry.path().filename().string());
    }
  }
  return {};
}

// The file-system names that say what the volume is without its boot sector.
std::string FileSystemName(const std::string& type) {
  if (type == "ntfs" || type == "ntfs3") return "NTFS";
  if (type == "exfat") return "exFAT";
  return type;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One SMART command through SCSI ATA PASS-THROUGH (16); `data` null: no data phase.
bool SmartCommand(int fd, uint8_t features, uint8_t* data) {
  std::array<uint8_t, 16> cdb = SmartPassThroughCdb(features, data != nullptr);
  uint8_t sense[32] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.cmd_len = cdb.size();
  io.mx_sb_len = sizeof sense;
  io.dxfer_direction = data ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  io.dxfer_len = data ? 512 : 0;
  io.dxferp = data;
  io.cmdp = cdb.data();
  io.sbp = sense;
  io.timeout = 20000;
  if (::ioctl(fd, SG_IO, &io) != 0 || io.host_status != 0) return false;
  if ((io.info & SG_INFO_OK_MASK) == SG_INFO_OK) return true;
  return PassThroughSenseOk(
      std::span<const uint8_t>(sense, std::min<size_t>(io.sb_len_wr, sizeof sense)));
}

}  // namespace

std::string UnescapeMountField(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::string UnescapeUdevName(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
        HexDigit(name[i + 2]) >= 0 && HexDigit(name[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(name[i + 2]) * 16 + HexDigit(name[i + 3]));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

std::vector<PhysicalDriveInfo> ListPhysicalDrives(const SystemTree& tree) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(tree.sysBlock, ec)) {
    const std::string name = entry.path().filename().string();
    if (!IsVirtualDisk(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<PhysicalDriveInfo> drives;
  for (size_t i = 0; i < names.size(); ++i) {
    const fs::path dir = tree.sysBlock / names[i];
    PhysicalDriveInfo d;
    d.index = static_cast<uint32_t>(i);
    d.size = ReadNumber(dir / "size") * 512;  // sysfs counts 512-byte units whatever the disk's
    if (d.size == 0) continue;
    d.name = Utf8ToUtf16("/dev/" + names[i]);
    d.bytesPerSector = static_cast<uint32_t>(ReadNumber(dir / "queue" / "logical_block_size"));
    const std::string model = ReadAttribute(dir / "device" / "model");
    const std::string vendor = ReadAttribute(dir / "device" / "vendor");
    d.model = Utf8ToUtf16(model);
    // libata reports "ATA" and virtio a PCI vendor number ("0x1af4"): no maker's name.
    const bool ownVendor = !vendor.empty() && vendor != "ATA" && !StartsWith(vendor, "0x") &&
                           model.compare(0, vendor.size(), vendor) != 0;
    std::string caption = ownVendor ? vendor + (model.empty() ? "" : " " + model) : model;
    d.caption = Utf8ToUtf16(caption.empty() ? names[i] : caption);
    d.serialNumber = Utf8ToUtf16(SerialOf(dir));
    d.removable = ReadAttribute(dir / "removable") == "1";
    d.nvme = StartsWith(names[i], "nvme");
    const std::string interface = InterfaceOf(names[i], dir);
    d.interfaceType = Utf8ToUtf16(interface);
    d.mediaType = d.removable          ? u"Removable Media"
                  : interface == "USB" ? u"External hard disk media"
                                       : u"Fixed hard disk media";
    d.status = Utf8ToUtf16(StatusOf(dir));
    drives.push_back(std::move(d));
  }
  return drives;
}

std::vector<VolumeInfo> ListVolumes(const SystemTree& tree) {
  std::vector<VolumeInfo> volumes;
  std::ifstream in(tree.mounts);
  std::set<std::string> seen;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string source, mountPoint, type;
    if (!(fields >> source >> mountPoint >> type) || !StartsWith(source, "/dev/")) continue;
    source = UnescapeMountField(source);
    mountPoint = UnescapeMountField(mountPoint);
    const std::string name = KernelName(source);
    if (IsNoVolumeDevice(name) || !seen.insert(name).second) continue;
    fs::path disk;
    const fs::path dir = FindBlockDir(tree.sysBlock, name, disk);
    if (dir.empty()) continue;
    VolumeInfo v;
    v.removable = ReadAttribute(disk / "removable") == "1";
    v.size = ReadNumber(dir / "size") * 512;
    if (v.removable || v.size == 0) continue;
    v.caption = Utf8ToUtf16("/dev/" + name);
    v.devicePath = v.caption;
    v.name = Utf8ToUtf16(mountPoint);
    v.fileSystem = Utf8ToUtf16(FileSystemName(type));
    v.volumeName = Utf8ToUtf16(LabelOf(tree.byLabel, name));
    v.bytesPerSector = static_cast<uint32_t>(ReadNumber(disk / "queue" / "logical_block_size"));
    struct statvfs st {};
    if (::statvfs(mountPoint.c_str(), &st) == 0) {
      v.totalBytes = uint64_t{st.f_blocks} * st.f_frsize;
      if (v.bytesPerSector != 0) {
        v.sectorsPerCluster =
            static_cast<uint32_t>(std::max<uint64_t>(st.f_frsize / v.bytesPerSector, 1));
      }
    }
    volumes.push_back(std::move(v));
  }
  return volumes;
}

// /sys and /proc answer or are empty; there is nothing to tell the user.
std::vector<PhysicalDriveInfo> ListPhysicalDrives(SystemNotices&) {
  return ListPhysicalDrives(SystemTree{});
}

std::vector<VolumeInfo> ListVolumes(SystemNotices&, VolumeQuery) {
  return ListVolumes(SystemTree{});
}

bool ReadSmartBlocks(const PhysicalDriveInfo& drive, SmartBlocks& blocks) {
  const int fd = ::open(Utf16ToUtf8(drive.name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int version = 0;
  bool ok = ::ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000 &&
            SmartCommand(fd, kSmartEnable, nullptr);
  if (ok) {
    blocks.attributesRead = SmartCommand(fd, kSmartReadData, blocks.attributes.data());
    blocks.thresholdsRead = SmartCommand(fd, kSmartReadThresholds, blocks.thresholds.data());
  }
  ::close(fd);
  return ok;
}

bool ReadNvmeHealthLog(const PhysicalDriveInfo& drive, std::array<uint8_t, 512>& log) {
  const int fd = ::open(Utf16ToUtf8(drive.name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  nvme_admin_cmd cmd{};
  cmd.opcode = 0x02;  // Get Log Page
  cmd.nsid = 0xFFFFFFFF;
  cmd.addr = reinterpret_cast<uintptr_t>(log.data());
  cmd.data_len = static_cast<uint32_t>(log.size());
  cmd.cdw10 = ((static_cast<uint32_t>(log.size()) / 4 - 1) << 16) | 0x02;  // dwords - 1, log 02h
  cmd.timeout_ms = 20000;
  const bool ok = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace kavo::platform

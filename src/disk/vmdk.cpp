// VMDK: a VMware virtual disk. A sparse extent ("KDMV" header) maps grains through a grain
// directory and grain tables; a stream-optimized one holds each grain deflate-compressed behind
// a marker, with its directory written at the end (found through the footer). A descriptor file
// (text) lists the extents, flat, sparse or zero, that make up the disk in order; a sparse file
// carries such a descriptor inside, which names the parent of a differencing disk.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "disk/container.h"
#include "disk/container_reads.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace kavo {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kGdAtEnd = UINT64_MAX;
constexpr uint32_t kFlagCompressed = 1u << 16;
constexpr size_t kMaxExtents = 4096;
constexpr uint64_t kMaxDescriptorBytes = 1 << 20;

// The folder part of a path, with its separator ("" for a bare name).
std::u16string FolderOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

bool IsAbsolute(const std::u16string& path) {
  return (!path.empty() && (path[0] == u'/' || path[0] == u'\\')) ||
         (path.size() > 1 && path[1] == u':');
}

enum class ExtentKind { Flat, Sparse, Zero };

// One extent of the disk: a run of sectors held by a flat file, a sparse file or nothing.
struct Extent {
  ExtentKind kind = ExtentKind::Zero;
  uint64_t start = 0;                          // first virtual sector
  uint64_t sectors = 0;                        // virtual sectors held
  std::unique_ptr<platform::RawDevice> owned;  // the extent's own file, when it is not the disk's
  platform::RawDevice* device = nullptr;
  uint64_t fileSize = 0;
  uint64_t flatOffset = 0;  // bytes: where a flat extent's data begins in its file
  // Sparse extents.
  uint64_t grainSectors = 0;
  uint32_t gtEntries = 0;
  bool compressed = false;
  std::vector<uint32_t> directory;                   // grain-table sectors, 0: none
  std::map<uint32_t, std::vector<uint32_t>> tables;  // grain tables read, by directory index
};

// The header fields of a sparse extent.
struct SparseHeader {
  uint32_t flags = 0;
  uint64_t capacity = 0;
  uint64_t grainSize = 0;
  uint64_t descriptorOffset = 0;
  uint64_t descriptorSize = 0;
  uint32_t gtEntries = 0;
  uint64_t rgdOffset = 0;
  uint64_t gdOffset = 0;
};

SparseHeader ParseHeader(const uint8_t* h) {
  SparseHeader s;
  s.flags = LoadLe32(h + 8);
  s.capacity = LoadLe64(h + 12);
  s.grainSize = LoadLe64(h + 20);
  s.descriptorOffset = LoadLe64(h + 28);
  s.descriptorSize = LoadLe64(h + 36);
  s.gtEntries = LoadLe32(h + 44);
  s.rgdOffset = LoadLe64(h + 48);
  s.gdOffset = LoadLe64(h + 56);
  return s;
}

// What a descriptor says: its extent lines, the creation type and the parent's name.
struct Descriptor {
  std::string createType;
  std::string parentHint;
  struct Line {
    uint64_t sectors = 0;
    std::string type;
    std::string file;
    uint64_t offset = 0;
  };
  std::vector<Line> extents;
};

std::string Unquote(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

// Parses the descriptor's text; false with `*why` on an extent line it cannot read.
bool ParseDescriptor(const std::string& text, Descriptor* d, std::string* why) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    if (const size_t eq = line.find('='); eq != std::string::npos) {
      std::string key = line.substr(0, eq);
      while (!key.empty() && key.back() == ' ') key.pop_back();
      const std::string value =
          Unquote(line.substr(std::min(line.size(), line.find_first_not_of(" ", eq + 1))));
      if (key == "createType") d->createType = value;
      if (key == "parentFileNameHint") d->parentHint = value;
      continue;
    }
    if (line.rfind("RW ", 0) != 0 && line.rfind("RDONLY ", 0) != 0 &&
        line.rfind("NOACCESS ", 0) != 0)
      continue;
    // ACCESS SECTORS TYPE ["FILE" [OFFSET]]
    std::istringstream fields(line);
    std::string access, type;
    Descriptor::Line extent;
    if (!(fields >> access >> extent.sectors >> type)) {
      *why = "a VMDK extent line cannot be read: " + line;
      return false;
    }
    extent.type = type;
    std::string rest;
    std::getline(fields, rest);
    const size_t open = rest.find('"');
    const size_t close = open == std::string::npos ? open : rest.find('"', open + 1);
    if (open != std::string::npos && close != std::string::npos) {
      extent.file = rest.substr(open + 1, close - open - 1);
      std::istringstream tail(rest.substr(close + 1));
      tail >> extent.offset;
    }
    if (d->extents.size() >= kMaxExtents) {
      *why = "the VMDK descriptor lists too many extents";
      return false;
    }
    d->extents.push_back(extent);
  }
  return true;
}

class VmdkDisk final : public VirtualDisk {
 public:
  explicit VmdkDisk(ContainerFile file) : m_file(std::move(file)) {}

  std::string Open();

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override;

 private:
  // Reads the sparse header of `extent` (its device already open) and its grain directory.
  // `descriptorText` receives an embedded descriptor when there is one.
  std::string OpenSparse(Extent& extent, std::string* descriptorText);
  bool ReadSparse(Extent& extent, uint64_t offset, uint8_t* buffer, uint32_t bytes,
                  platform::ErrorCode* error);
  bool ReadParent(uint64_t offset, uint8_t* buffer, uint32_t bytes, platform::ErrorCode* error);
  std::string OpenExtents(const Descriptor& descriptor);

  ContainerFile m_file;
  std::vector<Extent> m_extents;
  std::unique_ptr<platform::RawDevice> m_parent;
  // The compressed grain last inflated: its extent, its file sector, its bytes.
  const Extent* m_grainExtent = nullptr;
  uint64_t m_nGrainSector = 0;
  std::vector<uint8_t> m_grain;
  std::vector<uint8_t> m_packed;
};

std::string VmdkDisk::OpenSparse(Extent& extent, std::string* descriptorText) {
  uint8_t h[512];
  platform::ErrorCode error = 0;
  if (extent.fileSize < 512 || !containers::ReadExact(*extent.device, 0, h, sizeof h, &error) ||
      std::memcmp(h, "KDMV", 4) != 0)
    return "a VMDK sparse extent has no valid header";
  SparseHeader s = ParseHeader(h);
  if (s.gdOffset == kGdAtEnd) {
    // Stream-optimized: the footer, a copy of the header with the directory's place, lies
    // 1024 bytes before the end (after it comes the end-of-stream marker).
    uint8_t footer[512];
    if (extent.fileSize < 1536 ||
        !containers::ReadExact(*extent.device, extent.fileSize - 1024, footer, 512, &error) ||
        std::memcmp(footer, "KDMV", 4) != 0)
      return "the VMDK footer is missing: the file is truncated";
    s = ParseHeader(footer);
  }
  if (s.grainSize == 0 || s.grainSize > 2048 || (s.grainSize & (s.grainSize - 1)) ||
      s.gtEntries == 0 || s.gtEntries > 4096)
    return "the VMDK header has a bad grain size or table size";
  if (s.capacity == 0 || s.capacity > (1ull << 40)) return "the VMDK capacity is not valid";
  extent.grainSectors = s.grainSize;
  extent.gtEntries = s.gtEntries;
  extent.compressed = (s.flags & kFlagCompressed) != 0;
  if (extent.sectors == 0) extent.sectors = s.capacity;

  if (descriptorText && s.descriptorOffset > 0 && s.descriptorSize > 0 &&
      s.descriptorSize * kSector <= kMaxDescriptorBytes &&
      s.descriptorOffset * kSector + s.descriptorSize * kSector <= extent.fileSize) {
    std::string text(s.descriptorSize * kSector, '\0');
    if (containers::ReadExact(*extent.device, s.descriptorOffset * kSector, text.data(),
                              text.size(), &error))
      *descriptorText = text.substr(0, text.find('\0'));
  }

  const uint64_t grainsPerTable = s.grainSize * s.gtEntries;
  const uint64_t tables = (s.capacity + grainsPerTable - 1) / grainsPerTable;
  // The primary directory, or the redundant one when the primary lies outside the file.
  auto fits = [&](uint64_t at) {
    return at > 0 && at < extent.fileSize / kSector && tables * 4 <= extent.fileSize - at * kSector;
  };
  const uint64_t gdAt = fits(s.gdOffset) ? s.gdOffset : s.rgdOffset;
  if (!fits(gdAt)) return "the VMDK grain directory lies past the end of the file";
  extent.directory.resize(tables);
  if (!containers::ReadExact(*extent.device, gdAt * kSector, extent.directory.data(), tables * 4,
                             &error))
    return "the VMDK grain directory cannot be read";
  for (uint32_t& entry : extent.directory) {
    entry = LoadLe32(reinterpret_cast<const uint8_t*>(&entry));
    if (entry != 0 && static_cast<uint64_t>(entry) * kSector + s.gtEntries * 4ull > extent.fileSize)
      return "a VMDK grain table lies past the end of the file";
  }
  return {};
}

std::string VmdkDisk::OpenExtents(const Descriptor& descriptor) {
  const std::u16string folder = FolderOf(m_file.path);
  uint64_t start = 0;
  for (const Descriptor::Line& line : descriptor.extents) {
    Extent extent;
    extent.start = start;
    extent.sectors = line.sectors;
    if (line.sectors == 0 || line.sectors > (1ull << 40)) return "a VMDK extent has a bad size";
    if (line.type == "ZERO") {
      extent.kind = ExtentKind::Zero;
    } else if (line.type == "FLAT" || line.type == "VMFS" || line.type == "SPARSE") {
      if (line.file.empty()) return "a VMDK extent names no file";
      const std::u16string name = platform::Utf8ToUtf16(line.file);
      const std::u16string path = IsAbsolute(name) ? name : folder + name;
      platform::OpenResult opened = (*m_file.opener)(path, platform::OpenMode::Read);
      if (!opened.device) return "VMDK extent not found: " + line.file;
      extent.owned = std::move(opened.device);
      extent.device = extent.owned.get();
      if (!extent.device->GetLength(platform::DeviceType::ImageFile, &extent.fileSize))
        return "VMDK extent cannot be read: " + line.file;
      if (line.type == "SPARSE") {
        extent.kind = ExtentKind::Sparse;
        if (std::string why = OpenSparse(extent, nullptr); !why.empty()) return why;
      } else {
        extent.kind = ExtentKind::Flat;
        extent.flatOffset = line.offset * kSector;
        if (line.offset > extent.fileSize / kSector ||
            line.sectors > (extent.fileSize - extent.flatOffset) / kSector)
          return "VMDK extent is shorter than the descriptor says: " + line.file;
      }
    } else {
      return "unsupported VMDK extent type: " + line.type;
    }
    start += line.sectors;
    if (start > (1ull << 40)) return "the VMDK disk is too large";
    m_extents.push_back(std::move(extent));
  }
  if (m_extents.empty()) return "the VMDK descriptor lists no extent";
  m_nVirtualSize = start * kSector;
  return {};
}

std::string VmdkDisk::Open() {
  Descriptor descriptor;
  std::string why;
  if (m_file.head.size() >= 4 && std::memcmp(m_file.head.data(), "KDMV", 4) == 0) {
    // One sparse file: the disk is this extent.
    Extent extent;
    extent.kind = ExtentKind::Sparse;
    extent.device = m_file.device.get();
    extent.fileSize = m_file.size;
    std::string text;
    if (why = OpenSparse(extent, &text); !why.empty()) return why;
    if (!text.empty() && !ParseDescriptor(text, &descriptor, &why)) return why;
    m_nVirtualSize = extent.sectors * kSector;
    m_extents.push_back(std::move(extent));
  } else {
    if (m_file.size > kMaxDescriptorBytes) return "the VMDK descriptor is too large";
    std::string text(m_file.size, '\0');
    platform::ErrorCode error = 0;
    if (!containers::ReadExact(*m_file.device, 0, text.data(), text.size(), &error))
      return "the VMDK descriptor cannot be read";
    if (!ParseDescriptor(text.substr(0, text.find('\0')), &descriptor, &why)) return why;
    if (why = OpenExtents(descriptor); !why.empty()) return why;
  }
  if (!descriptor.parentHint.empty()) {
    m_parent = OpenParentDisk(m_file, {platform::Utf8ToUtf16(descriptor.parentHint)}, &why);
    if (!m_parent) return why;
  }
  static const std::map<std::string, std::string> kLabels = {
      {"monolithicSparse", "monolithic sparse"},
      {"streamOptimized", "stream-optimized"},
      {"monolithicFlat", "flat"},
      {"twoGbMaxExtentSparse", "sparse, 2 GB extents"},
      {"twoGbMaxExtentFlat", "flat, 2 GB extents"},
      {"vmfs", "VMFS flat"},
  };
  auto label = kLabels.find(descriptor.createType);
  std::string kind = label != kLabels.end()          ? label->second
                     : descriptor.createType.empty() ? "sparse"
                                                     : descriptor.createType;
  if (m_parent) kind += ", differencing";
  m_format = "VMDK (" + kind + ")";
  return {};
}

bool VmdkDisk::ReadParent(uint64_t offset, uint8_t* buffer, uint32_t bytes,
                          platform::ErrorCode* error) {
  if (!m_parent) {
    std::memset(buffer, 0, bytes);
    return true;
  }
  uint32_t got = 0;
  if (!m_parent->Seek(static_cast<int64_t>(offset), platform::SeekOrigin::Begin, nullptr) ||
      !m_parent->Read(buffer, bytes, &got)) {
    *error =
        m_parent->LastError() ? m_parent->LastError() : platform::FaultCode(platform::Fault::Read);
    return false;
  }
  std::memset(buffer + got, 0, bytes - got);  // a smaller parent reads as zeros past its end
  return true;
}

// Reads within one grain of a sparse extent; `offset` counts from the extent's start.
bool VmdkDisk::ReadSparse(Extent& extent, uint64_t offset, uint8_t* buffer, uint32_t bytes,
                          platform::ErrorCode* error) {
  const uint64_t grainBytes = extent.grainSectors * kSector;
  const uint64_t grain = offset / grainBytes;
  const uint64_t within = offset % grainBytes;
  const uint64_t tableIndex = grain / extent.gtEntries;
  const uint32_t tableAt = tableIndex < extent.directory.size() ? extent.directory[tableIndex] : 0;
  const uint64_t diskOffset = extent.start * kSector + offset;
  if (tableAt == 0) return ReadParent(diskOffset, buffer, bytes, error);
  auto table = extent.tables.find(static_cast<uint32_t>(tableIndex));
  if (table == extent.tables.end()) {
    std::vector<uint32_t> entries(extent.gtEntries);
    if (!containers::ReadExact(*extent.device, tableAt * kSector, entries.data(),
                               entries.size() * 4, error))
      return false;
    for (uint32_t& e : entries) e = LoadLe32(reinterpret_cast<const uint8_t*>(&e));
    if (extent.tables.size() >= 256) extent.tables.clear();
    table = extent.tables.emplace(static_cast<uint32_t>(tableIndex), std::move(entries)).first;
  }
  const uint32_t entry = table->second[grain % extent.gtEntries];
  if (entry == 0) return ReadParent(diskOffset, buffer, bytes, error);
  if (entry == 1) {  // a grain written as zeros
    std::memset(buffer, 0, bytes);
    return true;
  }
  const uint64_t at = static_cast<uint64_t>(entry) * kSector;
  if (!extent.compressed) {
    if (at + grainBytes > extent.fileSize) {
      *error = platform::FaultCode(
          platform::Fault::Read);  // the grain table points past the end of the file
      return false;
    }
    return containers::ReadExact(*extent.device, at + within, buffer, bytes, error);
  }
  if (m_grainExtent != &extent || m_nGrainSector != entry) {
    // A compressed grain: its marker (sector number, byte count), then the deflate stream.
    m_grainExtent = nullptr;
    uint8_t marker[12];
    if (at + sizeof marker > extent.fileSize ||
        !containers::ReadExact(*extent.device, at, marker, sizeof marker, error))
      return *error = platform::FaultCode(platform::Fault::Read), false;
    const uint32_t packed = LoadLe32(marker + 8);
    if (packed == 0 || packed > grainBytes * 2 + 1024 || at + 12 + packed > extent.fileSize) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    m_packed.resize(packed);
    if (!containers::ReadExact(*extent.device, at + 12, m_packed.data(), packed, error))
      return false;
    m_grain.assign(grainBytes, 0);
    uLongf length = static_cast<uLongf>(grainBytes);
    const int rc = uncompress(m_grain.data(), &length, m_packed.data(), packed);
    if (rc != Z_OK) {
      *error = platform::FaultCode(platform::Fault::Read);
      return false;
    }
    m_grainExtent = &extent;
    m_nGrainSector = entry;
  }
  std::memcpy(buffer, m_grain.data() + within, bytes);
  return true;
}

bool VmdkDisk::ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
                      platform::ErrorCode* error) {
  // Extents are few: find the one holding `offset` by its start.
  auto extent = std::upper_bound(m_extents.begin(), m_extents.end(), offset / kSector,
                                 [](uint64_t sector, const Extent& e) { return sector < e.start; });
  while (bytes > 0) {
    if (extent == m_extents.begin())
      return *error = platform::FaultCode(platform::Fault::Read), false;
    Extent& e = *std::prev(extent);
    const uint64_t end = (e.start + e.sectors) * kSector;
    if (offset >= end) {
      if (extent == m_extents.end())
        return *error = platform::FaultCode(platform::Fault::Read), false;
      ++extent;
      continue;
    }
    const uint64_t inExtent = offset - e.start * kSector;
    uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(bytes, end - offset));
    bool ok = true;
    switch (e.kind) {
      case ExtentKind::Zero: std::memset(buffer, 0, part); break;
      case ExtentKind::Flat:
        ok = containers::ReadExact(*e.device, e.flatOffset + inExtent, buffer, part, error);
        break;
      case ExtentKind::Sparse: {
        const uint64_t grainBytes = e.grainSectors * kSector;
        part = static_cast<uint32_t>(std::min<uint64_t>(part, grainBytes - inExtent % grainBytes));
        ok = ReadSparse(e, inExtent, buffer, part, error);
        break;
      }
    }
    if (!ok) return false;
    buffer += part;
    offset += part;
    bytes -= part;
  }
  return true;
}

}  // namespace

bool IsVmdk(const ContainerFile& file) {
  if (file.head.size() >= 4 && std::memcmp(file.head.data(), "KDMV", 4) == 0) return true;
  static const char kDescriptor[] = "# Disk DescriptorFile";
  const size_t look = std::min<size_t>(file.head.size(), 1024);
  return std::search(file.head.begin(), file.head.begin() + look, kDescriptor,
                     kDescriptor + sizeof kDescriptor - 1) != file.head.begin() + look;
}

ContainerOpen OpenVmdk(ContainerFile file) {
  auto disk = std::make_unique<VmdkDisk>(std::move(file));
  ContainerOpen result;
  result.error = disk->Open();
  if (result.error.empty()) result.disk = std::move(disk);
  return result;
}

}  // namespace kavo

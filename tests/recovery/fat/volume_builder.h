// Small FAT16, FAT32 and exFAT volumes built byte by byte, for the cases that real formatters do
// not make on request: cyclic chains, folders pointing at their ancestors, damaged entries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "disk/volume.h"
#include "platform/bytes.h"

namespace kavo::test {

// A volume of 512-byte sectors and one-sector clusters; cluster 2 is the first data cluster.
class VolumeBuilder {
 public:
  static constexpr uint32_t kSector = 512;

  // FAT16 (root area of 32 sectors) or FAT32 (root folder in cluster 2). A FAT16 volume has at
  // least 4085 clusters, or it would be FAT12: its boot sector declares that many, and the image
  // holds the first `clusters` of them.
  static VolumeBuilder Fat(uint8_t fileSystem, uint32_t clusters) {
    VolumeBuilder v;
    v.m_fileSystem = fileSystem;
    const bool fat16 = fileSystem == FS_FAT16;
    v.m_reserved = fat16 ? 1 : 32;
    v.m_fatSectors = (clusters + 2) * (fat16 ? 2 : 4) / kSector + 1;
    v.m_fatBase = v.m_reserved;
    v.m_dataStart = v.m_reserved + 2 * v.m_fatSectors + (fat16 ? 32 : 0);
    v.m_image.assign((v.m_dataStart + clusters) * kSector, 0);
    uint8_t* b = v.m_image.data();
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    std::memcpy(b + 3, "mkfs.fat", 8);
    StoreLe16(b + 0x0B, kSector);
    b[0x0D] = 1;
    StoreLe16(b + 0x0E, static_cast<uint16_t>(v.m_reserved));
    b[0x10] = 2;
    b[0x15] = 0xF8;
    StoreLe32(b + 0x20, static_cast<uint32_t>(v.m_image.size() / kSector));
    if (fat16) {
      StoreLe16(b + 0x11, 512);
      StoreLe16(b + 0x13, static_cast<uint16_t>(v.m_dataStart + std::max(clusters, 4085u)));
      StoreLe16(b + 0x16, static_cast<uint16_t>(v.m_fatSectors));
      std::memcpy(b + 0x36, "FAT16   ", 8);
    } else {
      StoreLe32(b + 0x24, v.m_fatSectors);
      StoreLe32(b + 0x2C, 2);
      StoreLe16(b + 0x30, 1);
      StoreLe16(b + 0x32, 6);
      std::memcpy(b + 0x52, "FAT32   ", 8);
      v.SetFat(2, 0x0FFFFFFF);
    }
    b[0x1FE] = 0x55;
    b[0x1FF] = 0xAA;
    return v;
  }

  // exFAT with the allocation table at sector 24 and the cluster heap at sector 64; the root
  // folder is cluster `root`.
  static VolumeBuilder Exfat(uint32_t clusters, uint32_t root = 4) {
    VolumeBuilder v;
    v.m_fileSystem = FS_EXFAT;
    v.m_fatBase = 24;
    v.m_fatSectors = (clusters + 2) * 4 / kSector + 1;
    v.m_dataStart = 64;
    v.m_image.assign((v.m_dataStart + clusters) * kSector, 0);
    uint8_t* b = v.m_image.data();
    b[0] = 0xEB;
    b[1] = 0x76;
    b[2] = 0x90;
    std::memcpy(b + 3, "EXFAT   ", 8);
    StoreLe64(b + 0x48, v.m_image.size() / kSector);
    StoreLe32(b + 0x50, v.m_fatBase);
    StoreLe32(b + 0x54, v.m_fatSectors);
    StoreLe32(b + 0x58, v.m_dataStart);
    StoreLe32(b + 0x5C, clusters);
    StoreLe32(b + 0x60, root);
    b[0x6C] = 9;
    b[0x6D] = 0;
    b[0x6E] = 1;
    b[0x1FE] = 0x55;
    b[0x1FF] = 0xAA;
    v.SetFat(root, 0xFFFFFFFF);
    return v;
  }

  void SetFat(uint32_t cluster, uint32_t value) {
    const uint32_t width = m_fileSystem == FS_FAT16 ? 2 : 4;
    const int copies = m_fileSystem == FS_EXFAT ? 1 : 2;
    for (int copy = 0; copy < copies; ++copy) {
      uint8_t* at = m_image.data() + (m_fatBase + copy * m_fatSectors) * kSector + cluster * width;
      width == 2 ? StoreLe16(at, static_cast<uint16_t>(value)) : StoreLe32(at, value);
    }
  }
  // Links the clusters into one chain ending with an end mark.
  void Chain(const std::vector<uint32_t>& clusters) {
    const uint32_t end = m_fileSystem == FS_FAT16 ? 0xFFFF : 0x0FFFFFFF;
    for (size_t i = 0; i < clusters.size(); ++i) {
      SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : end);
    }
  }

  uint8_t* Cluster(uint32_t cluster) { return m_image.data() + ClusterOffset(cluster); }
  size_t ClusterOffset(uint32_t cluster) const { return (m_dataStart + cluster - 2) * kSector; }
  // The FAT16 root area.
  uint8_t* Root() { return m_image.data() + (m_reserved + 2 * m_fatSectors) * kSector; }

  std::vector<uint8_t>& Bytes() { return m_image; }

  // Writes the image into `dir` and opens it, detected, as a source.
  bool Open(const std::filesystem::path& dir, CDisk& disk) const {
    const auto path = dir / "synthetic.img";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(m_image.data()),
               static_cast<std::streamsize>(m_image.size()));
    disk.m_nSourceKind = SourceKind::ImageFile;
    return disk.Open(path.u16string()) && DetectVolume(disk) && disk.m_nFileSystem == m_fileSystem;
  }

 private:
  uint8_t m_fileSystem = 0;
  uint32_t m_reserved = 0;
  uint32_t m_fatSectors = 0;
  uint32_t m_fatBase = 0;
  uint32_t m_dataStart = 0;
  std::vector<uint8_t> m_image;
};

// A FAT short entry: `name11` is the 8.3 name as stored (11 bytes, space padded).
inline void ShortEntry(uint8_t* at, const char* name11, uint8_t attribute, uint32_t cluster,
                       uint32_t size, uint16_t created = 0, uint16_t accessed = 0,
                       uint16_t written = 0) {
  std::memset(at, 0, 32);
  std::memcpy(at, name11, 11);
  at[11] = attribute;
  StoreLe16(at + 16, created);
  StoreLe16(at + 18, accessed);
  StoreLe16(at + 20, static_cast<uint16_t>(cluster >> 16));
  StoreLe16(at + 24, written);
  StoreLe16(at + 26, static_cast<uint16_t>(cluster));
  StoreLe32(at + 28, size);
}

// `count` deleted entries that no listing keeps (their cluster is past any volume here), to fill
// a folder up to a position without its end mark.
inline void FillerEntries(uint8_t* at, size_t count) {
  for (size_t i = 0; i < count; ++i)
    ShortEntry(at + 32 * i,
               "\xE5"
               "ILLER   BIN",
               0x20, 0xFFFFFF, 1);
}

// The "." and ".." entries that begin a subfolder.
inline void DotEntries(uint8_t* at, uint32_t self, uint32_t parent) {
  ShortEntry(at, ".          ", 0x10, self, 0);
  ShortEntry(at + 32, "..         ", 0x10, parent, 0);
}

// The long-name entries for `name` in front of a short entry whose 11 name bytes are `name11`:
// writes them from `at` on and returns the number written.
inline size_t LongNameEntries(uint8_t* at, const std::u16string& name, const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  const size_t pieces = (name.size() + 12) / 13;
  static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t k = 0; k < pieces; ++k) {
    const size_t ordinal = pieces - k;  // the last part comes first
    uint8_t* e = at + 32 * k;
    std::memset(e, 0, 32);
    e[0] = static_cast<uint8_t>(ordinal | (k == 0 ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = sum;
    for (size_t i = 0; i < 13; ++i) {
      const size_t index = (ordinal - 1) * 13 + i;
      const char16_t unit = index < name.size() ? name[index] : (index == name.size() ? 0 : 0xFFFF);
      StoreLe16(e + kOffsets[i], unit);
    }
  }
  return pieces;
}

}  // namespace kavo::test

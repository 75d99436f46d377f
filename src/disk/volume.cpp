#include "disk/volume.h"

#include <algorithm>
#include <vector>

#include "platform/bytes.h"

namespace kavo {

namespace {

bool OneOrEven(uint32_t v) {
  return v != 0 && (v == 1 || v % 2 == 0);
}

// Total sectors a FAT boot sector declares, in source sectors, bounded by what the source holds
// after the boot sector.
uint64_t FatVolumeSectors(const uint8_t* b, uint32_t scale, uint64_t availableSectors) {
  uint64_t declared = FatBootSectorTotal(b) * scale;
  if (declared == 0 || declared > availableSectors) declared = availableSectors;
  return declared;
}

// Source sectors of the FAT12/16 root area (entries of 32 bytes); 0 on FAT32.
uint64_t RootAreaSectors(const uint8_t* b, uint32_t sectorSize) {
  return (uint64_t{LoadLe16(b + 0x11)} * 32 + sectorSize - 1) / sectorSize;
}

// How many source sectors make one sector of the volume: the boot sector's sector size over the
// source's, when it is a whole multiple of it; 1 otherwise (and for 0, which some FAT32 writers
// leave in the field).
uint32_t SectorScale(uint32_t volumeSectorSize, uint32_t sectorSize) {
  if (volumeSectorSize <= sectorSize || volumeSectorSize % sectorSize != 0) return 1;
  return volumeSectorSize / sectorSize;
}

// A FAT volume with a fixed root area and a 16-bit FAT size: FAT12 or FAT16, told apart below.
bool IsFat12Or16BootSector(const uint8_t* b) {
  // Formatters other than Windows write their own OEM name, and volumes under 32 MiB keep their
  // sector count in the 16-bit field; both are FAT all the same. The file-system type text
  // ("FAT16   ") at 0x36 must not be blank. The root area holds 512 entries on most volumes, but
  // formatters size it to the cluster (1024 entries with 32 KiB clusters) or as asked, and
  // floppies have 112 or 224.
  const bool hasSectorCount = LoadLe16(b + 0x22) != 0 || LoadLe16(b + 0x13) != 0;
  const bool typeText = LoadLe32(b + 0x39) != 0;
  const uint16_t bytesPerSector = LoadLe16(b + 0x0B);
  return hasSectorCount && typeText && bytesPerSector != 0 && bytesPerSector % 512 == 0 &&
         b[0x10] == 2 && OneOrEven(b[0x0D]) && LoadLe16(b + 0x11) != 0 && LoadLe16(b + 0x0E) != 0 &&
         LoadLe16(b + 0x16) != 0;
}

// FAT12 or FAT16 by the cluster count the boot sector declares, in its own sectors: below 4085
// clusters the table has 12-bit entries, whatever the type text says (formatters and systems
// decide by the count alone). A boot sector whose declared size does not even hold its tables
// has no count to go by; its type text decides.
FileSystemCode Fat12Or16(const uint8_t* b) {
  const uint64_t total = FatBootSectorTotal(b);
  const uint64_t overhead = uint64_t{LoadLe16(b + 0x0E)} + uint64_t{b[0x10]} * LoadLe16(b + 0x16) +
                            RootAreaSectors(b, LoadLe16(b + 0x0B));
  if (total <= overhead) return std::equal(b + 0x36, b + 0x3B, "FAT12") ? FS_FAT12 : FS_FAT16;
  return (total - overhead) / b[0x0D] < kMinFat16Clusters ? FS_FAT12 : FS_FAT16;
}

bool IsFat32(const uint8_t* b) {
  const uint16_t bps = LoadLe16(b + 0x0B);
  const bool bpsOk = bps == 0 || bps == 512 || (bps % 512 == 0 && (bps & 0x200) == 0);
  return bpsOk && b[0x10] == 2 && OneOrEven(b[0x0D]) && LoadLe32(b + 0x2C) == 2 &&
         LoadLe16(b + 0x30) == 1 && LoadLe16(b + 0x32) == 6 && LoadLe32(b + 0x24) != 0;
}

bool IsExfat(const uint8_t* b) {
  // The cluster-size shift is a power of two whatever its parity, and formatters place the FAT
  // and the root folder where the volume's size leads them (the root follows the allocation
  // bitmap and the up-case table, at cluster 4, 5, 6 ...), so neither is held to one value.
  // Clusters are at most 32 MiB, which keeps the bytes per cluster within 32 bits.
  const uint32_t fatOffset = LoadLe32(b + 0x50);
  const uint32_t heapOffset = LoadLe32(b + 0x58);
  const uint32_t root = LoadLe32(b + 0x60);
  return b[0] != 0 && b[2] == 0x90 && b[0x6C] >= 9 && b[0x6C] <= 12 && b[0x6C] + b[0x6D] <= 25 &&
         fatOffset >= 24 && heapOffset > fatOffset && root >= 2 &&
         std::all_of(b + 0x71, b + 0x78, [](uint8_t x) { return x == 0; }) && b[0x1FE] == 0x55 &&
         b[0x1FF] == 0xAA;
}

bool IsNtfs(const uint8_t* b) {
  const uint64_t mft = LoadLe64(b + 0x30);
  const uint64_t mirror = LoadLe64(b + 0x38);
  const uint64_t total = LoadLe64(b + 0x28);
  const auto clusterOk = [](uint64_t c) { return c != 0 && c != UINT64_MAX; };
  // Every NTFS boot sector carries its OEM name; without it a FAT12 boot sector (drive number
  // 0x80 at 0x24, no 32-bit sector count) passes the remaining checks.
  const bool oemName = std::equal(b + 3, b + 11, "NTFS    ");
  return oemName && b[0] != 0 && b[1] != 0 && b[2] == 0x90 && LoadLe32(b + 0x20) == 0 &&
         LoadLe16(b + 0x24) == 0x80 && LoadLe16(b + 0x0B) % 2 == 0 &&
         OneOrEven(NtfsSectorsPerCluster(b[0x0D])) && OneOrEven(b[0x40]) && OneOrEven(b[0x44]) &&
         clusterOk(mft) && clusterOk(mirror) && total != 0 &&
         (static_cast<uint32_t>(total) & static_cast<uint32_t>(total >> 32)) < 0xFFFFFFFF;
}

}  // namespace

uint64_t FatBootSectorTotal(const uint8_t* boot) {
  const uint16_t small = LoadLe16(boot + 0x13);
  return small != 0 ? small : LoadLe32(boot + 0x20);
}

FileSystemCode DetectBootSector(std::span<const uint8_t> sector, uint32_t sectorSize,
                                uint64_t partitionStart, uint64_t availableSectors,
                                VolumeParams& p) {
  if (sector.size() < 512 || sectorSize == 0) return FS_NONE;
  const uint8_t* b = sector.data();
  p = VolumeParams{};
  p.partitionStart = partitionStart;
  p.bytesPerSector = static_cast<uint16_t>(sectorSize);

  const FileSystemCode fatKind =
      IsFat12Or16BootSector(b) ? Fat12Or16(b) : (IsFat32(b) ? FS_FAT32 : FS_NONE);
  if (fatKind != FS_NONE) {
    const bool fat16 = fatKind != FS_FAT32;  // FAT12 or FAT16: the same layout around the table
    // Sector counts in the boot sector are in the volume's own sectors; a 4096-byte-sector
    // volume in an image file is read through 512-byte source sectors, so they are scaled.
    const uint32_t scale = SectorScale(LoadLe16(b + 0x0B), sectorSize);
    p.sectorsPerCluster = b[0x0D] * scale;
    p.bytesPerCluster = sectorSize * p.sectorsPerCluster;
    p.reservedSectors =
        static_cast<uint16_t>(std::min<uint32_t>(LoadLe16(b + 0x0E) * scale, 0xFFFF));
    const uint64_t fatSectors = uint64_t{fat16 ? LoadLe16(b + 0x16) : LoadLe32(b + 0x24)} * scale;
    p.sectorsPerFat = static_cast<uint32_t>(std::min<uint64_t>(fatSectors, UINT32_MAX));
    p.fatSectorBase = uint64_t{p.reservedSectors} + p.sectorsPerFat;
    p.firstDataSector = uint64_t{p.reservedSectors} + 2 * uint64_t{p.sectorsPerFat};
    p.volumeSectors = FatVolumeSectors(b, scale, availableSectors);
    const uint64_t overhead = p.firstDataSector + RootAreaSectors(b, sectorSize);
    const uint64_t clusters =
        p.volumeSectors > overhead ? (p.volumeSectors - overhead) / p.sectorsPerCluster : 0;
    // No more clusters than the allocation table has entries for (two entries are reserved).
    const uint64_t tableBytes = uint64_t{p.sectorsPerFat} * sectorSize;
    const uint64_t entries = fatKind == FS_FAT12 ? tableBytes * 2 / 3
                             : fat16             ? tableBytes / 2
                                                 : tableBytes / 4;
    const uint64_t largest = fatKind == FS_FAT12 ? 0xFF5u : (fat16 ? 0xFFF5u : 0x0FFFFFF5u);
    p.clusterCount =
        static_cast<uint32_t>(std::min({clusters, entries > 2 ? entries - 2 : 0, largest}));
    p.rootCluster = fat16 ? 1 : LoadLe32(b + 0x2C);
    return fatKind;
  }
  if (IsExfat(b)) {
    const uint32_t scale = SectorScale(1u << b[0x6C], sectorSize);
    p.sectorsPerCluster = (1u << b[0x6D]) * scale;
    p.bytesPerCluster = sectorSize * p.sectorsPerCluster;
    p.fatSectorBase = uint64_t{LoadLe32(b + 0x50)} * scale;
    p.sectorsPerFat =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{LoadLe32(b + 0x54)} * scale, UINT32_MAX));
    p.firstDataSector = uint64_t{LoadLe32(b + 0x58)} * scale;
    const uint64_t length =
        LoadLe64(b + 0x48) > UINT64_MAX / scale ? UINT64_MAX : LoadLe64(b + 0x48) * scale;
    p.volumeSectors = std::min<uint64_t>(length, availableSectors);
    const uint64_t clusters =
        length > p.firstDataSector ? (length - p.firstDataSector) / p.sectorsPerCluster : 0;
    // The boot sector's own cluster count, when smaller, is the tighter bound; so is the number
    // of entries the allocation table holds.
    const uint32_t declared = LoadLe32(b + 0x5C);
    const uint64_t entries = uint64_t{p.sectorsPerFat} * sectorSize / 4;
    p.clusterCount =
        static_cast<uint32_t>(std::min<uint64_t>({clusters, declared != 0 ? declared : UINT32_MAX,
                                                  entries > 2 ? entries - 2 : 0, 0xFFFFFFF5u}));
    p.rootCluster = LoadLe32(b + 0x60);
    return FS_EXFAT;
  }
  if (IsNtfs(b)) {
    // As for FAT: a 4096-byte-sector volume read through 512-byte source sectors.
    const uint32_t scale = SectorScale(LoadLe16(b + 0x0B), sectorSize);
    p.sectorsPerCluster = NtfsSectorsPerCluster(b[0x0D]) * scale;
    p.bytesPerCluster = sectorSize * p.sectorsPerCluster;
    p.mftCluster = LoadLe64(b + 0x30);
    p.mftMirrorCluster = LoadLe64(b + 0x38);
    p.mftStartSector = p.mftCluster * p.sectorsPerCluster;
    const uint64_t declared = LoadLe64(b + 0x28);
    p.volumeSectors = declared > UINT64_MAX / scale - 1
                          ? availableSectors
                          : std::min<uint64_t>((declared + 1) * scale, availableSectors);
    uint32_t bytes = 0;
    uint32_t sectors = 0;
    NtfsRecordSize(static_cast<int8_t>(b[0x40]), p.sectorsPerCluster, sectorSize, bytes, sectors);
    p.bytesPerMftRecord = static_cast<uint16_t>(std::min<uint32_t>(bytes, 0xFFFF));
    p.sectorsPerMftRecord = static_cast<uint8_t>(std::min<uint32_t>(sectors, 0xFF));
    NtfsRecordSize(static_cast<int8_t>(b[0x44]), p.sectorsPerCluster, sectorSize, bytes, sectors);
    p.bytesPerIndexRecord = bytes;
    p.sectorsPerIndexRecord = static_cast<uint8_t>(std::min<uint32_t>(sectors, 0xFF));
    return FS_NTFS;
  }
  return FS_NONE;
}

bool DetectVolume(CDisk& source) {
  source.m_nFileSystem = FS_NONE;
  if (source.m_nSectorSize == 0 || source.m_nStartSector >= source.m_nTotalSectors) return false;
  std::vector<uint8_t> sector(std::max<uint32_t>(source.m_nSectorSize, 512));
  if (!source.ReadSectors(sector.data(), source.m_nSectorSize, source.m_nStartSector)) return false;
  const FileSystemCode code =
      DetectBootSector(sector, source.m_nSectorSize, source.m_nStartSector,
                       source.m_nTotalSectors - source.m_nStartSector, source.m_volume);
  source.m_nFileSystem = code;
  return code != FS_NONE;
}

const char* FileSystemName(uint8_t code) {
  switch (code) {
    case FS_FAT12: return "FAT12";
    case FS_FAT16: return "FAT16";
    case FS_FAT32: return "FAT32";
    case FS_NTFS: return "NTFS";
    case FS_EXFAT: return "exFAT";
  }
  return "";
}

}  // namespace kavo

#include "recovery/search/volume_search.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "base/messages.h"
#include "disk/volume.h"
#include "platform/bytes.h"
#include "recovery/ntfs/ntfs_record.h"

namespace kavo {

namespace {

constexpr uint32_t kMftRecordBytes = 1024;
// Kept $MFT/$MFTMirr records; a disk holds two of each per NTFS volume it ever had.
constexpr size_t kMaxMftCandidates = 4096;
// The two copies of a FAT lie at most this many sectors apart to be paired as copies.
constexpr uint64_t kMaxFatCopyDistance = 256;
// LCNs beyond 2^48 clusters are not NTFS.
constexpr uint64_t kMaxLcn = uint64_t{1} << 48;

bool IsPowerOfTwo(uint64_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

// One $MFT or $MFTMirr record met by the walk: where it lies, the first cluster of its data,
// the volume's cluster size (its data's allocated bytes over its clusters) and its bytes as
// found, for comparing the MFT's copy with the mirror's.
struct MftCandidate {
  uint64_t sector = 0;
  uint32_t recordNumber = 0;  // 0 $MFT, 1 $MFTMirr
  uint64_t dataLcn = 0;
  uint32_t clusterBytes = 0;
  std::array<uint8_t, kMftRecordBytes> bytes{};
};

enum class FoundBy : uint8_t { BootSector, MftCopies, FatStructures };

struct Found {
  PartitionRecordPtr record;
  FoundBy by;
  uint64_t bytes = 0;  // the volume's size in bytes, for records found by a FAT12 boot sector
};

// The checksum of an exFAT boot region: over its first eleven sectors, bytes 106, 107 (volume
// flags) and 112 (percent in use) of the first left out, as the twelfth sector repeats it.
uint32_t ExfatBootChecksum(const uint8_t* region, size_t sectorBytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < 11 * sectorBytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) != 0 ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

class VolumeSearch {
 public:
  VolumeSearch(CDisk& source, bool lost, ProgressRecord* progress, MessageSink& sink)
      : m_source(source),
        m_lost(lost),
        m_progress(progress),
        m_sink(sink),
        m_sectorSize(source.m_nSectorSize) {}

  uint32_t Run(uint64_t first, uint64_t count, FoundVolumeList& volumes) {
    if (!m_source.IsOpen() || m_sectorSize < 512) return 0;
    const uint64_t total = m_source.m_nTotalSectors;
    const uint64_t end = first >= total ? first : first + std::min(count, total - first);
    std::vector<uint8_t> buffer(size_t{kSearchChunkSectors} * m_sectorSize);
    for (uint64_t s = first; s < end;) {
      if (ShouldStop(m_progress)) break;
      if (m_progress != nullptr) {
        m_progress->SetPosition(s);
        m_progress->SetEnd(end - 1);
      }
      m_sink.Send(UM_PROGRESS, 0, 0);
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kSearchChunkSectors, end - s));
      if (m_source.ReadSectors(buffer.data(), n * m_sectorSize, s)) {
        for (uint32_t i = 0; i < n; ++i)
          TestSector(buffer.data() + size_t{i} * m_sectorSize, s + i);
      }
      s += n;
    }
    if (m_lost) RebuildNtfsVolumes();
    Keep(volumes);
    return 1;
  }

 private:
  // The tests in their order; the first that passes decides. The leading byte comparisons are
  // the cheap filters: every boot sector has 2 FATs at 0x10 or the 0x90 of its jump at 2, every
  // MFT record begins with 'F', every FAT with its media byte, every folder cluster with '.'.
  void TestSector(const uint8_t* b, uint64_t s) {
    if (b[0x10] == 2 || b[2] == 0x90) {
      VolumeParams params;
      const FileSystemCode code =
          DetectBootSector(std::span<const uint8_t>(b, m_sectorSize), m_sectorSize, s,
                           m_source.m_nTotalSectors - s, params);
      if (code != FS_NONE) {
        AddBootRecord(code, b, s);
        return;
      }
    }
    if (!m_lost) return;
    if (b[0] == 'F') {
      if (std::memcmp(b, "FILE", 4) == 0) TestMftRecord(b, s);
    } else if (b[0] == 0xF8 || b[0] == 0xF0) {
      TestFatSector(b, s);
    } else if (b[0] == '.') {
      TestFolderCluster(b, s);
    }
  }

  bool ReadAt(uint64_t sector, uint8_t* out, uint32_t bytes) {
    const uint64_t sectors = (bytes + m_sectorSize - 1) / m_sectorSize;
    if (sector >= m_source.m_nTotalSectors || sectors > m_source.m_nTotalSectors - sector) {
      return false;
    }
    return m_source.ReadSectors(out, bytes, sector);
  }

  // The first 32-bit word of a sector inside the source.
  bool FirstWordAt(uint64_t sector, uint32_t& word) {
    std::vector<uint8_t> data(m_sectorSize);
    if (!ReadAt(sector, data.data(), m_sectorSize)) return false;
    word = LoadLe32(data.data());
    return true;
  }

  bool FileRecordAt(uint64_t sector) {
    uint32_t word = 0;
    return FirstWordAt(sector, word) && word == LoadLe32(reinterpret_cast<const uint8_t*>("FILE"));
  }

  // A first FAT sector: the media byte in the low bits of the first entry, then all ones.
  bool FatStartAt(uint64_t sector, uint8_t media) {
    uint32_t word = 0;
    return FirstWordAt(sector, word) && (word & 0x0FFFFFFF) == (0x0FFFFF00u | media);
  }

  // Whether the exFAT boot sector at `s` begins a boot region whose checksum sector (its twelfth)
  // holds the region's checksum throughout.
  bool ExfatRegionIntact(uint64_t s, uint32_t volumeSectorBytes) {
    const size_t regionBytes = size_t{12} * volumeSectorBytes;
    std::vector<uint8_t> region((regionBytes + m_sectorSize - 1) / m_sectorSize * m_sectorSize);
    if (!ReadAt(s, region.data(), static_cast<uint32_t>(region.size()))) return false;
    const uint32_t sum = ExfatBootChecksum(region.data(), volumeSectorBytes);
    const uint8_t* check = region.data() + size_t{11} * volumeSectorBytes;
    for (size_t i = 0; i < volumeSectorBytes; i += 4) {
      if (LoadLe32(check + i) != sum) return false;
    }
    return true;
  }

  // Where the volume of a boot sector found at `s` begins. NTFS keeps a copy of its boot sector
  // in the sector after its last one, FAT32 six sectors in, and exFAT a copy of its whole boot
  // region twelve sectors in; a copy found where the original is gone would otherwise place the
  // volume at the copy. A copy is recognised by the volume's own structures lying where it
  // places them from the original's position and not from its own: the MFT's first record
  // (NTFS), the first FAT (FAT32, exFAT); an NTFS boot sector whose volume would not fit between
  // it and the end of the source is a copy too (a reformatted volume keeps its old last sector
  // longer than its old MFT). exFAT states its start at 0x40, which formatters leave 0 when they
  // do not know it; it is believed when it places this sector at the start or at the copy, and
  // otherwise the region must pass its checksum to be taken for the copy.
  uint64_t BootStart(FileSystemCode code, const uint8_t* b, uint64_t s) {
    const uint16_t bps = LoadLe16(b + 0x0B);
    const uint64_t scale = bps > m_sectorSize && bps % m_sectorSize == 0 ? bps / m_sectorSize : 1;
    if (code == FS_NTFS) {
      const uint64_t total = LoadLe64(b + 0x28) * scale;
      const uint64_t mft = LoadLe64(b + 0x30);
      if (mft >= kMaxLcn || s < total) return s;
      const uint64_t mftOffset = mft * NtfsSectorsPerCluster(b[0x0D]) * scale;
      const bool fits = total < m_source.m_nTotalSectors - s;
      if (!fits || (!FileRecordAt(s + mftOffset) && FileRecordAt(s - total + mftOffset))) {
        return s - total;
      }
    } else if (code == FS_FAT32) {
      const uint64_t copy = LoadLe16(b + 0x32) * scale;
      const uint64_t reserved = LoadLe16(b + 0x0E) * scale;
      if (s >= copy && !FatStartAt(s + reserved, b[0x15]) &&
          FatStartAt(s - copy + reserved, b[0x15])) {
        return s - copy;
      }
    } else if (code == FS_EXFAT) {
      // The exFAT boot sector has no 16-bit sector size; the check admits shifts 9 to 12.
      const uint32_t volumeSectorBytes = 1u << b[0x6C];
      const uint64_t exfatScale =
          volumeSectorBytes > m_sectorSize ? volumeSectorBytes / m_sectorSize : 1;
      const uint64_t stated = LoadLe64(b + 0x40);
      const uint64_t copy = 12 * exfatScale;
      if (stated == s || (stated <= UINT64_MAX - copy && stated + copy == s)) return stated;
      const uint64_t fat = LoadLe32(b + 0x50) * exfatScale;
      if (s >= copy && !FatStartAt(s + fat, 0xF8) && FatStartAt(s - copy + fat, 0xF8) &&
          ExfatRegionIntact(s, volumeSectorBytes)) {
        return s - copy;
      }
    }
    return s;
  }

  void AddBootRecord(FileSystemCode code, const uint8_t* b, uint64_t s) {
    const uint64_t start = BootStart(code, b, s);
    PartitionRecord r = RecordFromBootSector(code, std::span<const uint8_t>(b, m_sectorSize), start,
                                             0, m_sectorSize, RecordOrigin::Search);
    // The same volume met again (the copy of its boot sector, or the same sector read twice).
    for (Found& f : m_found) {
      const PartitionRecord& e = *f.record;
      if (f.by == FoundBy::BootSector && e.fileSystem == r.fileSystem &&
          e.serialNumber == r.serialNumber && e.totalSectors == r.totalSectors) {
        f.record->duplicate |= kFoundAgain;
        return;
      }
    }
    if (IsFat12Or16(code) || code == FS_FAT32) {
      m_fatVolumes.emplace_back(start, start + std::max<uint64_t>(r.totalSectors, 1));
    }
    const uint64_t bytes = code == FS_FAT12 ? r.totalSectors * LoadLe16(b + 0x0B) : 0;
    m_found.push_back(Found{std::make_unique<PartitionRecord>(r), FoundBy::BootSector, bytes});
  }

  // --- NTFS without boot sectors -------------------------------------------------------------

  void TestMftRecord(const uint8_t* b, uint64_t s) {
    const uint16_t usaOffset = LoadLe16(b + 4);
    if ((usaOffset != 42 && usaOffset != 48) || LoadLe32(b + 0x1C) != kMftRecordBytes) return;
    if (LoadLe64(b + 0x20) != 0) return;  // an extension record
    if (usaOffset == 48 && LoadLe32(b + 0x2C) > 1) return;
    if (m_mft.size() >= kMaxMftCandidates) return;

    MftCandidate c;
    c.sector = s;
    if (m_sectorSize >= kMftRecordBytes) {
      std::memcpy(c.bytes.data(), b, kMftRecordBytes);
    } else if (!ReadAt(s, c.bytes.data(), kMftRecordBytes)) {
      return;
    }
    std::array<uint8_t, kMftRecordBytes> record = c.bytes;
    if (!CheckRecord(record.data(), kMftRecordBytes)) return;

    // Which record: the name of its $FILE_NAME in the root folder (record 5).
    int number = -1;
    AttributeWalker walker(record.data(), kMftRecordBytes);
    Attribute a;
    while (number < 0 && walker.Next(a)) {
      if (a.type != kAttrFileName || a.nonResident || a.value.size() < 0x42) continue;
      const uint8_t* v = a.value.data();
      if ((LoadLe64(v) & 0xFFFFFFFFFFFFull) != 5) continue;
      const size_t length = v[0x40];
      if (0x42 + 2 * length > a.value.size()) continue;
      std::u16string name;
      for (size_t i = 0; i < length; ++i) name.push_back(LoadLe16(v + 0x42 + 2 * i));
      if (name == u"$MFT") number = 0;
      if (name == u"$MFTMirr") number = 1;
    }
    if (number < 0) return;

    Attribute data;
    if (!FindUnnamedData(record.data(), kMftRecordBytes, 0, data) || !data.nonResident) return;
    RunList runs;
    if (DecodeRunList(data.mappingPairs, 0, runs) == 0 || runs[0].sparse) return;
    const uint64_t clusters = data.highVcn + 1;
    if (clusters == 0 || data.allocatedSize % clusters != 0) return;
    const uint64_t clusterBytes = data.allocatedSize / clusters;
    if (!IsPowerOfTwo(clusterBytes) || clusterBytes < m_sectorSize || clusterBytes > (2u << 20)) {
      return;
    }
    if (runs[0].lcn == 0 || runs[0].lcn >= kMaxLcn) return;
    c.recordNumber = static_cast<uint32_t>(number);
    c.dataLcn = runs[0].lcn;
    c.clusterBytes = static_cast<uint32_t>(clusterBytes);
    m_mft.push_back(c);
  }

  // Pairing: two $MFT records (record 0) with the same data cluster and cluster size whose bytes
  // are identical are the MFT's record and the mirror's copy of it. The $MFTMirr record (record
  // 1) that follows either copy gives the mirror's cluster. The copy at the lower sector belongs
  // to whichever of the MFT and the mirror has the lower cluster; their distance in sectors must
  // equal their distance in clusters times the cluster size, and the volume starts at the MFT
  // copy's sector less the MFT's cluster times the cluster size. Its size comes from the length
  // of the $Bitmap (record 6, eight clusters per byte), bounded by the source.
  void RebuildNtfsVolumes() {
    const uint64_t recordSectors = std::max<uint64_t>(1, kMftRecordBytes / m_sectorSize);
    for (size_t i = 0; i < m_mft.size(); ++i) {
      const MftCandidate& p = m_mft[i];
      if (p.recordNumber != 0) continue;
      for (size_t j = i + 1; j < m_mft.size(); ++j) {
        const MftCandidate& q = m_mft[j];
        if (q.recordNumber != 0 || q.dataLcn != p.dataLcn || q.clusterBytes != p.clusterBytes ||
            q.sector == p.sector || q.bytes != p.bytes) {
          continue;
        }
        const uint64_t low = std::min(p.sector, q.sector);
        const uint64_t high = std::max(p.sector, q.sector);
        uint64_t mirror = 0;
        for (const MftCandidate& m : m_mft) {
          if (m.recordNumber == 1 && m.clusterBytes == p.clusterBytes &&
              (m.sector == low + recordSectors || m.sector == high + recordSectors)) {
            mirror = m.dataLcn;
            break;
          }
        }
        const uint64_t mft = p.dataLcn;
        if (mirror == 0 || mirror == mft) continue;
        const uint64_t spc = p.clusterBytes / m_sectorSize;
        const uint64_t distance = mft < mirror ? mirror - mft : mft - mirror;
        if (high - low != distance * spc) continue;
        const uint64_t mftSector = mft < mirror ? low : high;
        if (mft * spc > mftSector) continue;
        AddRebuiltNtfs(mftSector - mft * spc, mft, mirror, static_cast<uint32_t>(spc),
                       p.clusterBytes, mftSector + 6 * recordSectors);
      }
    }
  }

  void AddRebuiltNtfs(uint64_t start, uint64_t mft, uint64_t mirror, uint32_t spc,
                      uint32_t clusterBytes, uint64_t bitmapRecordSector) {
    for (Found& f : m_found) {
      PartitionRecord& e = *f.record;
      if (e.fileSystem != FS_NTFS || e.bytesPerCluster != clusterBytes) continue;
      const uint64_t gap = e.firstSector > start ? e.firstSector - start : start - e.firstSector;
      if (gap <= spc) {
        if (f.by == FoundBy::BootSector) e.duplicate |= kMftConfirmed;
        return;
      }
    }
    if (start >= m_source.m_nTotalSectors) return;
    const uint64_t available = m_source.m_nTotalSectors - start;
    uint64_t sectors = available;
    std::array<uint8_t, kMftRecordBytes> bitmap{};
    Attribute data;
    if (ReadAt(bitmapRecordSector, bitmap.data(), kMftRecordBytes) &&
        CheckRecord(bitmap.data(), kMftRecordBytes) &&
        FindUnnamedData(bitmap.data(), kMftRecordBytes, 0, data) && data.nonResident &&
        data.realSize != 0 && data.realSize <= available / 8 / spc + 1) {
      sectors = std::min(available, data.realSize * 8 * spc);
    }

    auto r = std::make_unique<PartitionRecord>();
    r->fileSystem = FS_NTFS;
    r->duplicate = kMftConfirmed;
    r->firstSector = start;
    r->totalSectors = sectors;
    r->geometry40 = mft;
    r->geometry48 = mirror;
    r->bytesPerSector = static_cast<uint16_t>(m_sectorSize);
    r->sectorsPerCluster = static_cast<uint16_t>(spc);
    r->bytesPerCluster = clusterBytes;
    r->mftRecordBytes = kMftRecordBytes;
    r->mftRecordSectors = static_cast<uint8_t>(kMftRecordBytes / m_sectorSize);
    // Index records are 4 KiB on every volume the formatters make.
    r->geometry60 = 4096;
    r->indexRecordSectors = static_cast<uint8_t>(4096 / m_sectorSize);
    m_found.push_back(Found{std::move(r), FoundBy::MftCopies});
  }

  // --- FAT without boot sectors --------------------------------------------------------------
  //
  // The walk remembers the last FAT sector it met (the first sector of a FAT copy) and the last
  // folder cluster after it. A FAT sector of the same kind at most 256 sectors after the last
  // one is its second copy and gives the FAT length; any other FAT sector starts afresh. Two
  // folder clusters after the last FAT sector, the later with the higher cluster number, give
  // sectors per cluster (sector distance over cluster distance, a power of two from 2 to 128)
  // and the first data sector (where cluster 2 lies), which must follow the FAT. Structures
  // inside a FAT volume whose boot sector was found belong to that volume and are skipped.

  bool InsideFoundFatVolume(uint64_t s) const {
    return std::any_of(m_fatVolumes.begin(), m_fatVolumes.end(),
                       [s](const auto& v) { return s >= v.first && s < v.second; });
  }

  void TestFatSector(const uint8_t* b, uint64_t s) {
    const uint32_t v0 = LoadLe32(b);
    const uint32_t v1 = LoadLe32(b + 4);
    // The second FAT32 entry is 0xFFFFFFFF from some formatters and 0x0FFFFFFF from others
    // (the top four bits are reserved).
    const bool fat32 = (v0 == 0x0FFFFFF8 || v0 == 0x0FFFFFF0) && (v1 & 0x0FFFFFFF) == 0x0FFFFFFF;
    const bool fat16 = v0 == 0xFFFFFFF8 || v0 == 0xFFFFFFF0;
    if ((!fat32 && !fat16) || InsideFoundFatVolume(s)) return;
    if (m_haveFat && m_fatIs32 == fat32 && s > m_fatSector &&
        s - m_fatSector <= kMaxFatCopyDistance) {
      m_fatLength = s - m_fatSector;
    } else {
      m_fatLength = 0;
    }
    m_haveFat = true;
    m_fatIs32 = fat32;
    m_fatSector = s;
    m_haveFolder = false;
  }

  void TestFolderCluster(const uint8_t* b, uint64_t s) {
    static constexpr char kDot[] = ".          ";
    static constexpr char kDotDot[] = "..         ";
    if (std::memcmp(b, kDot, 11) != 0 || (b[11] & 0x18) != 0x10 ||
        std::memcmp(b + 32, kDotDot, 11) != 0 || (b[32 + 11] & 0x18) != 0x10) {
      return;
    }
    if (!m_haveFat || InsideFoundFatVolume(s)) return;
    const uint32_t cluster = (uint32_t{LoadLe16(b + 0x14)} << 16) | LoadLe16(b + 0x1A);
    if (cluster < 2) return;
    if (m_haveFolder && cluster > m_folderCluster && s > m_folderSector) {
      const uint64_t sectors = s - m_folderSector;
      const uint64_t clusters = cluster - m_folderCluster;
      const uint64_t spc = sectors / clusters;
      if (sectors % clusters == 0 && IsPowerOfTwo(spc) && spc >= 2 && spc <= 128) {
        const uint64_t offset = uint64_t{m_folderCluster - 2} * spc;
        if (offset <= m_folderSector && m_folderSector - offset > m_fatSector) {
          AddRebuiltFat(static_cast<uint32_t>(spc), m_folderSector - offset);
        }
      }
    }
    m_haveFolder = true;
    m_folderSector = s;
    m_folderCluster = cluster;
  }

  // A rebuilt FAT record keeps absolute sectors: the first FAT copy as its start (the reserved
  // sectors before it are unknown), the last FAT sector seen at 40, the first data sector at 48,
  // and the FAT length at 56. Its size is one cluster per FAT entry, within the source.
  void AddRebuiltFat(uint32_t spc, uint64_t firstData) {
    const uint64_t fatLength = m_fatLength != 0 ? m_fatLength : firstData - m_fatSector;
    for (Found& f : m_found) {
      const PartitionRecord& e = *f.record;
      if (f.by == FoundBy::FatStructures && e.fileSystem == (m_fatIs32 ? FS_FAT32 : FS_FAT16) &&
          e.sectorsPerCluster == spc && e.geometry48 == firstData) {
        f.record->duplicate |= kFoundAgain;
        return;
      }
    }
    const uint64_t entriesPerSector = m_sectorSize / (m_fatIs32 ? 4 : 2);
    auto r = std::make_unique<PartitionRecord>();
    r->fileSystem = m_fatIs32 ? FS_FAT32 : FS_FAT16;
    r->firstSector = m_fatSector >= fatLength ? m_fatSector - fatLength : m_fatSector;
    // Formatters round the FAT up, so the estimate may pass the end of the source.
    r->totalSectors =
        std::min(spc * fatLength * entriesPerSector,
                 m_source.m_nTotalSectors - std::min(m_source.m_nTotalSectors, r->firstSector));
    r->geometry32 = r->firstSector;
    r->geometry40 = m_fatSector;
    r->geometry48 = firstData;
    r->geometry56 = static_cast<uint32_t>(std::min<uint64_t>(fatLength, UINT32_MAX));
    r->sectorsPerCluster = static_cast<uint16_t>(spc);
    r->bytesPerSector = static_cast<uint16_t>(m_sectorSize);
    r->clusterCount = static_cast<uint32_t>(std::min<uint64_t>(r->totalSectors / spc, UINT32_MAX));
    m_found.push_back(Found{std::move(r), FoundBy::FatStructures});
  }

  // --- End of the walk -----------------------------------------------------------------------

  void Keep(FoundVolumeList& volumes) {
    const uint64_t total = m_source.m_nTotalSectors;
    for (Found& f : m_found) {
      const PartitionRecord& r = *f.record;
      if (r.fileSystem == FS_FAT16 && r.totalSectors > (uint64_t{1} << 32)) continue;
      // FAT12 exists only below 16 MiB, so it has a floor of its own.
      if (r.fileSystem == FS_FAT12 ? f.bytes < kSmallestFoundFat12Bytes
                                   : r.totalSectors < kSmallestFoundVolume) {
        continue;
      }
      if (m_lost && (r.totalSectors > total || r.firstSector > total - r.totalSectors)) continue;
      volumes.push_back(std::move(f.record));
    }
    m_found.clear();
  }

  CDisk& m_source;
  bool m_lost;
  ProgressRecord* m_progress;
  MessageSink& m_sink;
  uint32_t m_sectorSize;

  std::vector<Found> m_found;
  std::vector<std::pair<uint64_t, uint64_t>> m_fatVolumes;  // [start, end) by boot sector
  std::vector<MftCandidate> m_mft;

  bool m_haveFat = false;
  bool m_fatIs32 = false;
  uint64_t m_fatSector = 0;
  uint64_t m_fatLength = 0;
  bool m_haveFolder = false;
  uint64_t m_folderSector = 0;
  uint32_t m_folderCluster = 0;
};

}  // namespace

uint32_t SearchLostVolumes(CDisk& source, uint64_t firstSector, uint64_t sectorCount,
                           ProgressRecord* progress, MessageSink& progressWindow,
                           FoundVolumeList& volumes) {
  return VolumeSearch(source, true, progress, progressWindow)
      .Run(firstSector, sectorCount, volumes);
}

uint32_t SearchFormattedVolume(CDisk& source, ProgressRecord* progress, MessageSink& progressWindow,
                               FoundVolumeList& volumes) {
  return VolumeSearch(source, false, progress, progressWindow)
      .Run(0, source.m_nTotalSectors, volumes);
}

}  // namespace kavo

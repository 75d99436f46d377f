#include "partition/partition_tables.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/bytes.h"

namespace kavo {

namespace {

// Partition-type GUIDs as they are stored (the first three groups little-endian).
constexpr uint8_t kGuidBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                        0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr uint8_t kGuidLdmMetadata[16] = {0xAA, 0xC8, 0x08, 0x58, 0x8F, 0x7E, 0xE0, 0x42,
                                          0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF, 0xB3};
constexpr uint8_t kGuidLdmData[16] = {0xA0, 0x60, 0x9B, 0xAF, 0x31, 0x14, 0x62, 0x4F,
                                      0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD};

uint64_t LoadBe64(const uint8_t* p) {
  return (uint64_t{LoadBe32(p)} << 32) | LoadBe32(p + 4);
}

bool StartsWith(const std::vector<uint8_t>& sector, const char* magic) {
  return std::memcmp(sector.data(), magic, std::strlen(magic)) == 0;
}

bool HasBootSignature(const std::vector<uint8_t>& sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

class TableReader {
 public:
  explicit TableReader(CDisk& source)
      : m_source(source),
        m_sectorSize(source.m_nSectorSize),
        m_sector(std::max<uint32_t>(source.m_nSectorSize, 512)) {}

  std::vector<TableEntry> Read() {
    if (m_sectorSize < 512 || !ReadSector(0, m_sector)) return {};
    if (!HasBootSignature(m_sector)) return {};
    const uint8_t firstType = m_sector[0x1C2];
    if (firstType == 0xEE) {
      ReadGpt(LoadLe32(m_sector.data() + 0x1C6));
    } else if (firstType == 0x42) {
      ReadDynamicDisk();
    } else {
      WalkMbr();
    }
    return std::move(m_entries);
  }

 private:
  // One sector inside the source; false (buffer contents unspecified) otherwise.
  bool ReadSector(uint64_t sector, std::vector<uint8_t>& buffer) {
    if (sector >= m_source.m_nTotalSectors) return false;
    return m_source.ReadSectors(buffer.data(), m_sectorSize, sector);
  }

  void Add(TableScheme scheme, uint8_t type, uint64_t first, uint64_t sectors) {
    if (first >= m_source.m_nTotalSectors || sectors == 0) return;
    m_entries.push_back(TableEntry{scheme, type, first, sectors});
  }

  // The MBR, then the extended boot records. Links of the MBR are absolute, links of an EBR
  // relative to the first extended partition, volumes relative to the table that lists them.
  // A table without a link ends the chain; a table met twice (a link pointing back) ends it
  // too, as does a table outside the source.
  void WalkMbr() {
    uint64_t current = 0;
    uint64_t firstExtended = 0;
    std::set<uint64_t> visited{0};
    for (uint32_t tables = 0; tables < kMaxExtendedTables; ++tables) {
      // Boot indicators other than 0 and 0x80 mean boot code, not a table (a volume that starts
      // at sector 0 also ends its first sector with 0x55 0xAA).
      for (int i = 0; i < 4; ++i) {
        const uint8_t boot = m_sector[0x1BE + 16 * i];
        if (boot != 0 && boot != 0x80) return;
      }
      uint64_t next = 0;
      for (int i = 0; i < 4; ++i) {
        const uint8_t* e = m_sector.data() + 0x1BE + 16 * i;
        const uint8_t type = e[4];
        const uint64_t start = LoadLe32(e + 8);
        const uint64_t count = LoadLe32(e + 12);
        if (type == 0x05 || type == 0x0F || type == 0x85) {
          if (next == 0 && start != 0) next = start + firstExtended;
        } else if (IsMbrVolumeType(type) && start != 0) {
          Add(TableScheme::Mbr, type, start + current, count);
        }
      }
      if (next == 0 || !visited.insert(next).second) return;
      if (firstExtended == 0) firstExtended = next;
      current = next;
      if (!ReadSector(current, m_sector) || !HasBootSignature(m_sector)) return;
      // An extended boot record whose volume entry was deleted may still carry the link on.
      if (m_sector[0x1C2] == 0 && m_sector[0x1D2] == 0) return;
    }
  }

  void ReadGpt(uint64_t headerSector) {
    std::vector<uint8_t> header(m_sector.size());
    if (!ReadSector(headerSector, header) || !StartsWith(header, "EFI PART")) return;
    const uint64_t arrayLba = LoadLe64(header.data() + 0x48);
    uint64_t count = LoadLe32(header.data() + 0x50);
    const uint32_t entryBytes = LoadLe32(header.data() + 0x54);
    // Entries are at least 128 bytes and a multiple of 8; their array must fit the source.
    if (entryBytes < 128 || entryBytes % 8 != 0 || entryBytes > kMaxGptEntryBytes) return;
    count = std::min<uint64_t>(count, kMaxGptArrayBytes / entryBytes);
    if (arrayLba == 0 || arrayLba >= m_source.m_nTotalSectors) return;
    const uint64_t available = (m_source.m_nTotalSectors - arrayLba) * m_sectorSize;
    count = std::min<uint64_t>(count, available / entryBytes);
    if (count == 0) return;
    const uint64_t bytes = count * entryBytes;
    std::vector<uint8_t> array((bytes + m_sectorSize - 1) / m_sectorSize * m_sectorSize);
    if (!m_source.ReadSectors(array.data(), static_cast<uint32_t>(array.size()), arrayLba)) return;

    uint64_t metadataFirst = 0;
    uint64_t metadataSectors = 0;
    for (uint64_t i = 0; i < count; ++i) {
      const uint8_t* e = array.data() + i * entryBytes;
      const uint64_t first = LoadLe64(e + 0x20);
      const uint64_t last = LoadLe64(e + 0x28);
      if (std::memcmp(e, kGuidLdmMetadata, 16) == 0) {
        metadataFirst = first;
        metadataSectors = last >= first ? last - first + 1 : 0;
      } else if (std::memcmp(e, kGuidLdmData, 16) == 0) {
        if (metadataSectors != kLdmConfigSectors || last == 0 || first <= metadataFirst) return;
        ReadLdm(first, metadataFirst);
      } else if (std::memcmp(e, kGuidBasicData, 16) == 0 && last >= first) {
        Add(TableScheme::Gpt, 0, first, last - first + 1);
      }
    }
  }

  // An MBR dynamic disk: the private header at sector 6, or its copy in the last sector.
  void ReadDynamicDisk() {
    std::vector<uint8_t> header(m_sector.size());
    if (!ReadSector(6, header) || !StartsWith(header, "PRIVHEAD")) {
      if (m_source.m_nTotalSectors == 0 || !ReadSector(m_source.m_nTotalSectors - 1, header) ||
          !StartsWith(header, "PRIVHEAD")) {
        return;
      }
    }
    const uint64_t diskStart = LoadBe64(header.data() + 0x11B);
    const uint64_t diskSize = LoadBe64(header.data() + 0x123);
    const uint64_t configStart = LoadBe64(header.data() + 0x12B);
    const uint64_t configSize = LoadBe64(header.data() + 0x133);
    if (configSize != kLdmConfigSectors || diskSize == 0 || diskStart > configStart ||
        diskSize > configStart - diskStart) {
      return;
    }
    ReadLdm(diskStart, configStart);
  }

  // The LDM database: TOCBLOCK, VMDB, then the VBLK records, read no further than the end of
  // the 2048-sector configuration area whatever counts they declare.
  void ReadLdm(uint64_t diskStart, uint64_t configStart) {
    if (configStart >= m_source.m_nTotalSectors) return;
    const uint64_t configEnd =
        std::min<uint64_t>(m_source.m_nTotalSectors, configStart + kLdmConfigSectors);
    std::vector<uint8_t> sector(m_sector.size());
    if (!ReadSector(configStart + 1, sector) || !StartsWith(sector, "TOCBLOCK")) {
      if (!ReadSector(configStart + 2, sector) || !StartsWith(sector, "TOCBLOCK")) return;
    }
    const uint64_t vmdbOffset = LoadBe64(sector.data() + 0x2E);
    if (vmdbOffset == 0 || vmdbOffset >= kLdmConfigSectors) return;
    const uint64_t vmdbSector = configStart + vmdbOffset;
    if (vmdbSector >= configEnd || !ReadSector(vmdbSector, sector) || !StartsWith(sector, "VMDB")) {
      return;
    }
    uint64_t remaining = LoadBe32(sector.data() + 0x04);
    const uint32_t vblkSize = LoadBe32(sector.data() + 0x08);
    if (vblkSize < 0x40 || vblkSize > 512 || 512 % vblkSize != 0) return;

    for (uint64_t s = vmdbSector + 1; s < configEnd && remaining > 0; ++s) {
      if (!ReadSector(s, sector)) return;
      for (uint32_t off = 0; off + vblkSize <= 512 && remaining > 0; off += vblkSize) {
        --remaining;
        ParseVblk(sector.data() + off, vblkSize, diskStart);
      }
    }
  }

  // A partition VBLK: after the variable-length object id and name come the partition's start
  // (relative to the logical disk), its offset in its volume, and its variable-length size.
  void ParseVblk(const uint8_t* v, uint32_t size, uint64_t diskStart) {
    if (std::memcmp(v, "VBLK", 4) != 0 || v[0x13] != 0x33) return;
    uint32_t pos = 0x18;
    for (int field = 0; field < 2; ++field) {  // object id, name
      if (pos >= size) return;
      pos += 1u + v[pos];
    }
    pos += 12;  // flags and reserved bytes before the start
    if (pos + 16 >= size) return;
    const uint64_t start = LoadBe64(v + pos);
    pos += 16;  // start, volume offset
    const uint32_t sizeBytes = v[pos];
    if (sizeBytes == 0 || sizeBytes > 8 || pos + 1 + sizeBytes > size) return;
    uint64_t sectors = 0;
    for (uint32_t i = 0; i < sizeBytes; ++i) sectors = (sectors << 8) | v[pos + 1 + i];
    if (start > UINT64_MAX - diskStart) return;
    Add(TableScheme::Ldm, 0, diskStart + start, sectors);
  }

  CDisk& m_source;
  uint32_t m_sectorSize;
  std::vector<uint8_t> m_sector;
  std::vector<TableEntry> m_entries;
};

}  // namespace

bool IsMbrVolumeType(uint8_t type) {
  switch (type) {
    case 0x01:
    case 0x04:
    case 0x06:
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x0E: return true;
  }
  return false;
}

std::vector<TableEntry> ReadTableEntries(CDisk& source) {
  return TableReader(source).Read();
}

}  // namespace kavo

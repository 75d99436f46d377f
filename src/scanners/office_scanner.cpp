#include "scanners/office_scanner.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/bytes.h"

namespace kavo {

namespace {

// The compound-file signature followed by the header's class id, which is all zero.
constexpr uint8_t kLead[16] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1,
                               0,    0,    0,    0,    0,    0,    0,    0};

constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
// Sector numbers from this value up are markers (end of chain, free, FAT or DIFAT sector).
constexpr uint32_t kFirstMarker = 0xFFFFFFFA;
constexpr uint32_t kEntryBytes = 128;
constexpr uint32_t kNameUnits = 32;

bool Regular(uint32_t sector) {
  return sector < kFirstMarker;
}

struct StreamName {
  std::u16string_view name;
  std::u16string_view extension;
};

// PowerPoint's main stream is "PowerPoint Document"; the form without the blank is accepted too.
constexpr StreamName kStreams[] = {
    {u"WordDocument", u"doc"},       {u"Pictures", u"ppt"}, {u"PowerPoint Document", u"ppt"},
    {u"PowerPointDocument", u"ppt"}, {u"Workbook", u"xls"}, {u"VisioDocument", u"vsd"},
};

}  // namespace

COfficeScan::COfficeScan() {
  m_pSignature = std::make_unique<ScannerSignature>(
      std::initializer_list<uint8_t>{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
}

int COfficeScan::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (std::memcmp(sector, kLead, sizeof kLead) != 0) return 0;
  PositionAtMatch(blockFirstSector, index, true);
  return 1;
}

bool COfficeScan::Field(uint64_t offset, uint32_t* value) {
  const uint32_t ss = SectorSize();
  uint32_t v = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    const uint64_t k = (offset + i) / ss;
    if (k != m_nBuffered) {
      if (StopRequested()) return false;
      if (ReadSourceSector(m_nStartSector + k, m_buffer.data()) != SectorRead::Ok) return false;
      m_nBuffered = k;
    }
    v |= static_cast<uint32_t>(m_buffer[(offset + i) % ss]) << (8 * i);
  }
  *value = v;
  return true;
}

uint64_t COfficeScan::SectorOffset(uint32_t sector) const {
  return (uint64_t{sector} + 1) << m_nShift;
}

bool COfficeScan::FatSector(uint32_t k, uint32_t* sector) {
  if (k < kHeaderFatSectors) return Field(76 + 4 * uint64_t{k}, sector);
  const uint32_t perList = (1u << m_nShift) / 4 - 1;  // the last field links to the next sector
  const uint32_t hops = (k - kHeaderFatSectors) / perList;
  if (hops >= kMaxDifatSectors) {
    *sector = kFreeSector;
    return true;
  }
  uint32_t list = 0;
  if (!Field(68, &list)) return false;
  for (uint32_t h = 0; h < hops && Regular(list); ++h) {
    if (!Field(SectorOffset(list) + 4 * uint64_t{perList}, &list)) return false;
  }
  if (!Regular(list)) {
    *sector = kFreeSector;
    return true;
  }
  return Field(SectorOffset(list) + 4 * uint64_t{(k - kHeaderFatSectors) % perList}, sector);
}

bool COfficeScan::NextInChain(uint32_t sector, uint32_t* next) {
  const uint32_t perFat = (1u << m_nShift) / 4;
  uint32_t fat = 0;
  if (!FatSector(sector / perFat, &fat)) return false;
  if (!Regular(fat)) {
    *next = kEndOfChain;
    return true;
  }
  return Field(SectorOffset(fat) + 4 * uint64_t{sector % perFat}, next);
}

bool COfficeScan::StreamExtension(std::u16string* extension) {
  const uint32_t perSector = (1u << m_nShift) / kEntryBytes;
  uint32_t directory = 0;
  if (!Field(48, &directory)) return false;
  // The directory is a chain of sectors like any stream: its entries run on in the sector the
  // FAT names next, which need not be the following one.
  for (uint32_t e = 0; e < kNamedEntries && Regular(directory); ++e) {
    if (e > 0 && e % perSector == 0) {
      if (!NextInChain(directory, &directory)) return false;
      if (!Regular(directory)) break;
    }
    const uint64_t entry = SectorOffset(directory) + uint64_t{e % perSector} * kEntryBytes;
    char16_t units[kNameUnits];
    for (uint32_t i = 0; i < kNameUnits; i += 2) {
      uint32_t pair = 0;
      if (!Field(entry + 2 * i, &pair)) return false;
      units[i] = static_cast<char16_t>(pair & 0xFFFF);
      units[i + 1] = static_cast<char16_t>(pair >> 16);
    }
    const std::u16string_view name(
        units, static_cast<size_t>(std::find(units, std::end(units), 0) - units));
    for (const StreamName& known : kStreams) {
      if (name == known.name) {
        *extension = known.extension;
        return true;
      }
    }
  }
  extension->clear();
  return true;
}

bool COfficeScan::AllottedSectors(uint64_t* sectors) {
  // The FAT sectors in order: the header's list, then the chain of extra list sectors. The
  // first free or marker entry ends the list.
  uint64_t count = 0;
  uint32_t last = 0;
  bool listed = true;
  for (uint32_t k = 0; k < kHeaderFatSectors && listed; ++k) {
    uint32_t fat = 0;
    if (!Field(76 + 4 * uint64_t{k}, &fat)) return false;
    listed = Regular(fat);
    if (listed) {
      last = fat;
      ++count;
    }
  }
  uint32_t list = 0;
  uint32_t lists = 0;
  if (listed && (!Field(68, &list) || !Field(72, &lists))) return false;
  const uint32_t perList = (1u << m_nShift) / 4 - 1;
  lists = std::min(lists, kMaxDifatSectors);
  for (uint32_t h = 0; listed && h < lists && Regular(list); ++h) {
    const uint64_t at = SectorOffset(list);
    for (uint32_t i = 0; i < perList && listed; ++i) {
      uint32_t fat = 0;
      if (!Field(at + 4 * uint64_t{i}, &fat)) return false;
      listed = Regular(fat);
      if (listed) {
        last = fat;
        ++count;
      }
    }
    if (listed && !Field(at + 4 * uint64_t{perList}, &list)) return false;
  }
  if (count == 0) {
    *sectors = 0;
    return true;
  }

  // The file ends with the last sector the last FAT sector allots; free entries may follow it.
  const uint32_t perFat = (1u << m_nShift) / 4;
  uint32_t used = 0;
  for (uint32_t i = perFat; i > 0 && used == 0; --i) {
    uint32_t entry = 0;
    if (!Field(SectorOffset(last) + 4 * uint64_t{i - 1}, &entry)) return false;
    if (entry != kFreeSector) used = i;
  }
  *sectors = (count - 1) * perFat + used;
  return true;
}

int COfficeScan::ParseFile(uint8_t* sector) {
  if (StopRequested() || LoadLe16(sector + 28) != 0xFFFE) return 0;
  const uint32_t ss = SectorSize();
  m_buffer.assign(sector, sector + ss);
  m_nBuffered = 0;
  // Version 4 files have 4096-byte sectors; the header then fills a whole sector.
  m_nShift = LoadLe16(sector + 30) == 12 ? 12 : 9;

  std::u16string extension;
  if (!StreamExtension(&extension) || extension.empty()) return 0;
  uint64_t sectors = 0;
  if (!AllottedSectors(&sectors) || sectors == 0) return 0;
  const uint64_t length = (sectors + 1) << m_nShift;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + length / ss;
  m_strExtension = std::move(extension);
  return 1;
}

}  // namespace kavo

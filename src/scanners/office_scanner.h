// OLE compound files: Word, Excel, PowerPoint and Visio documents. The compound-file signature
// starts the header; the file is named by the first known stream among the first directory
// entries and measured by the sectors its allocation table (FAT) hands out.
#pragma once

#include <vector>

#include "scanners/base_scanner.h"

namespace kavo {

class COfficeScan final : public CBaseScanner {
 public:
  // Directory entries examined for a stream name.
  static constexpr uint32_t kNamedEntries = 8;
  // FAT sector numbers the header holds; further ones are listed in extra (DIFAT) sectors.
  static constexpr uint32_t kHeaderFatSectors = 109;
  // Extra FAT-list sectors followed at most (with 512-byte sectors they describe some 34 GB).
  static constexpr uint32_t kMaxDifatSectors = 4096;

  COfficeScan();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // The 32-bit field at byte `offset` of the file, read across the source's sectors. False on a
  // stop request or when the sector cannot be read.
  bool Field(uint64_t offset, uint32_t* value);
  // Byte offset of compound-file sector `sector` (the header takes the place before sector 0).
  uint64_t SectorOffset(uint32_t sector) const;
  // The number of the `k`-th FAT sector, from the header's list or the chain of extra sectors.
  bool FatSector(uint32_t k, uint32_t* sector);
  // The FAT entry of compound-file sector `sector`: the next sector of its chain.
  bool NextInChain(uint32_t sector, uint32_t* next);
  // The extension of the first known stream among the first kNamedEntries entries; empty when
  // there is none.
  bool StreamExtension(std::u16string* extension);
  // The sectors the FAT covers up to its last allotted entry, header not included; 0 when the
  // header lists no FAT sector.
  bool AllottedSectors(uint64_t* sectors);

  std::vector<uint8_t> m_buffer;  // one source sector of the file
  uint64_t m_nBuffered = 0;       // which one, counted from the file's first sector
  uint32_t m_nShift = 9;          // log2 of the compound file's sector size
};

}  // namespace kavo

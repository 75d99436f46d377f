#include "scanners/raf_scanner.h"

#include "platform/bytes.h"

namespace kavo {

CRAFScanner::CRAFScanner() {
  m_pSignature = std::make_unique<ScannerSignature>(std::initializer_list<uint8_t>{
      'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 'C', 'C', 'D', '-', 'R', 'A', 'W', ' '});
}

int CRAFScanner::MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) {
  if (!SignatureAtStart(sector)) return 0;
  PositionAtMatch(blockFirstSector, index, false);
  m_strExtension = u"raf";
  return 1;
}

int CRAFScanner::ParseFile(uint8_t* sector) {
  // The raw data's offset and length, and those of a second raw region that some files add.
  const uint64_t rawOffset = LoadBe32(sector + 100);
  const uint64_t rawLength = LoadBe32(sector + 104);
  const uint64_t secondOffset = LoadBe32(sector + 128);
  const uint64_t secondLength = LoadBe32(sector + 132);
  uint64_t length = rawOffset + rawLength;
  if (length == secondOffset || rawLength == secondLength) length += secondLength;
  // The end rule names the sector before the last one; a file shorter than a sector would end
  // before it starts.
  const uint64_t sectors = length / SectorSize();
  if (sectors == 0) return 0;
  m_nLength = static_cast<int64_t>(length);
  m_nEndSector = m_nStartSector + sectors - 1;
  return 1;
}

}  // namespace kavo

#include "scanners/base_scanner.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "scanners/source_reader.h"

namespace kavo {

ScannerSignature::ScannerSignature(std::initializer_list<uint8_t> bytes)
    : m_pBytes(std::make_unique<uint8_t[]>(bytes.size())),
      m_nLength(static_cast<uint8_t>(bytes.size())) {
  std::copy(bytes.begin(), bytes.end(), m_pBytes.get());
}

CBaseScanner::~CBaseScanner() = default;

bool CBaseScanner::CanMatchLeadByte(uint8_t byte) const {
  return m_pSignature && m_pSignature->Length() > 0 && m_pSignature->Bytes()[0] == byte;
}

uint32_t CBaseScanner::SectorSize() const {
  return m_pDisk && m_pDisk->m_nSectorSize != 0 ? m_pDisk->m_nSectorSize : 512;
}

bool CBaseScanner::SignatureAtStart(const uint8_t* sector) const {
  return m_pSignature && std::memcmp(sector, m_pSignature->Bytes(), m_pSignature->Length()) == 0;
}

void CBaseScanner::PositionAtMatch(uint64_t blockFirstSector, uint32_t index, bool toFoundSector) {
  const uint64_t ss = SectorSize();
  if (!m_pDisk) {
    m_nStartSector = index;
    return;
  }
  // Relative moves keep the file pointer's contract with the block read: it ends at the block
  // start (or the found sector) whatever the reads before left it at.
  const int64_t current = static_cast<int64_t>(m_pDisk->Tell() / ss);
  const int64_t distance = static_cast<int64_t>(blockFirstSector) - current;
  int64_t bytes = 0;
  if (!__builtin_mul_overflow(distance, static_cast<int64_t>(ss), &bytes)) {
    m_pDisk->SeekRelative(bytes);
  }
  m_nStartSector = m_pDisk->Tell() / ss + index;
  if (toFoundSector) m_pDisk->SeekRelative(static_cast<int64_t>(index) * static_cast<int64_t>(ss));
}

SectorRead CBaseScanner::ReadSourceSector(uint64_t sector, uint8_t* buffer) {
  if (m_pReader) return m_pReader->ReadSector(sector, buffer);
  if (!m_pDisk) return SectorRead::Failed;
  // Outside a scan there is no window to serve from: the plain sector read.
  SourceReader reader(*m_pDisk, 0);
  return reader.ReadSector(sector, buffer);
}

}  // namespace kavo

#include "scanners/source_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kavo {

namespace {

uint32_t UsableSectorSize(const CDisk& source) {
  return source.m_nSectorSize != 0 ? source.m_nSectorSize : 512;
}

}  // namespace

SourceReader::SourceReader(CDisk& source, uint32_t readAheadBytes)
    : m_source(source),
      m_nSectorSize(UsableSectorSize(source)),
      m_nLimit(source.m_nTotalSectors != 0 ? source.m_nTotalSectors
                                           : std::numeric_limits<uint64_t>::max()),
      m_nReadAheadBytes(readAheadBytes) {}

bool SourceReader::ReadAt(uint8_t* buffer, uint64_t first, uint64_t sectors, uint32_t* got) {
  *got = 0;
  if (!m_source.m_hDevice) return false;
  uint64_t offset = 0;
  if (__builtin_mul_overflow(first, uint64_t{m_nSectorSize}, &offset) ||
      offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    return false;
  }
  if (!m_source.m_hDevice->Seek(static_cast<int64_t>(offset), platform::SeekOrigin::Begin,
                                nullptr)) {
    return false;
  }
  const uint32_t bytes = static_cast<uint32_t>(sectors * m_nSectorSize);
  if (!m_source.m_hDevice->Read(buffer, bytes, got)) return false;
  *got = std::min(*got, bytes);
  return true;
}

void SourceReader::FillWindow(uint64_t first, uint32_t blockSectors) {
  const uint64_t ss = m_nSectorSize;
  const uint64_t windowSectors =
      std::max<uint64_t>(kWindowBytes / ss, blockSectors) / blockSectors * blockSectors;
  m_window.resize(windowSectors * ss);
  m_windowFirst = first;
  m_windowSectors = windowSectors;
  m_windowRead = 0;

  uint8_t* data = m_window.data();
  const uint64_t available = first < m_nLimit ? std::min(windowSectors, m_nLimit - first) : 0;
  uint32_t got = 0;
  if (available == 0) {
    std::memset(data, 0, m_window.size());
  } else if (ReadAt(data, first, available, &got)) {
    m_windowRead = got / ss;
    std::memset(data + got, 0, m_window.size() - got);
  } else {
    // One unreadable sector must cost no more than its own 64 KiB block: read the window again
    // block by block, leaving zeros where a read fails. Scanners then read such a window's
    // sectors from the device themselves, so that they see each failure as it is.
    for (uint64_t b = 0; b < windowSectors; b += blockSectors) {
      uint8_t* block = data + b * ss;
      const uint64_t n = b < available ? std::min<uint64_t>(blockSectors, available - b) : 0;
      if (n == 0 || !ReadAt(block, first + b, n, &got)) got = 0;
      std::memset(block + got, 0, blockSectors * ss - got);
    }
  }
}

const uint8_t* SourceReader::Block(uint64_t first, uint32_t count) {
  if (first < m_windowFirst || first - m_windowFirst > m_windowSectors ||
      m_windowSectors - (first - m_windowFirst) < count) {
    FillWindow(first, count);
  }
  return m_window.data() + (first - m_windowFirst) * m_nSectorSize;
}

SectorRead SourceReader::ReadSector(uint64_t sector, uint8_t* buffer) {
  const uint64_t ss = m_nSectorSize;
  if (sector >= m_nLimit) return SectorRead::PastEnd;
  if (sector >= m_windowFirst && sector - m_windowFirst < m_windowRead) {
    std::memcpy(buffer, m_window.data() + (sector - m_windowFirst) * ss, ss);
    return SectorRead::Ok;
  }
  if (sector >= m_aheadFirst && sector - m_aheadFirst < m_aheadSectors) {
    std::memcpy(buffer, m_ahead.data() + (sector - m_aheadFirst) * ss, ss);
    return SectorRead::Ok;
  }

  const uint64_t aheadSectors = std::max<uint64_t>(m_nReadAheadBytes / ss, 1);
  m_ahead.resize(aheadSectors * ss);
  m_aheadSectors = 0;
  uint32_t got = 0;
  if (ReadAt(m_ahead.data(), sector, std::min(aheadSectors, m_nLimit - sector), &got)) {
    if (got < ss) return SectorRead::PastEnd;
    m_aheadFirst = sector;
    m_aheadSectors = got / ss;
    std::memcpy(buffer, m_ahead.data(), ss);
    return SectorRead::Ok;
  }
  // The long read failed somewhere; the sector itself may still be readable.
  if (!ReadAt(m_ahead.data(), sector, 1, &got)) return SectorRead::Failed;
  if (got < ss) return SectorRead::PastEnd;
  std::memcpy(buffer, m_ahead.data(), ss);
  return SectorRead::Ok;
}

}  // namespace kavo

// The scanner interface of the signature scan: a scanner recognises the first sector of a file
// by its magic bytes and measures the file it starts.
//
// Sector numbers and sector buffers are in units of the source's sector size (512 bytes on most
// sources, 4096 on 4Kn drives); the size limits of the formats are byte counts.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "base/progress.h"
#include "disk/disk.h"

namespace kavo {

class SourceReader;

// A scanner's magic bytes (2 to 16 of them). Every instance of a class carries an equal one.
class ScannerSignature {
 public:
  ScannerSignature(std::initializer_list<uint8_t> bytes);

  const uint8_t* Bytes() const { return m_pBytes.get(); }
  uint8_t Length() const { return m_nLength; }

 private:
  std::unique_ptr<uint8_t[]> m_pBytes;
  uint8_t m_nLength = 0;
};

// What a read of a following sector of a found file gave.
enum class SectorRead : uint8_t {
  Ok,       // the buffer holds the sector
  Failed,   // the read failed; the buffer is as it was
  PastEnd,  // the sector lies beyond the source; the buffer is as it was
};

class CBaseScanner {
 public:
  CBaseScanner() = default;
  CBaseScanner(const CBaseScanner&) = delete;
  CBaseScanner& operator=(const CBaseScanner&) = delete;
  virtual ~CBaseScanner();

  // Tests the sector (source-sector-size bytes) at place `index` of the block that starts at
  // sector `blockFirstSector`; on a match records m_nStartSector and returns nonzero. A
  // non-matching sector leaves the scanner unchanged.
  virtual int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) = 0;
  // Measures the file matched last, whose first sector is in `sector` (the buffer may be reused
  // for following sectors); sets m_nLength, m_nEndSector and m_strExtension and returns nonzero
  // when the file is accepted.
  virtual int ParseFile(uint8_t* sector) = 0;

  // Whether a sector whose first byte is `byte` can match at all. The scan offers a sector only
  // to the scanners that can; scanners that look elsewhere than at offset 0, or that accept more
  // than their signature, answer true for every byte they might match.
  virtual bool CanMatchLeadByte(uint8_t byte) const;

  uint8_t m_bSelected = 0;  // check state in the catalogue: 0 no, 1 yes, 2 partly
  int64_t m_nLength = 0;    // bytes of the file found last
  uint64_t m_nStartSector = 0;
  uint64_t m_nEndSector = 0;
  CDisk* m_pDisk = nullptr;  // the source read and positioned; not owned
  std::u16string m_strExtension;
  std::unique_ptr<ScannerSignature> m_pSignature;

  // Set by the scan for its duration: where stop requests arrive, and the reader that serves
  // following sectors from the blocks already in memory. Both may be null.
  ProgressRecord* m_pProgress = nullptr;
  SourceReader* m_pReader = nullptr;

 protected:
  // Bytes per sector of the bound source (512 when it has not been probed).
  uint32_t SectorSize() const;

  // The common positioning after a match: moves the source's file pointer to the first byte of
  // the block, sets m_nStartSector from the position read back (a failed query counts as 0)
  // plus `index`, and, with `toFoundSector`, moves on to the found sector.
  void PositionAtMatch(uint64_t blockFirstSector, uint32_t index, bool toFoundSector);

  // Reads sector `sector` of the source into `buffer` (SectorSize() bytes).
  SectorRead ReadSourceSector(uint64_t sector, uint8_t* buffer);
  // ReadSourceSector as a function, for the readers that walk a found file.
  std::function<SectorRead(uint64_t, uint8_t*)> SectorReads() {
    return [this](uint64_t sector, uint8_t* buffer) { return ReadSourceSector(sector, buffer); };
  }

  // The stop check between reads: true (and the record left at "stopped") on a stop request.
  bool StopRequested() { return ShouldStop(m_pProgress); }

  // Compares the signature with the start of `sector`.
  bool SignatureAtStart(const uint8_t* sector) const;
};

// The item data of the catalogue's root and category items: matches nothing.
class CDummyScanner final : public CBaseScanner {
 public:
  int MatchSignature(const uint8_t*, uint64_t, uint32_t) override { return 0; }
  int ParseFile(uint8_t*) override { return 0; }
  bool CanMatchLeadByte(uint8_t) const override { return false; }
};

}  // namespace kavo

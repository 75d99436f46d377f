// The TIFF-structured camera RAW family: the byte order of the header, reads of the found file's
// bytes in that order, and the walk over its image file directories that names the file by its
// maker and finds its image data.
#pragma once

#include <vector>

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CTiffBaseScanner : public CBaseScanner {
 public:
  // Directories that start further into the file are not walked.
  static constexpr uint64_t kMaxDirectoryOffset = 314572800;
  // A directory of the walk holds this many entries; others are not directories.
  static constexpr uint32_t kMinEntries = 2;
  static constexpr uint32_t kMaxEntries = 85;
  // Bounds that keep a damaged or cyclic directory graph finite: directories one measure
  // visits, how deeply the walk nests, offsets of one SubIFDs entry followed, and strips or
  // tiles of one directory measured.
  static constexpr uint32_t kMaxDirectories = 256;
  static constexpr uint32_t kMaxDepth = 16;
  static constexpr uint32_t kMaxSubDirectories = 64;
  static constexpr uint32_t kMaxPieces = 1u << 20;

  // Files of the family start with "II" or "MM".
  bool CanMatchLeadByte(uint8_t byte) const override { return byte == 'I' || byte == 'M'; }

 protected:
  // What the header and the walk have made of the file so far; m_strExtension follows it.
  enum class Kind : uint8_t {
    Tiff,
    Cr2,
    Iiq,
    Pef,
    Richo,
    Dng,
    Nef,
    Arw,
    ThreeFr,
    Sr2,
    Mef,
    Sony100,
    Orf,
    Raw,
    Crw,
  };

  // One directory entry: its fields and where its value field lies in the file.
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t field = 0;  // the value field as a number in the file's byte order
    uint64_t at = 0;     // offset of the value field
  };

  CTiffBaseScanner();

  // "MM" or "II" at the sector's start; sets m_nLittleEndian.
  bool ByteOrderTest(const uint8_t* sector);
  void SetKind(Kind kind);
  Kind CurrentKind() const { return m_kind; }

  // Starts reading the file matched last, whose first sector is `sector`.
  void BeginFile(const uint8_t* sector);
  // Bytes of the file at `offset` from its first byte, read sector by sector through the source.
  // False when they lie beyond the source; a sector that fails to read counts as zeros.
  bool ReadBytes(uint64_t offset, uint8_t* out, uint32_t count);
  bool ReadU16(uint64_t offset, uint32_t* value);  // in the file's byte order
  bool ReadU32(uint64_t offset, uint32_t* value);
  // Bytes from the file's first byte to the end of the source.
  uint64_t BytesInSource() const;

  // Walks the directory at `offset` and those it leads to, naming the file and setting the
  // data offset and byte count. False when the directory is no directory or a stop was
  // requested.
  bool WalkDirectory(uint64_t offset);
  // The end of the furthest byte that the directory graph from `offset` references: each
  // directory with its next-directory pointer, every value stored outside its entry, every
  // strip, tile and embedded JPEG, through the next-directory chain and the SubIFDs, Exif, GPS
  // and interoperability directories. References past the end of the source are left out.
  // False on a stop request.
  bool ReferencedEnd(uint64_t offset, uint64_t* end);
  // The walker's fields back to their state after construction.
  void ClearWalker();

  int64_t m_nDataOffset = 0;
  int64_t m_nDataByteCount = 0;
  int64_t m_nSubDirOffset = 0;
  int64_t m_nExifDirOffset = 0;
  uint32_t m_nSubDirCount = 0;
  uint32_t m_nLittleEndian = 0;

 private:
  bool Walk(uint64_t offset, uint32_t depth);
  bool ReadEntry(uint64_t offset, Entry* entry);
  // Value `i` of an integer entry (inline when it fits in the value field).
  bool EntryValue(const Entry& entry, uint32_t i, uint32_t* value);
  void TestMaker(const Entry& entry);
  void TestModel(const Entry& entry);
  bool Visit(uint64_t offset);

  Kind m_kind = Kind::Tiff;
  WalkReader m_file;
  std::vector<uint64_t> m_visited;  // directories walked by the current walk
};

}  // namespace kavo

// ZIP and the packages built on it (OpenDocument, Office Open XML, Java and Android archives, the
// camera "EIP" package). The first entry's name gives the extension; a walk over the archive's
// records, from the first local header to the end-of-central-directory record and its comment,
// gives the length.
#pragma once

#include <string>
#include <vector>

#include "scanners/base_scanner.h"
#include "scanners/walk_reader.h"

namespace kavo {

class CZipScanner final : public CBaseScanner {
 public:
  // How far the data of an entry written without sizes (the sizes follow it in a data
  // descriptor) is searched for its descriptor: a 32-bit descriptor cannot describe more, and
  // an entry marked as zip64 is sought further.
  static constexpr uint64_t kMaxStreamedBytes = uint64_t{1} << 32;
  static constexpr uint64_t kMaxStreamedZip64Bytes = uint64_t{1} << 36;

  CZipScanner();
  int MatchSignature(const uint8_t* sector, uint64_t blockFirstSector, uint32_t index) override;
  int ParseFile(uint8_t* sector) override;

 private:
  // What the walk learns from a local file header.
  struct LocalEntry {
    uint64_t next = 0;  // offset of the record after the entry and its descriptor
    std::string name;   // the first 256 bytes of the name at most
  };

  // `count` bytes at `offset` of the file, across sector ends. False on a stop request or when
  // the source ends before them; a sector that cannot be read is taken as zeros.
  bool Read(uint64_t offset, uint8_t* out, uint32_t count);
  bool Read16(uint64_t offset, uint16_t* value);
  bool Read64(uint64_t offset, uint64_t* value);

  // Measures the entry whose local header is at `offset`.
  bool WalkLocalEntry(uint64_t offset, bool wantName, LocalEntry* entry);
  // Looks for a zip64 field among a local header's extra fields: sets `*zip64`, and replaces
  // `*compressed` when it holds the 32-bit marker. False when the fields cannot be read.
  bool Zip64CompressedSize(uint64_t extraStart, uint16_t extraLength, uint32_t uncompressed,
                           uint64_t* compressed, bool* zip64);
  // Searches the data that starts at `dataStart` for the descriptor that closes it, up to
  // `limit` bytes on; `stored` data is held as it is, other data is compressed or encrypted.
  bool FindDescriptor(uint64_t dataStart, bool stored, uint64_t limit, uint64_t* next);
  // Whether a data descriptor for the data from `dataStart` starts at `at`, with its signature
  // or without one (`width` bytes long), and a record follows it; sets `*next` past it. The
  // sizes must give the distance from `dataStart`, in the 32-bit or the zip64 form.
  bool SignedDescriptorAt(uint64_t dataStart, uint64_t at, bool stored, uint64_t* next);
  bool UnsignedDescriptorAt(uint64_t dataStart, uint64_t at, uint32_t width, bool stored,
                            uint64_t* next);
  // Whether a record the walk knows starts at `offset`.
  bool RecordAt(uint64_t offset);
  // The end of an Android signing block at `offset`, which lies between the entries and the
  // central directory.
  bool SigningBlockAt(uint64_t offset, uint64_t* next);

  // The file's sectors; a stop request reads as the source's end.
  WalkReader m_file;
};

}  // namespace kavo

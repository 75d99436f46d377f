// Turning the bytes of FAT12, FAT16, FAT32 and exFAT folders into ScanEntry children of the folder.
//
// Everything read here is untrusted: entries are taken only when their fields fit the volume, and
// names are kept as they are on the disk (the output side makes them safe as file names).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/volume_params.h"
#include "recovery/tree.h"

namespace kavo {

// How the parse of a piece of folder data ended.
enum class FolderParse {
  More,     // the folder may go on in its next piece
  End,      // the end of the folder was reached
  Stopped,  // a stop request was honoured
};

// Parses the data of one FAT12, FAT16 or FAT32 folder, piece by piece in disk order; a long name
// may run on from one piece into the next. The children are prepended to `folder`, so they end up
// in reverse order of their position.
class FatFolderParser {
 public:
  FatFolderParser(uint8_t fileSystem, const VolumeParams& volume, ScanEntry& folder);

  // Parses whole 32-byte entries of the next piece. In the first piece a leading volume label is
  // skipped, and so are the "." and ".." entries a subfolder begins with. Returns End or More.
  FolderParse Parse(std::span<const uint8_t> piece);

 private:
  struct LongNamePiece {
    char16_t units[13];
    uint8_t count;
    uint8_t checksum;
    bool deleted;
  };

  void ParseEntry(const uint8_t* entry);
  void AddLongNamePiece(const uint8_t* entry);
  bool TakeLongName(const uint8_t* entry, std::u16string& name) const;

  uint8_t m_fileSystem;
  const VolumeParams& m_volume;
  ScanEntry& m_folder;
  bool m_first = true;
  std::vector<LongNamePiece> m_longName;  // in disk order: the name's last part first
};

// Parses one buffer as the whole data of `folder` (a single cluster, or the FAT12/16 root area).
// Returns End or More.
FolderParse ParseFatFolder(std::span<const uint8_t> buffer, uint8_t fileSystem,
                           const VolumeParams& volume, ScanEntry& folder);

// True when the data begins with the "." and ".." entries of a subfolder.
bool HasDotEntries(std::span<const uint8_t> data);

// The checksum of an 11-byte short name that its long-name entries carry.
uint8_t ShortNameChecksum(const uint8_t* name);

// The progress of an exFAT listing, shared by the parsers of all its folders: the percentage is
// the largest first cluster met so far over the cluster count, at most 90.
struct ExfatProgress {
  ProgressRecord* record = nullptr;
  MessageSink* window = nullptr;
  uint32_t largestCluster = 0;
  uint32_t lastPercent = 0;
};

// The valid data lengths of the files of one exFAT folder whose valid data length is below their
// size (the bytes past it were never written, and read as zeros), by first cluster, size and
// name.
using ExfatValidLengths = std::map<std::tuple<uint32_t, uint64_t, std::u16string>, uint64_t>;

// Parses the data of one exFAT folder, piece by piece in disk order; entry sets may run on from
// one piece into the next. Kept files are prepended to `folder`; a folder child whose first
// cluster equals that of an earlier one is merged into it. A file's size is its data length;
// when `validLengths` is given, the kept files with a shorter valid data length are noted there.
class ExfatFolderParser {
 public:
  ExfatFolderParser(const VolumeParams& volume, ScanEntry& folder, ExfatProgress& progress,
                    ExfatValidLengths* validLengths = nullptr);

  // Returns More, End (a file entry with impossible attributes) or Stopped.
  FolderParse Parse(std::span<const uint8_t> piece);

 private:
  FolderParse FinishSet();

  const VolumeParams& m_volume;
  ScanEntry& m_folder;
  ExfatProgress& m_progress;
  ExfatValidLengths* m_validLengths;
  uint64_t m_offset = 0;  // folder offset of the next entry
  uint64_t m_skipTo = 0;  // entries before this offset are passed over (rest of a cluster)
  std::unordered_map<uint32_t, ScanEntry*> m_folders;  // folder children by first cluster

  // The entry set being collected.
  bool m_inSet = false;
  bool m_setInUse = false;
  bool m_haveStream = false;
  uint8_t m_remaining = 0;
  uint8_t m_flags = 0;
  uint8_t m_nameLength = 0;
  uint16_t m_createdDate = 0;
  uint16_t m_modifiedDate = 0;
  uint32_t m_firstCluster = 0;
  uint64_t m_size = 0;
  uint64_t m_validLength = 0;
  std::u16string m_name;
};

// Parses one buffer as the whole data of `folder`.
FolderParse ParseExfatFolder(std::span<const uint8_t> buffer, const VolumeParams& volume,
                             ScanEntry& folder, ExfatProgress& progress);

}  // namespace kavo

// Scan-info files (.qsv): a result tree with what is needed to reopen its source, so a long scan
// can be saved and its files recovered later without scanning again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/prompter.h"
#include "recovery/tree.h"

namespace kavo {

class CDisk;

inline constexpr uint8_t kScanInfoMagic[8] = {0x4A, 0x50, 0x47, 0x56, 0x53, 0x33, 0x00, 0x00};

struct ScanInfoHeader {
  uint8_t operation = 0;   // kOpPartitionRecovery, kOpFormattedRecovery, kOpDeletedRecovery
  uint8_t sourceKind = 0;  // SourceKind of the scanned source
  std::u16string sourceName;
  uint64_t sourceSize = 0;  // bytes
  uint8_t fileSystem = 0;   // FileSystemCode
  // Kept in a trailer after the nodes, which readers of the plain format never look at: where
  // the volume starts on its source, so a scan of a whole disk can be reopened on the same disk.
  std::optional<uint64_t> startSector;
};

// The header of a scan of `source` made by `operation` (kOpDeletedRecovery ...), the same from
// kavo-cli and from the program: the source's kind (Partition for a volume in an image file),
// name, size and file system, and the start sector of its volume, so that loading the scan opens
// the same volume again. Without a source, only the operation.
ScanInfoHeader ScanInfoHeaderFor(uint32_t operation, const CDisk* source);

struct LoadedScanInfo {
  ScanInfoHeader header;
  NodePtr root;  // "Root" (flags 3, nameLength 8) with the stored nodes, marks 0
};

// Writes the header and every node below `root` (children of a folder together, folders in
// depth-first order). False, after telling the user through `prompter`, when the file cannot be
// created or a write fails.
bool SaveScanInfo(const std::filesystem::path& path, const ScanInfoHeader& header,
                  const RecoveredNode* root, Prompter& prompter);

// Reads a scan-info file. With `currentOperation` set, a file saved under another operation is
// refused with the message that names it. A truncated or damaged file gives the nodes it holds:
// nodes past its end are empty and end their group. Nothing (after any message) on failure.
std::optional<LoadedScanInfo> LoadScanInfo(const std::filesystem::path& path,
                                           std::optional<uint8_t> currentOperation,
                                           Prompter& prompter);

// The selector of the source a loaded scan came from, rebuilt from its stored name: the path of
// an image file, "%c:" for a volume, "%c" for a drive number, empty when it cannot be told.
std::u16string ScanInfoSelector(const ScanInfoHeader& header);

// `path` with `extension` (".qsv", ".psi") appended unless it ends with exactly that text.
std::filesystem::path WithExtension(const std::filesystem::path& path,
                                    std::u16string_view extension);

}  // namespace kavo

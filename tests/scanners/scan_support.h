// Sources in memory for the scan tests: a sparse byte layout over a zero background (so that
// sources of hundreds of MiB cost nothing), opened as a CDisk, with the device's reads recorded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "recovery/tree.h"
#include "scanners/base_scanner.h"
#include "support/recording_sink.h"

namespace kavo::test {

struct MemorySource {
  uint64_t length = 0;
  uint32_t sectorSize = 512;  // reads of other multiples fail, as on a 4Kn drive
  std::map<uint64_t, std::vector<uint8_t>> pieces;  // offset -> bytes; must not overlap
  std::function<bool(uint64_t offset, uint32_t bytes)> failRead;

  // What the device saw.
  uint64_t reads = 0;
  uint64_t readsPastEnd = 0;  // reads that asked for bytes beyond `length`

  void Put(uint64_t offset, std::vector<uint8_t> bytes) { pieces[offset] = std::move(bytes); }
  void PutSector(uint64_t sector, std::vector<uint8_t> bytes) {
    Put(sector * sectorSize, std::move(bytes));
  }
};

// Opens `source` (which must outlive the disk) as an image file.
std::unique_ptr<CDisk> OpenMemory(MemorySource& source);

// A found file as the tree holds it.
struct Found {
  std::u16string folder;
  std::u16string name;
  uint64_t size = 0;
  uint64_t location = 0;
  uint64_t endSector = 0;
};

// The files below "FileType", folder by folder in tree order.
std::vector<Found> FoundFiles(const RecoveredNode* fileType);
// The names of the extension folders, in tree order.
std::vector<std::u16string> FolderNames(const RecoveredNode* fileType);

// A deterministic random byte run.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);

// A real file laid in a carving source, and what the scan should make of it.
struct LaidFile {
  std::string label;           // for failure messages
  std::vector<uint8_t> bytes;  // the file
  std::u16string folder;       // the extension the scan names it with
  uint64_t extraBytes = 0;     // bytes the format's end rule records past the file's end
  uint64_t sector = 0;         // set by LayAndScan: where the source holds it
};

// Lays `files` at sector boundaries of a sparse source, each followed by random bytes up to its
// sector's end and then alternately by a zero run and a random run (random bytes first too),
// scans the source with `scanners` (in registry order) and returns the files found, sorted by
// location. `source` is kept for content checks.
std::vector<Found> LayAndScan(std::vector<LaidFile>& files,
                              std::vector<std::unique_ptr<CBaseScanner>> scanners,
                              MemorySource& source, uint32_t seed = 7);

// Expects each file found exactly once, at its sector, under its folder, with its length plus
// its extra bytes, and nothing else found.
void ExpectFoundWhole(const std::vector<LaidFile>& files, const std::vector<Found>& found);

// Runs `command` (a shell line) in `folder` and returns the bytes of `output` there, or nothing
// when the command failed or wrote no such file.
std::vector<uint8_t> MakeFile(const std::filesystem::path& folder, const std::string& command,
                              const std::string& output);

}  // namespace kavo::test

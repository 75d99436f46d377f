// The map of a copy: which bytes of the source are rescued, bad or still to be read, in the
// plain-text mapfile layout that other rescue tools read and write (comment lines starting with
// '#', a "position status pass" line, then one "pos size status" line per block, numbers in hex
// or decimal). The blocks cover [0, size) with no gaps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace kavo {

enum class BlockStatus : char {
  NonTried = '?',
  NonTrimmed = '*',
  NonScraped = '/',
  Bad = '-',
  Finished = '+',
};

// The phase a copy is in, written as the map's current status.
enum class CopyPhase : char {
  Copying = '?',
  Trimming = '*',
  Scraping = '/',
  Retrying = '-',
  Filling = 'F',
  Finished = '+',
};

struct MapBlock {
  uint64_t begin = 0;
  uint64_t end = 0;  // one past the last byte
  BlockStatus status = BlockStatus::NonTried;
};

class RescueMap {
 public:
  RescueMap() = default;
  // A map of `size` bytes, all non-tried.
  explicit RescueMap(uint64_t size);

  uint64_t Size() const { return m_size; }
  // Marks [begin, end) (clamped to the map) with `status`, merging equal neighbours.
  void Set(uint64_t begin, uint64_t end, BlockStatus status);
  // Cuts the map to its first `size` bytes.
  void Truncate(uint64_t size);
  // The block holding byte `at` (at < Size()).
  MapBlock BlockAt(uint64_t at) const;
  // The first block of `status` that ends after `from` and begins before `limit`, cut to
  // [from, limit); false when there is none.
  bool NextBlock(BlockStatus status, uint64_t from, uint64_t limit, MapBlock* out) const;
  // The last block of `status` that begins before `limit` and ends after `from`, cut to
  // [from, limit).
  bool PreviousBlock(BlockStatus status, uint64_t from, uint64_t limit, MapBlock* out) const;
  // Bytes of `status` inside [from, limit), and how many separate blocks of it touch that range.
  uint64_t Bytes(BlockStatus status, uint64_t from, uint64_t limit) const;
  uint64_t Blocks(BlockStatus status, uint64_t from, uint64_t limit) const;

  CopyPhase phase = CopyPhase::Copying;
  uint64_t position = 0;
  int pass = 1;

  // The text of the map, with a comment header naming the program.
  std::string Text() const;
  // Reads a map's text. Blocks must follow each other from 0 without gaps or overlaps, with a
  // known status; a missing position line or pass is tolerated. False (with `why`) otherwise.
  bool Parse(const std::string& text, std::string* why);

  // Writes the map to `path` through a new file next to it that is flushed to the disk and then
  // renamed over the old one, so a crash leaves either map whole.
  bool Save(const std::filesystem::path& path) const;
  bool Load(const std::filesystem::path& path, std::string* why);

 private:
  // Block begin -> status; each block ends where the next begins, the last at m_size.
  std::map<uint64_t, BlockStatus> m_blocks;
  uint64_t m_size = 0;
  uint64_t EndOf(std::map<uint64_t, BlockStatus>::const_iterator it) const;
  void Split(uint64_t at);
};

// The map file of an image when none is named: the image path with ".map" appended.
std::filesystem::path DefaultMapPath(const std::filesystem::path& image);

}  // namespace kavo

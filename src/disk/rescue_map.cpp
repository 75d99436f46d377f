#include "disk/rescue_map.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kavo {

namespace {

constexpr std::string_view kStatuses = "?*/-+";
constexpr std::string_view kPhases = "?*/-FG+";
// A map longer than this is not one of ours nor a sane foreign one.
constexpr uint64_t kMaxMapBytes = uint64_t{256} << 20;

bool ParseNumber(const std::string& token, uint64_t* out) {
  if (token.empty() || !std::isdigit(static_cast<unsigned char>(token[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(token.c_str(), &end, 0);
  if (errno != 0 || end != token.c_str() + token.size()) return false;
  *out = value;
  return true;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08" PRIX64, value);
  return text;
}

}  // namespace

RescueMap::RescueMap(uint64_t size) : m_size(size) {
  if (size > 0) m_blocks[0] = BlockStatus::NonTried;
}

uint64_t RescueMap::EndOf(std::map<uint64_t, BlockStatus>::const_iterator it) const {
  const auto next = std::next(it);
  return next == m_blocks.end() ? m_size : next->first;
}

void RescueMap::Split(uint64_t at) {
  if (at == 0 || at >= m_size) return;
  auto it = m_blocks.upper_bound(at);
  --it;
  if (it->first != at) m_blocks.emplace(at, it->second);
}

void RescueMap::Set(uint64_t begin, uint64_t end, BlockStatus status) {
  end = std::min(end, m_size);
  if (begin >= end) return;
  Split(begin);
  Split(end);
  m_blocks.erase(m_blocks.lower_bound(begin), m_blocks.lower_bound(end));
  m_blocks[begin] = status;
  // Merge with the neighbours of the same status.
  auto it = m_blocks.find(begin);
  const auto next = std::next(it);
  if (next != m_blocks.end() && next->second == status) m_blocks.erase(next);
  if (it != m_blocks.begin() && std::prev(it)->second == status) m_blocks.erase(it);
}

void RescueMap::Truncate(uint64_t size) {
  if (size >= m_size) return;
  m_blocks.erase(m_blocks.lower_bound(size), m_blocks.end());
  m_size = size;
  position = std::min(position, size);
}

MapBlock RescueMap::BlockAt(uint64_t at) const {
  auto it = m_blocks.upper_bound(at);
  if (it == m_blocks.begin()) return {};
  --it;
  return {it->first, EndOf(it), it->second};
}

bool RescueMap::NextBlock(BlockStatus status, uint64_t from, uint64_t limit, MapBlock* out) const {
  if (from >= limit) return false;
  auto it = m_blocks.upper_bound(from);
  if (it != m_blocks.begin()) --it;
  for (; it != m_blocks.end() && it->first < limit; ++it) {
    const uint64_t end = EndOf(it);
    if (it->second == status && end > from) {
      *out = {std::max(it->first, from), std::min(end, limit), status};
      return true;
    }
  }
  return false;
}

bool RescueMap::PreviousBlock(BlockStatus status, uint64_t from, uint64_t limit,
                              MapBlock* out) const {
  if (from >= limit) return false;
  auto it = m_blocks.lower_bound(limit);
  while (it != m_blocks.begin()) {
    --it;
    const uint64_t end = EndOf(it);
    if (end <= from) return false;
    if (it->second == status) {
      *out = {std::max(it->first, from), std::min(end, limit), status};
      return true;
    }
  }
  return false;
}

uint64_t RescueMap::Bytes(BlockStatus status, uint64_t from, uint64_t limit) const {
  uint64_t total = 0;
  MapBlock block;
  for (uint64_t at = from; NextBlock(status, at, limit, &block); at = block.end) {
    total += block.end - block.begin;
  }
  return total;
}

uint64_t RescueMap::Blocks(BlockStatus status, uint64_t from, uint64_t limit) const {
  uint64_t count = 0;
  MapBlock block;
  for (uint64_t at = from; NextBlock(status, at, limit, &block); at = block.end) ++count;
  return count;
}

std::string RescueMap::Text() const {
  std::string text = "# Mapfile. Created by Kavo\n# current_pos  current_status  current_pass\n";
  text += Hex(position) + "     " + static_cast<char>(phase) + "               " +
          std::to_string(pass) + "\n#      pos        size  status\n";
  for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it) {
    text += Hex(it->first) + "  " + Hex(EndOf(it) - it->first) + "  " +
            static_cast<char>(it->second) + "\n";
  }
  return text;
}

bool RescueMap::Parse(const std::string& text, std::string* why) {
  std::istringstream lines(text);
  std::string line;
  bool sawStatus = false;
  std::map<uint64_t, BlockStatus> blocks;
  uint64_t next = 0;
  CopyPhase newPhase = CopyPhase::Copying;
  uint64_t newPosition = 0;
  int newPass = 1;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string a, b, c, extra;
    words >> a >> b >> c >> extra;
    if (a.empty()) continue;
    const auto fail = [&](const std::string& what) {
      if (why) *why = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    uint64_t pos = 0;
    if (!ParseNumber(a, &pos)) return fail("not a position");
    uint64_t size = 0;
    if (!sawStatus && blocks.empty() && !ParseNumber(b, &size)) {
      // The position line: where the copy was, its phase and, in newer maps, its pass.
      if (b.size() != 1 || kPhases.find(b[0]) == std::string_view::npos) {
        return fail("unknown phase");
      }
      uint64_t passNumber = 1;
      if (!c.empty() && (!ParseNumber(c, &passNumber) || passNumber > 1000)) {
        return fail("not a pass number");
      }
      sawStatus = true;
      newPosition = pos;
      newPhase = static_cast<CopyPhase>(b[0]);
      newPass = static_cast<int>(std::max<uint64_t>(1, passNumber));
      continue;
    }
    if (!ParseNumber(b, &size) || c.size() != 1 || !extra.empty()) return fail("not a block");
    if (kStatuses.find(c[0]) == std::string_view::npos) return fail("unknown block status");
    if (pos != next) return fail("the blocks leave a gap or overlap");
    if (size == 0) continue;
    if (__builtin_add_overflow(pos, size, &next)) return fail("a block runs past 2^64");
    const BlockStatus status = static_cast<BlockStatus>(c[0]);
    if (!blocks.empty() && std::prev(blocks.end())->second == status) continue;
    blocks[pos] = status;
  }
  m_blocks = std::move(blocks);
  m_size = next;
  phase = newPhase;
  position = std::min(newPosition, m_size);
  pass = newPass;
  return true;
}

bool RescueMap::Save(const std::filesystem::path& path) const {
  std::filesystem::path fresh = path;
  fresh += ".new";
  const std::string text = Text();
#ifdef _WIN32
  FILE* file = _wfopen(fresh.c_str(), L"wb");
#else
  FILE* file = std::fopen(fresh.c_str(), "wb");
#endif
  if (!file) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
#ifdef _WIN32
  ok = ok && _commit(_fileno(file)) == 0;
#else
  ok = ok && fsync(fileno(file)) == 0;
#endif
  ok = std::fclose(file) == 0 && ok;
  std::error_code ec;
  if (ok) std::filesystem::rename(fresh, path, ec);
  if (!ok || ec) {
    std::filesystem::remove(fresh, ec);
    return false;
  }
  return true;
}

bool RescueMap::Load(const std::filesystem::path& path, std::string* why) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxMapBytes) {
    if (why) *why = ec ? ec.message() : "the map is too large";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    if (why) *why = "the map cannot be read";
    return false;
  }
  return Parse(text.str(), why);
}

std::filesystem::path DefaultMapPath(const std::filesystem::path& image) {
  std::filesystem::path map = image;
  map += ".map";
  return map;
}

}  // namespace kavo

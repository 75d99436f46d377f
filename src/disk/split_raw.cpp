// Split raw: "name.001", "name.002", ... hold one raw disk cut into pieces, read end to end.
#include <string>
#include <vector>

#include "disk/container.h"
#include "disk/container_reads.h"
#include "platform/text.h"

namespace kavo {

namespace {

// Pieces are numbered from 001; a name with more pieces than this is refused.
constexpr uint32_t kMaxPieces = 9999;
// After the last piece found, this many further numbers are looked at for a gap in the row.
constexpr uint32_t kGapLookahead = 2;

struct Piece {
  std::unique_ptr<platform::RawDevice> device;
  uint64_t start = 0;  // byte offset of the piece within the disk
  uint64_t size = 0;
};

// The path of piece `number` of the image whose first piece is `first`: "disk.001" gives
// "disk.002"; the digits widen past 999.
std::u16string PiecePath(const std::u16string& first, uint32_t number) {
  std::u16string digits = platform::Widen(std::to_string(number));
  while (digits.size() < 3) digits.insert(digits.begin(), u'0');
  return first.substr(0, first.size() - 3) + digits;
}

bool EndsWith001(const std::u16string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, u".001") == 0;
}

class SplitRawDisk final : public VirtualDisk {
 public:
  std::string Load(ContainerFile file) {
    m_pieces.push_back({std::move(file.device), 0, file.size});
    uint64_t total = file.size;
    uint32_t number = 2;
    for (; number <= kMaxPieces; ++number) {
      platform::OpenResult opened =
          (*file.opener)(PiecePath(file.path, number), platform::OpenMode::Read);
      if (!opened.device) break;
      uint64_t size = 0;
      if (!opened.device->GetLength(platform::DeviceType::ImageFile, &size)) {
        return "piece " + Name(file.path, number) + " of the split image cannot be read (" +
               platform::ErrorText(opened.device->LastError()) + ")";
      }
      m_pieces.push_back({std::move(opened.device), total, size});
      total += size;
    }
    for (uint32_t later = number + 1; later <= number + kGapLookahead; ++later) {
      if ((*file.opener)(PiecePath(file.path, later), platform::OpenMode::Read).device) {
        return "piece " + Name(file.path, number) + " of the split image is missing";
      }
    }
    m_nVirtualSize = total;
    m_format = "raw (" + std::to_string(m_pieces.size()) + " pieces)";
    return {};
  }

 protected:
  bool ReadAt(uint64_t offset, uint8_t* buffer, uint32_t bytes,
              platform::ErrorCode* error) override {
    // The last piece that starts at or before the offset.
    size_t index =
        m_nLastPiece < m_pieces.size() && m_pieces[m_nLastPiece].start <= offset ? m_nLastPiece : 0;
    while (bytes > 0) {
      while (index + 1 < m_pieces.size() && m_pieces[index + 1].start <= offset) ++index;
      const Piece& piece = m_pieces[index];
      const uint64_t within = offset - piece.start;
      if (within >= piece.size) {
        *error = platform::FaultCode(platform::Fault::Read);
        return false;
      }
      const auto step = static_cast<uint32_t>(std::min<uint64_t>(bytes, piece.size - within));
      if (!containers::ReadExact(*piece.device, within, buffer, step, error)) return false;
      offset += step;
      buffer += step;
      bytes -= step;
    }
    m_nLastPiece = index;
    return true;
  }

 private:
  static std::string Name(const std::u16string& first, uint32_t number) {
    const std::u16string path = PiecePath(first, number);
    const size_t slash = path.find_last_of(u"/\\");
    return platform::Utf16ToUtf8(slash == std::u16string::npos ? path : path.substr(slash + 1));
  }

  std::vector<Piece> m_pieces;
  size_t m_nLastPiece = 0;
};

}  // namespace

bool IsSplitRaw(const ContainerFile& file) {
  // Pieces are files, never devices.
  return EndsWith001(file.path) && file.opener &&
         platform::ClassifyPath(file.path) == platform::PathKind::RegularFile &&
         (*file.opener)(PiecePath(file.path, 2), platform::OpenMode::Read).device != nullptr;
}

ContainerOpen OpenSplitRaw(ContainerFile file) {
  auto disk = std::make_unique<SplitRawDisk>();
  std::string reason = disk->Load(std::move(file));
  if (!reason.empty()) return {nullptr, reason};
  return {std::move(disk), {}};
}

}  // namespace kavo

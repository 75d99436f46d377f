#include "copy/copy_setup.h"

#include <cstdio>

#include "platform/text.h"

namespace kavo {

namespace {

// A plain decimal number as a signed 64-bit value would hold it: digits only, below 2^63.
std::optional<uint64_t> ParseSectorNumber(const std::u16string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - u'0');
  }
  if (value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return value;
}

}  // namespace

std::u16string CheckCloneSelection(std::optional<int> source, std::optional<int> destination) {
  if (!source) return u"Please select a source drive.";
  if (!destination) return u"Please select a destination drive.";
  if (*source == *destination) return kSameSourceAndDestination;
  return {};
}

CloneRange CheckCloneRange(const std::u16string& sourceStart,
                           const std::u16string& destinationStart, const std::u16string& count,
                           uint64_t sourceSectors, uint64_t destinationSectors) {
  CloneRange range;
  if (sourceStart.empty()) {
    range.message = u"Please enter the value for starting sector no. of source drive.";
    return range;
  }
  if (destinationStart.empty()) {
    range.message = u"Please enter the value for destination sector no. of destination drive.";
    return range;
  }
  const auto start = ParseSectorNumber(sourceStart);
  if (!start || *start > sourceSectors) {
    range.message = u"Please enter valid sector number.";
    return range;
  }
  const auto target = ParseSectorNumber(destinationStart);
  if (!target || *target > destinationSectors) {
    range.message = u"Please enter valid destination number.";
    return range;
  }
  if (count.empty()) {
    range.message = u"Please enter the no. of sectors to copy.";
    return range;
  }
  const auto n = ParseSectorNumber(count);
  // A range past the end of the source would be read as unreadable sectors and filled in.
  if (!n || *n == 0 || *n > sourceSectors || *n > sourceSectors - *start) {
    range.message = u"Please enter valid number of sectors to be copied.";
    return range;
  }
  if (*n > destinationSectors - *target) {
    range.message = kInsufficientSpace;
    return range;
  }
  range.sourceStart = *start;
  range.destinationStart = *target;
  range.sourceEnd = *start + *n;
  return range;
}

std::u16string CheckCloneSectorSizes(uint32_t source, uint32_t destination) {
  return source != destination ? kDifferentSectorSizes : std::u16string();
}

std::u16string CheckCloneSpace(uint64_t sourceBytes, uint64_t destinationBytes) {
  return sourceBytes > destinationBytes ? kInsufficientSpace : std::u16string();
}

std::u16string CheckImageSelection(bool sourceChosen, const std::u16string& path) {
  if (!sourceChosen) return u"Please select a drive.";
  if (path.empty()) return u"Please select a destination path.";
  return {};
}

std::u16string CheckImageSpace(uint64_t sourceBytes, uint64_t freeBytes) {
  return sourceBytes > freeBytes ? kInsufficientSpace : std::u16string();
}

std::optional<uint64_t> ImageRoom(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
  if (ec) return std::nullopt;
  const std::filesystem::space_info space = std::filesystem::space(folder, ec);
  if (ec) return std::nullopt;
  uint64_t room = space.available;
  if (std::filesystem::is_regular_file(path, ec)) {
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec) room += size;
  }
  return room;
}

std::u16string ImagePathWithExtension(const std::u16string& path) {
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, u".img") == 0) return path;
  return path + u".img";
}

bool IsCloneRetryChoice(int attempts) {
  return attempts == 2 || attempts == 3 || attempts == 5;
}

std::u16string DriveItemText(const std::u16string& model, const std::u16string& serial,
                             uint64_t sizeBytes) {
  // Single precision, as the size is shown with two decimals only.
  const float bytes = static_cast<float>(sizeBytes);
  char size[64];
  if (bytes / 1073741824.0f > 1.0f) {
    std::snprintf(size, sizeof size, "(%.2f GB)", bytes / 1073741824.0f);
  } else if (bytes / 1048576.0f > 1.0f) {
    std::snprintf(size, sizeof size, "(%.2f MB)", bytes / 1048576.0f);
  } else {
    std::snprintf(size, sizeof size, "(%.2f KB)", bytes / 1024.0f);
  }
  return model + u":  " + serial + u" \r\n" + platform::Utf8ToUtf16(size);
}

}  // namespace kavo

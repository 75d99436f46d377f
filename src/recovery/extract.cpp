#include "recovery/extract.h"

#include <algorithm>
#include <vector>

#include "platform/device.h"
#include "platform/text.h"
#include "recovery/fat/fat_reader.h"
#include "recovery/names.h"
#include "recovery/ntfs/ntfs_reader.h"

namespace kavo {

namespace {

// A file being written through the platform's device interface.
class DeviceOutput final : public FileOutput {
 public:
  explicit DeviceOutput(std::unique_ptr<platform::RawDevice> device)
      : m_device(std::move(device)) {}
  bool Write(const uint8_t* data, size_t bytes) override {
    while (bytes > 0) {
      const auto piece = static_cast<uint32_t>(std::min<size_t>(bytes, 1u << 30));
      uint32_t put = 0;
      if (!m_device->Write(data, piece, &put) || put != piece) return false;
      data += piece;
      bytes -= piece;
    }
    return true;
  }

 private:
  std::unique_ptr<platform::RawDevice> m_device;
};

// The day of a DOS date (bits 9-15 years since 1980, 5-8 month, 0-4 day); nothing for 0 or a
// date no calendar has.
std::optional<platform::LocalDay> DosDay(uint16_t date) {
  const int year = 1980 + (date >> 9), month = (date >> 5) & 15, day = date & 31;
  constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return std::nullopt;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return std::nullopt;
  return platform::LocalDay{year, month, day};
}

std::string Utf8(const std::filesystem::path& p) {
  return platform::Utf16ToUtf8(p.u16string());
}

}  // namespace

// The file-system side of extraction: the reader of the source's volume, kept for the whole save
// so that per-volume lookups (the MFT's location) are made once.
class FileSystemData {
 public:
  explicit FileSystemData(CDisk& source) : m_source(source) {}
  bool Write(const RecoveredNode& node, FileOutput& output, ProgressRecord* progress) {
    switch (m_source.m_nFileSystem) {
      case FS_FAT12:
      case FS_FAT16:
      case FS_FAT32:
      case FS_EXFAT:
        if (!m_fat) m_fat = std::make_unique<FatReader>(m_source);
        return m_fat->ExtractFile(node, output, progress);
      case FS_NTFS:
        if (!m_ntfs) m_ntfs = std::make_unique<NtfsReader>(m_source);
        return m_ntfs->ExtractNtfsFile(node, output, progress);
    }
    return false;
  }

 private:
  CDisk& m_source;
  std::unique_ptr<FatReader> m_fat;
  std::unique_ptr<NtfsReader> m_ntfs;
};

bool CountingOutput::Write(const uint8_t* data, size_t bytes) {
  if (!m_inner.Write(data, bytes)) {
    failed = true;
    return false;
  }
  written += bytes;
  return true;
}

Extractor::Extractor(CDisk& source, ProgressRecord* progress, Prompter& prompter)
    : m_source(source), m_progress(progress), m_prompter(prompter) {}

Extractor::~Extractor() = default;

void Extractor::Problem(const std::string& text) {
  ++m_counts.errors;
  if (onProblem) onProblem(text);
}

std::optional<std::filesystem::path> Extractor::CreateOutput(
    const std::filesystem::path& destination, const RecoveredNode& node,
    std::unique_ptr<FileOutput>& file) {
  std::u16string name = SafeOutputName(NodeName(node));
  const bool folder = (node.flags & NF_FOLDER) != 0;
  // Each collision puts the code of "already exists" in front of the name, as the Windows
  // program always has; a name that has grown too long is cut back from its end.
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::filesystem::path path = destination / std::filesystem::path(name);
    platform::ErrorCode error = 0;
    if (folder) {
      error = platform::MakeDirectory(path.u16string());
    } else {
      std::error_code ec;
      if (std::filesystem::is_directory(path, ec)) {
        error = 0xFFFFFFFF;  // a folder holds the name: treated as a collision below
      } else if (m_createdFiles.count(path.u16string())) {
        // Two files of one folder with the same name (a deleted file and its live successor):
        // the second is kept beside the first, with the code of "file exists" in front.
        name = FitOutputName(u"80" + name);
        continue;
      } else {
        platform::OpenResult opened =
            platform::OpenDevice(path.u16string(), platform::OpenMode::Create);
        if (opened.device) {
          file = std::make_unique<DeviceOutput>(std::move(opened.device));
          m_createdFiles.insert(path.u16string());
          return path;
        }
        error = opened.error;
      }
    }
    if (error == 0) return path;
    const platform::ErrorKind kind =
        error == 0xFFFFFFFF ? platform::ErrorKind::AlreadyExists : platform::ClassifyError(error);
    switch (kind) {
      case platform::ErrorKind::AlreadyExists: name = FitOutputName(u"183" + name); continue;
      case platform::ErrorKind::PathNotFound:
      case platform::ErrorKind::NameTooLong:
        Problem("cannot create " + Utf8(path) + ": " + platform::ErrorText(error));
        return std::nullopt;
      case platform::ErrorKind::None:
      case platform::ErrorKind::Other: break;
    }
    const std::string text = platform::ErrorText(error);
    Problem("cannot create " + Utf8(path) + ": " + text);
    m_prompter.Ask(platform::Utf8ToUtf16(text), u"Error", PromptIcon::Error, PromptButtons::Ok);
    m_aborted = true;
    return std::nullopt;
  }
  Problem("cannot create " + Utf8(destination / std::filesystem::path(name)) +
          ": too many names taken");
  return std::nullopt;
}

std::optional<std::filesystem::path> Extractor::ExtractNode(
    const std::filesystem::path& destination, const RecoveredNode& node) {
  if (m_aborted) return std::nullopt;
  // Whatever one node's save meets (a name the system cannot take, a full disk, a failed
  // allocation), it is that node's error; the save goes on with the next.
  try {
    return SaveNode(destination, node);
  } catch (const std::exception& e) {
    Problem("cannot save " + platform::Utf16ToUtf8(NodeName(node)) + ": " + e.what());
    return std::nullopt;
  }
}

std::optional<std::filesystem::path> Extractor::SaveNode(const std::filesystem::path& destination,
                                                         const RecoveredNode& node) {
  std::unique_ptr<FileOutput> file;
  std::optional<std::filesystem::path> path = CreateOutput(destination, node, file);
  if (!path) return std::nullopt;
  if (node.flags & NF_FOLDER) {
    ++m_counts.folders;
    KeepDates(*path, node);
    return path;
  }
  ++m_counts.files;
  CountingOutput counted(*file);
  const uint64_t failedReads = m_source.m_nFailedReads;
  const bool complete = WriteNodeData(node, counted);
  m_counts.bytes += counted.written;
  file.reset();  // closed first: a later write would move the dates again
  KeepDates(*path, node);
  if (counted.failed) {
    Problem("write failed: " + Utf8(*path));
  } else if (!complete || counted.written != node.size) {
    if (!ShouldStop(m_progress)) {
      Problem("incomplete: " + Utf8(*path) + " (" + std::to_string(counted.written) + " of " +
              std::to_string(node.size) + " bytes)");
    }
  } else if (m_source.m_nFailedReads != failedReads) {
    // The readers go on past a damaged sector with zeros in its place.
    Problem("partial: " + Utf8(*path) + " (unreadable sectors saved as zeros)");
  }
  return path;
}

void Extractor::KeepDates(const std::filesystem::path& path, const RecoveredNode& node) {
  const auto modified = DosDay(node.modifiedDate), created = DosDay(node.createdDate);
  if (!modified && !created) return;
  const platform::ErrorCode error = platform::SetFileDays(path.u16string(), modified, created);
  // The data is saved; dates that could not be set are told but are not an error of the save.
  if (error != 0 && onProblem) {
    onProblem("dates not kept: " + Utf8(path) + ": " + platform::ErrorText(error));
  }
}

bool Extractor::WriteNodeData(const RecoveredNode& node, FileOutput& output) {
  if (node.size == 0) return true;
  if (node.origin == ORIGIN_RAW_SCAN) return WriteSectorRange(node, output);
  if (!m_fileSystem) m_fileSystem = std::make_unique<FileSystemData>(m_source);
  return m_fileSystem->Write(node, output, m_progress);
}

// A raw-scan hit: its bytes from sector `location` on, exactly `size` of them, read in large
// pieces; a read that fails or comes up short ends the file where the source ends.
bool Extractor::WriteSectorRange(const RecoveredNode& node, FileOutput& output) {
  const uint32_t sectorSize = m_source.m_nSectorSize;
  if (sectorSize == 0) return false;
  constexpr uint32_t kPiece = 1 << 20;
  const uint32_t pieceSectors = std::max<uint32_t>(1, kPiece / sectorSize);
  std::vector<uint8_t> buffer(static_cast<size_t>(pieceSectors) * sectorSize);
  uint64_t remaining = node.size;
  uint64_t sector = node.location;
  while (remaining > 0) {
    if (ShouldStop(m_progress)) return false;
    if (sector >= m_source.m_nTotalSectors) return false;
    const uint64_t sectorsLeft = m_source.m_nTotalSectors - sector;
    const uint32_t count = static_cast<uint32_t>(
        std::min<uint64_t>({pieceSectors, sectorsLeft, (remaining + sectorSize - 1) / sectorSize}));
    const uint32_t bytes = count * sectorSize;
    std::fill(buffer.begin(), buffer.begin() + bytes, 0);
    if (!m_source.ReadSectors(buffer.data(), bytes, sector)) return false;
    const auto take = static_cast<size_t>(std::min<uint64_t>(bytes, remaining));
    if (!output.Write(buffer.data(), take)) return false;
    if (m_progress) m_progress->SetPosition(m_progress->Position() + take);
    remaining -= take;
    sector += count;
  }
  return true;
}

}  // namespace kavo

#include "copy/disk_copy.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>

#include "base/messages.h"
#include "disk/container.h"
#include "disk/disk.h"
#include "platform/text.h"

namespace kavo {

namespace {

constexpr char kPatternA[24] = "** BAD SECTORS **";  // 17 characters, 7 zero bytes
constexpr char kPatternB[24] = "**BAD SECTORS**";    // 15 characters, 9 zero bytes

bool Multiply(uint64_t a, uint64_t b, uint64_t* out) {
  return !__builtin_mul_overflow(a, b, out);
}

// "Wed Jan 02 02:03:55 1980": the local time, day of the month in two digits.
std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char text[64] = "";
  if (local) std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", local);
  return text;
}

}  // namespace

void LayFiller(uint8_t* sector, uint32_t size, FillerKind kind) {
  std::memset(sector, 0, size);
  const char* pattern = kind == FillerKind::ExhaustedReverse ? kPatternB : kPatternA;
  // The last write starts 32 bytes before the end, or 16 when the retries of a forward copy are
  // used up (that write is cut at the end of the sector).
  const uint32_t tail = kind == FillerKind::ExhaustedForward ? 16 : 32;
  for (uint32_t at = 0; size >= tail && at <= size - tail; at += 16) {
    std::memcpy(sector + at, pattern, std::min<uint32_t>(sizeof kPatternA, size - at));
  }
}

std::filesystem::path DefaultLogFolder() {
#ifdef _WIN32
  return std::filesystem::path(u"C:\\Users");
#else
  std::error_code ec;
  std::filesystem::path here = std::filesystem::current_path(ec);
  return ec ? std::filesystem::path(".") : here;
#endif
}

std::u16string LogFileName(const std::u16string& sourceName) {
  if (sourceName.size() == 2) return u"Drive" + sourceName.substr(0, 1) + u".log";
  std::u16string name = sourceName;
  if (!name.empty() && (name[0] == u'/' || name[0] == u'\\')) {
    const size_t slash = name.find_last_of(u"/\\");
    name = name.substr(slash + 1);
  }
  for (char16_t& c : name) {
    if (c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) {
      c = u'_';
    }
  }
  while (!name.empty() && (name.back() == u' ' || name.back() == u'.')) name.pop_back();
  if (name.empty()) name = u"Copy";
  return name + u".log";
}

CDiskCopy::CDiskCopy() : CDiskCopy(DeviceOpener(&platform::OpenDevice)) {}

CDiskCopy::CDiskCopy(DeviceOpener opener) : m_opener(std::move(opener)) {}

CDiskCopy::~CDiskCopy() = default;

bool CDiskCopy::Open(const std::u16string& selector, platform::OpenMode mode) {
  m_selector = selector;
  m_hDevice.reset();
  m_openFailure.clear();
  const SelectedDevice device = DeviceForSelector(selector);
  const platform::DeviceType type = device.type;
  const std::u16string& path = device.path;
  if (type == platform::DeviceType::None) {
    m_openFailure = "not a drive number, a volume name or a device";
    return false;
  }
  if (path.empty()) {
    m_openFailure = "no such drive";
    return false;
  }
  m_devicePath = path;
  platform::OpenResult opened = m_opener(path, mode);
  if (!opened.device) {
    m_openFailure = platform::ErrorText(opened.error);
    return false;
  }

  // The sector size is the smallest read, in 512-byte steps, that the device accepts at byte 0.
  std::vector<uint8_t> probe(kMaxProbeSize);
  uint32_t sectorSize = 0;
  for (uint32_t size = 512; size <= kMaxProbeSize && sectorSize == 0; size += 512) {
    uint32_t got = 0;
    if (opened.device->Seek(0, platform::SeekOrigin::Begin, nullptr) &&
        opened.device->Read(probe.data(), size, &got)) {
      sectorSize = size;
    }
  }
  if (sectorSize == 0) {
    m_openFailure = "no read at the start of the device succeeded (" +
                    platform::ErrorText(opened.device->LastError()) + ")";
    return false;
  }
  opened.device->Seek(0, platform::SeekOrigin::Begin, nullptr);
  uint64_t length = 0;
  if (!opened.device->GetLength(type, &length)) {
    m_openFailure = "the size of the device is unknown (" +
                    platform::ErrorText(opened.device->LastError()) + ")";
    return false;
  }
  m_hDevice = std::move(opened.device);
  m_nDeviceKind = static_cast<uint32_t>(type);
  m_nSectorSize = sectorSize;
  m_nTotalSectors = length / sectorSize;
  m_nStartSector = 0;
  m_nEndSector = m_nTotalSectors;
  return true;
}

bool CDiskCopy::OpenImage(const std::u16string& path, platform::OpenMode mode,
                          uint32_t sectorSize) {
  m_selector = path;
  m_devicePath = path;
  m_hDevice.reset();
  m_openFailure.clear();
  if (sectorSize == 0) {
    m_openFailure = "no sector size";
    return false;
  }
  // A source image is read as the disk it holds: a container's virtual disk, else raw sectors.
  platform::OpenResult opened;
  if (mode == platform::OpenMode::Read) {
    ImageSource source = OpenImageSource(path, m_opener);
    opened.device = std::move(source.device);
    opened.error = source.systemError;
    if (source.refused) {
      m_openFailure = source.error;
      return false;
    }
  } else {
    opened = m_opener(path, mode);
  }
  if (!opened.device) {
    m_openFailure = platform::ErrorText(opened.error);
    return false;
  }
  uint64_t length = 0;
  if (!opened.device->GetLength(platform::DeviceType::ImageFile, &length)) {
    m_openFailure = platform::ErrorText(opened.device->LastError());
    return false;
  }
  m_hDevice = std::move(opened.device);
  m_nDeviceKind = 0;
  m_nSectorSize = sectorSize;
  m_nTotalSectors = length / sectorSize;
  m_nStartSector = 0;
  m_nEndSector = m_nTotalSectors;
  return true;
}

std::string CDiskCopy::OpenFailureText() const {
  return m_openFailure;
}

bool CDiskCopy::SeekToSector(platform::RawDevice* device, uint64_t sector) const {
  uint64_t offset = 0;
  return device && Multiply(sector, m_nSectorSize, &offset) &&
         offset <= static_cast<uint64_t>(INT64_MAX) &&
         device->Seek(static_cast<int64_t>(offset), platform::SeekOrigin::Begin, nullptr);
}

bool CDiskCopy::ReadSectors(platform::RawDevice* device, uint64_t sector, void* buffer,
                            uint32_t bytes) {
  if (!SeekToSector(device, sector)) return false;
  // A short read inside the range means the device could not give those bytes: it is treated as
  // a failed read, so the sectors are salvaged one by one instead of copied as zeros unnoticed.
  uint32_t got = 0;
  return device->Read(buffer, bytes, &got) && got == bytes;
}

bool CDiskCopy::WriteSectors(platform::RawDevice* device, const void* buffer, uint32_t bytes,
                             uint64_t sector) {
  if (!SeekToSector(device, sector)) return false;
  uint32_t put = 0;
  return device->Write(buffer, bytes, &put) && put == bytes;
}

void CDiskCopy::CloseBoth() {
  m_hDevice.reset();
  if (m_pDestination) m_pDestination->m_hDevice.reset();
}

void CDiskCopy::Notify(MessageSink& progressWindow, uint64_t positionSectors) {
  if (m_pProgress) m_pProgress->SetPosition(positionSectors * m_nSectorSize);
  progressWindow.Send(UM_PROGRESS, 0, 0);
}

bool CDiskCopy::PrepareDestination(CopyDirection direction) {
  CDiskCopy* destination = m_pDestination;
  const bool usable = m_hDevice && destination && destination->m_hDevice && m_nSectorSize != 0 &&
                      m_nStartSector <= m_nEndSector && m_nEndSector <= m_nTotalSectors &&
                      // Destination sectors are positioned in the source's sector size; a device
                      // destination must use the same, and must hold the whole mapped range.
                      (destination->m_nDeviceKind == 0 ||
                       (destination->m_nSectorSize == m_nSectorSize &&
                        destination->m_nStartSector <= destination->m_nTotalSectors &&
                        m_nEndSector - m_nStartSector <=
                            destination->m_nTotalSectors - destination->m_nStartSector));
  if (!usable || (direction == CopyDirection::Forward && Stop())) {
    CloseBoth();
    return false;
  }
  platform::RawDevice& device = *destination->m_hDevice;
  if (destination->m_nDeviceKind == 1 &&
      !device.Control(platform::DeviceControl::DeleteDriveLayout)) {
    CloseBoth();
    return false;
  }
  bool accessible = true;
  if (m_bCloning && destination->m_nDeviceKind == 2) {
    accessible = device.Control(platform::DeviceControl::DismountVolume) ||
                 device.Control(platform::DeviceControl::LockVolume);
  }
  // Where a mounted file system cannot be dismounted from a handle, it is not overwritten.
  if (destination->m_nDeviceKind != 0 &&
      !platform::DeviceInUse(destination->m_devicePath).empty()) {
    accessible = false;
  }
  if (!accessible) {
    if (m_pPrompter) {
      m_pPrompter->Ask(u"Access denied.", u"Error", PromptIcon::Error, PromptButtons::Ok);
    }
    CloseBoth();
    return false;
  }
  m_nCopyStart = m_nStartSector;
  m_nCopyEnd = m_nEndSector;
  m_nSectorsCopied = 0;
  m_nBadSectors = 0;
  m_nWriteFailures = 0;
  m_nSectorsPerChunk = std::max<uint32_t>(1, kChunkBytes / m_nSectorSize);
  m_nChunkBytes = m_nSectorsPerChunk * m_nSectorSize;
  return true;
}

bool CDiskCopy::WriteMapped(const uint8_t* buffer, uint32_t bytes, uint64_t sector) {
  const uint64_t target = m_pDestination->m_nStartSector + (sector - m_nCopyStart);
  if (WriteSectors(m_pDestination->m_hDevice.get(), buffer, bytes, target)) return true;
  ++m_nWriteFailures;
  AppendWriteFailedLine(sector);
  return false;
}

CDiskCopy::Outcome CDiskCopy::CopyRange(uint64_t sector, uint64_t count, CopyDirection direction) {
  m_nTransferBytes = static_cast<uint32_t>(count * m_nSectorSize);
  if (Stop()) return Outcome::Stopped;
  if (!ReadSectors(m_hDevice.get(), sector, m_chunkBuffer.data(), m_nTransferBytes)) {
    return SalvageChunk(sector, count, direction);
  }
  if (Stop()) return Outcome::Stopped;
  if (!WriteMapped(m_chunkBuffer.data(), m_nTransferBytes, sector)) return Outcome::WriteFailed;
  m_nSectorsCopied += count;
  if (Stop()) return Outcome::Stopped;
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::SalvageChunk(uint64_t first, uint64_t count,
                                           CopyDirection direction) {
  m_nTransferBytes = m_nSectorSize;
  m_sectorBuffer.assign(m_nSectorSize, 0);
  uint8_t* buffer = m_sectorBuffer.data();
  platform::RawDevice* source = m_hDevice.get();
  for (uint64_t x = first; x < first + count; ++x) {
    if (Stop()) return Outcome::Stopped;
    const bool firstRead = ReadSectors(source, x, buffer, m_nSectorSize);
    bool read = firstRead;
    if (!firstRead) {
      ++m_nBadSectors;
      AppendBadSectorLine(x);
      for (int32_t k = 1; !read && k <= m_nRetryAttempts; ++k) {
        if (Stop()) return Outcome::Stopped;
        read = ReadSectors(source, x, buffer, m_nSectorSize);
      }
      if (!read) {
        LayFiller(buffer, m_nSectorSize,
                  m_nRetryAttempts <= 0                 ? FillerKind::Short
                  : direction == CopyDirection::Forward ? FillerKind::ExhaustedForward
                                                        : FillerKind::ExhaustedReverse);
      }
    }
    if (Stop()) return Outcome::Stopped;
    if (!WriteMapped(buffer, m_nSectorSize, x)) return Outcome::WriteFailed;
    if (firstRead) ++m_nSectorsCopied;
  }
  return Outcome::Done;
}

bool CDiskCopy::Finish(Outcome outcome, MessageSink& progressWindow) {
  if (outcome == Outcome::Done) {
    Notify(progressWindow, m_nCopyEnd);
    // Data the system still holds in its caches counts only once the destination has it.
    if (!m_pDestination->m_hDevice->Flush()) {
      ++m_nWriteFailures;
      AppendLines({"Write failed. The destination did not keep the data written."}, false);
      outcome = Outcome::WriteFailed;
    }
  }
  CloseBoth();
  if (outcome == Outcome::Stopped && m_pProgress) m_pProgress->SetState(PS_STOPPED);
  WriteLogSummary(outcome == Outcome::Done);
  m_chunkBuffer = {};
  m_sectorBuffer = {};
  return outcome == Outcome::Done;
}

bool CDiskCopy::BeginCopy(CopyDirection direction, uint64_t& chunks, uint64_t& remainder) {
  if (!PrepareDestination(direction)) return false;
  const uint64_t length = m_nCopyEnd - m_nCopyStart;
  chunks = length / m_nSectorsPerChunk;
  remainder = length % m_nSectorsPerChunk;
  if (Stop()) {
    CloseBoth();
    return false;
  }
  m_chunkBuffer.assign(chunks > 0 ? m_nChunkBytes : remainder * m_nSectorSize, 0);
  return true;
}

bool CDiskCopy::CopyForward(MessageSink& progressWindow) {
  uint64_t chunks = 0;
  uint64_t remainder = 0;
  if (!BeginCopy(CopyDirection::Forward, chunks, remainder)) return false;
  Outcome outcome = Outcome::Done;
  for (uint64_t i = 0; i < chunks && outcome == Outcome::Done; ++i) {
    const uint64_t s = m_nCopyStart + m_nSectorsPerChunk * i;
    m_nCurrentChunkSector = s;
    Notify(progressWindow, s);
    outcome = CopyRange(s, m_nSectorsPerChunk, CopyDirection::Forward);
  }
  if (outcome == Outcome::Done && remainder > 0) {
    const uint64_t r = m_nCopyEnd - remainder;
    m_nCurrentChunkSector = r;
    Notify(progressWindow, r);
    outcome = CopyRange(r, remainder, CopyDirection::Forward);
  }
  return Finish(outcome, progressWindow);
}

bool CDiskCopy::CopyReverse(MessageSink& progressWindow) {
  uint64_t chunks = 0;
  uint64_t remainder = 0;
  if (!BeginCopy(CopyDirection::Reverse, chunks, remainder)) return false;
  // The position grows as the walk goes down: the bytes behind it are done.
  const auto done = [&](uint64_t q) { return m_nCopyStart + (m_nCopyEnd - q); };
  Outcome outcome = Outcome::Done;
  if (remainder > 0) {
    const uint64_t r = m_nCopyEnd - remainder;
    m_nCurrentChunkSector = r;
    Notify(progressWindow, done(r));
    outcome = CopyRange(r, remainder, CopyDirection::Reverse);
  }
  for (uint64_t k = 1; k <= chunks && outcome == Outcome::Done; ++k) {
    const uint64_t q = m_nCopyEnd - remainder - m_nSectorsPerChunk * k;
    m_nCurrentChunkSector = q;
    Notify(progressWindow, done(q));
    outcome = CopyRange(q, m_nSectorsPerChunk, CopyDirection::Reverse);
  }
  return Finish(outcome, progressWindow);
}

void CDiskCopy::AppendLines(const std::vector<std::string>& lines, bool truncate) {
  if (m_logFile.empty()) return;
  std::ofstream log(m_logFile, std::ios::binary | (truncate ? std::ios::trunc : std::ios::app));
  if (!log) return;
  for (const std::string& line : lines) log << line << "\r\n";
}

void CDiskCopy::WriteLogHeader() {
  if (m_logFile.empty()) m_logFile = DefaultLogFolder() / LogFileName(m_sourceName);
  AppendLines({"Log File of Cloning/Imaging", "Current date and time : " + LocalTimeText(), "",
               platform::Utf16ToUtf8(m_sourceName) + " --------> " +
                   platform::Utf16ToUtf8(m_destinationName),
               "Start Sector  :  " + std::to_string(m_nStartSector),
               "End Sector :  " + std::to_string(m_nEndSector - 1)},
              true);
}

void CDiskCopy::AppendBadSectorLine(uint64_t sector) {
  AppendLines({"Bad Sector encountered. Sector No.\t:\t" + std::to_string(sector)}, false);
}

void CDiskCopy::AppendWriteFailedLine(uint64_t sector) {
  AppendLines({"Write failed. Sector No.\t:\t" + std::to_string(sector)}, false);
}

void CDiskCopy::WriteLogSummary(bool completed) {
  std::vector<std::string> lines;
  if (completed) {
    lines.push_back("Operation successfully completed.");
  } else {
    lines.push_back(m_nWriteFailures > 0 ? "Operation terminated." : "Operation Cancelled.");
  }
  lines.push_back(std::to_string(m_nSectorsCopied) + " Sector(s) copied.");
  lines.push_back(std::to_string(m_nBadSectors) + " Bad Sector(s) encountered.");
  if (m_nWriteFailures > 0) {
    lines.push_back(std::to_string(m_nWriteFailures) + " Write(s) failed.");
  }
  AppendLines(lines, false);
}

}  // namespace kavo

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

bool CDiskCopy::NextArea(BlockStatus status, CopyDirection direction, uint64_t at,
                         MapBlock* block) const {
  const uint64_t ss = m_nSectorSize;
  return direction == CopyDirection::Forward
             ? m_map.NextBlock(status, at * ss, m_nCopyEnd * ss, block)
             : m_map.PreviousBlock(status, m_nCopyStart * ss, at * ss, block);
}

void CDiskCopy::Mark(uint64_t first, uint64_t end, BlockStatus status) {
  m_map.Set(first * m_nSectorSize, end * m_nSectorSize, status);
  m_map.position = first * m_nSectorSize;
}

bool CDiskCopy::SaveMap() {
  m_lastSave = std::chrono::steady_clock::now();
  if (m_mapFile.empty()) return true;
  // The image must hold what the map says it holds before the map says it.
  if (m_pDestination && m_pDestination->m_hDevice) m_pDestination->m_hDevice->Flush();
  return m_map.Save(m_mapFile);
}

void CDiskCopy::Report(bool now) {
  const auto time = std::chrono::steady_clock::now();
  if (!now && time - m_lastReport < kReportInterval) return;
  m_lastReport = time;
  const uint64_t from = m_nCopyStart * m_nSectorSize;
  const uint64_t to = m_nCopyEnd * m_nSectorSize;
  uint64_t bad = 0;
  uint64_t errors = 0;
  for (BlockStatus status : {BlockStatus::NonTrimmed, BlockStatus::NonScraped, BlockStatus::Bad}) {
    bad += m_map.Bytes(status, from, to);
    errors += m_map.Blocks(status, from, to);
  }
  const uint64_t rescued = m_map.Bytes(BlockStatus::Finished, from, to);
  m_counters.rescuedBytes.store(rescued, std::memory_order_relaxed);
  m_counters.badBytes.store(bad, std::memory_order_relaxed);
  m_counters.errors.store(errors, std::memory_order_relaxed);
  m_counters.phase.store(static_cast<char>(m_map.phase), std::memory_order_relaxed);
  // The position grows as areas leave the non-tried, non-trimmed and non-scraped states, in
  // either direction.
  const uint64_t open = m_map.Bytes(BlockStatus::NonTried, from, to) +
                        m_map.Bytes(BlockStatus::NonTrimmed, from, to) +
                        m_map.Bytes(BlockStatus::NonScraped, from, to);
  if (m_pProgress) m_pProgress->SetPosition(to - std::min(open, to - from));
  if (m_pProgressWindow) m_pProgressWindow->Send(UM_PROGRESS, 0, 0);
  if (time - m_lastSave >= kMapSaveInterval) SaveMap();
}

CDiskCopy::Outcome CDiskCopy::CopyPiece(uint64_t first, uint64_t count, bool* failed) {
  m_nTransferBytes = static_cast<uint32_t>(count * m_nSectorSize);
  *failed = false;
  if (Stop()) return Outcome::Stopped;
  if (!ReadSectors(m_hDevice.get(), first, m_chunkBuffer.data(), m_nTransferBytes)) {
    *failed = true;
    return Outcome::Done;
  }
  if (Stop()) return Outcome::Stopped;
  if (!WriteMapped(m_chunkBuffer.data(), m_nTransferBytes, first)) return Outcome::WriteFailed;
  Mark(first, first + count, BlockStatus::Finished);
  m_nSectorsCopied += count;
  if (Stop()) return Outcome::Stopped;
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::CopyPass(CopyDirection direction, bool skipping) {
  m_map.phase = CopyPhase::Copying;
  const uint64_t ss = m_nSectorSize;
  const uint64_t fine = std::max<uint64_t>(1, kFineBytes / ss);
  const uint64_t maxSkip = std::max<uint64_t>(
      fine, std::min<uint64_t>((m_nCopyEnd - m_nCopyStart) / 100, kMaxSkipBytes / ss));
  const bool forward = direction == CopyDirection::Forward;
  // A chunk that fails is read again in small blocks up to this sector (down to it in reverse),
  // so only the small blocks that fail are left for trimming.
  uint64_t fineEdge = forward ? m_nCopyStart : m_nCopyEnd;
  uint64_t skip = 0;
  uint64_t at = forward ? m_nCopyStart : m_nCopyEnd;  // next sector, or the end of the rest
  MapBlock block;
  while (NextArea(BlockStatus::NonTried, direction, at, &block)) {
    const uint64_t s = std::max({FirstSector(block), m_nCopyStart, forward ? at : 0});
    const uint64_t e = std::min({EndSector(block), m_nCopyEnd, forward ? m_nCopyEnd : at});
    if (s >= e) {
      at = forward ? e : s;
      continue;
    }
    uint64_t first = s;
    uint64_t end = e;
    if (forward) {
      const uint64_t step = s < fineEdge ? fine : m_nSectorsPerChunk;
      end = std::min(e, m_nCopyStart + ((s - m_nCopyStart) / step + 1) * step);
    } else {
      const uint64_t step = e > fineEdge ? fine : m_nSectorsPerChunk;
      first = std::max(s, m_nCopyStart + ((e - 1 - m_nCopyStart) / step) * step);
    }
    bool failed = false;
    if (const Outcome outcome = CopyPiece(first, end - first, &failed); outcome != Outcome::Done) {
      return outcome;
    }
    if (failed && end - first > fine) {
      fineEdge = forward ? end : first;
      continue;
    }
    at = forward ? end : first;
    if (failed) {
      Mark(first, end, BlockStatus::NonTrimmed);
      if (skipping) {
        // Past an error the next read lands further on, the further the longer errors go on; what
        // is jumped stays non-tried for the next pass.
        skip = skip == 0 ? fine : std::min(skip * 2, maxSkip);
        at = forward ? std::min(m_nCopyEnd, at + skip)
                     : std::max(m_nCopyStart, at - std::min(at, skip));
      }
    } else {
      skip = 0;
    }
    Report(!failed);
  }
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::CopySector(uint64_t sector, BlockStatus failed, bool* read) {
  m_nTransferBytes = m_nSectorSize;
  if (Stop()) return Outcome::Stopped;
  *read = ReadSectors(m_hDevice.get(), sector, m_sectorBuffer.data(), m_nSectorSize);
  if (*read) {
    if (Stop()) return Outcome::Stopped;
    if (!WriteMapped(m_sectorBuffer.data(), m_nSectorSize, sector)) return Outcome::WriteFailed;
    Mark(sector, sector + 1, BlockStatus::Finished);
    ++m_nSectorsCopied;
  } else {
    Mark(sector, sector + 1, failed);
    ++m_nBadSectors;
    AppendBadSectorLine(sector);
  }
  Report(false);
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::TrimPass(CopyDirection direction) {
  m_map.phase = CopyPhase::Trimming;
  const bool forward = direction == CopyDirection::Forward;
  MapBlock block;
  uint64_t at = forward ? m_nCopyStart : m_nCopyEnd;
  while (NextArea(BlockStatus::NonTrimmed, direction, at, &block)) {
    const uint64_t s = std::max(FirstSector(block), m_nCopyStart);
    const uint64_t e = std::min(EndSector(block), m_nCopyEnd);
    at = forward ? e : s;
    // Each end of the area is read sector by sector towards the other until a sector fails; what
    // lies between the two failures is left for scraping.
    uint64_t low = s;
    uint64_t high = e;
    bool read = true;
    for (int side = 0; side < 2 && low < high; ++side) {
      const bool fromLow = (side == 0) == forward;
      read = true;
      while (read && low < high) {
        const uint64_t x = fromLow ? low : high - 1;
        if (const Outcome outcome = CopySector(x, BlockStatus::Bad, &read);
            outcome != Outcome::Done) {
          return outcome;
        }
        if (fromLow) {
          ++low;
        } else {
          --high;
        }
      }
    }
    if (low < high) Mark(low, high, BlockStatus::NonScraped);
  }
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::ScrapePass(CopyDirection direction) {
  m_map.phase = CopyPhase::Scraping;
  const bool forward = direction == CopyDirection::Forward;
  MapBlock block;
  uint64_t at = forward ? m_nCopyStart : m_nCopyEnd;
  while (NextArea(BlockStatus::NonScraped, direction, at, &block)) {
    const uint64_t s = std::max(FirstSector(block), m_nCopyStart);
    const uint64_t e = std::min(EndSector(block), m_nCopyEnd);
    at = forward ? e : s;
    for (uint64_t i = 0; i < e - s; ++i) {
      bool read = false;
      if (const Outcome outcome = CopySector(forward ? s + i : e - 1 - i, BlockStatus::Bad, &read);
          outcome != Outcome::Done) {
        return outcome;
      }
    }
  }
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::RetryPass(CopyDirection direction) {
  m_map.phase = CopyPhase::Retrying;
  const bool forward = direction == CopyDirection::Forward;
  for (int32_t k = 1; k <= m_nRetryAttempts; ++k) {
    m_map.pass = k;
    MapBlock block;
    uint64_t at = forward ? m_nCopyStart : m_nCopyEnd;
    while (NextArea(BlockStatus::Bad, direction, at, &block)) {
      const uint64_t s = std::max(FirstSector(block), m_nCopyStart);
      const uint64_t e = std::min(EndSector(block), m_nCopyEnd);
      at = forward ? e : s;
      for (uint64_t i = 0; i < e - s; ++i) {
        const uint64_t x = forward ? s + i : e - 1 - i;
        if (Stop()) return Outcome::Stopped;
        if (!ReadSectors(m_hDevice.get(), x, m_sectorBuffer.data(), m_nSectorSize)) continue;
        if (Stop()) return Outcome::Stopped;
        if (!WriteMapped(m_sectorBuffer.data(), m_nSectorSize, x)) return Outcome::WriteFailed;
        Mark(x, x + 1, BlockStatus::Finished);
        Report(false);
      }
    }
  }
  m_map.pass = 1;
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::FillPass(CopyDirection direction) {
  m_map.phase = CopyPhase::Filling;
  const uint64_t ss = m_nSectorSize;
  const FillerKind kind = m_nRetryAttempts <= 0                 ? FillerKind::Short
                          : direction == CopyDirection::Forward ? FillerKind::ExhaustedForward
                                                                : FillerKind::ExhaustedReverse;
  const uint64_t capacity = m_chunkBuffer.size() / ss;
  if (capacity == 0) return Outcome::Done;
  for (uint64_t i = 0; i < capacity; ++i) LayFiller(&m_chunkBuffer[i * ss], m_nSectorSize, kind);
  MapBlock block;
  for (uint64_t at = m_nCopyStart;
       m_map.NextBlock(BlockStatus::Bad, at * ss, m_nCopyEnd * ss, &block);) {
    const uint64_t s = std::max({FirstSector(block), m_nCopyStart, at});
    const uint64_t e = std::min(EndSector(block), m_nCopyEnd);
    const uint64_t count = std::min(e - s, capacity);
    at = s + count;
    if (Stop()) return Outcome::Stopped;
    m_nTransferBytes = static_cast<uint32_t>(count * ss);
    if (!WriteMapped(m_chunkBuffer.data(), m_nTransferBytes, s)) return Outcome::WriteFailed;
  }
  return Outcome::Done;
}

CDiskCopy::Outcome CDiskCopy::Rescue(CopyDirection direction, MessageSink& progressWindow) {
  m_pProgressWindow = &progressWindow;
  const uint64_t bytes = m_nTotalSectors * m_nSectorSize;
  if (m_map.Size() != bytes) m_map = RescueMap(bytes);
  m_counters.rangeBytes.store((m_nCopyEnd - m_nCopyStart) * m_nSectorSize);
  m_sectorBuffer.assign(m_nSectorSize, 0);
  m_lastSave = std::chrono::steady_clock::now();
  Report(true);
  const CopyDirection other =
      direction == CopyDirection::Forward ? CopyDirection::Reverse : CopyDirection::Forward;
  Outcome outcome = CopyPass(direction, true);
  // What the first pass jumped over is read from the other side, without jumping.
  if (outcome == Outcome::Done) outcome = CopyPass(other, false);
  if (outcome == Outcome::Done) outcome = TrimPass(direction);
  if (outcome == Outcome::Done) outcome = ScrapePass(direction);
  if (outcome == Outcome::Done) outcome = RetryPass(direction);
  if (outcome == Outcome::Done) outcome = FillPass(direction);
  if (outcome == Outcome::Done) {
    m_map.phase = CopyPhase::Finished;
    m_map.position = m_nCopyEnd * m_nSectorSize;
  }
  Report(true);
  m_pProgressWindow = nullptr;
  return outcome;
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
  if (!SaveMap()) {
    AppendLines(
        {"The map " + platform::Utf16ToUtf8(m_mapFile.u16string()) + " could not be written."},
        false);
  }
  CloseBoth();
  if (outcome == Outcome::Stopped && m_pProgress) m_pProgress->SetState(PS_STOPPED);
  WriteLogSummary(outcome == Outcome::Done);
  m_chunkBuffer = {};
  m_sectorBuffer = {};
  return outcome == Outcome::Done;
}

bool CDiskCopy::BeginCopy(CopyDirection direction) {
  if (!PrepareDestination(direction)) return false;
  if (Stop()) {
    CloseBoth();
    return false;
  }
  const uint64_t length = m_nCopyEnd - m_nCopyStart;
  m_chunkBuffer.assign(length >= m_nSectorsPerChunk ? m_nChunkBytes : length * m_nSectorSize, 0);
  return true;
}

bool CDiskCopy::CopyForward(MessageSink& progressWindow) {
  if (!BeginCopy(CopyDirection::Forward)) return false;
  return Finish(Rescue(CopyDirection::Forward, progressWindow), progressWindow);
}

bool CDiskCopy::CopyReverse(MessageSink& progressWindow) {
  if (!BeginCopy(CopyDirection::Reverse)) return false;
  return Finish(Rescue(CopyDirection::Reverse, progressWindow), progressWindow);
}

std::string CDiskCopy::LoadMap(const std::filesystem::path& path) {
  RescueMap map;
  std::string why;
  if (!map.Load(path, &why)) return why;
  const uint64_t bytes = m_nTotalSectors * m_nSectorSize;
  // A map of a source whose size is not a whole number of sectors also covers the odd tail.
  if (map.Size() < bytes || map.Size() - bytes >= m_nSectorSize) {
    return "it is for a source of " + std::to_string(map.Size()) + " bytes and this one has " +
           std::to_string(bytes);
  }
  map.Truncate(bytes);
  m_map = std::move(map);
  return {};
}

const char* PhaseName(CopyPhase phase) {
  switch (phase) {
    case CopyPhase::Copying: return "copying";
    case CopyPhase::Trimming: return "trimming";
    case CopyPhase::Scraping: return "scraping";
    case CopyPhase::Retrying: return "retrying";
    case CopyPhase::Filling: return "filling";
    case CopyPhase::Finished: return "finished";
  }
  return "copying";
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

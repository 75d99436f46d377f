// The sector copy engine behind "Disk Cloning" and "Disk Imaging": copies a range of sectors
// from a source device to a destination device or image file, good data first. A copy pass
// reads large chunks and skips ahead past errors; then the areas it could not read are trimmed
// from both ends and scraped sector by sector, unreadable sectors are retried, and a text filler
// takes the place of those that stay unreadable. A map of what was rescued is kept as the copy
// goes (and written to a file when one is named), so a stopped copy goes on where it left off.
// A plain-text log of the run is kept beside it.
//
// Two engines take part in a run: the source engine owns the copy (range, buffers, retry count,
// counters, log) and the destination engine contributes its device, its kind and its start
// sector.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "base/progress.h"
#include "base/prompter.h"
#include "disk/rescue_map.h"
#include "disk/storage.h"
#include "platform/device.h"

namespace kavo {

// The two 24-byte filler patterns laid over an unreadable sector.
enum class FillerKind {
  Short,             // no retries: "** BAD SECTORS **" at 0, 16, ..., size - 32
  ExhaustedForward,  // retries used up, forward: "** BAD SECTORS **" at 0, 16, ..., size - 16
  ExhaustedReverse,  // retries used up, reverse: "**BAD SECTORS**" at 0, 16, ..., size - 32
};

// Lays the filler over `sector` (`size` bytes, cleared first). Each 24-byte pattern write starts
// 16 bytes after the one before and overlays its last 8 bytes; nothing is written past `size`.
void LayFiller(uint8_t* sector, uint32_t size, FillerKind kind);

enum class CopyDirection { Forward, Reverse };

// What a running copy has done so far, for the progress displays (written by the copy, read by
// the user-interface thread).
struct CopyCounters {
  std::atomic<uint64_t> rescuedBytes{0};  // of the range, read and written
  std::atomic<uint64_t> badBytes{0};      // tried and not read (bad, non-trimmed, non-scraped)
  std::atomic<uint64_t> errors{0};        // separate areas of those
  std::atomic<uint64_t> rangeBytes{0};
  std::atomic<char> phase{static_cast<char>(CopyPhase::Copying)};
};

// The name of a copy phase for progress lines ("copying", "trimming", ...).
const char* PhaseName(CopyPhase phase);

class CDiskCopy {
 public:
  // A 32 MiB chunk: 65536 sectors of 512 bytes. Devices with larger sectors keep the chunk at
  // 32 MiB (8192 sectors of 4096 bytes), so one chunk buffer fits every device.
  static constexpr uint32_t kCountingSectorSize = 512;
  static constexpr uint32_t kSectorsPerChunk = 65536;
  static constexpr uint32_t kChunkBytes = kCountingSectorSize * kSectorsPerChunk;
  static constexpr int32_t kDefaultRetryAttempts = 5;
  // The largest sector size the probe of Open tries: 64 KiB plus one 512-byte step.
  static constexpr uint32_t kMaxProbeSize = 65536 + 512;
  // A chunk that cannot be read is read again in blocks of this size.
  static constexpr uint32_t kFineBytes = 65536;
  // The longest jump past errors in the first pass (also at most a hundredth of the range).
  static constexpr uint64_t kMaxSkipBytes = uint64_t{1} << 30;
  static constexpr std::chrono::milliseconds kReportInterval{100};
  static constexpr std::chrono::seconds kMapSaveInterval{5};

  CDiskCopy();
  explicit CDiskCopy(DeviceOpener opener);
  ~CDiskCopy();
  CDiskCopy(const CDiskCopy&) = delete;
  CDiskCopy& operator=(const CDiskCopy&) = delete;

  // Opens a drive (digit-led selector: drive number), a volume (letter-led: volume name) or, where
  // the system has them, a device path ("/dev/sdb"). Detects the sector size (the smallest read
  // of 512, 1024, ... bytes at offset 0 that succeeds) and sets the end sector to the device's
  // sector count. A source is opened with OpenMode::Read: a copy never writes to its source.
  bool Open(const std::u16string& selector,
            platform::OpenMode mode = platform::OpenMode::ReadWrite);

  // Opens an image file: an existing one (Read, ReadWrite) or a new, truncated one (Create). The
  // device kind stays 0. An existing file gets its sector count from `sectorSize`; a new one is
  // written in the source's sector size.
  bool OpenImage(const std::u16string& path, platform::OpenMode mode, uint32_t sectorSize);

  // Why the last Open or OpenImage failed, in one line (empty when it succeeded).
  std::string OpenFailureText() const;

  // Positions at `sector` (in this engine's sector size) of `device` and reads or writes `bytes`
  // bytes. A read counts as done only when every byte arrived; a write only when every byte was
  // taken.
  bool ReadSectors(platform::RawDevice* device, uint64_t sector, void* buffer, uint32_t bytes);
  bool WriteSectors(platform::RawDevice* device, const void* buffer, uint32_t bytes,
                    uint64_t sector);

  // The copy, on the source engine. True when the whole range was processed; false when a stop
  // was honoured, the destination could not be prepared, or a write failed (data was lost).
  // The passes read what m_map does not mark finished, in the direction given.
  bool CopyForward(MessageSink& progressWindow);
  bool CopyReverse(MessageSink& progressWindow);

  // Loads the map of an earlier copy of this source (opened) to go on from it. Empty when it was
  // taken; otherwise why not (unreadable, or made for a source of another size).
  std::string LoadMap(const std::filesystem::path& path);

  // The log of the run: the header before the copy, one line per bad sector and per failed
  // write, the summary at the end. Every write opens and closes the file; a log that cannot be
  // opened is skipped and the copy goes on.
  void WriteLogHeader();
  void AppendBadSectorLine(uint64_t sector);
  void AppendWriteFailedLine(uint64_t sector);
  void WriteLogSummary(bool completed);

  bool IsOpen() const { return m_hDevice != nullptr; }

  // Device and range.
  std::unique_ptr<platform::RawDevice> m_hDevice;
  uint32_t m_nSectorSize = 0;
  std::u16string m_selector;
  std::u16string m_devicePath;
  uint64_t m_nStartSector = 0;   // first sector of the range, or the first destination sector
  uint64_t m_nEndSector = 0;     // one past the last sector of the range
  uint64_t m_nTotalSectors = 0;  // sectors of the whole device or file
  uint32_t m_nCountingSectorSize = kCountingSectorSize;
  uint32_t m_nDeviceKind = 0;  // 0 image file, 1 physical drive, 2 volume
  uint32_t m_nSectorsPerChunk = 0;
  uint32_t m_nChunkBytes = 0;
  uint32_t m_nTransferBytes = 0;
  int32_t m_nRetryAttempts = kDefaultRetryAttempts;

  // Working state of a copy.
  std::vector<uint8_t> m_chunkBuffer;
  std::vector<uint8_t> m_sectorBuffer;
  uint64_t m_nCopyStart = 0;
  uint64_t m_nCopyEnd = 0;
  uint64_t m_nSectorsCopied = 0;  // sectors whose first read succeeded
  uint64_t m_nBadSectors = 0;     // sectors whose first read failed
  uint64_t m_nWriteFailures = 0;  // writes the destination refused or cut short

  // The map of the source's bytes; a copy starts a fresh one unless it has the source's size.
  RescueMap m_map;
  // Where the map is written as the copy goes and at its end; empty: kept in memory only.
  std::filesystem::path m_mapFile;
  CopyCounters m_counters;

  // Set up by whoever starts the run, on the source engine.
  CDiskCopy* m_pDestination = nullptr;
  ProgressRecord* m_pProgress = nullptr;  // null: the run cannot be stopped
  Prompter* m_pPrompter = nullptr;        // "Access denied."; null: not shown
  bool m_bCloning = false;                // "Disk Cloning": a volume destination is dismounted
  std::u16string m_sourceName;            // display names for the log header
  std::u16string m_destinationName;
  // The log file. When empty, WriteLogHeader names it after the source in DefaultLogFolder().
  std::filesystem::path m_logFile;

 private:
  enum class Outcome { Done, Stopped, WriteFailed };

  // Positions `device` at `sector` of this engine's sector size; false when that offset cannot
  // be reached.
  bool SeekToSector(platform::RawDevice* device, uint64_t sector) const;
  bool PrepareDestination(CopyDirection direction);
  // Prepares the destination and sizes the chunk buffer. False when the copy cannot start or a stop
  // came first.
  bool BeginCopy(CopyDirection direction);
  // The passes, each over the blocks of the map still in its status.
  Outcome CopyPass(CopyDirection direction, bool skipping);
  Outcome CopyPiece(uint64_t first, uint64_t count, bool* failed);
  Outcome TrimPass(CopyDirection direction);
  Outcome ScrapePass(CopyDirection direction);
  Outcome RetryPass(CopyDirection direction);
  Outcome FillPass(CopyDirection direction);
  Outcome Rescue(CopyDirection direction, MessageSink& progressWindow);
  // Reads one sector and, when it reads, writes it and marks it finished; otherwise marks it
  // `failed`. `*read` tells which.
  Outcome CopySector(uint64_t sector, BlockStatus failed, bool* read);
  // The sectors of the map block [begin, end) of bytes, widened to whole sectors.
  uint64_t FirstSector(const MapBlock& block) const { return block.begin / m_nSectorSize; }
  uint64_t EndSector(const MapBlock& block) const {
    return (block.end + m_nSectorSize - 1) / m_nSectorSize;
  }
  // The next block of `status` from sector `at` on (forward) or before it (reverse), within the
  // range.
  bool NextArea(BlockStatus status, CopyDirection direction, uint64_t at, MapBlock* block) const;
  void Mark(uint64_t first, uint64_t end, BlockStatus status);
  // Progress and the map file, no more often than every so often unless `now`.
  void Report(bool now);
  bool SaveMap();
  bool WriteMapped(const uint8_t* buffer, uint32_t bytes, uint64_t sector);
  bool Finish(Outcome outcome, MessageSink& progressWindow);
  void CloseBoth();
  void AppendLines(const std::vector<std::string>& lines, bool truncate);
  bool Stop() { return ShouldStop(m_pProgress); }
  void Notify(MessageSink& progressWindow, uint64_t positionSectors);

  DeviceOpener m_opener;
  std::string m_openFailure;
  MessageSink* m_pProgressWindow = nullptr;
  std::chrono::steady_clock::time_point m_lastReport;
  std::chrono::steady_clock::time_point m_lastSave;
};

// The folder of the copy log when none is chosen: "C:\Users" on Windows, the current folder on
// other systems.
std::filesystem::path DefaultLogFolder();

// The log file's name for a source display name: a two-character volume name ("E:") gives
// "DriveE.log"; any other name is used as it is with ".log" appended, with characters that cannot
// stand in a file name (path separators, ':', control characters, ...) replaced by '_' and a
// device path reduced to its last component ("/dev/sdb" gives "sdb.log").
std::u16string LogFileName(const std::u16string& sourceName);

}  // namespace kavo

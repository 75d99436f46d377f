// The operation worker: every long job of the program (the volume searches, the deleted-file scan
// of a volume, the signature scan, the sector copies) runs through OperationThreadProc, which
// picks the job from the operation and the kind of the selected source, reports progress to the
// progress window and ends with one navigation message to the main window.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "base/operation_codes.h"
#include "base/prompter.h"
#include "copy/disk_copy.h"
#include "operations/session.h"

namespace kavo {

struct OperationContext {
  explicit OperationContext(Session& s) : session(s) {}

  // Read once when the worker starts.
  uint32_t operation = 0;       // kOp... code
  uint32_t advancedSearch = 0;  // 1: a signature scan follows (cleared after it)
  uint32_t forwardCopy = 1;     // 0 for a reverse clone
  ImageScanType imageScanType = ImageScanType::LongScan;

  // currentSource (whose m_nSourceKind is the kind of the selected row), progressRecord, the
  // result tree and the found volumes.
  Session& session;

  // Copy jobs: the source engine, set up with its destination and its progress record.
  CDiskCopy* copySource = nullptr;

  // The signature scan: the catalogue item texts to look for, and the sectors [first, end) of
  // the source (end 0: to the end of the source).
  std::vector<std::u16string> signatureFormats;
  uint64_t signatureFirstSector = 0;
  uint64_t signatureEndSector = 0;

  // Where the job builds its result tree; null: the session's treeRoot. A caller whose windows
  // show the session's tree keeps the job's apart and takes it over on UM_SHOW_RESULTS, so a
  // tree on screen is never replaced by the job's thread.
  NodePtr* tree = nullptr;

  MessageSink* mainWindow = nullptr;      // navigation messages; null: not sent
  MessageSink* progressWindow = nullptr;  // progress messages; null: dropped
  Prompter* prompter = nullptr;  // a copy's result, a search that found nothing; null: not shown
  // Opens the copy log for the user once a forward copy has ended; null: not opened.
  std::function<void(const std::filesystem::path&)> openLog;
};

// Runs the job the context describes. Always returns 0.
uint32_t OperationThreadProc(OperationContext& context);

// The texts a copy job ends with.
inline constexpr char16_t kCopyCompleted[] = u"Operation completed successfully.";
inline constexpr char16_t kReverseCopyCompleted[] = u"Operation completed successfully";
inline constexpr char16_t kCopyTerminated[] = u"Operation terminated.";

// The texts a search ends with when it adds nothing to the drive list or the results.
inline constexpr char16_t kNoNewPartitions[] =
    u"No new partitions found. Please go for raw scan or select another drive.";
inline constexpr char16_t kNoFilesFound[] =
    u"No files found. Please select more file formats or another drive.";
inline constexpr char16_t kSourceUnreadable[] =
    u"The selected drive or image could not be read. No partitions or files were found.";

}  // namespace kavo

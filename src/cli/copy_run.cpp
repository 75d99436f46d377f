// Imaging and cloning: opening the source of a copy and running the copy.
#include <filesystem>

#include "cli/commands.h"
#include "cli/job.h"
#include "cli/output.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

std::string Utf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

}  // namespace

bool OpenCopySource(CDiskCopy& source, const std::u16string& selector,
                    const std::u16string& failure) {
  bool opened = false;
  if (SourceKindForSelector(selector) == SourceKind::ImageFile) {
    // Any read of an image file succeeds, so its sectors are the counting size.
    opened = source.OpenImage(selector, platform::OpenMode::Read, CDiskCopy::kCountingSectorSize);
  } else {
    opened = source.Open(selector, platform::OpenMode::Read);
  }
  if (!opened) {
    ErrorLine(Utf8(failure) + " " + source.OpenFailureText());
    return false;
  }
  // An image's length is that of the disk it holds (a container's virtual size).
  uint64_t size = 0;
  if (source.m_nDeviceKind == 0 &&
      source.m_hDevice->GetLength(platform::DeviceType::ImageFile, &size) &&
      size % source.m_nSectorSize != 0) {
    ErrorLine("the last " + std::to_string(size % source.m_nSectorSize) +
              " bytes of the source are not a whole sector and are not copied");
  }
  return true;
}

int RunCopy(CDiskCopy& source, CDiskCopy& destination, uint32_t operation, bool forward,
            const char* label, bool jsonProgress) {
  StderrPrompter prompter;
  source.m_pDestination = &destination;
  source.m_pPrompter = &prompter;
  Err(std::string(label) + " " + Utf8(source.m_sourceName) + " (" +
      std::to_string(source.m_nEndSector - source.m_nStartSector) + " sectors of " +
      std::to_string(source.m_nSectorSize) + " bytes) to " + Utf8(source.m_destinationName) + "\n");
  JobSpec spec;
  spec.operation = operation;
  spec.copySource = &source;
  spec.forwardCopy = forward;
  spec.jsonProgress = jsonProgress;
  spec.label = label;
  spec.unitBytes = 1;
  std::unique_ptr<CDisk> noVolume;
  const JobResult result = RunJob(noVolume, spec);
  Out(std::to_string(source.m_nSectorsCopied) + " Sector(s) copied.\n" +
      std::to_string(source.m_nBadSectors) + " Bad Sector(s) encountered.\n");
  if (source.m_nWriteFailures > 0) {
    Out(std::to_string(source.m_nWriteFailures) + " Write(s) failed.\n");
  }
  const uint64_t mapBytes = source.m_map.Size();
  Out(std::to_string(source.m_map.Bytes(BlockStatus::Finished, 0, mapBytes)) +
      " byte(s) rescued, " + std::to_string(source.m_map.Bytes(BlockStatus::Bad, 0, mapBytes)) +
      " bad.\n");
  Out("Log: " + Utf8(source.m_logFile.u16string()) + "\n");
  if (!source.m_mapFile.empty()) Out("Map: " + Utf8(source.m_mapFile.u16string()) + "\n");
  // A reverse clone ends with the same words as a forward one, without the full stop.
  if (result.closingText != kCopyCompleted && result.closingText != kReverseCopyCompleted) {
    ErrorLine(Utf8(result.closingText.empty() ? kCopyTerminated : result.closingText));
    return kExitFailed;
  }
  Out(Utf8(result.closingText) + "\n");
  return kExitOk;
}

}  // namespace kavo::cli

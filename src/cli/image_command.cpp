#include "cli/commands.h"
#include "cli/job.h"
#include "cli/output.h"
#include "copy/copy_setup.h"
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
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(std::filesystem::path(selector), ec);
  if (!ec && source.m_nDeviceKind == 0 && size % source.m_nSectorSize != 0) {
    ErrorLine("the last " + std::to_string(size % source.m_nSectorSize) +
              " bytes of the source are not a whole sector and are not copied");
  }
  return true;
}

std::optional<std::filesystem::path> LogOption(const ParsedArgs& args) {
  const auto log = args.Value("--log");
  if (!log) return std::nullopt;
  return std::filesystem::path(*log);
}

int RunCopy(CDiskCopy& source, CDiskCopy& destination, uint32_t operation, bool forward,
            const char* label) {
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
  spec.label = label;
  spec.unitBytes = 1;
  std::unique_ptr<CDisk> noVolume;
  const JobResult result = RunJob(noVolume, spec);
  Out(std::to_string(source.m_nSectorsCopied) + " Sector(s) copied.\n" +
      std::to_string(source.m_nBadSectors) + " Bad Sector(s) encountered.\n");
  if (source.m_nWriteFailures > 0) {
    Out(std::to_string(source.m_nWriteFailures) + " Write(s) failed.\n");
  }
  Out("Log: " + Utf8(source.m_logFile.u16string()) + "\n");
  // A reverse clone ends with the same words as a forward one, without the full stop.
  if (result.closingText != kCopyCompleted && result.closingText != kReverseCopyCompleted) {
    ErrorLine(Utf8(result.closingText.empty() ? kCopyTerminated : result.closingText));
    return kExitFailed;
  }
  Out(Utf8(result.closingText) + "\n");
  return kExitOk;
}

int ImageCommand(const ParsedArgs& args) {
  int32_t retries = CDiskCopy::kDefaultRetryAttempts;
  if (const auto value = args.Value("--retries")) {
    const auto n = ParseUnsigned(*value);
    if (!n || *n > 100) {
      ErrorLine("--retries takes a number from 0 to 100");
      return kExitUsage;
    }
    retries = static_cast<int32_t>(*n);
  }
  const std::u16string& selector = args.positional[0];
  const std::u16string path = ImagePathWithExtension(args.positional[1]);
  const platform::PathKind destinationKind = platform::ClassifyPath(path);
  if (destinationKind != platform::PathKind::Missing &&
      destinationKind != platform::PathKind::RegularFile) {
    ErrorLine("the image must be a file; to copy onto a drive or volume use 'kavo-cli clone'");
    return kExitUsage;
  }

  CDiskCopy source;
  if (!OpenCopySource(source, selector, kFailedToOpenDisk)) return kExitFailed;
  if (platform::SharesStorage(source.m_devicePath, path)) {
    ErrorLine(Utf8(kSameSourceAndDestination));
    return kExitUsage;
  }
  const uint64_t sourceBytes = source.m_nTotalSectors * source.m_nSectorSize;
  const auto room = ImageRoom(std::filesystem::path(path));
  if (!room) {
    ErrorLine("the folder of " + Utf8(path) + " cannot be reached");
    return kExitFailed;
  }
  if (const std::u16string message = CheckImageSpace(sourceBytes, *room); !message.empty()) {
    ErrorLine(Utf8(message));
    return kExitFailed;
  }

  CDiskCopy destination;
  if (!destination.OpenImage(path, platform::OpenMode::Create, source.m_nSectorSize)) {
    ErrorLine("Failed to create the image file " + Utf8(path) + ". " +
              destination.OpenFailureText());
    return kExitFailed;
  }
  source.m_nRetryAttempts = retries;
  source.m_sourceName = selector;
  source.m_destinationName = path;
  if (const auto log = LogOption(args)) source.m_logFile = *log;

  return RunCopy(source, destination, kOpDiskImaging, true, "Imaging");
}

}  // namespace kavo::cli

#include "cli/commands.h"
#include "cli/output.h"
#include "copy/copy_setup.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

std::string Utf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

}  // namespace

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

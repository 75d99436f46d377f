#include "cli/commands.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
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

  // An image with its map goes on where the last run stopped, unless told to start over.
  const std::filesystem::path mapPath = args.Value("--map")
                                            ? std::filesystem::path(*args.Value("--map"))
                                            : DefaultMapPath(std::filesystem::path(path));
  const bool resume =
      !args.Has("--restart") && destinationKind == platform::PathKind::RegularFile &&
      platform::ClassifyPath(mapPath.u16string()) == platform::PathKind::RegularFile;
  if (resume) {
    if (const std::string why = source.LoadMap(mapPath); !why.empty()) {
      ErrorLine("the map " + Utf8(mapPath.u16string()) + " does not fit this source (" + why +
                "); give --restart to start the image over");
      return kExitFailed;
    }
    const uint64_t rescued = source.m_map.Bytes(BlockStatus::Finished, 0, source.m_map.Size());
    Err("Continuing from " + Utf8(mapPath.u16string()) + ": " + HumanBytes(rescued) +
        " already rescued\n");
  }
  source.m_mapFile = mapPath;

  CDiskCopy destination;
  if (!destination.OpenImage(path,
                             resume ? platform::OpenMode::ReadWrite : platform::OpenMode::Create,
                             source.m_nSectorSize)) {
    ErrorLine("Failed to create the image file " + Utf8(path) + ". " +
              destination.OpenFailureText());
    return kExitFailed;
  }
  source.m_nRetryAttempts = retries;
  source.m_sourceName = selector;
  source.m_destinationName = path;
  if (const auto log = LogOption(args)) source.m_logFile = *log;

  return RunCopy(source, destination, kOpDiskImaging, true, "Imaging", args.Has("--json"));
}

}  // namespace kavo::cli

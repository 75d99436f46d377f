#include <iostream>

#include "cli/commands.h"
#include "cli/output.h"
#include "copy/copy_setup.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

std::string Utf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

// Asks before a drive is overwritten; returns 0 to go ahead, else the exit code. Without a
// terminal to answer, only --yes agrees.
int Confirm(const ParsedArgs& args, const std::u16string& destination) {
  if (args.Has("--yes")) return kExitOk;
  if (!platform::IsInputTerminal()) {
    ErrorLine("not overwriting " + Utf8(destination) +
              " without confirmation; give --yes to go ahead");
    return kExitUsage;
  }
  Err(Utf8(kConfirmCloning) + " [y/N] ");
  std::string answer;
  std::getline(std::cin, answer);
  if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return kExitOk;
  ErrorLine("nothing was copied");
  return kExitFailed;
}

}  // namespace

int CloneCommand(const ParsedArgs& args) {
  int32_t retries = 2;
  if (const auto value = args.Value("--retries")) {
    const auto n = ParseUnsigned(*value);
    if (!n || !IsCloneRetryChoice(static_cast<int>(std::min<uint64_t>(*n, 100)))) {
      ErrorLine("--retries takes 2, 3 or 5");
      return kExitUsage;
    }
    retries = static_cast<int32_t>(*n);
  }
  const auto sourceStart = args.Value("--source-start");
  const auto destinationStart = args.Value("--dest-start");
  const auto count = args.Value("--count");
  const bool wholeSource = !sourceStart && !destinationStart && !count;
  const bool forward = !args.Has("--reverse");
  if (!forward && !wholeSource) {
    ErrorLine(
        "a reverse clone copies the whole source; --reverse takes no --source-start, "
        "--dest-start or --count");
    return kExitUsage;
  }
  const std::u16string& sourceSelector = args.positional[0];
  const std::u16string& destinationSelector = args.positional[1];
  if (sourceSelector == destinationSelector) {
    ErrorLine(Utf8(kSameSourceAndDestination));
    return kExitUsage;
  }

  CDiskCopy source;
  if (!OpenCopySource(source, sourceSelector, kFailedToOpenSource)) return kExitFailed;
  // An existing image file can take a clone too; a drive or volume is opened as one.
  CDiskCopy destination;
  const bool toFile =
      platform::ClassifyPath(destinationSelector) == platform::PathKind::RegularFile;
  const bool opened =
      toFile ? destination.OpenImage(destinationSelector, platform::OpenMode::ReadWrite,
                                     source.m_nSectorSize)
             : destination.Open(destinationSelector, platform::OpenMode::ReadWrite);
  if (!opened) {
    ErrorLine(Utf8(kFailedToOpenDestination) + " " + destination.OpenFailureText());
    return kExitFailed;
  }
  if (platform::SharesStorage(source.m_devicePath, destination.m_devicePath)) {
    ErrorLine(Utf8(kSameSourceAndDestination));
    return kExitUsage;
  }
  if (destination.m_nSectorSize != source.m_nSectorSize) {
    ErrorLine("the source has " + std::to_string(source.m_nSectorSize) +
              "-byte sectors and the destination " + std::to_string(destination.m_nSectorSize) +
              "-byte sectors; a clone needs the same sector size on both");
    return kExitFailed;
  }
  if (!wholeSource) {
    const CloneRange range =
        CheckCloneRange(sourceStart.value_or(u""), destinationStart.value_or(u""),
                        count.value_or(u""), source.m_nTotalSectors, destination.m_nTotalSectors);
    if (!range.message.empty()) {
      ErrorLine(Utf8(range.message));
      return kExitUsage;
    }
    source.m_nStartSector = range.sourceStart;
    source.m_nEndSector = range.sourceEnd;
    destination.m_nStartSector = range.destinationStart;
  }
  const uint64_t sourceBytes = source.m_nTotalSectors * source.m_nSectorSize;
  const uint64_t destinationBytes = destination.m_nTotalSectors * destination.m_nSectorSize;
  if (const std::u16string message = CheckCloneSpace(sourceBytes, destinationBytes);
      !message.empty()) {
    ErrorLine(Utf8(message));
    return kExitFailed;
  }
  if (const std::string use = platform::DeviceInUse(destination.m_devicePath); !use.empty()) {
    ErrorLine(Utf8(destinationSelector) + " is " + use + "; it cannot be overwritten while in use");
    return kExitFailed;
  }
  if (const int refused = Confirm(args, destinationSelector); refused != kExitOk) return refused;

  if (const auto map = args.Value("--map")) {
    source.m_mapFile = std::filesystem::path(*map);
    if (!args.Has("--restart") && platform::ClassifyPath(*map) == platform::PathKind::RegularFile) {
      if (const std::string why = source.LoadMap(source.m_mapFile); !why.empty()) {
        ErrorLine("the map " + Utf8(*map) + " does not fit this source (" + why +
                  "); give --restart to start the clone over");
        return kExitFailed;
      }
    }
  }
  source.m_nRetryAttempts = retries;
  source.m_bCloning = true;
  source.m_sourceName = sourceSelector;
  source.m_destinationName = destinationSelector;
  if (const auto log = LogOption(args)) source.m_logFile = *log;
  return RunCopy(source, destination, kOpDiskCloning, forward, "Cloning", args.Has("--json"));
}

}  // namespace kavo::cli

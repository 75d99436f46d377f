#include "cli/cli.h"

#include <string_view>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

struct Command {
  const char* name;
  const char* usage;
  const char* summary;
  ArgSpec spec;
  int (*run)(const ParsedArgs&);
};

const Command kCommands[] = {
    {"info", "info SOURCE [--json]",
     "show the kind, sector size and size of a drive, volume or image file",
     ArgSpec{{}, {"--json"}, {}, 1, 1}, InfoCommand},
    {"list", "list SOURCE [--start SECTOR] [--json]",
     "list the live and deleted files and folders of a FAT16, FAT32, exFAT or NTFS volume\n"
     "      (--start: first sector of the volume on a whole disk; default 0)",
     ArgSpec{{"--start"}, {"--json"}, {}, 1, 1}, ListCommand},
    {"carve", "carve SOURCE --formats all|ITEM,ITEM... [--start SECTOR] [--count N] [--json]",
     "find files by their signatures in sectors [start, start + count) of the source",
     ArgSpec{{"--formats", "--start", "--count"}, {"--json"}, {"--formats"}, 1, 1},
     CarveCommand},
    {"recover",
     "recover SOURCE --out DIR [--formats ...] [--start S] [--count N] [--deleted-only]\n"
     "          [--match GLOB ...]",
     "write the files of a volume (Data/...), or with --formats the files found by their\n"
     "      signatures (FileType/<ext>/fileN.<ext>), below DIR; --match and --deleted-only\n"
     "      choose which (GLOB: * ? [..] on names, or on paths when it holds a /; ** spans /)",
     ArgSpec{{"--out", "--formats", "--start", "--count", "--match"},
             {"--deleted-only"},
             {"--out"},
             1,
             1},
     RecoverCommand},
};

std::string Usage() {
  std::string text =
      "Usage: kavo-cli COMMAND [ARGUMENTS]\n"
      "       kavo-cli --help | --version\n"
      "\n"
      "Commands:\n";
  for (const Command& c : kCommands) {
    text += "  " + std::string(c.usage) + "\n      " + c.summary + "\n";
  }
  text +=
      "\n"
      "SOURCE is a disk-image file (.img .ctr .dd .dat .vhd .vdi .001 .vmdk), a drive number\n"
      "(0, 1, ...), a volume (C: on Windows, sdb1 on Linux) or a device path (/dev/sdb).\n"
      "Exit status: 0 success, 1 the operation failed, 2 bad command line.\n";
  return text;
}

}  // namespace

int Run(const std::vector<std::u16string>& args) {
  if (args.empty()) {
    ErrorLine("no command given; see 'kavo-cli --help'");
    return kExitUsage;
  }
  const std::string first = platform::Utf16ToUtf8(args[0]);
  if (first == "--help" || first == "-h" || first == "help") {
    Out(Usage());
    return kExitOk;
  }
  if (first == "--version") {
    Out("kavo-cli " KAVO_VERSION "\n");
    return kExitOk;
  }
  for (const Command& c : kCommands) {
    if (first != c.name) continue;
    const std::vector<std::u16string> rest(args.begin() + 1, args.end());
    std::string error;
    const auto parsed = ParseArgs(rest, c.spec, error);
    if (!parsed) {
      ErrorLine(error + "; usage: kavo-cli " + c.usage);
      return kExitUsage;
    }
    return c.run(*parsed);
  }
  ErrorLine("unknown command '" + first + "'; see 'kavo-cli --help'");
  return kExitUsage;
}

}  // namespace kavo::cli

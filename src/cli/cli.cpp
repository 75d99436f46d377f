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
    {"info", "info SOURCE [--json] [--verify]",
     "show the kind, sector size and size of a drive, volume or image file (--verify: read an\n"
     "      EWF image whole and check it against the MD5 it stores)",
     ArgSpec{{}, {"--json", "--verify"}, {}, 1, 1}, InfoCommand},
    {"list",
     "list SOURCE [--start SECTOR | --partition N [--lost|--formatted|--load F.psi]] [--json]\n"
     "          [--save-scan F.qsv]",
     "list the live and deleted files and folders of a FAT12, FAT16, FAT32, exFAT or NTFS volume\n"
     "      (--start: first sector of the volume on a whole disk; default 0; --partition: row N\n"
     "      of 'partitions', or with --lost/--formatted of that search, run again, or with --load\n"
     "      of a partition list saved by partitions/search --save)",
     ArgSpec{{"--start", "--save-scan", "--partition", "--load"},
             {"--json", "--lost", "--formatted"},
             {},
             1,
             1},
     ListCommand},
    {"formats", "formats [--json]",
     "list the formats carve and recover --formats can look for, by category",
     ArgSpec{{}, {"--json"}, {}, 0, 0}, FormatsCommand},
    {"carve",
     "carve SOURCE --formats all|CATEGORY|ITEM,... [--start SECTOR] [--count N] [--json]\n"
     "          [--save-scan F.qsv]",
     "find files by their signatures in sectors [start, start + count) of the source",
     ArgSpec{{"--formats", "--start", "--count", "--save-scan"}, {"--json"}, {"--formats"}, 1, 1},
     CarveCommand},
    {"recover",
     "recover SOURCE --out DIR [--formats ...] [--start S] [--count N] [--deleted-only]\n"
     "          [--match GLOB ...] [--scan F.qsv] [--partition N [--lost|--formatted|--load "
     "F.psi]]\n"
     "          [--allow-same-device]",
     "write the files of a volume (Data/...), or with --formats the files found by their\n"
     "      signatures (FileType/<ext>/fileN.<ext>), below DIR; --match and --deleted-only\n"
     "      choose which (GLOB: * ? [..] on names, or on paths when it holds a /; ** spans /);\n"
     "      --scan recovers from a scan saved by list/carve --save-scan without scanning again",
     ArgSpec{
         {"--out", "--formats", "--start", "--count", "--match", "--scan", "--partition", "--load"},
         {"--deleted-only", "--lost", "--formatted", "--allow-same-device"},
         {"--out"},
         1,
         1},
     RecoverCommand},
    {"partitions", "partitions SOURCE [--json] [--save F.psi] | partitions --load F.psi [--json]",
     "list the FAT12, FAT16, FAT32, exFAT and NTFS volumes of the MBR, GPT or dynamic-disk "
     "tables,\n"
     "      newest row first, numbered as list/recover --partition N take them; --save keeps\n"
     "      the rows in a partition-list file, --load shows the rows of one",
     ArgSpec{{"--save", "--load"}, {"--json"}, {}, 0, 1}, PartitionsCommand},
    {"search", "search SOURCE --lost | --formatted [--json] [--save F.psi]",
     "look sector by sector for lost volumes on a disk (--lost) or for earlier volumes inside\n"
     "      a volume (--formatted); Ctrl-C stops and lists what was found",
     ArgSpec{{"--save"}, {"--lost", "--formatted", "--json"}, {}, 1, 1}, SearchCommand},
    {"drives", "drives [--json]",
     "list the physical drives (for partitions and lost volumes) and the volumes (for files),\n"
     "      with the SOURCE each opens by",
     ArgSpec{{}, {"--json"}, {}, 0, 0}, DrivesCommand},
    {"health", "health [DRIVE] [--json]",
     "show the physical drives with their temperature and a health verdict, and the SMART\n"
     "      attributes (or NVMe health log) of each, or of DRIVE (its number or device)",
     ArgSpec{{}, {"--json"}, {}, 0, 1}, HealthCommand},
    {"image", "image SOURCE DEST.img [--retries N] [--map FILE] [--restart] [--log FILE] [--json]",
     "copy the source into an image file, good data first: large blocks, then the edges and\n"
     "      sectors of unread areas, then N retries (default 5); what stays unreadable is filled\n"
     "      with \"** BAD SECTORS **\" and logged. A map (DEST.img.map or FILE) records what was\n"
     "      rescued; a later run goes on from it unless --restart. --json: progress records",
     ArgSpec{{"--retries", "--log", "--map"}, {"--restart", "--json"}, {}, 2, 2}, ImageCommand},
    {"clone",
     "clone SOURCE DEST [--reverse] [--source-start S --dest-start D --count N]\n"
     "          [--retries 2|3|5] [--map FILE [--restart]] [--log FILE] [--yes] [--json]",
     "copy the source, or N sectors of it from S, onto a drive, volume or image file (to D);\n"
     "      --reverse walks from the end; asks before overwriting unless --yes; with --map the\n"
     "      clone records what was rescued and goes on from it next time unless --restart",
     ArgSpec{{"--source-start", "--dest-start", "--count", "--retries", "--log", "--map"},
             {"--reverse", "--yes", "--restart", "--json"},
             {},
             2,
             2},
     CloneCommand},
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
      "SOURCE is a disk-image file (raw, split raw .001, VHD, VHDX, VMDK, VDI, qcow2, E01),\n"
      "a drive number (0, 1, ...), a volume (C: on Windows, sdb1 on Linux) or a device path\n"
      "(/dev/sdb).\n"
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

// kavo-cli drives and health on the machine's own drives, against lsblk and smartctl.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "cli/cli_support.h"

namespace kavo {
namespace {

#ifndef _WIN32
// The whole disks lsblk reports with their sizes, without the devices that are no drive.
std::map<std::string, uint64_t> LsblkDisks() {
  const test::ProcessResult r =
      test::RunProcess("lsblk", {"-b", "-d", "-n", "-o", "NAME,SIZE,TYPE"});
  std::map<std::string, uint64_t> disks;
  std::istringstream lines(r.out);
  std::string name, type;
  uint64_t size = 0;
  while (lines >> name >> size >> type) {
    static const std::regex kNoDrive("^(loop|ram|zram|dm-|md|sr|fd|nbd).*");
    if (type == "disk" && size != 0 && !std::regex_match(name, kNoDrive))
      disks["/dev/" + name] = size;
  }
  return disks;
}

TEST(CliDrives, AgreesWithLsblk) {
  if (!test::HaveTool("lsblk")) GTEST_SKIP() << "lsblk is not installed";
  const test::ProcessResult r = test::Cli({"drives", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, uint64_t> listed;
  const std::regex physical(
      R"re(\{"kind":"physical","name":"([^"]+)".*"bytesPerSector":(\d+),"sectors":(\d+).*"source":"([^"]+)")re");
  for (const std::string& line : test::Lines(r.out)) {
    std::smatch m;
    if (!std::regex_search(line, m, physical)) continue;
    listed[m[1]] = std::stoull(m[2]) * std::stoull(m[3]);
    EXPECT_EQ(m[4], m[1]);  // a Linux drive opens by its device path
  }
  EXPECT_EQ(listed, LsblkDisks());
  const test::ProcessResult text = test::Cli({"drives"});
  EXPECT_NE(text.out.find("Physical Drives (Partition Recovery)"), std::string::npos);
  EXPECT_NE(text.out.find("Logical Drives (Formatted and Deleted Recovery)"), std::string::npos);
}

// id, value, worst and threshold of every attribute row in a JSON text (kavo's or smartctl's).
std::set<std::string> AttributeRows(const std::string& json) {
  static const std::regex row(
      R"re("id":\s*(\d+),\s*"name":\s*"[^"]*",\s*"value":\s*(\d+),\s*"worst":\s*(\d+),\s*"thresh":\s*(\d+))re");
  std::set<std::string> rows;
  for (auto it = std::sregex_iterator(json.begin(), json.end(), row); it != std::sregex_iterator();
       ++it) {
    rows.insert((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() + " " +
                (*it)[4].str());
  }
  return rows;
}

TEST(CliHealth, AgreesWithSmartctl) {
  if (!test::HaveTool("smartctl")) GTEST_SKIP() << "smartctl is not installed";
  const test::ProcessResult all = test::Cli({"health"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  EXPECT_NE(all.out.find("Manufacturer"), std::string::npos);
  EXPECT_EQ(test::Cli({"health", "/dev/no-such-drive"}).exitCode, 1);
  int compared = 0;
  for (const auto& [disk, size] : LsblkDisks()) {
    const std::string theirs = test::RunProcess("smartctl", {"-A", "-j", disk}).out;
    const std::set<std::string> expected = AttributeRows(theirs);
    if (expected.empty()) continue;
    const test::ProcessResult ours = test::Cli({"health", disk, "--json"});
    ASSERT_EQ(ours.exitCode, 0) << ours.err;
    EXPECT_EQ(AttributeRows(ours.out), expected) << disk;
    ++compared;
  }
  if (compared == 0)
    GTEST_SKIP() << "no drive here answers SMART (smartctl -A lists no attributes)";
}
#endif

}  // namespace
}  // namespace kavo

// kavo-cli drives and health on the machine's own drives, against lsblk and smartctl.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "cli/cli_support.h"

namespace kavo {
namespace {

#ifndef _WIN32
// The number or string after `"key":` at or after `from` in a JSON text (white space allowed), or
// empty.
std::string Field(const std::string& json, const std::string& key, size_t from = 0,
                  size_t* end = nullptr) {
  size_t at = json.find("\"" + key + "\":", from);
  if (at == std::string::npos) return {};
  at += key.size() + 3;
  while (at < json.size() && json[at] == ' ') ++at;
  const bool quoted = at < json.size() && json[at] == '"';
  const size_t start = at + (quoted ? 1 : 0);
  const size_t stop = quoted ? json.find('"', start) : json.find_first_of(",}\n", start);
  if (stop == std::string::npos) return {};
  if (end != nullptr) *end = stop;
  return json.substr(start, stop - start);
}

// The whole disks lsblk reports with their sizes, without the devices that are no drive.
std::map<std::string, uint64_t> LsblkDisks() {
  const test::ProcessResult r =
      test::RunProcess("lsblk", {"-b", "-d", "-n", "-o", "NAME,SIZE,TYPE"});
  std::map<std::string, uint64_t> disks;
  std::istringstream lines(r.out);
  std::string name, type;
  uint64_t size = 0;
  while (lines >> name >> size >> type) {
    bool drive = type == "disk" && size != 0;
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"}) {
      drive = drive && name.rfind(prefix, 0) != 0;
    }
    if (drive) disks["/dev/" + name] = size;
  }
  return disks;
}

TEST(CliDrives, AgreesWithLsblk) {
  if (!test::HaveTool("lsblk")) GTEST_SKIP() << "lsblk is not installed";
  const test::ProcessResult r = test::Cli({"drives", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, uint64_t> listed;
  for (const std::string& line : test::Lines(r.out)) {
    if (Field(line, "kind") != "physical") continue;
    const std::string name = Field(line, "name");
    listed[name] = std::stoull(Field(line, "bytesPerSector")) * std::stoull(Field(line, "sectors"));
    EXPECT_EQ(Field(line, "source"), name);  // a Linux drive opens by its device path
  }
  EXPECT_EQ(listed, LsblkDisks());
  const test::ProcessResult text = test::Cli({"drives"});
  EXPECT_NE(text.out.find("Physical Drives (Partition Recovery)"), std::string::npos);
  EXPECT_NE(text.out.find("Logical Drives (Formatted and Deleted Recovery)"), std::string::npos);
}

// id, value, worst and threshold of every attribute row in a JSON text (kavo's or smartctl's).
std::set<std::string> AttributeRows(const std::string& json) {
  std::set<std::string> rows;
  size_t at = 0;
  for (;;) {
    size_t end = 0;
    const std::string id = Field(json, "id", at, &end);
    if (id.empty()) break;
    std::string row = id;
    for (const char* key : {"value", "worst", "thresh"}) row += " " + Field(json, key, end, &end);
    rows.insert(row);
    at = end;
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

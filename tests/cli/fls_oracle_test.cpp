// The Sleuth Kit as the oracle of every listing: on the images the suite makes with the real
// tools and on volumes that Windows and other systems wrote (the reference images), every live
// file fls lists is listed by `kavo-cli list` with its size, and saved by `kavo-cli recover`
// byte for byte as icat reads it; every deleted name fls gives is named. Where fls is wrong the
// table of known differences says why and holds kavo to what Windows shows.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "cli/cli_support.h"
#include "platform/text.h"
#include "recovery/names.h"
#include "support/fixtures.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;
using test::Cli;

struct FlsEntry {
  std::string path;
  std::string inode;
  bool deleted = false;
  bool folder = false;
  uint64_t size = 0;
  std::string modified;  // YYYY-MM-DD (UTC)
  std::string created;
};

struct KavoEntry {
  bool folder = false;
  bool present = false;
  uint64_t size = 0;
  std::string created;
  std::string modified;
};

// One field of a flat JSON object line as written by kavo-cli: a string (unescaped) or a bare
// value (number, true, false, null).
std::string JsonField(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const size_t at = line.find(tag);
  if (at == std::string::npos) return {};
  size_t i = at + tag.size();
  if (line[i] != '"') {
    const size_t end = line.find_first_of(",}", i);
    return line.substr(i, end - i);
  }
  std::string out;
  for (++i; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\') {
      out += line[i];
      continue;
    }
    const char e = line[++i];
    if (e == 'n')
      out += '\n';
    else if (e == 'r')
      out += '\r';
    else if (e == 't')
      out += '\t';
    else if (e == 'u') {
      out += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else
      out += e;
  }
  return out;
}

std::map<std::string, KavoEntry> KavoListing(const std::string& image, uint64_t start) {
  const auto r = Cli({"list", image, "--start", std::to_string(start), "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, KavoEntry> entries;
  for (const std::string& line : test::Lines(r.out)) {
    if (!line.starts_with("{\"path\":")) continue;
    KavoEntry e;
    e.folder = JsonField(line, "folder") == "true";
    e.present = JsonField(line, "present") == "true";
    e.size = std::stoull(JsonField(line, "size"));
    e.created = JsonField(line, "created");
    e.modified = JsonField(line, "modified");
    entries[JsonField(line, "path")] = e;
  }
  return entries;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// fls -r -p -l, without the entries that are not files of the volume: the virtual $MBR, $FAT1,
// $OrphanFiles ..., volume labels, NTFS named streams and the NTFS metadata files kavo never lists.
std::vector<FlsEntry> FlsListing(const std::string& image, uint64_t start) {
  static const std::set<std::string> kMetadata = {
      "$MFT",  "$MFTMirr", "$LogFile", "$Volume", "$AttrDef",      "$Bitmap",
      "$Boot", "$BadClus", "$Secure",  "$UpCase", "$ALLOC_BITMAP", "$UPCASE_TABLE"};
  std::vector<FlsEntry> entries;
  const std::string out = Capture("TZ=UTC fls -r -p -l -o " + std::to_string(start) + " " +
                                  Quoted(image) + " 2>/dev/null");
  for (const std::string& line : test::Lines(out)) {
    std::vector<std::string> f;
    for (size_t b = 0;;) {
      const size_t e = line.find('\t', b);
      f.push_back(line.substr(b, e - b));
      if (e == std::string::npos) break;
      b = e + 1;
    }
    if (f.size() < 7 || f[0].size() < 5) continue;
    const std::string type = f[0].substr(0, 3);
    FlsEntry e;
    e.path = f[1];
    e.deleted = f[0].find(" * ") != std::string::npos;
    e.folder = type[0] == 'd' || type[2] == 'd';
    const size_t sp = f[0].rfind(' ');
    e.inode = f[0].substr(sp + 1, f[0].size() - sp - 2);
    e.inode = e.inode.substr(0, e.inode.find('('));
    e.modified = f[2].substr(0, 10);
    e.created = f[5].substr(0, 10);
    e.size = std::stoull(f[6]);
    const std::string top = e.path.substr(0, e.path.find('/'));
    if (type == "v/v" || top == "$OrphanFiles" || kMetadata.count(top) ||
        e.path.find(':') != std::string::npos ||
        e.path.find("(Volume Label Entry)") != std::string::npos) {
      continue;
    }
    entries.push_back(e);
  }
  return entries;
}

// Where fls and Windows disagree, kavo shows what Windows shows.
struct KnownDifference {
  const char* image;
  const char* flsPath;
  const char* kavoPath;  // relative to "Data/"
  const char* why;
};
const KnownDifference kKnownDifferences[] = {
    {"fat_lfn_test", "long_name_test.txt", "SHORT.TXT",
     "the long-name entries' checksum does not match their short entry: they are an orphan, and "
     "Windows shows the short name"},
};

// Files whose bytes icat gives differently from Windows: kavo saves what Windows reads.
struct KnownContent {
  const char* image;
  const char* flsPath;
  const char* why;
};
const KnownContent kKnownContent[] = {
    {"exfat_encrypted", "usual_dir/0.bin.PFILE",
     "its valid data length is 0: Windows reads the 4096 bytes past it as zeros, icat gives the "
     "clusters as they are"},
};

bool ReadsAsZeros(const std::string& image, const std::string& flsPath) {
  for (const KnownContent& k : kKnownContent) {
    if (image == k.image && flsPath == k.flsPath) return true;
  }
  return false;
}

// The path kavo gives an fls path: a deleted FAT short name has lost its first letter, which fls
// shows as '_' and kavo as 'X'; fls cuts names longer than 195 characters, kavo keeps them whole.
std::string KavoPath(const std::string& image, const FlsEntry& e,
                     const std::map<std::string, KavoEntry>& kavo) {
  for (const KnownDifference& d : kKnownDifferences) {
    if (image == d.image && e.path == d.flsPath) return std::string("Data/") + d.kavoPath;
  }
  const std::string direct = "Data/" + e.path;
  if (kavo.count(direct)) return direct;
  const size_t slash = direct.rfind('/');
  std::string name = direct.substr(slash + 1);
  if (e.deleted && name.starts_with('_')) {
    const std::string x = direct.substr(0, slash + 1) + "X" + name.substr(1);
    if (kavo.count(x)) return x;
  }
  if (name.size() >= 190) {
    const std::string prefix = direct;
    const auto it = kavo.lower_bound(prefix);
    if (it != kavo.end() && it->first.starts_with(prefix)) return it->first;
  }
  return direct;
}

// The file recover wrote for a listed path: each component mapped as the save maps it.
fs::path SavedPath(const fs::path& out, const std::string& kavoPath) {
  fs::path p = out;
  for (size_t b = 0;;) {
    const size_t e = kavoPath.find('/', b);
    const std::u16string part = SafeOutputName(platform::Utf8ToUtf16(kavoPath.substr(b, e - b)));
    p /= fs::path(part);
    if (e == std::string::npos) break;
    b = e + 1;
  }
  return p;
}

struct OracleImage {
  std::string name;
  std::string file;
  uint64_t start = 0;
  bool ntfs = false;
};

// Compares one image; each mismatch names the path and the field.
void CompareWithFls(const OracleImage& img) {
  SCOPED_TRACE(img.name);
  const std::vector<FlsEntry> fls = FlsListing(img.file, img.start);
  ASSERT_FALSE(fls.empty()) << "fls lists nothing on " << img.file;
  const auto kavo = KavoListing(img.file, img.start);
  test::ScratchDir out;
  const auto saved = Cli(
      {"recover", img.file, "--start", std::to_string(img.start), "--out", out.path().string()});
  // Deleted files whose data is gone (no cluster, no record) are errors of the save, exit 1; what
  // counts is the bytes of every live file, checked below.
  ASSERT_TRUE(saved.exitCode == 0 || saved.exitCode == 1) << saved.err;

  size_t live = 0, matched = 0;
  for (const FlsEntry& e : fls) {
    const std::string path = KavoPath(img.name, e, kavo);
    const auto it = kavo.find(path);
    if (e.deleted) {
      EXPECT_TRUE(it != kavo.end()) << path << ": deleted name that fls gives is not listed";
      continue;
    }
    ++live;
    if (it == kavo.end()) {
      ADD_FAILURE() << path << ": live " << (e.folder ? "folder" : "file") << " not listed";
      continue;
    }
    const KavoEntry& k = it->second;
    EXPECT_TRUE(k.present) << path << ": present";
    EXPECT_EQ(k.folder, e.folder) << path << ": folder";
    if (e.folder) {
      ++matched;
      continue;
    }
    EXPECT_EQ(k.size, e.size) << path << ": size";
    if (img.ntfs) {
      EXPECT_EQ(k.modified, e.modified) << path << ": modified date";
      EXPECT_EQ(k.created, e.created) << path << ": created date";
    }
    std::string want = Capture("icat -o " + std::to_string(img.start) + " " + Quoted(img.file) +
                               " " + e.inode + " 2>/dev/null");
    const fs::path file = SavedPath(out.path(), path);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
      ADD_FAILURE() << path << ": not saved (" << file << ")";
      continue;
    }
    const std::string got = test::ReadFile(file);
    if (ReadsAsZeros(img.name, e.path)) want.assign(want.size(), '\0');
    if (got == want) {
      ++matched;
    } else {
      ADD_FAILURE() << path << ": saved bytes differ from icat (" << got.size() << " bytes, icat "
                    << want.size() << ")";
    }
  }
  EXPECT_EQ(matched, live) << "live entries of fls listed and saved exactly";
}

// The reference images, unpacked once per test program.
const std::vector<OracleImage>& ReferenceImages(std::string& why) {
  static std::vector<OracleImage> images;
  static std::string missing;
  static test::ScratchDir* dir = nullptr;
  if (dir == nullptr) {
    dir = new test::ScratchDir;  // kept for the whole run
    const fs::path from = KAVO_REFERENCE_IMAGES;
    const struct {
      const char* archive;
      const char* name;
      uint64_t start;
      bool ntfs;
    } kImages[] = {
        {"ntfs-win10.tgz", "ntfs-win10", 2048, true},
        {"ntfs_index.raw.gz", "ntfs_index", 128, true},
        {"ntfs3.raw.gz", "ntfs3", 0, true},
        {"fat_lfn_test.raw.gz", "fat_lfn_test", 0, false},
        {"fat12.raw.gz", "fat12", 0, false},
        {"exfat_encrypted.raw.gz", "exfat_encrypted", 0, false},
    };
    for (const auto& r : kImages) {
      const fs::path archive = from / r.archive;
      if (!fs::exists(archive)) {
        missing = "no reference images at " + from.string();
        break;
      }
      const fs::path image = (*dir) / (std::string(r.name) + ".dd");
      const std::string a = Quoted(archive.string());
      const std::string cmd = std::string(r.archive).ends_with(".tgz")
                                  ? "tar -xSzOf " + a + " > " + Quoted(image.string())
                                  : "gunzip -c " + a + " > " + Quoted(image.string());
      if (test::RunShell(cmd) != 0) {
        missing = "cannot unpack " + archive.string();
        break;
      }
      images.push_back({r.name, image.string(), r.start, r.ntfs});
    }
  }
  why = missing;
  return images;
}

class FlsOracle : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    for (const char* tool : {"fls", "icat", "tar", "gunzip"}) {
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " (The Sleuth Kit) is not installed";
    }
  }
};

TEST_P(FlsOracle, ReferenceImageListsAndSavesWhatFlsAndIcatSee) {
  std::string why;
  const auto& images = ReferenceImages(why);
  if (!why.empty()) GTEST_SKIP() << why;
  for (const OracleImage& img : images) {
    if (img.name == GetParam()) return CompareWithFls(img);
  }
  FAIL() << "no reference image " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Reference, FlsOracle,
                         ::testing::Values("ntfs-win10", "ntfs_index", "ntfs3", "fat_lfn_test",
                                           "fat12", "exfat_encrypted"),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

TEST(FlsOracleOnSuiteImages, EveryFixtureListsAndSavesWhatFlsAndIcatSee) {
  for (const char* tool : {"fls", "icat"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " (The Sleuth Kit) is not installed";
  }
  std::string why;
  const fs::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  const OracleImage kFixtures[] = {
      {"fat32", (fixtures / "fat32.img").string(), 2048, false},
      {"results", (fixtures / "results.img").string(), 2048, false},
      {"ntfs", (fixtures / "ntfs.img").string(), 0, true},
      {"exfat", (fixtures / "exfat.img").string(), 0, false},
  };
  for (const OracleImage& img : kFixtures) {
    if (!fs::exists(img.file)) {
      ADD_FAILURE() << img.file << " was not made by tools/make-fixtures.sh";
      continue;
    }
    CompareWithFls(img);
  }
}

}  // namespace
}  // namespace kavo

// The reader on volumes made by the real tools: mkfs.fat and mtools for FAT16 and FAT32 (also
// inside a partitioned disk image), mkfs.exfat and the exFAT FUSE driver for exFAT. Listings
// are compared with The Sleuth Kit's fls, contents with the original files and with icat.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "disk/volume.h"
#include "platform/text.h"
#include "recovery/fat/fat_reader.h"
#include "recovery/filesystem.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

// "d1/d2/d3/Ünïcödé 文件.txt" in UTF-8.
const std::string kUnicodePath =
    "d1/d2/d3/\xC3\x9C"
    "n\xC3\xAF"
    "c\xC3\xB6"
    "d\xC3\xA9 \xE6\x96\x87\xE4\xBB\xB6.txt";

struct Listed {
  bool folder = false;
  bool present = false;
  uint64_t size = 0;
  uint32_t id = 0;
  uint16_t flags = 0;
};

// A path key that fls and this reader agree on: the first character of every component of a
// deleted short name is lost, shown as X here and _ by fls.
std::string Key(const std::string& path) {
  std::string key = path;
  for (size_t i = 0; i < key.size(); ++i) {
    if ((i == 0 || key[i - 1] == '/') && (key[i] == 'X' || key[i] == '_')) key[i] = '?';
  }
  return key;
}

// The entries below "Data" by their Key.
std::map<std::string, Listed> Flatten(const ScanEntry& data) {
  std::map<std::string, Listed> out;
  std::vector<std::pair<const ScanEntry*, std::string>> stack{{&data, ""}};
  while (!stack.empty()) {
    auto [folder, prefix] = stack.back();
    stack.pop_back();
    for (const ScanEntry* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
      if (folder == &data && c->name == u"Lost+Found" && c->id == 0) continue;
      const std::string path = prefix + platform::Utf16ToUtf8(c->name);
      out[Key(path)] = {(c->flags & NF_FOLDER) != 0, (c->flags & NF_PRESENT) != 0, c->size, c->id,
                        c->flags};
      if (c->firstChild != nullptr) stack.push_back({c, path + "/"});
    }
  }
  return out;
}

// fls -r -p: path -> (deleted, inode), without the virtual entries.
std::map<std::string, std::pair<bool, std::string>> Fls(const fs::path& image, uint64_t offset) {
  const test::ProcessResult r =
      test::RunProcess("fls", {"-r", "-p", "-o", std::to_string(offset), image.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, std::pair<bool, std::string>> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string path = line.substr(tab + 1);
    if (path.empty() || path[0] == '$' || line[0] == 'v' || line[0] == 'V' ||
        path.find("(Volume Label Entry)") != std::string::npos) {
      continue;
    }
    const std::string head = line.substr(0, tab);
    const bool deleted = head.find(" * ") != std::string::npos;
    const size_t colon = head.rfind(':');
    const size_t space = head.rfind(' ', colon);
    out[Key(path)] = {deleted, head.substr(space + 1, colon - space - 1)};
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A volume opened as a source and listed.
struct Volume {
  CDisk disk;
  ScanEntryPtr data;
  std::map<std::string, Listed> entries;  // by Key

  Listed& At(const std::string& path) { return entries[Key(path)]; }
  bool Has(const std::string& path) const { return entries.count(Key(path)) != 0; }

  bool Open(const fs::path& image, uint64_t startSector) {
    disk.m_nSourceKind = SourceKind::ImageFile;
    if (!disk.Open(image.u16string())) return false;
    disk.m_nStartSector = startSector;
    if (!DetectVolume(disk)) return false;
    const uint32_t root = disk.m_nFileSystem == FS_FAT16 ? 1 : disk.m_volume.rootCluster;
    data = NewScanData(root);
    NullSink sink;
    FatReader(disk).List(data.get(), nullptr, sink);
    entries = Flatten(*data);
    return true;
  }

  std::string Extract(const std::string& path) {
    const auto found = entries.find(Key(path));
    if (found == entries.end()) return "<not listed>";
    RecoveredNode node;
    node.id = found->second.id;
    node.size = found->second.size;
    node.flags = found->second.flags;
    MemoryOutput out;
    FatReader(disk).ExtractFile(node, out, nullptr);
    return std::string(out.bytes.begin(), out.bytes.end());
  }
};

void ExpectSameListing(Volume& v, const fs::path& image, uint64_t offset) {
  const auto fls = Fls(image, offset);
  std::map<std::string, bool> ours;
  for (const auto& [key, e] : v.entries) ours[key] = !e.present;
  for (const auto& [key, info] : fls) {
    const auto found = ours.find(key);
    if (found == ours.end()) {
      ADD_FAILURE() << "fls lists " << key << " but the reader does not";
    } else {
      EXPECT_EQ(found->second, info.first) << key << ": deleted state differs";
    }
  }
  for (const auto& [key, deleted] : ours) {
    EXPECT_TRUE(fls.count(key)) << "the reader lists " << key << " but fls does not";
  }
}

std::string Icat(const fs::path& image, uint64_t offset, const std::string& inode) {
  const test::ProcessResult r =
      test::RunProcess("icat", {"-o", std::to_string(offset), image.string(), inode});
  return r.out;
}

// The files a scenario writes, by their path on the volume.
using Originals = std::map<std::string, std::string>;

void Pattern(const fs::path& path, size_t bytes, uint32_t seed) {
  std::string data(bytes, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
}

class FatVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel", "mdeltree", "fls", "icat"}) {
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }

  // mtools on the volume at `target` (an image, with @@offset for a partition).
  void M(const std::string& command) {
    ASSERT_EQ(
        test::RunShell("cd '" + dir.path().string() + "' && LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " +
                       command + " >/dev/null 2>&1"),
        0)
        << command;
  }
  void Put(const std::string& target, const std::string& volumePath, size_t bytes) {
    const std::string local = "src" + std::to_string(originals.size());
    Pattern(dir / local, bytes, static_cast<uint32_t>(originals.size() + 1));
    originals[volumePath] = ReadFile(dir / local);
    M("mcopy -i '" + target + "' '" + local + "' '::/" + volumePath + "'");
  }

  // Fills a volume with live files of awkward sizes and names, folders several levels deep, a
  // fragmented file, deleted files and a deleted folder tree.
  void Fill(const std::string& t, uint32_t clusterBytes) {
    M("mmd -i '" + t + "' ::/d1 ::/d1/d2 ::/d1/d2/d3 ::/_tree ::/_tree/_sub ::/many");
    Put(t, "empty.txt", 0);
    Put(t, "one.bin", 1);
    Put(t, "exact.bin", 4 * clusterBytes);
    Put(t, "d1/d2/big.bin", 300 * 1024 + 17);
    Put(t, "readme.txt", 10);
    Put(t, "A Long Name With Spaces, Commas And More Text.txt", 5000);
    Put(t, kUnicodePath, 777);
    for (int i = 0; i < 40; ++i) Put(t, "many/file number " + std::to_string(i) + ".dat", 100 + i);
    // A fragmented file: it takes the cluster freed between two others, then goes on after them.
    Put(t, "gap1.bin", clusterBytes);
    Put(t, "gap2.bin", clusterBytes);
    M("mdel -i '" + t + "' ::/gap1.bin");
    originals.erase("gap1.bin");
    Put(t, "fragmented.bin", 3 * clusterBytes + 100);
    // Deleted last, so that nothing overwrites them. Names of deleted short entries lose their
    // first character, so those begin with _, which fls shows there.
    Put(t, "deleted long name of a file.dat", 3 * clusterBytes + 5);
    Put(t, "_DELSHRT.BIN", 2000);
    Put(t, "_tree/_inside.txt", 1234);
    Put(t, "_tree/_sub/deeper file.txt", 2 * clusterBytes + 1);
    M("mdel -i '" + t + "' '::/deleted long name of a file.dat' ::/_DELSHRT.BIN");
    M("mdeltree -i '" + t + "' ::/_tree");
  }

  // Checks the listing against fls and every file against its original; deleted files, which
  // were contiguous and not overwritten, too.
  void Check(const fs::path& image, uint64_t startSector) {
    Volume v;
    ASSERT_TRUE(v.Open(image, startSector));
    ExpectSameListing(v, image, startSector);
    for (const auto& [path, content] : originals) {
      EXPECT_TRUE(v.Extract(path) == content) << path;
    }
    for (const char* deleted : {"deleted long name of a file.dat", "_DELSHRT.BIN", "_tree",
                                "_tree/_inside.txt", "_tree/_sub/deeper file.txt"}) {
      ASSERT_TRUE(v.Has(deleted)) << deleted;
      EXPECT_FALSE(v.At(deleted).present) << deleted;
    }
    EXPECT_TRUE(v.At("d1/d2/d3").folder);
    EXPECT_TRUE(v.At("empty.txt").present);
    // icat agrees on live files, the fragmented one included.
    const auto fls = Fls(image, startSector);
    for (const char* path : {"fragmented.bin", "d1/d2/big.bin", "exact.bin", "one.bin"}) {
      EXPECT_TRUE(v.Extract(path) == Icat(image, startSector, fls.at(Key(path)).second)) << path;
    }
  }

  test::ScratchDir dir;
  Originals originals;
};

TEST_F(FatVolumeTest, Fat16VolumesOfSeveralClusterSizes) {
  for (const auto& [size, sectors] : {std::pair{"32M", 4}, std::pair{"200M", 64}}) {
    SCOPED_TRACE(sectors);
    originals.clear();
    const fs::path image = dir / "fat16.img";
    ASSERT_EQ(test::RunShell("rm -f '" + image.string() + "' && truncate -s " + size + " '" +
                             image.string() + "' && mkfs.fat -F 16 -n KAVOTEST -s " +
                             std::to_string(sectors) + " '" + image.string() + "' >/dev/null"),
              0);
    Fill(image.string(), sectors * 512);
    Check(image, 0);
  }
}

TEST_F(FatVolumeTest, Fat32VolumesOfSeveralClusterSizes) {
  for (const auto& [size, sectors] : {std::pair{"64M", 1}, std::pair{"300M", 8}}) {
    SCOPED_TRACE(sectors);
    originals.clear();
    const fs::path image = dir / "fat32.img";
    ASSERT_EQ(test::RunShell("rm -f '" + image.string() + "' && truncate -s " + size + " '" +
                             image.string() + "' && mkfs.fat -F 32 -s " + std::to_string(sectors) +
                             " '" + image.string() + "' >/dev/null"),
              0);
    Fill(image.string(), sectors * 512);
    Check(image, 0);
  }
}

TEST_F(FatVolumeTest, Fat12VolumesOfBothSectorSizes) {
  // With 512-byte clusters d1/d2/big.bin's chain runs past cluster 341, whose 12-bit entry
  // straddles the table's first two sectors.
  for (const auto& [size, sectorBytes] : {std::pair{"2M", 512u}, std::pair{"8M", 4096u}}) {
    SCOPED_TRACE(sectorBytes);
    originals.clear();
    const fs::path image = dir / "fat12.img";
    ASSERT_EQ(test::RunShell("rm -f '" + image.string() + "' && truncate -s " + size + " '" +
                             image.string() + "' && mkfs.fat -F 12 -s 1 -S " +
                             std::to_string(sectorBytes) + " '" + image.string() + "' >/dev/null"),
              0);
    Fill(image.string(), sectorBytes);
    Check(image, 0);
    Volume v;
    ASSERT_TRUE(v.Open(image, 0));
    ASSERT_EQ(v.disk.m_nFileSystem, FS_FAT12);
    if (sectorBytes == 512) {
      const std::vector<uint32_t> chain = FatReader(v.disk).BuildFatChain(v.At("d1/d2/big.bin").id);
      EXPECT_NE(std::find(chain.begin(), chain.end(), 341u), chain.end());
    }
  }
}

TEST_F(FatVolumeTest, DeletedFragmentedFileIsReadFromConsecutiveClusters) {
  const fs::path image = dir / "frag.img";
  // FAT16: without the FAT32 next-free hint, mtools fills the first free cluster.
  ASSERT_EQ(test::RunShell("truncate -s 32M '" + image.string() + "' && mkfs.fat -F 16 -s 1 '" +
                           image.string() + "' >/dev/null"),
            0);
  const std::string t = image.string();
  Put(t, "a.bin", 512);
  Put(t, "b.bin", 512);
  M("mdel -i '" + t + "' ::/a.bin");
  Put(t, "_c.bin", 3 * 512);
  Volume live;
  ASSERT_TRUE(live.Open(image, 0));
  ASSERT_TRUE(live.Extract("_c.bin") == originals["_c.bin"]);
  const uint32_t first = live.At("_c.bin").id;
  const std::vector<uint32_t> chain = FatReader(live.disk).BuildFatChain(first);
  ASSERT_EQ(chain.size(), 3u);
  ASSERT_NE(chain[1], first + 1) << "the file must be fragmented";
  M("mdel -i '" + t + "' ::/_c.bin");

  Volume v;
  ASSERT_TRUE(v.Open(image, 0));
  ASSERT_TRUE(v.Has("_c.bin"));
  EXPECT_FALSE(v.At("_c.bin").present);
  // Three consecutive clusters from the first: the middle one is b.bin's.
  const std::string raw = ReadFile(image);
  const uint64_t at = (v.disk.m_volume.firstDataSector + 32 + first - 2) * 512;
  EXPECT_TRUE(v.Extract("_c.bin") == raw.substr(at, 3 * 512));
  EXPECT_TRUE(v.Extract("_c.bin").substr(512, 512) == originals["b.bin"]);
}

TEST_F(FatVolumeTest, VolumeInsidePartitionedDisk) {
  if (!test::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  const fs::path image = dir / "disk.img";
  ASSERT_EQ(test::RunShell("truncate -s 80M '" + image.string() +
                           "' && echo 'start=2048, type=c' | "
                           "sfdisk -q '" +
                           image.string() +
                           "' >/dev/null && mkfs.fat -F 32 -s 2 "
                           "--offset 2048 '" +
                           image.string() + "' >/dev/null"),
            0);
  Fill(image.string() + "@@1M", 1024);
  Check(image, 2048);
}

// A reference image made elsewhere, unpacked to $KAVO_REFERENCE_IMAGES (default /tmp/ref).
fs::path ReferenceImage(const std::string& name) {
  const char* dir = std::getenv("KAVO_REFERENCE_IMAGES");
  return fs::path(dir != nullptr && *dir != 0 ? dir : "/tmp/ref") / name;
}

// Every file of the volume's tree (as the scan makes it, so each node has its parent) by Key.
void TreeFiles(const RecoveredNode* folder, const std::string& prefix,
               std::map<std::string, const RecoveredNode*>& out) {
  for (const RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
    const std::string path = prefix + platform::Utf16ToUtf8(std::u16string(NodeName(*c)));
    if ((c->flags & NF_FOLDER) != 0) {
      TreeFiles(c, path + "/", out);
    } else {
      out[Key(path)] = c;
    }
  }
}

// The reference FAT12 volume (513 files in folders) and the exFAT volume whose files have valid
// data lengths below their sizes: every name fls lists is listed, and every live file with the
// size and the bytes icat gives, except that icat does not zero what lies past a valid data
// length; on FAT12 the listings agree entry by entry.
TEST(ReferenceImages, LiveFilesAsTheSleuthKitReadsThem) {
  for (const char* tool : {"fls", "icat"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  for (const char* name : {"fat12.img", "exfat_encrypted.img"}) {
    SCOPED_TRACE(name);
    const fs::path image = ReferenceImage(name);
    if (!fs::exists(image)) GTEST_SKIP() << image << " is not unpacked";
    Volume v;
    ASSERT_TRUE(v.Open(image, 0));
    if (v.disk.m_nFileSystem == FS_FAT12) ExpectSameListing(v, image, 0);
    NullSink sink;
    const NodePtr root = ScanFileSystem(v.disk, nullptr, sink);
    ASSERT_TRUE(root && root->firstChild);
    std::map<std::string, const RecoveredNode*> files;
    TreeFiles(root->firstChild, "", files);
    FatReader reader(v.disk);
    // Its valid data length is 0: Windows reads zeros where icat reads the clusters.
    const std::string zeroedPastValidLength = "usual_dir/0.bin.PFILE";
    std::vector<std::pair<std::string, std::string>> live;  // key, inode
    for (const auto& [key, info] : Fls(image, 0)) {
      const auto& [deleted, inode] = info;
      ASSERT_TRUE(v.entries.count(key)) << "fls lists " << key << " but the reader does not";
      if (deleted || v.entries[key].folder) continue;
      ASSERT_TRUE(files.count(key)) << key;
      live.emplace_back(key, inode);
    }
    // icat takes a while per file: about 40 of them, the one past its valid length among them.
    const size_t step = std::max<size_t>(1, live.size() / 40);
    size_t compared = 0;
    for (size_t i = 0; i < live.size(); ++i) {
      const auto& [key, inode] = live[i];
      if (i % step != 0 && key != zeroedPastValidLength) continue;
      std::string expected = Icat(image, 0, inode);
      if (key == zeroedPastValidLength) expected.assign(expected.size(), '\0');
      EXPECT_EQ(files[key]->size, expected.size()) << key;
      MemoryOutput out;
      reader.ExtractFile(*files[key], out, nullptr);
      EXPECT_TRUE(std::string(out.bytes.begin(), out.bytes.end()) == expected) << key;
      ++compared;
    }
    EXPECT_GE(live.size(), v.disk.m_nFileSystem == FS_FAT12 ? 500u : 10u);
    EXPECT_GE(compared, std::min<size_t>(live.size(), 40));
  }
}

// exFAT through the kernel's loop devices and the FUSE driver, which need root.
class ExfatMount {
 public:
  ExfatMount(const fs::path& image, const fs::path& mountPoint) : m_mountPoint(mountPoint) {
    fs::create_directories(mountPoint);
    const test::ProcessResult loop = test::RunProcess("losetup", {"-f", "--show", image.string()});
    if (loop.exitCode != 0) return;
    m_loop = loop.out.substr(0, loop.out.find('\n'));
    m_mounted = test::RunShell("mount.exfat-fuse " + m_loop + " '" + mountPoint.string() +
                               "' >/dev/null 2>&1") == 0;
  }
  ~ExfatMount() { Unmount(); }
  bool Mounted() const { return m_mounted; }
  void Unmount() {
    if (m_mounted) test::RunShell("umount '" + m_mountPoint.string() + "'");
    m_mounted = false;
    if (!m_loop.empty()) test::RunShell("losetup -d " + m_loop);
    m_loop.clear();
  }

 private:
  fs::path m_mountPoint;
  std::string m_loop;
  bool m_mounted = false;
};

TEST(ExfatVolume, LiveAndDeletedFilesOfAFuseWrittenVolume) {
  for (const char* tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup", "fls", "icat"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  if (geteuid() != 0) GTEST_SKIP() << "loop devices and FUSE mounts need root";
  if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not available";
  test::ScratchDir dir;
  const fs::path image = dir / "exfat.img";
  ASSERT_EQ(test::RunShell("truncate -s 64M '" + image.string() + "' && mkfs.exfat -c 4K '" +
                           image.string() + "' >/dev/null"),
            0);
  Originals originals;
  {
    ExfatMount mount(image, dir / "mnt");
    if (!mount.Mounted()) GTEST_SKIP() << "the exFAT volume could not be mounted";
    const fs::path m = dir / "mnt";
    int seed = 1;
    const auto put = [&](const std::string& path, size_t bytes) {
      Pattern(m / path, bytes, static_cast<uint32_t>(seed++));
      originals[path] = ReadFile(m / path);
    };
    fs::create_directories(m / "d1/d2/d3");
    fs::create_directories(m / "tree/sub");
    fs::create_directories(m / "many");
    put("empty.txt", 0);
    put("one.bin", 1);
    put("exact.bin", 3 * 4096);
    put(kUnicodePath, 777);
    put("a file name of more than fifteen characters and then some.txt", 5000);
    // Enough entries for the root and a folder to span several clusters.
    for (int i = 0; i < 60; ++i) put("root file number " + std::to_string(i), 10 + i);
    for (int i = 0; i < 100; ++i) put("many/file number " + std::to_string(i) + ".dat", 100 + i);
    // Appending after another file was written splits the file: its clusters follow the table.
    put("fragmented.bin", 100000);
    put("between.bin", 5000);
    {
      std::ofstream more(m / "fragmented.bin", std::ios::binary | std::ios::app);
      const std::string tail(50000, 'z');
      more.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    }
    originals["fragmented.bin"] = ReadFile(m / "fragmented.bin");
    put("deleted.bin", 3 * 4096 + 5);
    put("tree/inside.txt", 1234);
    put("tree/sub/deeper file.txt", 9000);
    fs::remove(m / "deleted.bin");
    fs::remove_all(m / "tree");
    mount.Unmount();
  }

  Volume v;
  ASSERT_TRUE(v.Open(image, 0));
  ASSERT_EQ(v.disk.m_nFileSystem, FS_EXFAT);
  ExpectSameListing(v, image, 0);
  for (const auto& [path, content] : originals) {
    EXPECT_TRUE(v.Extract(path) == content) << path;
  }
  for (const char* deleted :
       {"deleted.bin", "tree", "tree/inside.txt", "tree/sub/deeper file.txt"}) {
    ASSERT_TRUE(v.Has(deleted)) << deleted;
    EXPECT_FALSE(v.At(deleted).present) << deleted;
  }
  EXPECT_NE(v.At("fragmented.bin").flags & NF_FATCHAIN, 0);
  EXPECT_EQ(v.At("exact.bin").flags & NF_FATCHAIN, 0);
  const auto fls = Fls(image, 0);
  for (const char* path : {"fragmented.bin", "exact.bin", "one.bin"}) {
    EXPECT_TRUE(v.Extract(path) == Icat(image, 0, fls.at(Key(path)).second)) << path;
  }
}

}  // namespace
}  // namespace kavo
#endif

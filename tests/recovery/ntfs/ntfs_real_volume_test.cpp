// The NTFS reader on volumes made by mkntfs and filled through ntfs-3g: the listing against
// The Sleuth Kit's fls, the recovered bytes against icat and against the files written.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/messages.h"
#include "disk/disk.h"
#include "disk/volume.h"
#include "platform/text.h"
#include "recovery/ntfs/ntfs_reader.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string Quote(const fs::path& p) {
  return "'" + p.string() + "'";
}

// Why the real-volume tests cannot run here, or empty.
std::string MissingPrerequisite() {
  if (geteuid() != 0) return "mounting a loop device needs root";
  for (const char* tool : {"mkntfs", "ntfs-3g", "losetup", "fls", "icat", "istat"}) {
    if (!test::HaveTool(tool)) return std::string(tool) + " is not installed";
  }
  if (!fs::exists("/dev/fuse")) return "FUSE (/dev/fuse) is not available";
  return {};
}

// An image file attached to a loop device and mounted with ntfs-3g; unmounted and detached when
// the object goes away.
class MountedNtfs {
 public:
  MountedNtfs(const fs::path& image, const fs::path& mountPoint, const std::string& options,
              uint32_t sectorSize = 512)
      : m_mountPoint(mountPoint) {
    fs::create_directories(mountPoint);
    const std::string out = (mountPoint.parent_path() / "loop.txt").string();
    if (test::RunShell("losetup -f --show --sector-size " + std::to_string(sectorSize) + " " +
                       Quote(image) + " > '" + out + "'") != 0) {
      return;
    }
    std::ifstream(out) >> m_loop;
    m_mounted = !m_loop.empty() && test::RunShell("ntfs-3g -o " + options + " " + m_loop + " " +
                                                  Quote(mountPoint)) == 0;
  }
  ~MountedNtfs() { Unmount(); }
  MountedNtfs(const MountedNtfs&) = delete;
  MountedNtfs& operator=(const MountedNtfs&) = delete;

  bool Mounted() const { return m_mounted; }
  const std::string& Loop() const { return m_loop; }
  // Unmounts, keeping the loop device.
  void Release() {
    if (m_mounted) test::RunShell("umount " + Quote(m_mountPoint));
    m_mounted = false;
  }
  void Unmount() {
    Release();
    if (!m_loop.empty()) test::RunShell("losetup -d " + m_loop);
    m_loop.clear();
  }

 private:
  fs::path m_mountPoint;
  std::string m_loop;
  bool m_mounted = false;
};

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes TextBytes(size_t lines) {
  std::string s;
  for (size_t i = 0; i < lines; ++i) s += "line " + std::to_string(i) + " of a compressible text\n";
  return Bytes(s.begin(), s.end());
}

void WriteFile(const fs::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Listed {
  std::string path;  // below Data, "/"-separated
  uint64_t size = 0;
  uint16_t flags = 0;
  const RecoveredNode* node = nullptr;
};

// The nodes below "Data" by record number (the last one seen for numbers listed twice).
std::map<uint32_t, Listed> Collect(const RecoveredNode* data) {
  std::map<uint32_t, Listed> out;
  std::vector<std::pair<const RecoveredNode*, std::string>> stack{{data, ""}};
  while (!stack.empty()) {
    auto [folder, prefix] = stack.back();
    stack.pop_back();
    for (const RecoveredNode* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
      const std::string path = prefix + platform::Utf16ToUtf8(NodeName(*c));
      out[c->id] = {path, c->size, c->flags, c};
      if (c->firstChild != nullptr) stack.push_back({c, path + "/"});
    }
  }
  return out;
}

struct FlsEntry {
  std::string path;
  bool folder = false;
  bool deleted = false;
  uint64_t size = 0;
};

// fls -r -p -l: "r/r * 64-128-2:<TAB>path<TAB>4 times<TAB>size<TAB>uid<TAB>gid".
std::map<uint32_t, FlsEntry> RunFls(const fs::path& image, const fs::path& scratch) {
  const fs::path out = scratch / "fls.txt";
  EXPECT_EQ(test::RunShell("fls -r -p -l -o 0 " + Quote(image) + " > " + Quote(out)), 0);
  std::map<uint32_t, FlsEntry> entries;
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, '\t');) fields.push_back(f);
    if (fields.size() < 7) continue;
    const std::string& head = fields[0];
    FlsEntry e;
    e.folder = head.size() > 2 && head[2] == 'd';
    e.deleted = head.find(" * ") != std::string::npos;
    const size_t digits = head.find_first_of("0123456789", 4);
    if (digits == std::string::npos) continue;
    const uint32_t inode = static_cast<uint32_t>(std::stoul(head.substr(digits)));
    e.path = fields[1];
    e.size = std::stoull(fields[6]);
    // Named streams and the orphan pseudo-folder are not entries of their own.
    if (e.path.find(':') != std::string::npos || e.path.rfind("$OrphanFiles", 0) == 0) {
      if (e.path.rfind("$OrphanFiles/", 0) != 0 ||
          e.path.find("OrphanFile-") != std::string::npos) {
        continue;
      }
      e.path = e.path.substr(13);
    }
    entries.emplace(inode, e);  // a hard link or a second name keeps the first
  }
  return entries;
}

Bytes Icat(const fs::path& image, uint32_t inode, const fs::path& scratch) {
  const fs::path out = scratch / "icat.bin";
  EXPECT_EQ(test::RunShell("icat -o 0 " + Quote(image) + " " + std::to_string(inode) + " > " +
                           Quote(out)),
            0);
  return ReadFile(out);
}

bool OpenImage(CDisk& disk, const fs::path& image) {
  disk.m_nSourceKind = SourceKind::ImageFile;
  return disk.Open(image.u16string()) && DetectVolume(disk) && disk.m_nFileSystem == FS_NTFS;
}

class CountingSink final : public MessageSink {
 public:
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    if (message == UM_PROGRESS) ++progress;
    return 0;
  }
  int progress = 0;
};

// One volume for the whole suite: nested and Unicode names, a resident file, a sparse file,
// a compressed folder, a folder of 1100 entries, a file fragmented enough to need an attribute
// list, and then a deleted file and a deleted folder tree.
class RealNtfs : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_skip = MissingPrerequisite();
    if (!s_skip.empty()) return;
    s_dir = new test::ScratchDir;
    s_image = s_dir->path() / "volume.img";
    if (test::RunShell("truncate -s 48M " + Quote(s_image) + " && mkntfs -F -q " + Quote(s_image) +
                       " >/dev/null 2>&1") != 0) {
      s_skip = "mkntfs failed";
      return;
    }
    const fs::path mnt = s_dir->path() / "mnt";
    MountedNtfs mounted(s_image, mnt, "compression");
    if (!mounted.Mounted()) {
      s_skip = "ntfs-3g could not mount a loop device here";
      return;
    }
    Fill(mnt);
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }

  void SetUp() override {
    if (!s_skip.empty()) GTEST_SKIP() << s_skip;
  }

  static void Put(const fs::path& mnt, const std::string& path, const Bytes& bytes) {
    WriteFile(mnt / fs::u8path(path), bytes);
    s_files[path] = bytes;
  }

  static void Fill(const fs::path& mnt) {
    fs::create_directories(mnt / "docs/reports/2024");
    Put(mnt, "docs/reports/2024/q1.txt", RandomBytes(10000, 1));
    Put(mnt, "docs/readme.md", TextBytes(40));
    fs::create_directories(mnt / fs::u8path("Ünïcödé"));
    Put(mnt, "Ünïcödé/日本語.txt", RandomBytes(3000, 2));
    Put(mnt, "emoji 😀.bin", RandomBytes(777, 3));
    Put(mnt, "tiny.txt", Bytes{'h', 'i', '\n'});

    {
      std::ofstream sparse(mnt / "sparse.bin", std::ios::binary);
      sparse.seekp(1 << 20);
      sparse.write(std::string(5000, 'x').data(), 5000);
      sparse.seekp(3 << 20);
      sparse.write("end", 3);
    }
    Bytes sparse(3 * (1 << 20) + 3, 0);
    std::fill(sparse.begin() + (1 << 20), sparse.begin() + (1 << 20) + 5000, 'x');
    std::copy_n("end", 3, sparse.end() - 3);
    s_files["sparse.bin"] = sparse;

    // Files made in a folder with the compressed attribute are compressed by ntfs-3g.
    fs::create_directories(mnt / "comp");
    const uint8_t attrib[4] = {0x00, 0x00, 0x08, 0x10};
    setxattr((mnt / "comp").c_str(), "system.ntfs_attrib_be", attrib, 4, 0);
    Put(mnt, "comp/text.txt", TextBytes(20000));
    Put(mnt, "comp/random.bin", RandomBytes(150000, 4));
    Bytes mixed = TextBytes(3000);
    mixed.resize(mixed.size() + 200000, 0);
    const Bytes tail = TextBytes(500);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    Put(mnt, "comp/mixed.bin", mixed);

    fs::create_directories(mnt / "many");
    for (int i = 0; i < 1100; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "n%04d", i);
      const std::string text = "entry " + std::to_string(i) + "\n";
      Put(mnt, std::string("many/") + name, Bytes(text.begin(), text.end()));
    }

    Put(mnt, "del_single.bin", RandomBytes(200000, 5));
    fs::create_directories(mnt / "deltree/a/b");
    Put(mnt, "deltree/top.bin", RandomBytes(9000, 6));
    Put(mnt, "deltree/a/mid.bin", RandomBytes(70000, 7));
    Put(mnt, "deltree/a/b/deep.txt", TextBytes(100));

    // Fragments: fill the free space with a ballast file and 4 KiB files, free every other one
    // and write a file into the holes.
    struct statvfs st {};
    statvfs(mnt.c_str(), &st);
    const uint64_t free = uint64_t{st.f_bavail} * st.f_frsize;
    Put(mnt, "ballast.bin", RandomBytes(free > (4 << 20) ? free - (3 << 20) : 1 << 20, 8));
    fs::create_directories(mnt / "fill");
    int filled = 0;
    for (;; ++filled) {
      const fs::path p = mnt / "fill" / std::to_string(filled);
      std::ofstream f(p, std::ios::binary);
      const Bytes b = RandomBytes(4096, 100 + filled);
      f.write(reinterpret_cast<const char*>(b.data()), 4096);
      f.close();
      if (!f || filled > 3000) break;
    }
    for (int i = 0; i <= filled; i += 2) fs::remove(mnt / "fill" / std::to_string(i));
    Bytes fragmented;
    {
      std::ofstream f(mnt / "fragmented.bin", std::ios::binary);
      for (int i = 0; i < filled / 2 - 8; ++i) {
        const Bytes b = RandomBytes(4096, 10000 + i);
        f.write(reinterpret_cast<const char*>(b.data()), 4096);
        fragmented.insert(fragmented.end(), b.begin(), b.end());
      }
    }
    s_files["fragmented.bin"] = fragmented;

    fs::remove(mnt / "del_single.bin");
    fs::remove_all(mnt / "deltree");
    s_deleted = {"del_single.bin", "deltree/top.bin", "deltree/a/mid.bin", "deltree/a/b/deep.txt"};
  }

  static inline std::string s_skip;
  static inline test::ScratchDir* s_dir = nullptr;
  static inline fs::path s_image;
  static inline std::map<std::string, Bytes> s_files;  // what was written, by path
  static inline std::set<std::string> s_deleted;
};

TEST_F(RealNtfs, ListingMatchesFls) {
  CDisk disk;
  ASSERT_TRUE(OpenImage(disk, s_image));
  NtfsReader reader(disk);
  ProgressRecord progress;
  progress.SetState(PS_RUNNING);
  CountingSink sink;
  ScanEntryPtr data = NewScanData(5);
  EXPECT_EQ(reader.ListNtfs(data.get(), &progress, sink), PS_RUNNING);
  // One message per chunk of 128 sectors of records, each run of the MFT read on its own.
  const uint64_t perChunk = 128 * 512 / disk.m_volume.bytesPerMftRecord;
  const uint64_t recordsPerCluster =
      disk.m_volume.bytesPerCluster / disk.m_volume.bytesPerMftRecord;
  uint64_t chunks = 0;
  for (const kavo::Run& run : reader.MftRuns()) {
    const uint64_t first = run.vcn * recordsPerCluster;
    const uint64_t end = std::min(first + run.length * recordsPerCluster, reader.MftRecordCount());
    if (end > first) chunks += (end - first + perChunk - 1) / perChunk;
  }
  EXPECT_EQ(uint64_t(sink.progress), chunks);
  EXPECT_EQ(progress.End(), reader.MftRecordCount());

  NodePtr root = BuildFileSystemTree(std::move(data));
  const RecoveredNode* dataNode = root->firstChild;
  // Lost+Found comes last and shows as not present.
  const RecoveredNode* last = dataNode->firstChild;
  while (last->nextSibling != nullptr) last = last->nextSibling;
  EXPECT_EQ(NodeName(*last), u"Lost+Found");
  EXPECT_EQ(last->flags, NF_FOLDER);

  const std::map<uint32_t, Listed> mine = Collect(dataNode);
  const std::map<uint32_t, FlsEntry> fls = RunFls(s_image, s_dir->path());
  const std::set<std::string> dropped = {"$MFT",    "$MFTMirr", "$LogFile", "$Volume", "$AttrDef",
                                         "$Bitmap", "$Boot",    "$BadClus", "$Secure", "$UpCase"};
  size_t compared = 0;
  for (const auto& [inode, e] : fls) {
    const std::string base = e.path.substr(e.path.rfind('/') + 1);
    if (dropped.count(base) != 0) {
      const auto it = mine.find(inode);
      EXPECT_TRUE(it == mine.end() || it->second.path == "Lost+Found") << e.path;
      continue;
    }
    const auto it = mine.find(inode);
    ASSERT_NE(it, mine.end()) << "missing " << e.path << " (" << inode << ")";
    const Listed& m = it->second;
    EXPECT_EQ((m.flags & NF_PRESENT) == 0, e.deleted) << e.path;
    EXPECT_EQ((m.flags & NF_FOLDER) != 0, e.folder) << e.path;
    if (!e.folder) {
      EXPECT_EQ(m.size, e.size) << e.path;
    }
    // Live entries sit where fls shows them; deleted ones at least keep their name.
    if (!e.deleted) {
      EXPECT_EQ(m.path, e.path);
    } else {
      EXPECT_EQ(m.path.substr(m.path.rfind('/') + 1), base);
    }
    ++compared;
  }
  EXPECT_GT(compared, 1100u + 300u);
  for (const auto& [inode, m] : mine) {
    if ((m.flags & NF_PRESENT) == 0 || m.path.rfind("Lost+Found", 0) == 0) continue;
    EXPECT_EQ(fls.count(inode), 1u) << "not in fls: " << m.path;
  }

  // The deleted tree is still listed in place, with its folders, as not present.
  for (const std::string& path : s_deleted) {
    bool found = false;
    for (const auto& [inode, m] : mine) {
      if (m.path == path) {
        found = true;
        EXPECT_EQ(m.flags & NF_PRESENT, 0) << path;
      }
    }
    EXPECT_TRUE(found) << path;
  }
}

TEST_F(RealNtfs, RecoveredBytesMatchOriginalsAndIcat) {
  // The files of interest really took the paths under test.
  const auto istat = [](uint32_t inode) {
    const fs::path out = s_dir->path() / "istat.txt";
    test::RunShell("istat -o 0 " + Quote(s_image) + " " + std::to_string(inode) + " > " +
                   Quote(out));
    const Bytes b = ReadFile(out);
    return std::string(b.begin(), b.end());
  };

  CDisk disk;
  ASSERT_TRUE(OpenImage(disk, s_image));
  NtfsReader reader(disk);
  NullSink sink;
  ScanEntryPtr data = NewScanData(5);
  reader.ListNtfs(data.get(), nullptr, sink);
  NodePtr root = BuildFileSystemTree(std::move(data));
  const std::map<uint32_t, Listed> mine = Collect(root->firstChild);

  std::map<std::string, uint32_t> byPath;
  for (const auto& [inode, m] : mine) byPath[m.path] = inode;
  EXPECT_NE(istat(byPath["fragmented.bin"]).find("$ATTRIBUTE_LIST"), std::string::npos);
  EXPECT_NE(istat(byPath["comp/text.txt"]).find("Compressed"), std::string::npos);
  EXPECT_NE(istat(byPath["sparse.bin"]).find("Sparse"), std::string::npos);
  EXPECT_NE(istat(byPath["tiny.txt"]).find("Resident"), std::string::npos);

  size_t checked = 0;
  for (const auto& [path, original] : s_files) {
    if (path.rfind("many/", 0) == 0 && path != "many/n0007") continue;
    const auto it = byPath.find(path);
    ASSERT_NE(it, byPath.end()) << path;
    ProgressRecord progress;
    progress.SetState(PS_RUNNING);
    MemoryOutput out;
    EXPECT_TRUE(reader.ExtractNtfsFile(*mine.at(it->second).node, out, &progress)) << path;
    EXPECT_EQ(out.bytes.size(), original.size()) << path;
    EXPECT_TRUE(out.bytes == original) << path << " differs from what was written";
    EXPECT_TRUE(out.bytes == Icat(s_image, it->second, s_dir->path())) << path << " vs icat";
    EXPECT_EQ(progress.Position(), original.size()) << path;
    ++checked;
  }
  EXPECT_EQ(checked, s_files.size() - 1099);
}

TEST_F(RealNtfs, StopRequestsEndTheWalkAndTheExtraction) {
  CDisk disk;
  ASSERT_TRUE(OpenImage(disk, s_image));
  NtfsReader reader(disk);
  NullSink sink;
  ProgressRecord progress;
  progress.RequestStop();
  ScanEntryPtr data = NewScanData(5);
  EXPECT_EQ(reader.ListNtfs(data.get(), &progress, sink), PS_STOPPED);
  // Only Lost+Found is left under Data.
  ASSERT_NE(data->firstChild, nullptr);
  EXPECT_EQ(data->firstChild->name, u"Lost+Found");
  EXPECT_EQ(data->firstChild->nextSibling, nullptr);

  data = NewScanData(5);
  reader.ListNtfs(data.get(), nullptr, sink);
  NodePtr root = BuildFileSystemTree(std::move(data));
  const std::map<uint32_t, Listed> mine = Collect(root->firstChild);
  const RecoveredNode* ballast = nullptr;
  for (const auto& [inode, m] : mine) {
    if (m.path == "ballast.bin") ballast = m.node;
  }
  ASSERT_NE(ballast, nullptr);

  // A sink that asks for a stop once the first piece is written.
  class StoppingOutput final : public FileOutput {
   public:
    explicit StoppingOutput(ProgressRecord& p) : m_progress(p) {}
    bool Write(const uint8_t*, size_t bytes) override {
      written += bytes;
      m_progress.RequestStop();
      return true;
    }
    size_t written = 0;

   private:
    ProgressRecord& m_progress;
  };
  ProgressRecord extraction;
  extraction.SetState(PS_RUNNING);
  StoppingOutput out(extraction);
  EXPECT_FALSE(reader.ExtractNtfsFile(*ballast, out, &extraction));
  EXPECT_EQ(out.written, 16u * disk.m_volume.bytesPerCluster);
  EXPECT_EQ(extraction.State(), PS_STOPPED);
}

// Volumes whose geometry differs from the default: clusters smaller than MFT records, and
// 4096-byte sectors (records of 4096 bytes with eight fix-up blocks).
TEST(RealNtfsGeometry, SmallClustersAndLargeSectors) {
  const std::string missing = MissingPrerequisite();
  if (!missing.empty()) GTEST_SKIP() << missing;
  struct Case {
    std::string format;
    uint32_t sectorSize;
  };
  for (const Case& c : {Case{"-c 512", 512}, Case{"-s 4096 -c 4096", 4096}}) {
    SCOPED_TRACE(c.format);
    test::ScratchDir dir;
    const fs::path image = dir / "volume.img";
    ASSERT_EQ(test::RunShell("truncate -s 24M " + Quote(image) + " && mkntfs -F -q " + c.format +
                             " " + Quote(image) + " >/dev/null 2>&1"),
              0);
    MountedNtfs mounted(image, dir / "mnt", "rw", c.sectorSize);
    if (!mounted.Mounted()) GTEST_SKIP() << "ntfs-3g could not mount a loop device here";
    std::map<std::string, Bytes> files = {{"a/b/one.bin", RandomBytes(50000, 1)},
                                          {"a/two.txt", TextBytes(30)},
                                          {"three.bin", RandomBytes(1234, 2)}};
    fs::create_directories(dir / "mnt/a/b");
    for (int i = 0; i < 40; ++i) files["a/f" + std::to_string(i)] = RandomBytes(600 + i, 10 + i);
    for (const auto& [path, bytes] : files) WriteFile(dir / "mnt" / path, bytes);
    fs::remove(dir / "mnt/three.bin");
    mounted.Release();

    // Read through the loop device, so that the source has the volume's sector size.
    CDisk disk;
    ASSERT_TRUE(disk.Open(platform::Utf8ToUtf16(mounted.Loop())));
    ASSERT_EQ(disk.m_nSectorSize, c.sectorSize);
    ASSERT_TRUE(DetectVolume(disk));
    NtfsReader reader(disk);
    NullSink sink;
    ScanEntryPtr data = NewScanData(5);
    reader.ListNtfs(data.get(), nullptr, sink);
    NodePtr root = BuildFileSystemTree(std::move(data));
    std::map<std::string, const Listed*> byPath;
    const std::map<uint32_t, Listed> mine = Collect(root->firstChild);
    for (const auto& [inode, m] : mine) byPath[m.path] = &m;
    for (const auto& [path, bytes] : files) {
      ASSERT_EQ(byPath.count(path), 1u) << path;
      const Listed& m = *byPath[path];
      EXPECT_EQ((m.flags & NF_PRESENT) == 0, path == "three.bin") << path;
      MemoryOutput out;
      EXPECT_TRUE(reader.ExtractNtfsFile(*m.node, out, nullptr)) << path;
      EXPECT_TRUE(out.bytes == bytes) << path;
    }
  }
}

}  // namespace
}  // namespace kavo

#endif  // _WIN32

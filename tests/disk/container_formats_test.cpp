// The VHDX, VMDK and EWF readers against containers written by qemu-img and ewfacquire from a raw
// disk made here (random bytes, a partition table and a FAT volume): the virtual disk must equal
// the raw disk byte for byte. Damaged copies must be refused with a reason or fail their reads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "disk/container.h"
#include "disk/ewf.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

enum class Reader { Vhdx, Vmdk, Ewf };

const DeviceOpener& FileOpener() {
  static const DeviceOpener opener = [](const std::u16string& path, platform::OpenMode mode) {
    return platform::OpenDevice(path, mode);
  };
  return opener;
}

ContainerOpen OpenAs(Reader reader, const fs::path& path) {
  ContainerFile file;
  file.path = path.u16string();
  file.opener = &FileOpener();
  file.device = platform::OpenDevice(file.path, platform::OpenMode::Read).device;
  if (!file.device) return {nullptr, "cannot open " + path.string()};
  file.device->GetLength(platform::DeviceType::ImageFile, &file.size);
  file.head.resize(std::min<uint64_t>(file.size, ContainerFile::kHeadBytes));
  uint32_t got = 0;
  file.device->Read(file.head.data(), static_cast<uint32_t>(file.head.size()), &got);
  file.device->Seek(0, platform::SeekOrigin::Begin, nullptr);
  switch (reader) {
    case Reader::Vhdx: return IsVhdx(file) ? OpenVhdx(std::move(file)) : ContainerOpen{};
    case Reader::Vmdk: return IsVmdk(file) ? OpenVmdk(std::move(file)) : ContainerOpen{};
    case Reader::Ewf: return IsEwf(file) ? OpenEwf(std::move(file)) : ContainerOpen{};
  }
  return {};
}

std::string Slurp(const fs::path& path) {
  std::string bytes(fs::file_size(path), '\0');
  std::ifstream(path, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void Patch(const fs::path& path, uint64_t offset, const std::string& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}
uint64_t Le64(const std::string& s, size_t at) {
  return Le32(s, at) | static_cast<uint64_t>(Le32(s, at + 4)) << 32;
}
std::string LeBytes(uint64_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}

uint32_t Crc32c(const std::string& s) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : s) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
  }
  return ~crc;
}

// Where a VHDX file's region table puts a region, found by the first field of its GUID.
uint64_t VhdxRegion(const std::string& f, uint32_t guidStart) {
  for (size_t r = 0; r < Le32(f, (192 << 10) + 8); ++r) {
    const size_t e = (192 << 10) + 16 + 32 * r;
    if (Le32(f, e) == guidStart) return Le64(f, e + 16);
  }
  return 0;
}
constexpr uint32_t kBatGuid = 0x2DC27766, kMetadataGuid = 0x8B7CA206;

// Rewrites both VHDX headers with `change` applied and their checksums made anew.
void PatchVhdxHeaders(const fs::path& path, const std::function<void(std::string&)>& change) {
  const std::string f = Slurp(path);
  for (uint64_t at : {64u << 10, 128u << 10}) {
    std::string header = f.substr(at, 4096);
    change(header);
    header.replace(4, 4, 4, '\0');
    header.replace(4, 4, LeBytes(Crc32c(header), 4));
    Patch(path, at, header);
  }
}

// Compares bytes [from, to) of the virtual disk with the same bytes of `expected`, the whole
// disk by default; returns where they first differ, or "".
std::string CompareDisk(VirtualDisk& disk, std::istream& expected, uint64_t size, uint64_t from = 0,
                        uint64_t to = UINT64_MAX) {
  if (disk.VirtualSize() != size)
    return "size " + std::to_string(disk.VirtualSize()) + " != " + std::to_string(size);
  std::vector<char> buffer(3 * 1024 * 1024 + 512);  // not a multiple of any block size
  std::vector<char> want(buffer.size());
  uint64_t at = from;
  to = std::min(to, size);
  disk.Seek(static_cast<int64_t>(from), platform::SeekOrigin::Begin, nullptr);
  expected.seekg(static_cast<std::streamoff>(from));
  while (at < to) {
    uint32_t got = 0;
    if (!disk.Read(buffer.data(), static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), to - at)),
                   &got) ||
        got == 0)
      return "read failed at " + std::to_string(at);
    if (!expected.read(want.data(), got)) return "the expected bytes end at " + std::to_string(at);
    if (std::memcmp(buffer.data(), want.data(), got) != 0) {
      for (uint32_t i = 0;; ++i)
        if (buffer[i] != want[i]) return "differs at " + std::to_string(at + i);
    }
    at += got;
  }
  return {};
}

std::string CompareDisk(VirtualDisk& disk, const std::string& expected) {
  std::istringstream in(expected);
  return CompareDisk(disk, in, expected.size());
}

// A 32 MiB disk: random bytes, a zeroed stretch (left unallocated by the sparse formats) and a
// FAT partition holding a file.
class ContainerFormats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"qemu-img", "qemu-io", "ewfacquire", "sfdisk", "mkfs.fat", "mcopy"})
      if (!test::HaveTool(tool)) s_missing = std::string(tool) + " is not installed";
    if (!s_missing.empty()) return;
    s_dir = new test::ScratchDir;
    std::string raw(32 << 20, '\0');
    std::mt19937_64 random(28);
    for (size_t i = 0; i < raw.size(); i += 8) {
      const uint64_t v = random();
      std::memcpy(&raw[i], &v, 8);
    }
    std::fill(raw.begin() + (8 << 20), raw.begin() + (16 << 20), '\0');
    std::ofstream(Dir() / "raw.img", std::ios::binary).write(raw.data(), raw.size());
    const std::string d = "cd '" + Dir().string() + "' && ";
    ASSERT_EQ(test::RunShell(d + "echo 'start=32768, size=16384, type=c' | sfdisk -q raw.img && "
                                 "mkfs.fat -C fat.img 8192 >/dev/null && head -c 300000 raw.img >"
                                 " f.bin && mcopy -i fat.img f.bin ::/F.BIN && dd if=fat.img "
                                 "of=raw.img bs=1M seek=16 conv=notrunc status=none"),
              0);
    s_raw = Slurp(Dir() / "raw.img");
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override {
    if (!s_missing.empty()) GTEST_SKIP() << s_missing;
  }
  static const fs::path& Dir() { return s_dir->path(); }
  static int Shell(const std::string& command) {
    return test::RunShell("cd '" + Dir().string() + "' && (" + command + ") >/dev/null 2>&1");
  }

  static inline std::string s_missing;
  static inline test::ScratchDir* s_dir = nullptr;
  static inline std::string s_raw;
};

// qemu-img writes a stream-optimized file's grain directory up front; other writers give the
// header's directory offset as "at the end" and append the footer (marker, header copy, end
// marker). This makes the second kind out of the first.
const std::string kStreamAtEnd =
    "qemu-img convert -O vmdk -o subformat=streamOptimized raw.img se.vmdk && head -c 512 se.vmdk "
    "> h && (printf '\\001\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\003\\0\\0\\0'; head -c 496 /dev/zero; "
    "cat h; "
    "head -c 512 /dev/zero) >> se.vmdk && printf '\\377\\377\\377\\377\\377\\377\\377\\377' | dd "
    "of=se.vmdk bs=1 seek=56 conv=notrunc status=none";

struct MadeContainer {
  const char* name;
  Reader reader;
  std::string make;  // shell command run in the scratch folder, from raw.img
  const char* file;  // the file opened
  const char* format;
};

const MadeContainer kMade[] = {
    {"vhdx dynamic", Reader::Vhdx, "qemu-img convert -O vhdx raw.img d.vhdx", "d.vhdx",
     "VHDX (dynamic)"},
    {"vhdx fixed", Reader::Vhdx, "qemu-img convert -O vhdx -o subformat=fixed raw.img f.vhdx",
     "f.vhdx", "VHDX (fixed)"},
    {"vmdk sparse", Reader::Vmdk, "qemu-img convert -O vmdk raw.img s.vmdk", "s.vmdk",
     "VMDK (monolithic sparse)"},
    {"vmdk stream", Reader::Vmdk,
     "qemu-img convert -O vmdk -o subformat=streamOptimized raw.img so.vmdk", "so.vmdk",
     "VMDK (stream-optimized)"},
    {"vmdk stream, directory at end", Reader::Vmdk, kStreamAtEnd, "se.vmdk",
     "VMDK (stream-optimized)"},
    {"vmdk sparse, primary directory lost", Reader::Vmdk,
     "qemu-img convert -O vmdk raw.img rg.vmdk && printf '\\377\\377\\377\\177' | dd of=rg.vmdk "
     "bs=1 seek=56 conv=notrunc status=none",
     "rg.vmdk", "VMDK (monolithic sparse)"},
    {"vmdk flat", Reader::Vmdk,
     "qemu-img convert -O vmdk -o subformat=monolithicFlat raw.img fl.vmdk", "fl.vmdk",
     "VMDK (flat)"},
    {"vmdk child", Reader::Vmdk,
     "qemu-img convert -O vmdk raw.img base.vmdk && qemu-img create -f vmdk -b base.vmdk -F vmdk "
     "child.vmdk && qemu-io -f vmdk -c 'write -P 0xcd 1M 64k' child.vmdk",
     "child.vmdk", "VMDK (monolithic sparse, differencing)"},
    {"ewf deflate", Reader::Ewf,
     "mkdir c && ewfacquire -u -q -t c/img -c deflate:fast -S 4MiB -f encase6 raw.img", "c/img.E01",
     "EWF (5 segments)"},
    {"ewf none", Reader::Ewf,
     "mkdir n && ewfacquire -u -q -t n/img -c none -b 128 -S 20MiB -f encase6 raw.img", "n/img.E01",
     "EWF (2 segments)"},
};

TEST_F(ContainerFormats, ReadsEqualTheRawDisk) {
  for (const MadeContainer& c : kMade) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Shell(c.make), 0) << c.make;
    ContainerOpen open = OpenAs(c.reader, Dir() / c.file);
    ASSERT_TRUE(open.disk) << open.error;
    EXPECT_EQ(open.disk->Format(), c.format);
    std::string expected = s_raw;
    if (std::string(c.name) == "vmdk child") expected.replace(1 << 20, 65536, 65536, '\xcd');
    EXPECT_EQ(CompareDisk(*open.disk, expected), "");
  }
}

// Disks over 2 GB split into 2 GB extent files; most of it is a hole.
TEST_F(ContainerFormats, ReadsTwoGigabyteExtents) {
  // The raw disk at the start and again across the 2 GB split.
  ASSERT_EQ(Shell("truncate -s 2056M big.img && dd if=raw.img of=big.img conv=notrunc status=none "
                  "&& dd if=raw.img of=big.img bs=1M seek=2047 conv=notrunc status=none"),
            0);
  for (const char* subformat : {"twoGbMaxExtentSparse", "twoGbMaxExtentFlat"}) {
    SCOPED_TRACE(subformat);
    const std::string name = std::string(subformat) + ".vmdk";
    ASSERT_EQ(Shell("qemu-img convert -O vmdk -o subformat=" + std::string(subformat) +
                    " big.img " + name),
              0);
    ContainerOpen open = OpenAs(Reader::Vmdk, Dir() / name);
    ASSERT_TRUE(open.disk) << open.error;
    // The data, a stretch of the hole and the end (reading all of the hole takes long).
    std::ifstream big(Dir() / "big.img", std::ios::binary);
    const uint64_t size = fs::file_size(Dir() / "big.img");
    for (uint64_t from : {0ull, 1024ull << 20, 2040ull << 20})
      EXPECT_EQ(CompareDisk(*open.disk, big, size, from, from + (40 << 20)), "") << from;
  }
}

// Segments after .E99 are named .EAA, .EAB, ...
TEST_F(ContainerFormats, ReadsEwfSegmentsPastE99) {
  ASSERT_EQ(Shell("truncate -s 104M e100.img && dd if=raw.img of=e100.img conv=notrunc "
                  "status=none && mkdir s && ewfacquire -u -q -t s/img -c none -S 1MiB -f encase6 "
                  "e100.img && test -f s/img.EAA"),
            0);
  ContainerOpen open = OpenAs(Reader::Ewf, Dir() / "s/img.E01");
  ASSERT_TRUE(open.disk) << open.error;
  std::ifstream expected(Dir() / "e100.img", std::ios::binary);
  EXPECT_EQ(CompareDisk(*open.disk, expected, fs::file_size(Dir() / "e100.img")), "");
}

// A chunk table that fails its checksum is read from its copy ("table2").
TEST_F(ContainerFormats, EwfDamagedTableIsReadFromItsCopy) {
  ASSERT_EQ(Shell("mkdir t && ewfacquire -u -q -t t/img -c deflate:fast -f encase6 raw.img"), 0);
  const fs::path path = Dir() / "t/img.E01";
  const std::string f = Slurp(path);
  bool spoiled = false;
  for (uint64_t at = 13; at + 76 <= f.size() && !spoiled;) {
    if (f.compare(at, 6, std::string("table\0", 6)) == 0) {
      Patch(path, at + 76 + 24, std::string(1, static_cast<char>(f[at + 76 + 24] ^ 1)));
      spoiled = true;
    }
    const uint64_t next = Le64(f, at + 16);
    if (next <= at) break;
    at = next;
  }
  ASSERT_TRUE(spoiled) << "no table section found";
  ContainerOpen open = OpenAs(Reader::Ewf, path);
  ASSERT_TRUE(open.disk) << open.error;
  EXPECT_EQ(CompareDisk(*open.disk, s_raw), "");
}

TEST_F(ContainerFormats, EwfStoredMd5IsShownAndVerified) {
  ASSERT_EQ(Shell("mkdir v && ewfacquire -u -q -t v/img -c deflate:fast -f encase6 raw.img && "
                  "md5sum raw.img | cut -c1-32 > raw.md5"),
            0);
  const std::string md5 = Slurp(Dir() / "raw.md5").substr(0, 32);
  ContainerOpen open = OpenAs(Reader::Ewf, Dir() / "v/img.E01");
  ASSERT_TRUE(open.disk) << open.error;
  EXPECT_EQ(open.disk->Details(), "Stored MD5: " + md5);
  const EwfVerification check = VerifyEwfMd5(*open.disk);
  EXPECT_TRUE(check.matches) << check.error;
  EXPECT_EQ(check.computed, md5);
}

// Damage done to a fresh copy of a container before it is opened.
struct Damage {
  const char* name;
  Reader reader;
  std::string make;  // shell command in the scratch folder
  const char* file;
  std::function<void(const fs::path&)> spoil;
  const char* error;  // expected in the open's reason; null: opens, but reading fails
};

void Truncate(const fs::path& path, uint64_t size) {
  fs::resize_file(path, size);
}

const Damage kDamage[] = {
    {"vhdx truncated", Reader::Vhdx, "qemu-img convert -O vhdx raw.img x1.vhdx", "x1.vhdx",
     [](const fs::path& p) { Truncate(p, 3 << 20); }, "past the end"},
    {"vhdx header checksums", Reader::Vhdx, "qemu-img convert -O vhdx raw.img x2.vhdx", "x2.vhdx",
     [](const fs::path& p) {
       Patch(p, (64 << 10) + 40, "\x55");
       Patch(p, (128 << 10) + 40, "\x55");
     },
     "no VHDX header has a valid checksum"},
    {"vhdx BAT past end", Reader::Vhdx, "qemu-img convert -O vhdx raw.img x3.vhdx", "x3.vhdx",
     [](const fs::path& p) {
       Patch(p, VhdxRegion(Slurp(p), kBatGuid), LeBytes(6 | (4000ull << 20), 8));
     },
     "a BAT entry points past the end of the file"},
    {"vmdk truncated", Reader::Vmdk, "qemu-img convert -O vmdk raw.img x4.vmdk", "x4.vmdk",
     [](const fs::path& p) { Truncate(p, 4096); }, "past the end of the file"},
    {"vmdk grain past end", Reader::Vmdk, "qemu-img convert -O vmdk raw.img x5.vmdk", "x5.vmdk",
     [](const fs::path& p) {
       const std::string f = Slurp(p);
       const uint64_t gd = Le64(f, 56) * 512;
       Patch(p, static_cast<uint64_t>(Le32(f, gd)) * 512, LeBytes(0x7FFFFFF0, 4));
     },
     nullptr},
    {"vmdk stream truncated", Reader::Vmdk, kStreamAtEnd + " && mv se.vmdk x6.vmdk", "x6.vmdk",
     [](const fs::path& p) { Truncate(p, fs::file_size(p) / 2); }, "footer is missing"},
    {"vmdk parent missing", Reader::Vmdk,
     "qemu-img convert -O vmdk raw.img p7.vmdk && qemu-img create -f vmdk -b p7.vmdk -F vmdk "
     "x7.vmdk && rm p7.vmdk",
     "x7.vmdk", [](const fs::path&) {}, "parent disk not found: p7.vmdk"},
    {"ewf segment missing", Reader::Ewf,
     "mkdir x8 && ewfacquire -u -q -t x8/img -c none -S 8MiB -f encase6 raw.img && rm x8/img.E02",
     "x8/img.E01", [](const fs::path&) {}, "EWF segment not found: img.E02"},
    {"ewf truncated", Reader::Ewf,
     "mkdir x9 && ewfacquire -u -q -t x9/img -c none -f encase6 raw.img", "x9/img.E01",
     [](const fs::path& p) { Truncate(p, fs::file_size(p) / 2); }, "truncated"},
    {"ewf section checksum", Reader::Ewf,
     "mkdir x10 && ewfacquire -u -q -t x10/img -c none -f encase6 raw.img", "x10/img.E01",
     [](const fs::path& p) { Patch(p, 13 + 30, "\x7f"); }, "damaged"},
};

TEST_F(ContainerFormats, DamageIsRefusedOrFailsTheRead) {
  for (const Damage& d : kDamage) {
    SCOPED_TRACE(d.name);
    ASSERT_EQ(Shell(d.make), 0) << d.make;
    d.spoil(Dir() / d.file);
    ContainerOpen open = OpenAs(d.reader, Dir() / d.file);
    if (d.error) {
      EXPECT_FALSE(open.disk);
      EXPECT_NE(open.error.find(d.error), std::string::npos) << open.error;
    } else {
      ASSERT_TRUE(open.disk) << open.error;
      std::vector<char> buffer(65536);
      uint32_t got = 0;
      EXPECT_FALSE(open.disk->Read(buffer.data(), 65536, &got));
    }
  }
}

// A log entry not yet applied that rewrites the first 4 KiB of the disk: replayed when it
// belongs to the header's log, ignored when it belongs to another; the file is never written.
TEST_F(ContainerFormats, VhdxLogIsReplayedInMemory) {
  const std::string guid = "0123456789abcdef", other = "fedcba9876543210";
  for (const std::string& entryGuid : {guid, other}) {
    SCOPED_TRACE(entryGuid);
    ASSERT_EQ(Shell("rm -f lg.vhdx && qemu-img convert -O vhdx raw.img lg.vhdx"), 0);
    const fs::path path = Dir() / "lg.vhdx";
    const std::string f = Slurp(path);
    const uint64_t logOffset = Le64(f, (64 << 10) + 72);
    const uint64_t block0 = Le64(f, VhdxRegion(f, kBatGuid)) >> 20 << 20;
    const uint64_t sequence = 0x100000005;
    std::string page(4096, '\0');
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7 + 1);
    std::string entry = "loge" + LeBytes(0, 4) + LeBytes(8192, 4) + LeBytes(0, 4) +
                        LeBytes(sequence, 8) + LeBytes(1, 4) + LeBytes(0, 4) + entryGuid +
                        LeBytes(f.size(), 8) + LeBytes(f.size(), 8);
    entry += "desc" + page.substr(4092, 4) + page.substr(0, 8) + LeBytes(block0, 8) +
             LeBytes(sequence, 8);
    entry.resize(4096, '\0');
    entry += "data" + LeBytes(sequence >> 32, 4) + page.substr(8, 4084) +
             LeBytes(sequence & 0xFFFFFFFF, 4);
    entry.replace(4, 4, LeBytes(Crc32c(entry), 4));
    Patch(path, logOffset, entry);
    PatchVhdxHeaders(path, [&](std::string& h) { h.replace(48, 16, guid); });
    const std::string before = Slurp(path);

    ContainerOpen open = OpenAs(Reader::Vhdx, path);
    ASSERT_TRUE(open.disk) << open.error;
    std::string expected = s_raw;
    if (entryGuid == guid) expected.replace(0, 4096, page);
    EXPECT_EQ(CompareDisk(*open.disk, expected), "");
    EXPECT_TRUE(Slurp(path) == before);
  }
}

// qemu-img writes no differencing VHDX: one is made from a dynamic one by marking it as having
// a parent (raw.img), naming the parent in a locator and giving block 1 a sector bitmap that
// holds only its first half. Blocks 0, 2 and 3 are the child's, block 1 half and half, the rest
// the parent's.
TEST_F(ContainerFormats, VhdxDifferencingReadsItsParent) {
  struct Case {
    const char* parent;
    const char* error;
  };
  for (const Case c : {Case{"raw.img", nullptr}, Case{"gone.img", "parent disk not found"}}) {
    SCOPED_TRACE(c.parent);
    std::string child(4 << 20, '\x11');
    child.resize(s_raw.size(), '\0');
    std::ofstream(Dir() / "ch.img", std::ios::binary).write(child.data(), child.size());
    ASSERT_EQ(Shell("rm -f df.vhdx && qemu-img convert -O vhdx -o block_size=1M ch.img df.vhdx"),
              0);
    const fs::path path = Dir() / "df.vhdx";
    const std::string f = Slurp(path);
    const uint64_t bat = VhdxRegion(f, kBatGuid), meta = VhdxRegion(f, kMetadataGuid);
    const uint16_t items = static_cast<uint16_t>(Le32(f, meta + 8) >> 16);
    for (uint16_t i = 0; i < items; ++i) {
      const uint64_t item = meta + 32 + 32 * i;
      if (Le32(f, item) == 0xCAA16737) Patch(path, meta + Le32(f, item + 16) + 4, LeBytes(2, 4));
    }
    // The locator: its type, two keys; the absolute path names nothing.
    auto utf16 = [](const std::string& a) {
      std::string w;
      for (char ch : a) w += std::string{ch, '\0'};
      return w;
    };
    const std::string keys[2][2] = {{"absolute_win32_path", "C:\\nowhere\\base.img"},
                                    {"relative_path", c.parent}};
    std::string locator =
        std::string("\xB7\xEF\x4A\xB0\x9E\xD1\x81\x4A\xB7\x89\x25\xB8\xE9\x44\x59\x13", 16) +
        LeBytes(0, 2) + LeBytes(2, 2);
    std::string strings;
    for (const auto& kv : keys) {
      const std::string k = utf16(kv[0]), v = utf16(kv[1]);
      const uint32_t at = 20 + 24 + static_cast<uint32_t>(strings.size());
      locator +=
          LeBytes(at, 4) + LeBytes(at + k.size(), 4) + LeBytes(k.size(), 2) + LeBytes(v.size(), 2);
      strings += k + v;
    }
    locator += strings;
    const std::string locatorGuid(
        "\x2D\x5F\xD3\xA8\x0B\xB3\x4D\x45\xAB\xF7\xD3\xD8\x48\x34\xAB\x0C", 16);
    Patch(path, meta + 32 + 32 * items,
          locatorGuid + LeBytes(512 << 10, 4) + LeBytes(locator.size(), 4) + LeBytes(4, 8));
    Patch(path, meta + 10, LeBytes(items + 1, 2));
    Patch(path, meta + (512 << 10), locator);
    // Block 1 partly present; the sector bitmap of chunk 0 (4096 blocks of 1 MiB a chunk)
    // appended at the end, marking the first 512 KiB of block 1.
    const uint64_t bitmapAt = (f.size() + (1 << 20) - 1) >> 20 << 20;
    std::string bitmap(1 << 20, '\0');
    std::fill(bitmap.begin() + 2048 / 8, bitmap.begin() + 3072 / 8, '\xFF');
    Patch(path, bitmapAt, bitmap);
    Patch(path, bat + 8, LeBytes((Le64(f, bat + 8) & ~7ull) | 7, 8));
    Patch(path, bat + 8 * 4096, LeBytes(6 | bitmapAt, 8));
    // qemu-img marks the zero blocks as zero; in a child they are "not present".
    Patch(path, bat + 8 * 4, std::string(8 * 28, '\0'));

    ContainerOpen open = OpenAs(Reader::Vhdx, path);
    if (c.error) {
      EXPECT_FALSE(open.disk);
      EXPECT_NE(open.error.find(c.error), std::string::npos) << open.error;
      continue;
    }
    ASSERT_TRUE(open.disk) << open.error;
    EXPECT_EQ(open.disk->Format(), "VHDX (differencing)");
    std::string expected = s_raw;
    std::fill(expected.begin(), expected.begin() + (1 << 20) + (512 << 10), '\x11');
    std::fill(expected.begin() + (2 << 20), expected.begin() + (4 << 20), '\x11');
    EXPECT_EQ(CompareDisk(*open.disk, expected), "");
  }
}

}  // namespace
}  // namespace kavo

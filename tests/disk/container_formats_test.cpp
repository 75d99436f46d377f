// The VHDX, VMDK and EWF readers against containers written by qemu-img and ewfacquire from a raw
// disk made here (random bytes, a partition table and a FAT volume): the virtual disk must equal
// the raw disk byte for byte. Damaged copies must be refused with a reason or fail their reads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

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
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
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

// Compares the whole virtual disk with `expected`; returns the first differing offset or "".
std::string CompareDisk(VirtualDisk& disk, const std::string& expected) {
  if (disk.VirtualSize() != expected.size())
    return "size " + std::to_string(disk.VirtualSize()) + " != " + std::to_string(expected.size());
  std::vector<char> buffer(3 * 1024 * 1024 + 512);  // not a multiple of any block size
  uint64_t at = 0;
  disk.Seek(0, platform::SeekOrigin::Begin, nullptr);
  while (at < expected.size()) {
    uint32_t got = 0;
    if (!disk.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got) || got == 0)
      return "read failed at " + std::to_string(at);
    if (std::memcmp(buffer.data(), expected.data() + at, got) != 0) {
      for (uint32_t i = 0;; ++i)
        if (buffer[i] != expected[at + i]) return "differs at " + std::to_string(at + i);
    }
    at += got;
  }
  return {};
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
    "> h && (printf '\\001\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\003\\0\\0\\0'; head -c 496 /dev/zero; cat h; "
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
    {"vmdk flat", Reader::Vmdk, "qemu-img convert -O vmdk -o subformat=monolithicFlat raw.img fl.vmdk",
     "fl.vmdk", "VMDK (flat)"},
    {"vmdk child", Reader::Vmdk,
     "qemu-img convert -O vmdk raw.img base.vmdk && qemu-img create -f vmdk -b base.vmdk -F vmdk "
     "child.vmdk && qemu-io -f vmdk -c 'write -P 0xcd 1M 64k' child.vmdk",
     "child.vmdk", "VMDK (monolithic sparse, differencing)"},
    {"ewf deflate", Reader::Ewf,
     "mkdir c && ewfacquire -u -q -t c/img -c deflate:best -S 4MiB -f encase6 raw.img", "c/img.E01",
     "EWF (5 segments)"},
    {"ewf none", Reader::Ewf,
     "mkdir n && ewfacquire -u -q -t n/img -c none -b 128 -S 20MiB -f encase6 raw.img",
     "n/img.E01", "EWF (2 segments)"},
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
  std::string big(s_raw);
  big.resize((2048ull + 8) << 20, '\0');
  std::memcpy(&big[(2048ull << 20) - 4096], s_raw.data(), 3 << 20);  // across the split
  std::ofstream(Dir() / "big.img", std::ios::binary).write(big.data(), big.size());
  for (const char* subformat : {"twoGbMaxExtentSparse", "twoGbMaxExtentFlat"}) {
    SCOPED_TRACE(subformat);
    const std::string name = std::string(subformat) + ".vmdk";
    ASSERT_EQ(Shell("qemu-img convert -O vmdk -o subformat=" + std::string(subformat) +
                    " big.img " + name),
              0);
    ContainerOpen open = OpenAs(Reader::Vmdk, Dir() / name);
    ASSERT_TRUE(open.disk) << open.error;
    EXPECT_EQ(CompareDisk(*open.disk, big), "");
  }
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

void Truncate(const fs::path& path, uint64_t size) { fs::resize_file(path, size); }

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
       const std::string f = Slurp(p);
       for (size_t r = 0; r < Le32(f, (192 << 10) + 8); ++r) {
         const size_t e = (192 << 10) + 16 + 32 * r;
         if (Le32(f, e) == 0x2DC27766) Patch(p, Le64(f, e + 16), LeBytes(6 | (4000ull << 20), 8));
       }
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

}  // namespace
}  // namespace kavo

// Disk-image containers written by qemu-img (and split) from a partitioned FAT disk made at test
// time: the virtual disk read through CDisk equals qemu-img's own raw conversion byte for byte,
// and a damaged or unsupported container is refused with its reason.
#include "disk/container.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "platform/bytes.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

#ifndef _WIN32

using test::RunShell;

std::string Quote(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PutBytes(const std::filesystem::path& path, uint64_t offset,
              const std::vector<uint8_t>& bytes) {
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(static_cast<std::streamoff>(offset));
  io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// A 48 MiB MBR disk with one FAT16 partition at sector 2048 holding 4 MiB of random bytes and a
// folder. Empty on success, else why it could not be made.
std::string MakeFatDisk(const test::ScratchDir& dir, const std::filesystem::path& disk) {
  for (const char* tool : {"qemu-img", "qemu-io", "sfdisk", "mkfs.fat", "mcopy", "split"}) {
    if (!test::HaveTool(tool)) return std::string(tool) + " is not installed";
  }
  const auto part = dir / "part.img";
  const auto data = dir / "random.bin";
  const std::string script =
      "set -e; truncate -s 48M " + Quote(disk) + "; printf 'label: dos\\n2048,,6\\n' | sfdisk -q " +
      Quote(disk) + "; truncate -s 47M " + Quote(part) + "; mkfs.fat -F 16 -n KAVO " + Quote(part) +
      " >/dev/null; head -c 4194304 /dev/urandom > " + Quote(data) +
      "; MTOOLS_SKIP_CHECK=1 mmd -i " + Quote(part) + " ::docs; MTOOLS_SKIP_CHECK=1 mcopy -i " +
      Quote(part) + " " + Quote(data) + " ::docs/random.bin; dd if=" + Quote(part) +
      " of=" + Quote(disk) + " bs=512 seek=2048 conv=notrunc status=none";
  return RunShell(script) == 0 ? "" : "the FAT disk could not be made";
}

// Reads the whole virtual disk through CDisk.
std::vector<uint8_t> ReadThroughDisk(const std::filesystem::path& path, std::string* error) {
  CDisk disk;
  disk.m_nSourceKind = SourceKind::ImageFile;
  if (!disk.Open(path.u16string())) {
    *error = OpenFailureText(disk);
    return {};
  }
  std::vector<uint8_t> bytes(disk.m_nTotalSectors * disk.m_nSectorSize);
  constexpr uint32_t kChunk = 192 * 1024 + 512;  // not a multiple of any block size
  for (uint64_t at = 0; at < bytes.size(); at += kChunk) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, bytes.size() - at));
    if (!disk.ReadSectors(bytes.data() + at, n, at / 512)) {
      *error = "read failed at byte " + std::to_string(at);
      return {};
    }
  }
  return bytes;
}

// A differencing VHD over `parent` (a dynamic VHD with 2 MiB blocks): block 1 allocated with
// only its sectors 8..15 present (filled with 0xCD), its parent named by a relative locator and
// by its name. Returns the bytes it reads as.
std::vector<uint8_t> MakeDifferencingVhd(const std::filesystem::path& child,
                                         const std::string& parentName,
                                         const std::vector<uint8_t>& parentBytes) {
  const std::vector<uint8_t> parent = FileBytes(child.parent_path() / parentName);
  std::vector<uint8_t> footer(parent.end() - 512, parent.end());
  const uint64_t size = LoadBe64(footer.data() + 48);
  const uint32_t blockBytes = 2u << 20;
  const uint32_t entries = static_cast<uint32_t>((size + blockBytes - 1) / blockBytes);
  const uint64_t tableOffset = 512 + 1024;
  const uint64_t tableBytes = (uint64_t{entries} * 4 + 511) / 512 * 512;
  const uint64_t locatorOffset = tableOffset + tableBytes;
  const uint64_t blockOffset = locatorOffset + 512;
  std::vector<uint8_t> file(blockOffset + 512 + blockBytes + 512, 0);

  auto setFooter = [&](uint32_t type) {
    std::copy(footer.begin(), footer.end(), file.begin());
    std::copy_n(Be32(0).data(), 4, &file[16]);
    std::copy_n(Be32(512).data(), 4, &file[20]);
    std::copy_n(Be32(type).data(), 4, &file[60]);
    std::fill_n(&file[64], 4, 0);
    uint32_t sum = 0;
    for (int i = 0; i < 512; ++i) sum += file[i];
    std::copy_n(Be32(~sum).data(), 4, &file[64]);
    std::copy_n(file.begin(), 512, file.end() - 512);
  };
  setFooter(4);
  uint8_t* h = &file[512];
  std::memcpy(h, "cxsparse", 8);
  std::fill_n(h + 8, 8, 0xFF);
  std::copy_n(Be32(static_cast<uint32_t>(tableOffset)).data(), 4, h + 20);
  std::copy_n(Be32(0x00010000).data(), 4, h + 24);
  std::copy_n(Be32(entries).data(), 4, h + 28);
  std::copy_n(Be32(blockBytes).data(), 4, h + 32);
  for (size_t i = 0; i < parentName.size(); ++i)
    h[64 + 2 * i + 1] = static_cast<uint8_t>(parentName[i]);
  const std::string relative = ".\\" + parentName;
  std::copy_n(Be32(0x57327275).data(), 4, h + 576);
  std::copy_n(Be32(512).data(), 4, h + 576 + 4);
  std::copy_n(Be32(static_cast<uint32_t>(relative.size() * 2)).data(), 4, h + 576 + 8);
  std::copy_n(Be32(static_cast<uint32_t>(locatorOffset)).data(), 4, h + 576 + 20);
  for (size_t i = 0; i < relative.size(); ++i)
    file[locatorOffset + 2 * i] = static_cast<uint8_t>(relative[i]);
  for (uint32_t b = 0; b < entries; ++b) {
    std::copy_n(Be32(b == 1 ? static_cast<uint32_t>(blockOffset / 512) : 0xFFFFFFFF).data(), 4,
                &file[tableOffset + 4 * b]);
  }
  file[blockOffset + 1] = 0xFF;  // sectors 8..15 of the block
  std::fill_n(&file[blockOffset + 512 + 8 * 512], 8 * 512, 0xCD);
  uint32_t sum = 0;
  for (int i = 0; i < 1024; ++i) sum += (i >= 36 && i < 40) ? 0 : h[i];
  std::copy_n(Be32(~sum).data(), 4, h + 36);
  std::ofstream(child, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

  std::vector<uint8_t> expected = parentBytes;
  std::fill_n(expected.begin() + blockBytes + 8 * 512, 8 * 512, 0xCD);
  return expected;
}

TEST(Containers, ReadAsTheDiskTheyHold) {
  test::ScratchDir dir;
  const auto raw = dir / "disk.raw";
  if (auto why = MakeFatDisk(dir, raw); !why.empty()) GTEST_SKIP() << why;
  const std::string r = Quote(raw);
  auto in = [&](const std::string& name) { return Quote(dir / name); };
  struct Case {
    const char* name;      // the container's file
    std::string commands;  // how it is written
    const char* format;    // the kind the reader reports
  };
  const Case cases[] = {
      {"d.vhd", "qemu-img convert -O vpc " + r + " " + in("d.vhd"), "VHD (dynamic)"},
      {"f.vhd", "qemu-img convert -O vpc -o subformat=fixed " + r + " " + in("f.vhd"),
       "VHD (fixed)"},
      {"d.vdi", "qemu-img convert -O vdi " + r + " " + in("d.vdi"), "VDI (dynamic)"},
      {"s.vdi", "qemu-img convert -O vdi -o static=on " + r + " " + in("s.vdi"), "VDI (fixed)"},
      {"p.qcow2", "qemu-img convert -O qcow2 " + r + " " + in("p.qcow2"), "qcow2 (version 3)"},
      {"c.qcow2", "qemu-img convert -O qcow2 -c " + r + " " + in("c.qcow2"), "qcow2 (version 3)"},
      {"v2.qcow2", "qemu-img convert -O qcow2 -c -o compat=0.10 " + r + " " + in("v2.qcow2"),
       "qcow2 (version 2)"},
      {"z.qcow2",
       "qemu-img convert -O qcow2 " + r + " " + in("z.qcow2") +
           " && qemu-io -c 'write -z 1M 192k' " + in("z.qcow2") + " >/dev/null",
       "qcow2 (version 3)"},
      {"onraw.qcow2",
       "qemu-img create -q -f qcow2 -b disk.raw -F raw " + in("onraw.qcow2") +
           " && qemu-io -c 'write -P 0xab 1M 64k' " + in("onraw.qcow2") + " >/dev/null",
       "qcow2 (version 3)"},
      {"chain.qcow2",
       "qemu-img convert -O qcow2 -c " + r + " " + in("base.qcow2") +
           " && qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 " + in("chain.qcow2") +
           " && qemu-io -c 'write -P 0xab 2047k 130k' " + in("chain.qcow2") + " >/dev/null",
       "qcow2 (version 3)"},
      {"disk.raw.001", "split -d -a 3 --numeric-suffixes=1 -b 7M " + r + " " + r + ".",
       "raw (7 pieces)"},
  };
  const std::vector<uint8_t> original = FileBytes(raw);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(RunShell("cd " + Quote(dir.path()) + " && " + c.commands), 0);
    std::string error;
    const std::vector<uint8_t> read = ReadThroughDisk(dir / c.name, &error);
    ASSERT_FALSE(read.empty()) << error;
    std::vector<uint8_t> expected = original;
    if (std::string(c.name) != "disk.raw.001") {
      // Named, since qemu-img takes a fixed VHD for raw by its content.
      const std::string format = std::filesystem::path(c.name).extension() == ".vhd"   ? "vpc"
                                 : std::filesystem::path(c.name).extension() == ".vdi" ? "vdi"
                                                                                       : "qcow2";
      ASSERT_EQ(RunShell("qemu-img convert -f " + format + " -O raw " + in(c.name) + " " +
                         in("oracle.raw")),
                0);
      expected = FileBytes(dir / "oracle.raw");
    }
    EXPECT_TRUE(read == expected) << "the virtual disk differs from the oracle";
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + (1 << 20), read.begin()));
    EXPECT_EQ(OpenContainer((dir / c.name).u16string(), platform::OpenDevice).disk->Format(),
              c.format);
  }

  // A differencing VHD: the sectors its block holds from itself, the rest from its parent.
  ASSERT_EQ(RunShell("qemu-img convert -O vpc " + r + " " + in("base.vhd")), 0);
  ASSERT_EQ(RunShell("qemu-img convert -O raw " + in("base.vhd") + " " + in("base.out")), 0);
  const auto expected =
      MakeDifferencingVhd(dir / "child.vhd", "base.vhd", FileBytes(dir / "base.out"));
  std::string error;
  EXPECT_TRUE(ReadThroughDisk(dir / "child.vhd", &error) == expected) << error;
  // Moved elsewhere with its parent, the child still finds it beside itself.
  std::filesystem::create_directory(dir / "moved");
  std::filesystem::rename(dir / "child.vhd", dir / "moved/child.vhd");
  std::filesystem::rename(dir / "base.vhd", dir / "moved/base.vhd");
  EXPECT_TRUE(ReadThroughDisk(dir / "moved/child.vhd", &error) == expected) << error;
}

TEST(Containers, DamagedOrUnsupportedOnesAreRefusedWithTheirReason) {
  test::ScratchDir dir;
  const auto raw = dir / "disk.raw";
  if (auto why = MakeFatDisk(dir, raw); !why.empty()) GTEST_SKIP() << why;
  const std::string r = Quote(raw);
  auto in = [&](const std::string& name) { return Quote(dir / name); };
  struct Case {
    const char* name;
    std::string commands;
    std::function<void()> damage;  // bytes patched after the commands, if any
    const char* reason;
  };
  const Case cases[] = {
      {"cut.vhd",
       "qemu-img convert -O vpc " + r + " " + in("cut.vhd") + " && truncate -s 3M " + in("cut.vhd"),
       nullptr, "VHD footer missing at the end of the file (the file is truncated)"},
      {"cut.vdi",
       "qemu-img convert -O vdi " + r + " " + in("cut.vdi") + " && truncate -s 3M " + in("cut.vdi"),
       nullptr, "points past the end of the file"},
      {"cut.qcow2",
       "qemu-img convert -O qcow2 " + r + " " + in("cut.qcow2") + " && truncate -s 100k " +
           in("cut.qcow2"),
       nullptr, "qcow2 L1 table"},
      {"bat.vhd", "qemu-img convert -O vpc " + r + " " + in("bat.vhd"),
       [&] { PutBytes(dir / "bat.vhd", 1536, Be32(0x7FFFFFF0)); },
       "VHD block table entry 0 points past the end of the file"},
      {"l1.qcow2", "qemu-img convert -O qcow2 " + r + " " + in("l1.qcow2"),
       [&] {
         const auto bytes = FileBytes(dir / "l1.qcow2");
         PutBytes(dir / "l1.qcow2", LoadBe64(bytes.data() + 40),
                  {0x80, 0, 0, 0x7F, 0xFF, 0xFF, 0, 0});
       },
       "qcow2 L1 table entry 0 points past the end of the file"},
      {"orphan.qcow2",
       "qemu-img create -q -f qcow2 -b gone.raw -F raw -u " + in("orphan.qcow2") + " 48M", nullptr,
       "parent disk not found: gone.raw"},
      {"a.qcow2",
       "qemu-img create -q -f qcow2 -b disk.raw -F raw " + in("a.qcow2") +
           " && qemu-img create -q -f qcow2 -b a.qcow2 -F qcow2 " + in("b.qcow2") +
           " && qemu-img rebase -u -b b.qcow2 -F qcow2 " + in("a.qcow2"),
       nullptr, "cycle of parent disks: "},
      {"secret.qcow2",
       "qemu-img create -q --object secret,id=s0,data=kavo -f qcow2 -o "
       "encrypt.format=luks,encrypt.key-secret=s0 " +
           in("secret.qcow2") + " 4M",
       nullptr, "encrypted qcow2 disk (LUKS encryption) cannot be read"},
      {"ext.qcow2", "qemu-img create -q -f qcow2 -o data_file=ext.raw " + in("ext.qcow2") + " 4M",
       nullptr, "qcow2 disk keeps its data in an external file, which is not supported"},
      {"zstd.qcow2",
       "qemu-img create -q -f qcow2 -o compression_type=zstd " + in("zstd.qcow2") + " 4M", nullptr,
       "qcow2 disk compressed with zstd cannot be read"},
      {"sub.qcow2",
       "qemu-img create -q -f qcow2 -o extended_l2=on,cluster_size=128k " + in("sub.qcow2") + " 4M",
       nullptr, "qcow2 disk with extended L2 entries (subclusters) cannot be read"},
      {"gap.001",
       "split -d -a 3 --numeric-suffixes=1 -b 7M " + r + " " + in("gap.") + " && rm " +
           in("gap.003"),
       nullptr, "piece gap.003 of the split image is missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(RunShell("cd " + Quote(dir.path()) + " && " + c.commands), 0);
    if (c.damage) c.damage();
    CDisk disk;
    disk.m_nSourceKind = SourceKind::ImageFile;
    EXPECT_FALSE(disk.Open((dir / c.name).u16string()));
    EXPECT_EQ(disk.m_nOpenFailure, OpenFailure::Container);
    EXPECT_NE(OpenFailureText(disk).find(c.reason), std::string::npos) << OpenFailureText(disk);
  }
}

TEST(Containers, AnUndecodableClusterFailsTheReadLikeABadSector) {
  test::ScratchDir dir;
  const auto raw = dir / "disk.raw";
  if (auto why = MakeFatDisk(dir, raw); !why.empty()) GTEST_SKIP() << why;
  const auto image = dir / "c.qcow2";
  ASSERT_EQ(RunShell("qemu-img convert -O qcow2 -c " + Quote(raw) + " " + Quote(image)), 0);
  // The first compressed cluster (64 KiB clusters) gets a stream that starts with an invalid
  // deflate block.
  const auto bytes = FileBytes(image);
  const uint64_t l2 = LoadBe64(bytes.data() + LoadBe64(bytes.data() + 40)) & 0x00FFFFFFFFFFFE00ULL;
  uint64_t cluster = 0;
  while (cluster < 8192 && !(LoadBe64(bytes.data() + l2 + 8 * cluster) >> 62 & 1)) ++cluster;
  ASSERT_LT(cluster, 8192u);
  const uint64_t host = LoadBe64(bytes.data() + l2 + 8 * cluster) & ((1ULL << 54) - 1);
  PutBytes(image, host, std::vector<uint8_t>(16, 0xFF));

  CDisk disk;
  disk.m_nSourceKind = SourceKind::ImageFile;
  ASSERT_TRUE(disk.Open(image.u16string())) << OpenFailureText(disk);
  std::vector<uint8_t> buffer(65536);
  std::vector<uint64_t> failed;
  for (uint64_t sector = 0; sector < disk.m_nTotalSectors; sector += 128) {
    if (!disk.ReadSectors(buffer.data(), 65536, sector)) {
      failed.push_back(sector / 128);
      EXPECT_EQ(disk.m_hDevice->LastError(), static_cast<platform::ErrorCode>(EIO));
    }
  }
  EXPECT_EQ(failed, std::vector<uint64_t>{cluster});
}

#endif

}  // namespace
}  // namespace kavo

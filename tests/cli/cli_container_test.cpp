// kavo-cli on disk-image containers: a partitioned FAT disk converted by qemu-img lists, shows its
// partitions and images as the raw disk does, and `info` names the container.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/cli_support.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

#ifndef _WIN32

using test::Cli;

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The output with the source's path replaced, so two sources' outputs compare.
std::string Anonymous(std::string text, const std::string& path) {
  for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at)) {
    text.replace(at, path.size(), "SOURCE");
  }
  return text;
}

TEST(CliContainers, ReadAsTheRawDisk) {
  for (const char* tool : {"qemu-img", "ewfacquire", "sfdisk", "mkfs.fat", "mcopy"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  test::ScratchDir dir;
  const std::string raw = (dir / "disk.img").string();
  const std::string part = (dir / "part.img").string();
  ASSERT_EQ(test::RunShell(
                "set -e; cd '" + dir.path().string() +
                "'; truncate -s 40M disk.img; "
                "printf 'label: dos\\n2048,,6\\n' | sfdisk -q disk.img; truncate -s 39M part.img; "
                "mkfs.fat -F 16 part.img >/dev/null; head -c 300000 /dev/urandom > a.bin; "
                "export MTOOLS_SKIP_CHECK=1; mmd -i part.img ::docs; mcopy -i part.img a.bin "
                "::docs/a.bin; mcopy -i part.img a.bin ::b.bin; mdel -i part.img ::b.bin; "
                "dd if=part.img of=disk.img bs=512 seek=2048 conv=notrunc status=none; "
                "cp disk.img disk.bin; qemu-img convert -O vdi disk.img disk.vdi; "
                "qemu-img convert -c -O qcow2 disk.img disk.qcow2; "
                "qemu-img convert -O vhdx disk.img disk.vhdx; "
                "qemu-img convert -O vmdk -o subformat=streamOptimized disk.img disk.vmdk; "
                "ewfacquire -u -q -t disk -c deflate:fast -f encase6 disk.img >/dev/null"),
            0);
  const auto partitions = Cli({"partitions", raw, "--json"});
  ASSERT_EQ(partitions.exitCode, 0) << partitions.err;
  ASSERT_NE(partitions.out.find("FAT16"), std::string::npos) << partitions.out;
  const auto listing = Cli({"list", raw, "--partition", "1", "--json"});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  ASSERT_NE(listing.out.find("docs/a.bin"), std::string::npos) << listing.out;

  struct Case {
    const char* name;
    const char* container;  // the `info` line, empty for a raw file
  };
  for (const Case& c : {Case{"disk.bin", ""}, Case{"disk.vdi", "Container:      VDI (dynamic)\n"},
                        Case{"disk.qcow2", "Container:      qcow2 (version 3)\n"},
                        Case{"disk.vhdx", "Container:      VHDX (dynamic)\n"},
                        Case{"disk.vmdk", "Container:      VMDK (stream-optimized)\n"},
                        Case{"disk.E01", "Container:      EWF (1 segment"}}) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir / c.name).string();
    const auto p = Cli({"partitions", path, "--json"});
    EXPECT_EQ(Anonymous(p.out, path), Anonymous(partitions.out, raw)) << p.err;
    const auto l = Cli({"list", path, "--partition", "1", "--json"});
    EXPECT_EQ(Anonymous(l.out, path), Anonymous(listing.out, raw)) << l.err;
    const auto info = Cli({"info", path});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find(c.container), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Total sectors:  81920\n"), std::string::npos) << info.out;
    // Imaging writes the virtual disk, sector for sector.
    const auto copy = dir / (std::string(c.name) + ".img");
    const auto imaged = Cli({"image", path, copy.string(), "--log", (dir / "image.log").string()});
    ASSERT_EQ(imaged.exitCode, 0) << imaged.err;
    EXPECT_TRUE(Bytes(copy) == Bytes(raw));
  }

  // --verify reads an EWF image whole against its stored MD5; a changed chunk fails it.
  const std::string e01 = (dir / "disk.E01").string();
  const auto verified = Cli({"info", e01, "--verify"});
  EXPECT_EQ(verified.exitCode, 0) << verified.err;
  EXPECT_NE(verified.out.find("Verification:   matches the stored MD5"), std::string::npos)
      << verified.out;
  const auto notEwf = Cli({"info", raw, "--verify"});
  EXPECT_EQ(notEwf.exitCode, 1);
  EXPECT_NE(notEwf.err.find("cannot verify: not an EWF image"), std::string::npos) << notEwf.err;

  // A scan of a container saved and loaded again recovers the file's bytes from it.
  const std::string qcow = (dir / "disk.qcow2").string();
  const auto saved =
      Cli({"list", qcow, "--partition", "1", "--save-scan", (dir / "saved").string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  const auto recovered = Cli(
      {"recover", qcow, "--scan", (dir / "saved.qsv").string(), "--out", (dir / "out").string()});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  size_t found = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "out")) {
    if (e.path().filename() != "a.bin") continue;
    ++found;
    EXPECT_TRUE(Bytes(e.path()) == Bytes(dir / "a.bin")) << e.path();
  }
  EXPECT_EQ(found, 1u) << recovered.out;

  // A damaged container is named as such rather than read as raw sectors.
  std::filesystem::resize_file(dir / "disk.vdi", 4096);
  const auto bad = Cli({"partitions", (dir / "disk.vdi").string()});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("Failed to open disk. VDI block map entry"), std::string::npos) << bad.err;
}

#endif

}  // namespace
}  // namespace kavo

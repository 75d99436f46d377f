// Volumes made by the real tools, their metadata damaged at random: list and recover end on
// their own, without a crash or a hang, and write nothing outside the destination.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "platform/bytes.h"
#include "support/fixtures.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

struct DamagedImage {
  const char* file;
  uint64_t start;  // sector of the volume
};

// Where each kind of volume keeps the metadata that the listing walks: the allocation tables,
// root and early folders of FAT and exFAT in their first 4 MiB; the first 256 KiB of the MFT.
uint64_t MetadataOffset(const std::string& boot) {
  if (boot.compare(3, 4, "NTFS") != 0) return 512;
  const auto* b = reinterpret_cast<const uint8_t*>(boot.data());
  return LoadLe64(b + 0x30) * LoadLe16(b + 0x0B) * b[0x0D];
}

int RunWithTimeout(const std::string& args) {
  return test::RunShell("timeout 120 " + std::string(KAVO_CLI_PATH) + " " + args +
                        " >/dev/null 2>&1");
}

TEST(DamagedVolumes, ListAndRecoverEndCleanlyWhateverTheMetadataHolds) {
  if (!test::HaveTool("timeout")) GTEST_SKIP() << "timeout (coreutils) is not installed";
  std::string why;
  const fs::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  const DamagedImage kImages[] = {
      {"fat32.img", 2048}, {"results.img", 2048}, {"ntfs.img", 0}, {"exfat.img", 0}};
  for (const DamagedImage& image : kImages) {
    const fs::path original = fixtures / image.file;
    if (!fs::exists(original)) {
      ADD_FAILURE() << original << " was not made by tools/make-fixtures.sh";
      continue;
    }
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::string(image.file) + " seed " + std::to_string(seed));
      test::ScratchDir dir;
      const fs::path damaged = dir / "damaged.img";
      fs::copy_file(original, damaged);
      std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
      const uint64_t volume = image.start * 512;
      std::string boot(512, '\0');
      f.seekg(static_cast<std::streamoff>(volume));
      f.read(boot.data(), 512);
      const uint64_t first = volume + MetadataOffset(boot);
      const uint64_t span = boot.compare(3, 4, "NTFS") == 0 ? 256 << 10 : 4 << 20;
      std::mt19937 random(seed);
      for (int i = 0; i < 400; ++i) {
        f.seekp(static_cast<std::streamoff>(first + random() % span));
        f.put(static_cast<char>(random()));
      }
      f.close();

      const std::string source = damaged.string() + " --start " + std::to_string(image.start);
      const int listed = RunWithTimeout("list " + source + " --json");
      EXPECT_TRUE(listed == 0 || listed == 1) << "list exit code " << listed;
      const fs::path out = dir / "out";
      const int recovered = RunWithTimeout("recover " + source + " --out " + out.string());
      EXPECT_TRUE(recovered == 0 || recovered == 1) << "recover exit code " << recovered;
      // Only the image and the destination are in the scratch folder.
      for (const auto& e : fs::directory_iterator(dir.path())) {
        EXPECT_TRUE(e.path() == damaged || e.path() == out) << "written outside: " << e.path();
      }
    }
  }
}

}  // namespace
}  // namespace kavo

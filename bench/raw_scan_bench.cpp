// Raw-scan throughput on a disk image read from the page cache.
//
//   raw_scan_bench make IMAGE [MIB]   writes a test image of MIB MiB (default 1024): random runs,
//                                     zero runs and pictures made by ImageMagick's convert at
//                                     sector boundaries; IMAGE.manifest lists the pictures.
//   raw_scan_bench scan IMAGE [RUNS]  scans IMAGE for BMP, JPG and PNG RUNS times (default 3),
//                                     prints the best rate, and checks the hits against the
//                                     manifest when there is one.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "recovery/tree.h"
#include "scanners/catalogue.h"
#include "scanners/raw_scan.h"

namespace {

using kavo::RecoveredNode;

constexpr uint64_t kMiB = 1 << 20;

struct Placed {
  uint64_t sector;
  uint64_t length;  // the length the scan must report
  std::string kind;
};

// A fast, seeded generator for the random runs.
struct SplitMix {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};

std::vector<char> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Make(const std::string& image, uint64_t mib) {
  const std::filesystem::path dir = image + ".pictures";
  std::filesystem::create_directories(dir);
  struct Source {
    const char* args;
    const char* format;  // an output format prefix, or ""
    const char* file;
    const char* kind;
  };
  const Source sources[] = {
      {"-size 8x8 xc:blue", "", "small.jpg", "jpeg"},
      {"-size 640x480 plasma:fractal", "", "photo.jpg", "jpeg"},
      {"-size 1600x1200 xc:gray +noise Random -quality 92", "", "noise.jpg", "jpeg"},
      {"-size 320x240 gradient:red-yellow -interlace JPEG", "", "progressive.jpg", "jpeg"},
      {"-size 1x1 xc:red", "", "tiny.png", "PNG"},
      {"-size 300x200 plasma:", "", "photo.png", "PNG"},
      {"-size 700x700 xc:gray +noise Random", "", "noise.png", "PNG"},
      {"-size 8x4 xc:red", "BMP3:", "tiny.bmp", "bmp"},
      {"-size 800x600 gradient:red-blue", "BMP3:", "gradient.bmp", "bmp"},
  };
  std::vector<std::pair<std::vector<char>, std::string>> pictures;
  for (const Source& s : sources) {
    const std::filesystem::path path = dir / s.file;
    const std::string command =
        std::string("convert ") + s.args + " '" + s.format + path.string() + "'";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      return 1;
    }
    pictures.emplace_back(ReadAll(path), s.kind);
  }

  std::ofstream out(image, std::ios::binary | std::ios::trunc);
  std::ofstream manifest(image + ".manifest", std::ios::trunc);
  SplitMix random{42};
  const uint64_t total = mib * kMiB;
  uint64_t written = 0;
  std::vector<uint64_t> buffer(kMiB / 8);
  auto emitRandom = [&](uint64_t bytes) {
    while (bytes > 0) {
      const uint64_t n = std::min<uint64_t>(bytes, kMiB);
      for (uint64_t i = 0; i < (n + 7) / 8; ++i) buffer[i] = random.Next();
      out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(n));
      written += n;
      bytes -= n;
    }
  };
  auto emitZeros = [&](uint64_t bytes) {
    std::fill(buffer.begin(), buffer.end(), 0);
    while (bytes > 0) {
      const uint64_t n = std::min<uint64_t>(bytes, kMiB);
      out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(n));
      written += n;
      bytes -= n;
    }
  };
  size_t next = 0;
  while (written + 24 * kMiB < total) {
    emitRandom((1 + random.Next() % 12) * kMiB + (random.Next() % 2048) * 512);
    const auto& [bytes, kind] = pictures[next++ % pictures.size()];
    const uint64_t length = bytes.size() + (kind == "PNG" ? 512 : 0);
    manifest << written / 512 << ' ' << length << ' ' << kind << '\n';
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    written += bytes.size();
    emitRandom((512 - written % 512) % 512);
    emitZeros((random.Next() % 8) * kMiB + (random.Next() % 2048) * 512);
  }
  emitRandom(total - written);
  std::printf("wrote %s: %llu MiB, %zu pictures\n", image.c_str(),
              static_cast<unsigned long long>(mib), next);
  return 0;
}

void Collect(const RecoveredNode* fileType, std::vector<Placed>& found) {
  for (const RecoveredNode* folder = fileType->firstChild; folder; folder = folder->nextSibling) {
    std::string kind;
    for (char16_t c : kavo::NodeName(*folder)) kind.push_back(static_cast<char>(c));
    for (const RecoveredNode* file = folder->firstChild; file; file = file->nextSibling) {
      found.push_back({file->location, file->size, kind});
    }
  }
}

int Scan(const std::string& image, int runs) {
  kavo::CDisk disk;
  disk.m_nSourceKind = kavo::SourceKind::ImageFile;
  if (!disk.Open(std::filesystem::path(image).u16string())) {
    std::fprintf(stderr, "cannot open %s: %s\n", image.c_str(),
                 kavo::OpenFailureText(disk).c_str());
    return 1;
  }
  const double bytes = static_cast<double>(disk.m_nTotalSectors) * disk.m_nSectorSize;
  double best = 0;
  std::vector<Placed> found;
  for (int run = 0; run < runs; ++run) {
    const std::vector<std::u16string> items = kavo::FormatItemTexts();
    kavo::ScannerRegistry registry = kavo::BuildRegistry(items, disk);
    kavo::NodePtr root = kavo::NewRoot();
    RecoveredNode* fileType = kavo::AttachFileType(root.get());
    kavo::ProgressRecord progress;
    kavo::NullSink sink;
    const auto start = std::chrono::steady_clock::now();
    kavo::RawScan(disk, 0, disk.m_nTotalSectors, registry, fileType, &progress, sink);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, bytes / seconds / 1e9);
    found.clear();
    Collect(fileType, found);
  }
  std::printf("kavo: %.2f GB/s over %.2f GB, %zu files\n", best, bytes / 1e9, found.size());

  std::ifstream manifest(image + ".manifest");
  if (!manifest) return 0;
  std::map<uint64_t, Placed> expected;
  Placed p;
  while (manifest >> p.sector >> p.length >> p.kind) expected[p.sector] = p;
  size_t right = 0;
  size_t wrong = 0;
  for (const Placed& f : found) {
    const auto it = expected.find(f.sector);
    if (it != expected.end() && it->second.length == f.length && it->second.kind == f.kind) {
      ++right;
    } else {
      ++wrong;
      std::printf("  unexpected: sector %llu, %llu bytes, %s\n",
                  static_cast<unsigned long long>(f.sector),
                  static_cast<unsigned long long>(f.length), f.kind.c_str());
    }
  }
  std::printf("pictures: %zu of %zu found as placed, %zu false or mismeasured\n", right,
              expected.size(), wrong);
  return right == expected.size() && wrong == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make" && argc >= 3) {
    return Make(argv[2], argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1024);
  }
  if (command == "scan" && argc >= 3) return Scan(argv[2], argc > 3 ? std::atoi(argv[3]) : 3);
  std::fprintf(stderr, "usage: raw_scan_bench make IMAGE [MIB] | scan IMAGE [RUNS]\n");
  return 2;
}

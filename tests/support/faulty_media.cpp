// faulty_media: a failing disk for the copy tests and benchmarks. Mounts a FUSE file system
// holding one read-only file, "disk", with the bytes of an image file, whose reads fail with EIO
// on chosen sector ranges, are slow on others and fail only sometimes on "flaky" ones:
//
//   faulty_media IMAGE MOUNTPOINT [--bad FIRST-LAST]... [--slow FIRST-LAST:MS]...
//                [--flaky FIRST-LAST:PERCENT]... [--seed N]
//
// Sectors are 512 bytes; FIRST and LAST are inclusive. A read touching a bad sector fails as a
// whole, as on a drive. The program returns once the mount is ready and serves it in the
// background; `fusermount3 -u MOUNTPOINT` ends it. A loop device over MOUNTPOINT/disk gives a
// block device (reads of it fail in whole 4 KiB pages).
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kSector = 512;
constexpr char kName[] = "disk";

struct Range {
  uint64_t first = 0;  // bytes
  uint64_t end = 0;
  unsigned value = 0;  // milliseconds or percent
};

struct Media {
  int fd = -1;
  uint64_t size = 0;
  std::vector<Range> bad, slow, flaky;
  std::mt19937_64 random;
  std::mutex lock;
} g_media;

bool Touches(const Range& r, uint64_t from, uint64_t to) {
  return r.first < to && from < r.end;
}

// "FIRST-LAST" or "FIRST-LAST:VALUE", in sectors.
bool ParseRange(const char* text, bool withValue, Range* out) {
  unsigned long long first = 0, last = 0;
  unsigned value = 0;
  int used = 0;
  const int n = withValue ? std::sscanf(text, "%llu-%llu:%u%n", &first, &last, &value, &used)
                          : std::sscanf(text, "%llu-%llu%n", &first, &last, &used);
  if (n != (withValue ? 3 : 2) || text[used] != '\0' || last < first ||
      last >= UINT64_MAX / kSector) {
    return false;
  }
  *out = {first * kSector, (last + 1) * kSector, value};
  return true;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path + 1, kName) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = static_cast<off_t>(g_media.size);
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kName, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path + 1, kName) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  // Every read comes here: a failed read is not hidden by a cached page.
  fi->direct_io = 1;
  fi->keep_cache = 0;
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  if (offset < 0) return -EINVAL;
  const uint64_t from = static_cast<uint64_t>(offset);
  if (from >= g_media.size) return 0;
  const uint64_t to = from + std::min<uint64_t>(size, g_media.size - from);
  for (const Range& r : g_media.slow) {
    if (Touches(r, from, to)) std::this_thread::sleep_for(std::chrono::milliseconds(r.value));
  }
  for (const Range& r : g_media.bad) {
    if (Touches(r, from, to)) return -EIO;
  }
  for (const Range& r : g_media.flaky) {
    if (!Touches(r, from, to)) continue;
    std::lock_guard<std::mutex> hold(g_media.lock);
    if (g_media.random() % 100 < r.value) return -EIO;
  }
  const ssize_t got = pread(g_media.fd, buffer, to - from, offset);
  return got < 0 ? -errno : static_cast<int>(got);
}

int Usage() {
  std::fprintf(stderr,
               "usage: faulty_media IMAGE MOUNTPOINT [--bad FIRST-LAST]... "
               "[--slow FIRST-LAST:MS]... [--flaky FIRST-LAST:PERCENT]... [--seed N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  uint64_t seed = 1;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    Range range;
    if (option == "--bad" && ParseRange(value, false, &range)) {
      g_media.bad.push_back(range);
    } else if (option == "--slow" && ParseRange(value, true, &range)) {
      g_media.slow.push_back(range);
    } else if (option == "--flaky" && ParseRange(value, true, &range) && range.value <= 100) {
      g_media.flaky.push_back(range);
    } else if (option == "--seed") {
      seed = std::strtoull(value, nullptr, 10);
    } else {
      return Usage();
    }
  }
  g_media.random.seed(seed);
  g_media.fd = open(argv[1], O_RDONLY);
  struct stat st {};
  if (g_media.fd < 0 || fstat(g_media.fd, &st) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  g_media.size = static_cast<uint64_t>(st.st_size);

  fuse_operations operations{};
  operations.getattr = GetAttr;
  operations.readdir = ReadDir;
  operations.open = Open;
  operations.read = Read;
  char fsname[] = "-ofsname=faulty_media,default_permissions";
  char* fuseArgs[] = {argv[0], argv[2], fsname, nullptr};
  return fuse_main(3, fuseArgs, &operations, nullptr);
}

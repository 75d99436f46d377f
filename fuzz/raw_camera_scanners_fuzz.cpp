// The camera RAW scanners over arbitrary source bytes: the directory walk and the trailer
// searches end on any input, read nothing outside the source, and claim sound hits. The first
// input byte picks a header for the first sector (TIFF in either byte order, ORF, RW2, CRW), so
// that the walks are reached at once, and a pair of the scanners.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "scan_fuzz.h"
#include "scanners/crw_scanner.h"
#include "scanners/mrw_scanner.h"
#include "scanners/orf_scanner.h"
#include "scanners/raf_scanner.h"
#include "scanners/tiff_scanner.h"
#include "scanners/x3f_scanner.h"

namespace {

void ScanWith(const std::vector<uint8_t>& bytes, std::unique_ptr<kavo::CBaseScanner> a,
              std::unique_ptr<kavo::CBaseScanner> b = nullptr) {
  kavo::fuzz::ScanChecked(bytes.data(), bytes.size(),
                          [&](kavo::ScannerRegistry& registry, kavo::CDisk& disk) {
                            registry.Insert(std::move(a), &disk);
                            if (b) registry.Insert(std::move(b), &disk);
                          });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (4u << 20)) return 0;
  static const char* const kHeaders[] = {"II*\0", "MM\0*", "IIRO", "MMOR", "IIU\0", "II\x1a\0"};
  // Short inputs fill the first sectors; the rest of the source is zeros.
  std::vector<uint8_t> bytes(data + 1, data + size);
  bytes.resize(std::max<size_t>(bytes.size(), 2048));
  std::memcpy(bytes.data(), kHeaders[data[0] % 6], 4);
  if (data[0] % 6 == 5) std::memcpy(bytes.data() + 4, "\0\0HEAPCCDR", 10);
  switch (data[0] / 6 % 3) {
    case 0:
      ScanWith(bytes, std::make_unique<kavo::CTiffScanner>(),
               std::make_unique<kavo::CMRWScanner>());
      break;
    case 1:
      ScanWith(bytes, std::make_unique<kavo::CORFScanner>(), std::make_unique<kavo::CRAFScanner>());
      break;
    default:
      ScanWith(bytes, std::make_unique<kavo::CCRWScanner>(), std::make_unique<kavo::CX3FScanner>());
      break;
  }
  return 0;
}

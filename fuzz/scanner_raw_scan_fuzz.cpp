// The raw scan with every format selected over arbitrary source bytes: no crash, no read outside
// the source, every hit inside what the scanners may claim.
#include "scan_fuzz.h"
#include "scanners/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 512 || size > (4u << 20)) return 0;
  kavo::fuzz::ScanChecked(data, size, [](kavo::ScannerRegistry& registry, kavo::CDisk& disk) {
    registry = kavo::BuildRegistry(kavo::FormatItemTexts(), disk);
  });
  return 0;
}

// LoadScanInfo on arbitrary file contents: no crash, no unbounded memory, always terminates.
#include "recovery/scan_info.h"
#include "stored_file_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kavo::fuzz::SilentPrompter prompter;
  kavo::LoadScanInfo(kavo::fuzz::WriteInput("kavo-scan-info-fuzz", data, size), std::nullopt,
                     prompter);
  return 0;
}

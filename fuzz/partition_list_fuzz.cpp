// LoadPartitionList on arbitrary file contents: no crash, no unbounded memory, always terminates.
#include "recovery/partition_list.h"
#include "stored_file_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kavo::fuzz::SilentPrompter prompter;
  kavo::LoadPartitionList(kavo::fuzz::WriteInput("kavo-partition-list-fuzz", data, size),
                          std::nullopt, prompter);
  return 0;
}

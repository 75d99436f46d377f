// One MFT record: validation and fix-ups, the parse into an entry, the run lists of its
// non-resident attributes, and LZNT1 on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "recovery/ntfs/lznt1.h"
#include "recovery/ntfs/ntfs_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t recordBytes = size > 1024 ? 4096 : 1024;
  std::vector<uint8_t> record(recordBytes, 0);
  std::memcpy(record.data(), data, std::min<size_t>(size, recordBytes));

  kavo::RunList runs;
  kavo::DecodeRunList({data, size}, 0, runs);

  if (kavo::CheckRecord(record.data(), recordBytes)) {
    kavo::ScanEntry entry;
    kavo::ParseRecord(record.data(), recordBytes, entry, nullptr);
    kavo::AttributeWalker walker(record.data(), recordBytes);
    kavo::Attribute attribute;
    while (walker.Next(attribute)) {
      if (attribute.nonResident) kavo::DecodeRunList(attribute.mappingPairs, 0, runs);
    }
  }

  std::vector<uint8_t> out(65536);
  size_t produced = 0;
  kavo::DecompressLznt1(data, size, out.data(), out.size(), &produced);
  return 0;
}

// Fuzzes the FAT and exFAT folder parsers on one buffer of folder data, the first byte choosing
// the file system and the volume's cluster count.
#include <cstddef>
#include <cstdint>
#include <span>

#include "recovery/fat/fat_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavo;
  if (size < 1) return 0;
  VolumeParams volume;
  volume.bytesPerSector = 512;
  volume.sectorsPerCluster = 1;
  volume.bytesPerCluster = 512;
  volume.clusterCount = 16u << (data[0] & 0x0F);
  volume.rootCluster = (data[0] & 0x40) != 0 ? 4 : 2;
  volume.firstDataSector = 64;
  const std::span<const uint8_t> folder(data + 1, size - 1);
  ScanEntryPtr root = NewScanData(volume.rootCluster);
  if ((data[0] & 0x80) != 0) {
    NullSink sink;
    ProgressRecord record;
    ExfatProgress progress{&record, &sink};
    // Parsed in two pieces, as a folder of two clusters is.
    ExfatFolderParser parser(volume, *root, progress);
    const size_t half = folder.size() / 2 / 32 * 32;
    if (parser.Parse(folder.first(half)) == FolderParse::More) parser.Parse(folder.subspan(half));
  } else {
    const uint8_t fileSystem = (data[0] & 0x20) != 0 ? FS_FAT32 : FS_FAT16;
    FatFolderParser parser(fileSystem, volume, *root);
    const size_t half = folder.size() / 2 / 32 * 32;
    if (parser.Parse(folder.first(half)) == FolderParse::More) parser.Parse(folder.subspan(half));
  }
  return 0;
}

#include "recovery/filesystem.h"

#include "recovery/fat/fat_reader.h"
#include "recovery/ntfs/ntfs_reader.h"

namespace kavo {

uint32_t RootFolderId(const CDisk& source) {
  switch (source.m_nFileSystem) {
    case FS_FAT12:
    case FS_FAT16: return 1;
    case FS_FAT32: return 2;
    case FS_NTFS: return 5;
    case FS_EXFAT: return source.m_volume.rootCluster;
  }
  return 0;
}

NodePtr ScanFileSystem(CDisk& source, ProgressRecord* progress, MessageSink& progressWindow) {
  ScanEntryPtr data = NewScanData(RootFolderId(source));
  switch (source.m_nFileSystem) {
    case FS_FAT12:
    case FS_FAT16:
    case FS_FAT32:
    case FS_EXFAT: {
      FatReader reader(source);
      reader.List(data.get(), progress, progressWindow);
      break;
    }
    case FS_NTFS: {
      NtfsReader reader(source);
      reader.ListNtfs(data.get(), progress, progressWindow);
      break;
    }
    default: return nullptr;
  }
  return BuildFileSystemTree(std::move(data));
}

}  // namespace kavo

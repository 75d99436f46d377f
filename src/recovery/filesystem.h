// The file-system listing of a volume: the reader of its file system hangs the live and deleted
// entries under "Data", and the entries become the result tree "Root" -> "Data".
#pragma once

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/disk.h"
#include "recovery/tree.h"

namespace kavo {

// Lists the volume that DetectVolume recognised on `source` (m_nFileSystem, m_volume). Returns
// the new tree, or null when the source holds no recognised volume. A stop request ends the
// listing early; what was found so far is in the tree.
NodePtr ScanFileSystem(CDisk& source, ProgressRecord* progress, MessageSink& progressWindow);

// The id of "Data": the root folder of the volume (FAT12 and FAT16 1, FAT32 2, NTFS 5, exFAT its
// root cluster).
uint32_t RootFolderId(const CDisk& source);

}  // namespace kavo

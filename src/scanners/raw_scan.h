// The signature scan: walks a range of sectors, offers each sector to the registered scanners and
// enters every file they recognise in the recovered-file tree, under
// "FileType" -> extension folder -> "file%d.%s".
#pragma once

#include <cstdint>

#include "base/message_sink.h"
#include "base/progress.h"
#include "disk/disk.h"
#include "recovery/tree.h"
#include "scanners/scanner_registry.h"

namespace kavo {

// The scan walks its range in blocks of this many bytes, and reports once per block.
inline constexpr uint32_t kRawScanBlockBytes = 65536;

// Scans sectors [firstSector, endSector) of `source` (sectors of its own size; the end is cut to
// the source's sector count when that is known), appending the files found below `fileType`.
// Binds every scanner of `registry` to `source` first. Sends UM_PROGRESS to `progressWindow`
// after each block, keeps `progress` (may be null) at the block reached, in sectors, and stops
// at a stop request, keeping what it found. Returns 1.
uint32_t RawScan(CDisk& source, uint64_t firstSector, uint64_t endSector, ScannerRegistry& registry,
                 RecoveredNode* fileType, ProgressRecord* progress, MessageSink& progressWindow);

}  // namespace kavo

// Saving the marked nodes of a result tree into a destination folder, recreating the folders
// around the files.
#pragma once

#include <filesystem>

#include "base/message_sink.h"
#include "recovery/extract.h"
#include "recovery/tree.h"

namespace kavo {

// Writes every marked node below `root` (files with mark 1, folders with mark 1 or 2 and their
// marked contents) into `destination`, each folder becoming the destination of its children.
// Sends UM_PROGRESS after each file; the progress record's position counts written bytes. Ends
// early on a stop request or when the extractor aborts; what is written stays.
void SaveMarked(Extractor& extractor, const RecoveredNode* root,
                const std::filesystem::path& destination, MessageSink& progressWindow);

}  // namespace kavo

// The folder the running program's file is in: where Kavo.exe finds Pictel.exe and its help
// file, and where a previewed file is put for the viewer.
#pragma once

#include <filesystem>

namespace kavo::platform {

// The folder, ending in its separator ("C:\Program Files\Kavo\"), so that a file name appended
// to its text names a file there; empty when the system cannot tell.
std::filesystem::path ProgramFolder();

}  // namespace kavo::platform

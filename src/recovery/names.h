// Turning names found on a disk into names that are safe to create in a destination folder.
#pragma once

#include <string>
#include <string_view>

namespace kavo {

// Longest file name, in UTF-16 units, that the output creates; its UTF-8 form (the name on
// Linux) is held to kMaxOutputNameBytes as well, so a save gives the same names everywhere.
inline constexpr size_t kMaxOutputName = 255;
inline constexpr size_t kMaxOutputNameBytes = 255;

// A name from a damaged or hostile disk as one path component: separators, drive colons,
// wildcard and control characters become '_', "." and ".." and names that are only dots are
// escaped, trailing dots and spaces (dropped by Windows) are kept visible, reserved device names
// (CON, NUL, COM1, ...) get a leading '_', an unpaired UTF-16 surrogate becomes U+FFFD, an empty
// name becomes "_", and an over-long name is cut (FitOutputName). The same mapping applies on
// every system, so a save gives the same names on Windows and Linux.
std::u16string SafeOutputName(std::u16string_view name);

// Cuts a name to kMaxOutputName units and kMaxOutputNameBytes bytes of UTF-8, keeping its
// extension (up to 16 units) and never splitting a surrogate pair.
std::u16string FitOutputName(std::u16string name);

}  // namespace kavo

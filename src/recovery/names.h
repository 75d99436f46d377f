// Turning names found on a disk into names that are safe to create in a destination folder.
#pragma once

#include <string>
#include <string_view>

namespace kavo {

// Longest file name, in UTF-16 units, that the output creates.
inline constexpr size_t kMaxOutputName = 255;

// A name from a damaged or hostile disk as one path component: separators, drive colons,
// wildcard and control characters become '_', "." and ".." and names that are only dots are
// escaped, trailing dots and spaces (dropped by Windows) are kept visible, reserved device names
// (CON, NUL, COM1, ...) get a leading '_', an empty name becomes "_", and an over-long name is cut
// to kMaxOutputName units keeping its extension. The same mapping applies on every system, so a
// save gives the same names on Windows and Linux.
std::u16string SafeOutputName(std::u16string_view name);

}  // namespace kavo

// UTF-16 <-> UTF-8 conversion at the edges (command line, terminal, file names on POSIX).
#pragma once

#include <string>
#include <string_view>

namespace kavo::platform {

// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// An ASCII text (the fixed format strings and numbers) as UTF-16.
std::u16string Widen(std::string_view ascii);

}  // namespace kavo::platform

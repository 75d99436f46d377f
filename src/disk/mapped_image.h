// A partial image as a source: an image file with the map of its copy beside it (IMAGE.map)
// reads as the failing disk it came from, every sector the copy did not finish unreadable, so
// the readers and the carver treat those sectors as damage.
#pragma once

#include <memory>
#include <string>

#include "platform/device.h"

namespace kavo {

// `image` as it is when no readable map lies beside `path`; otherwise wrapped so that a read
// touching a byte the map does not mark finished fails (EIO, or ERROR_CRC on Windows).
std::unique_ptr<platform::RawDevice> WithRescueMap(std::unique_ptr<platform::RawDevice> image,
                                                   const std::u16string& path);

}  // namespace kavo

#include "disk/mapped_image.h"

#include <cerrno>

#include "disk/rescue_map.h"

namespace kavo {

namespace {

#ifdef _WIN32
constexpr platform::ErrorCode kUnreadable = 23;  // ERROR_CRC: data error
#else
constexpr platform::ErrorCode kUnreadable = EIO;
#endif

class MappedImage final : public platform::RawDevice {
 public:
  MappedImage(std::unique_ptr<platform::RawDevice> image, RescueMap map)
      : m_image(std::move(image)), m_map(std::move(map)) {}

  bool Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    uint64_t at = 0;
    if (!m_image->Seek(0, platform::SeekOrigin::Current, &at)) return false;
    const uint64_t end = at + bytes;
    MapBlock block;
    for (uint64_t from = at; from < end && from < m_map.Size(); from = block.end) {
      block = m_map.BlockAt(from);
      if (block.status != BlockStatus::Finished) {
        if (got) *got = 0;
        m_error = kUnreadable;
        return false;
      }
    }
    m_error = 0;
    return m_image->Read(buffer, bytes, got);
  }
  bool Write(const void*, uint32_t, uint32_t* put) override {
    if (put) *put = 0;
    m_error = kUnreadable;
    return false;
  }
  bool Seek(int64_t distance, platform::SeekOrigin origin, uint64_t* position) override {
    return m_image->Seek(distance, origin, position);
  }
  bool GetLength(platform::DeviceType type, uint64_t* length) override {
    return m_image->GetLength(type, length);
  }
  platform::ErrorCode LastError() const override {
    return m_error != 0 ? m_error : m_image->LastError();
  }

 private:
  std::unique_ptr<platform::RawDevice> m_image;
  RescueMap m_map;
  platform::ErrorCode m_error = 0;
};

}  // namespace

std::unique_ptr<platform::RawDevice> WithRescueMap(std::unique_ptr<platform::RawDevice> image,
                                                   const std::u16string& path) {
  if (!image) return image;
  RescueMap map;
  const std::filesystem::path mapPath = std::filesystem::path(path + u".map");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(mapPath, ec) || !map.Load(mapPath, nullptr)) return image;
  return std::make_unique<MappedImage>(std::move(image), std::move(map));
}

}  // namespace kavo

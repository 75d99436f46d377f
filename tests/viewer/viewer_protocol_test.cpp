#include "viewer/viewer_protocol.h"

#include <gtest/gtest.h>

namespace kavo::viewer {
namespace {

TEST(ViewerProtocol, RecordLayoutAndPathRoundTrip) {
  const std::u16string path = u"C:\\Kavo\\Bild 01 \u00e9\u4e2d.jpg";
  const HandOverRecord record = PackHandOver(path, 0x0000000123456789ull);
  EXPECT_EQ(HandOverPath(record.data(), record.size()), path);
  const uint8_t tail[] = {0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0, 1, 0, 1, 0};
  for (size_t i = 0; i < sizeof tail; ++i) EXPECT_EQ(record[520 + i], tail[i]) << i;
  EXPECT_EQ(record[532], path.size());
  EXPECT_EQ(record[2 * path.size()], 0);
  EXPECT_EQ(record[2 * path.size() + 1], 0);
}

TEST(ViewerProtocol, LongPathsAreCutAndShortRecordsReadSafely) {
  const HandOverRecord record = PackHandOver(std::u16string(300, u'x'), 5);
  EXPECT_EQ(HandOverPath(record.data(), record.size()), std::u16string(259, u'x'));
  EXPECT_EQ(record[518], 0);
  EXPECT_EQ(record[519], 0);
  EXPECT_EQ(record[532], 259 & 0xFF);  // the low byte of the length
  // Fewer bytes than the path field, an odd count, and no terminating zero.
  struct Case {
    size_t bytes;
    size_t units;
  };
  for (const Case c : {Case{0, 0}, Case{1, 0}, Case{7, 3}, Case{200, 100}}) {
    EXPECT_EQ(HandOverPath(record.data(), c.bytes), std::u16string(c.units, u'x')) << c.bytes;
  }
  HandOverRecord full{};
  full.fill('y');
  EXPECT_EQ(HandOverPath(full.data(), full.size()).size(), kPathUnits);
}

}  // namespace
}  // namespace kavo::viewer

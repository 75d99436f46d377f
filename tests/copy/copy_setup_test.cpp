// The checks of the cloning and imaging setup, with their messages.
#include "copy/copy_setup.h"

#include <gtest/gtest.h>

namespace kavo {
namespace {

TEST(CloneSetup, SelectionMessagesComeInOrder) {
  EXPECT_EQ(CheckCloneSelection(std::nullopt, std::nullopt), u"Please select a source drive.");
  EXPECT_EQ(CheckCloneSelection(0, std::nullopt), u"Please select a destination drive.");
  EXPECT_EQ(CheckCloneSelection(2, 2), u"Source and destination drive can not be same.");
  EXPECT_EQ(CheckCloneSelection(1, 2), u"");
}

TEST(CloneSetup, RangeFieldsAndBounds) {
  const auto msg = [](const char16_t* s, const char16_t* d, const char16_t* n) {
    return CheckCloneRange(s, d, n, 1000, 2000).message;
  };
  EXPECT_EQ(msg(u"", u"0", u"1"),
            u"Please enter the value for starting sector no. of source drive.");
  EXPECT_EQ(msg(u"0", u"", u"1"),
            u"Please enter the value for destination sector no. of destination drive.");
  EXPECT_EQ(msg(u"1001", u"0", u"1"), u"Please enter valid sector number.");
  EXPECT_EQ(msg(u"0", u"2001", u"1"), u"Please enter valid destination number.");
  EXPECT_EQ(msg(u"0", u"0", u""), u"Please enter the no. of sectors to copy.");
  EXPECT_EQ(msg(u"0", u"0", u"0"), u"Please enter valid number of sectors to be copied.");
  EXPECT_EQ(msg(u"0", u"0", u"1001"), u"Please enter valid number of sectors to be copied.");
  // Not plain decimal numbers: signs, letters, values past the signed 64-bit range.
  EXPECT_EQ(msg(u"-5", u"0", u"1"), u"Please enter valid sector number.");
  EXPECT_EQ(msg(u"12a", u"0", u"1"), u"Please enter valid sector number.");
  EXPECT_EQ(msg(u"0", u"9223372036854775808", u"1"), u"Please enter valid destination number.");
  EXPECT_EQ(msg(u"0", u"0", u"99999999999999999999"),
            u"Please enter valid number of sectors to be copied.");

  // The whole source, and a start equal to the sector count as a start.
  const CloneRange whole = CheckCloneRange(u"0", u"1000", u"1000", 1000, 2000);
  EXPECT_EQ(whole.message, u"");
  EXPECT_EQ(whole.sourceEnd, 1000u);
  EXPECT_EQ(whole.destinationStart, 1000u);
  EXPECT_EQ(msg(u"1000", u"0", u"1"), u"Please enter valid number of sectors to be copied.");
  // A range running past the end of the source, or of the destination, is refused.
  EXPECT_EQ(msg(u"10", u"0", u"1000"), u"Please enter valid number of sectors to be copied.");
  EXPECT_EQ(msg(u"0", u"1500", u"600"), u"Insufficient space. Please choose other destination.");
  const CloneRange part = CheckCloneRange(u"10", u"1500", u"500", 1000, 2000);
  EXPECT_EQ(part.message, u"");
  EXPECT_EQ(part.sourceStart, 10u);
  EXPECT_EQ(part.sourceEnd, 510u);
}

TEST(CloneSetup, SpaceAndRetries) {
  EXPECT_EQ(CheckCloneSpace(1001, 1000), u"Insufficient space. Please choose other destination.");
  EXPECT_EQ(CheckCloneSpace(1000, 1000), u"");
  EXPECT_EQ(CheckCloneSectorSizes(512, 4096), kDifferentSectorSizes);
  EXPECT_EQ(CheckCloneSectorSizes(4096, 512), kDifferentSectorSizes);
  EXPECT_EQ(CheckCloneSectorSizes(4096, 4096), u"");
  for (int n : {2, 3, 5}) EXPECT_TRUE(IsCloneRetryChoice(n));
  for (int n : {0, 1, 4, 6}) EXPECT_FALSE(IsCloneRetryChoice(n));
}

TEST(ImageSetup, SelectionSpaceAndPath) {
  EXPECT_EQ(CheckImageSelection(false, u"x.img"), u"Please select a drive.");
  EXPECT_EQ(CheckImageSelection(true, u""), u"Please select a destination path.");
  EXPECT_EQ(CheckImageSelection(true, u"x.img"), u"");
  EXPECT_EQ(CheckImageSpace(5000, 4999), u"Insufficient space. Please choose other destination.");
  EXPECT_EQ(CheckImageSpace(5000, 5000), u"");
  EXPECT_EQ(ImagePathWithExtension(u"backup.IMG"), u"backup.IMG.img");
  EXPECT_EQ(ImagePathWithExtension(u"backup.img"), u"backup.img");
  EXPECT_EQ(ImagePathWithExtension(u"backup"), u"backup.img");
  const auto room = ImageRoom(std::filesystem::temp_directory_path() / "kavo-room-test.img");
  ASSERT_TRUE(room.has_value());
  EXPECT_GT(*room, 0u);
}

TEST(CloneSetup, DriveItemText) {
  EXPECT_EQ(DriveItemText(u"Disk", u"SN1", uint64_t{8} << 30), u"Disk:  SN1 \r\n(8.00 GB)");
  EXPECT_EQ(DriveItemText(u"Stick", u"", uint64_t{1} << 30), u"Stick:   \r\n(1024.00 MB)");
  EXPECT_EQ(DriveItemText(u"Card", u"7", 1536), u"Card:  7 \r\n(1.50 KB)");
}

}  // namespace
}  // namespace kavo

#include "platform/text.h"

#include <gtest/gtest.h>

namespace kavo::platform {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string wide = u"Data/\u00e9t\u00e9/\u65e5\u672c/\U0001F600.jpg";
  const std::string narrow = Utf16ToUtf8(wide);
  EXPECT_EQ(narrow, "Data/\xc3\xa9t\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac/\xf0\x9f\x98\x80.jpg");
  EXPECT_EQ(Utf8ToUtf16(narrow), wide);
}

TEST(Utf, ReplacesWhatCannotBeConverted) {
  // Lone surrogates come from damaged directory entries.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a"), "\xef\xbf\xbd" "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xef\xbf\xbd");
  // Truncated, overlong and out-of-range sequences.
  EXPECT_EQ(Utf8ToUtf16("\xe6\x97"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xf4\x90\x80\x80" "b"), u"\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xff" "c"), u"\uFFFDc");
}

}  // namespace
}  // namespace kavo::platform

#include "base/md5.h"

#include <gtest/gtest.h>

namespace kavo {
namespace {

TEST(Md5, KnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},  // padding spills a block
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    // Fed in uneven pieces, as a disk's reads come.
    Md5 md5;
    for (size_t at = 0; at < c.input.size(); at += 7)
      md5.Update(c.input.data() + at, std::min<size_t>(7, c.input.size() - at));
    EXPECT_EQ(Md5::Hex(md5.Finish()), c.digest) << c.input;
  }
}

}  // namespace
}  // namespace kavo

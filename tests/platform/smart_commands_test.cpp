// The SMART and NVMe health requests byte by byte, and the reading of answers laid out as the
// drivers return them (SENDCMDOUTPARAMS, SCSI sense data of libata, the protocol-specific
// property answer).
#include "platform/smart_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/bytes.h"

namespace kavo::platform {
namespace {

TEST(SmartRequests, RegistersOfBothSystems) {
  const auto in = SmartCommandInput(kSmartReadData, 512, 2);
  const std::vector<uint8_t> head(in.begin(), in.begin() + 14);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x00, 0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0,
                                        0xB0, 0x00, 0x02, 0x00}));
  EXPECT_EQ(SmartCommandInput(kSmartEnable, 0, 0)[4], 0xD8);

  const auto read = SmartPassThroughCdb(kSmartReadThresholds, true);
  EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.end()),
            (std::vector<uint8_t>{0x85, 0x08, 0x0E, 0x00, 0xD1, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F,
                                  0x00, 0xC2, 0xA0, 0xB0, 0x00}));
  const auto enable = SmartPassThroughCdb(kSmartEnable, false);
  EXPECT_EQ(enable[1], 0x06);  // non-data
  EXPECT_EQ(enable[2], 0x00);
  EXPECT_EQ(enable[4], 0xD8);
}

TEST(SmartReplies, DataAfterTheHeadAndShortAnswers) {
  std::vector<uint8_t> reply(529, 0);
  StoreLe32(reply.data(), 512);
  for (size_t i = 0; i < 512; ++i) reply[16 + i] = static_cast<uint8_t>(i * 7);
  std::array<uint8_t, 512> data{};
  ASSERT_TRUE(SmartReplyData(reply, 528, data));
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(data[511], static_cast<uint8_t>(511 * 7));
  ASSERT_TRUE(SmartReplyData(reply, 100, data));  // 84 bytes arrived, the rest reads 0
  EXPECT_EQ(data[83], static_cast<uint8_t>(83 * 7));
  EXPECT_EQ(data[84], 0);
  EXPECT_FALSE(SmartReplyData(reply, 15, data));
  EXPECT_FALSE(SmartReplyData(std::span<const uint8_t>(reply.data(), 8), 529, data));
}

TEST(PassThroughSense, CheckConditionsThatSucceedOrFail) {
  // libata's answer with the ATA status return descriptor: recovered error, status 50h.
  const std::vector<uint8_t> ok = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E,
                                   0x09, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                                   0x00, 0x4F, 0x00, 0xC2, 0x00, 0x50};
  std::vector<uint8_t> error = ok;
  error[21] = 0x51;  // status with the error bit
  error[1] = 0x00;
  std::vector<uint8_t> aborted = ok;
  aborted[1] = 0x0B;  // aborted command
  struct {
    std::vector<uint8_t> sense;
    bool ok;
  } cases[] = {
      {ok, true},
      {error, false},
      {aborted, false},
      {{0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A}, false},  // illegal request
      {{0x70, 0x00, 0x00, 0x00}, true},
      {{0x72, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, true},        // no descriptor
      {{0x72, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x09}, true},  // length past the data
      {{0x72}, false},
      {{0x00, 0x00, 0x00}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(PassThroughSenseOk(c.sense), c.ok);
}

TEST(NvmeHealthQuery, RequestAndAnswer) {
  auto q = NvmeHealthQuery();
  EXPECT_EQ(LoadLe32(q.data()), 50u);
  EXPECT_EQ(LoadLe32(q.data() + 8), 3u);
  EXPECT_EQ(LoadLe32(q.data() + 12), 2u);
  EXPECT_EQ(LoadLe32(q.data() + 16), 2u);
  EXPECT_EQ(LoadLe32(q.data() + 24), 40u);
  EXPECT_EQ(LoadLe32(q.data() + 28), 512u);

  // The answer: version and size, the request as the driver returns it, the log.
  std::array<uint8_t, kNvmeQueryBytes> answer = q;
  StoreLe32(answer.data(), 40);
  StoreLe32(answer.data() + 4, 40);
  answer[8 + 40 + 1] = 0x34;  // composite temperature 0134h = 308 K
  answer[8 + 40 + 2] = 0x01;
  std::array<uint8_t, 512> log{};
  ASSERT_TRUE(NvmeHealthReply(answer, answer.size(), log));
  EXPECT_EQ(LoadLe16(log.data() + 1), 308);
  EXPECT_FALSE(NvmeHealthReply(answer, answer.size() - 1, log));  // the log cut short
  StoreLe32(answer.data() + 8 + 16, 0xFFFFFFF0);                  // an offset past the answer
  EXPECT_FALSE(NvmeHealthReply(answer, answer.size(), log));
  StoreLe32(answer.data() + 8 + 16, 40);
  StoreLe32(answer.data() + 8 + 20, 256);  // less than a log
  EXPECT_FALSE(NvmeHealthReply(answer, answer.size(), log));
}

}  // namespace
}  // namespace kavo::platform

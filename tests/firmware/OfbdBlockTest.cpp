// Bounds of the blocks built and read here: an OFBD block never grows past its buffer, an
// answer's text is read only inside the block, and a flash information reply whose table
// would run past the shared block is refused.
#include <gtest/gtest.h>

#include <array>

#include "core/Bytes.h"
#include "firmware/FlashInfo.h"
#include "firmware/Ofbd.h"

namespace nox::firmware {
namespace {

TEST(OfbdBlock, RefusesToBuildPastItsBuffer) {
  std::array<uint8_t, 40> small{};
  ASSERT_TRUE(OfbdBegin(small, 0, 0) && OfbdAddOperation(small, 'U', 1));
  EXPECT_FALSE(OfbdCloseOperation(small, 'U', 1));  // 22 + 18 + 4 > 40
  EXPECT_EQ(OfbdTotalSize(small), 22);
  std::array<uint8_t, 10> tiny{};
  EXPECT_FALSE(OfbdBegin(tiny, 0, 0));
}

TEST(OfbdAnswer, TextMustBeFlaggedNonEmptyAndTerminatedInsideTheBlock) {
  std::array<uint8_t, 64> block{};
  ASSERT_TRUE(OfbdBegin(block, 0, 0) && OfbdAddOperation(block, 'R', 1) && OfbdCloseOperation(block, 'R', 1));
  const char text[] = "Enter password";
  std::copy(text, text + sizeof text, block.begin() + 30);
  OfbdAnswer answer{block};
  EXPECT_FALSE(answer.Text()) << "without flag bit 4 there is no text";
  core::StoreLe16(&block[12], 0x11);
  EXPECT_EQ(answer.Text(), "Enter password");
  std::fill(block.begin() + 30, block.end(), 'x');
  EXPECT_FALSE(answer.Text()) << "text running to the end of the block is no text";
  block[30] = 0;
  EXPECT_FALSE(answer.Text()) << "an empty text counts as none";
  core::StoreLe16(&block[6], 200);
  EXPECT_FALSE(answer.Text()) << "a total size past the block";
}

TEST(FlashInfoReply, ATableRunningPastTheSharedBlockIsRejected) {
  std::vector<uint8_t> reply(65536, 0xCC);
  reply[4] = 0;
  reply[5] = 11;
  // The last count that fits: 16 + N*9 + 9 <= 65536.
  constexpr uint16_t kLast = (65536 - 25) / 9;
  for (const uint16_t count : {uint16_t{0xFFFF}, kLast, uint16_t(kLast + 1)}) {
    core::StoreLe16(&reply[6], count);
    EXPECT_EQ(FlashInfo::FromReply(reply).has_value(), count == kLast) << count;
  }
}

}  // namespace
}  // namespace nox::firmware

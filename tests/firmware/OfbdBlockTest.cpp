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
  OfbdBegin(block, 0, 0);
  OfbdAddOperation(block, 'R', 1);
  OfbdCloseOperation(block, 'R', 1);
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

// --- flash information normalization ------------------------------------------------------

std::vector<uint8_t> Reply(uint8_t version, uint8_t marker, const std::vector<FlashBlockEntry>& entries,
                           uint32_t ecOffset = 0, uint32_t ecMask = 0, size_t blockSize = 65536) {
  std::vector<uint8_t> b(blockSize, 0xCC);
  core::StoreLe32(&b[0], 0xAABBCCDD);
  b[4] = marker;
  b[5] = version;
  core::StoreLe16(&b[6], static_cast<uint16_t>(entries.size()));
  size_t at = 8;
  if (version >= 11) {
    core::StoreLe32(&b[8], ecOffset);
    core::StoreLe32(&b[12], ecMask);
    at = 16;
  }
  for (const auto& e : entries) {
    core::StoreLe32(&b[at], e.start);
    core::StoreLe32(&b[at + 4], e.size);
    b[at + 8] = e.type;
    at += 9;
  }
  return b;
}

// In the firmware's order, which need not be the order of the addresses.
const std::vector<FlashBlockEntry> kEntries = {
    {0x0F0000, 0x10000, 0}, {0x010000, 0x70000, 1}, {0x000000, 0x10000, 2}, {0x080000, 0x10000, 0x80}};

TEST(FlashInfoReply, EveryVersionNormalizesToTheSameTable) {
  const auto v9 = FlashInfo::FromReply(Reply(9, 0, kEntries));
  const auto v10 = FlashInfo::FromReply(Reply(10, 0, kEntries));
  const auto v11 = FlashInfo::FromReply(Reply(11, 0, kEntries));
  const auto v12 = FlashInfo::FromReply(Reply(12, 1, kEntries, 0x100, 0xFFFF0000));
  const auto v13 = FlashInfo::FromReply(Reply(13, 200, kEntries, 0x100, 0xFFFF0000));
  ASSERT_TRUE(v9 && v10 && v11 && v12 && v13);
  for (const auto* info : {&*v9, &*v10, &*v11, &*v12, &*v13}) {
    EXPECT_EQ(info->Entries(), kEntries);
    EXPECT_EQ(info->TotalSize(), 0xA0000u);
  }
  EXPECT_EQ(v10->Bytes().size(), kEntries.size() * 9 + 25);
  EXPECT_EQ(v9->EcVersionOffset() | v10->EcVersionOffset(), 0u);
  EXPECT_EQ(v9->EcVersionMask() | v10->EcVersionMask(), 0u);
  EXPECT_EQ(v13->EcVersionOffset(), 0x100u);
  // Everything but the version byte agrees, header and entries.
  const auto a = v10->Bytes();
  const auto b = v11->Bytes();
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 5, b.begin()));
  EXPECT_TRUE(std::equal(a.begin() + 6, a.begin() + 16 + 36, b.begin() + 6));
  // Newer replies keep their EC version fields and refusal marker.
  EXPECT_EQ(v12->Version(), 12);
  EXPECT_EQ(v12->RefusalMarker(), 1);
  EXPECT_EQ(v12->EcVersionOffset(), 0x100u);
  EXPECT_EQ(v12->EcVersionMask(), 0xFFFF0000u);
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

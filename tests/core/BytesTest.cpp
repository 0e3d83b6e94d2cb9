#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

#include "core/Bytes.h"
#include "core/Format.h"

namespace nox::core {
namespace {

TEST(Bytes, ReadsLittleEndianFieldsInsideTheBuffer) {
  const std::array<uint8_t, 9> b{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  EXPECT_EQ(ReadU8(b, 8), 0x09);
  EXPECT_EQ(ReadLe16(b, 0), 0x0201);
  EXPECT_EQ(ReadLe32(b, 1), 0x05040302u);
  EXPECT_EQ(ReadLe64(b, 1), 0x0908070605040302ull);
}

TEST(Bytes, RefusesReadsAndWritesThatCrossTheEnd) {
  std::array<uint8_t, 4> b{};
  EXPECT_FALSE(ReadLe32(b, 1));
  EXPECT_FALSE(ReadLe16(b, 3));
  EXPECT_FALSE(ReadU8(b, 4));
  EXPECT_FALSE(ReadLe64(b, 0));
  // An offset so large that offset + length wraps around must not pass the check.
  EXPECT_FALSE(ReadLe32(b, std::numeric_limits<size_t>::max() - 1));
  EXPECT_FALSE(WriteLe32(b, 1, 0xDEADBEEF));
  EXPECT_FALSE(WriteLe16(b, std::numeric_limits<size_t>::max(), 1));
  EXPECT_EQ(b, (std::array<uint8_t, 4>{}));  // a refused write leaves the buffer alone
  EXPECT_FALSE(SubSpan(b, 2, 3));
  EXPECT_TRUE(SubSpan(b, 4, 0));
}

TEST(Bytes, WritesRoundTripThroughReads) {
  std::array<uint8_t, 16> b{};
  ASSERT_TRUE(WriteLe16(b, 0, 0xBEEF));
  ASSERT_TRUE(WriteLe32(b, 2, 0x12345678));
  ASSERT_TRUE(WriteLe64(b, 8, 0x0102030405060708ull));
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[2], 0x78);
  EXPECT_EQ(b[5], 0x12);
  EXPECT_EQ(b[8], 0x08);
  EXPECT_EQ(ReadLe64(b, 8), 0x0102030405060708ull);
}

TEST(Bytes, Sum16AddsWordsModulo65536) {
  // "@ZPK" header words chosen to balance to zero.
  std::array<uint8_t, 6> b{0xFF, 0xFF, 0x02, 0x00, 0xFF, 0xFF};
  EXPECT_EQ(Sum16(b), static_cast<uint16_t>(0xFFFF + 0x0002 + 0xFFFF));
  const std::array<uint8_t, 3> odd{0x01, 0x00, 0x05};
  EXPECT_EQ(Sum16(odd), 6);
  EXPECT_EQ(Sum8(b), static_cast<uint8_t>(0xFF * 4 + 2));
}

TEST(Format, FormatsLikePrintfWithoutTruncation) {
  EXPECT_EQ(Format("%08Xh", 0xFFE00000u), "FFE00000h");
  EXPECT_EQ(Format(" - %s\n", "Error: Unknown command"), " - Error: Unknown command\n");
  const std::string longText(5000, 'x');
  EXPECT_EQ(Format("[%s]", longText.c_str()).size(), 5002u);
  EXPECT_EQ(Format("%s", ""), "");
}

}  // namespace
}  // namespace nox::core

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

#include "core/Bytes.h"
#include "core/Format.h"

namespace nox::core {
namespace {

constexpr size_t kMax = std::numeric_limits<size_t>::max();

TEST(Bytes, WritesAndReadsLittleEndianFieldsInsideTheBuffer) {
  std::array<uint8_t, 17> b{};
  ASSERT_TRUE(WriteLe16(b, 0, 0xBEEF));
  ASSERT_TRUE(WriteLe32(b, 2, 0x12345678));
  ASSERT_TRUE(WriteLe64(b, 9, 0x0102030405060708ull));
  EXPECT_EQ(b, (std::array<uint8_t, 17>{0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(ReadU8(b, 16), 0x01);
  EXPECT_EQ(ReadLe16(b, 1), 0x78BE);
  EXPECT_EQ(ReadLe32(b, 3), 0x00123456u);
  EXPECT_EQ(ReadLe64(b, 9), 0x0102030405060708ull);
}

TEST(Bytes, RefusesReadsAndWritesThatCrossTheEnd) {
  std::array<uint8_t, 4> b{};
  EXPECT_FALSE(ReadLe32(b, 1));
  EXPECT_FALSE(ReadLe16(b, 3));
  EXPECT_FALSE(ReadU8(b, 4));
  EXPECT_FALSE(ReadLe64(b, 0));
  EXPECT_FALSE(ReadLe32(b, kMax - 1));  // offset + length wraps around
  EXPECT_FALSE(WriteLe32(b, 1, 0xDEADBEEF));
  EXPECT_FALSE(WriteLe16(b, kMax, 1));
  EXPECT_EQ(b, (std::array<uint8_t, 4>{}));  // a refused write leaves the buffer alone
  EXPECT_FALSE(SubSpan(b, 2, 3));
  EXPECT_TRUE(SubSpan(b, 4, 0));
}

TEST(Bytes, SumsAddWordsOrBytesWithTheOddByteLast) {
  const std::array<uint8_t, 5> b{0xFF, 0xFF, 0x02, 0x00, 0x05};
  EXPECT_EQ(Sum16(b), static_cast<uint16_t>(0xFFFF + 0x0002 + 0x05));
  EXPECT_EQ(Sum8(b), static_cast<uint8_t>(0xFF * 2 + 2 + 5));
}

TEST(Format, FormatsLikePrintfWithoutTruncation) {
  EXPECT_EQ(Format("%08Xh", 0xFFE00000u), "FFE00000h");
  EXPECT_EQ(Format(" - %s\n", "Error"), " - Error\n");
  EXPECT_EQ(Format("[%s]", std::string(5000, 'x').c_str()).size(), 5002u);
  EXPECT_EQ(Format("%s", ""), "");
}

}  // namespace
}  // namespace nox::core

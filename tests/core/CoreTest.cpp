#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "core/Bytes.h"
#include "core/CText.h"
#include "core/Format.h"
#include "core/Guid.h"

namespace nox::core {
namespace {

constexpr size_t kMax = std::numeric_limits<size_t>::max();

TEST(Bytes, LittleEndianFieldsOnlyInsideTheBufferAndSumsWithTheOddByteLast) {
  std::array<uint8_t, 17> b{};
  ASSERT_TRUE(WriteLe16(b, 0, 0xBEEF) && WriteLe32(b, 2, 0x12345678) && WriteLe64(b, 9, 0x0102030405060708ull));
  EXPECT_EQ(b, (std::array<uint8_t, 17>{0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(std::tuple(ReadU8(b, 16), ReadLe16(b, 1), ReadLe32(b, 3), ReadLe64(b, 9)),
            std::tuple(0x01, 0x78BE, 0x00123456u, 0x0102030405060708ull));
  std::array<uint8_t, 4> small{};
  EXPECT_FALSE(ReadLe32(small, 1) || ReadLe16(small, 3) || ReadU8(small, 4) || ReadLe64(small, 0));
  EXPECT_FALSE(ReadLe32(small, kMax - 1));  // offset + length wraps around
  EXPECT_FALSE(WriteLe32(small, 1, 0xDEADBEEF) || WriteLe16(small, kMax, 1));
  EXPECT_EQ(small, (std::array<uint8_t, 4>{}));  // a refused write leaves the buffer alone
  EXPECT_FALSE(SubSpan(small, 2, 3));
  EXPECT_TRUE(SubSpan(small, 4, 0));
  const std::array<uint8_t, 5> odd{0xFF, 0xFF, 0x02, 0x00, 0x05};
  EXPECT_EQ(Sum16(odd), static_cast<uint16_t>(0xFFFF + 0x0002 + 0x05));
  EXPECT_EQ(Sum8(odd), static_cast<uint8_t>(0xFF * 2 + 2 + 5));
}

TEST(Text, FormatAndCStringsFollowTheCLibraryWithinTheirBounds) {
  EXPECT_EQ(Format("%08Xh - %s", 0xFFE00000u, "Error"), "FFE00000h - Error");
  EXPECT_EQ(Format("[%s]", std::string(5000, 'x').c_str()).size(), 5002u);
  EXPECT_EQ(Format("%s", ""), "");
  const std::array<uint8_t, 8> b{'A', 'B', 0, 'C', 'D', 'E', 'F', 'G'};
  // Without a terminator the text stops at the buffer's end or the limit.
  EXPECT_EQ((std::vector{BoundedCString(b, 0), BoundedCString(b, 2), BoundedCString(b, 3), BoundedCString(b, 3, 2),
                         BoundedCString(b, 8), BoundedCString(b, kMax)}),
            (std::vector<std::string_view>{"AB", "", "CDEFG", "CD", "", ""}));
  EXPECT_EQ(BoundedCString(std::array<char, 4>{'x', 'y', 'z', 'w'}), "xyzw");
  std::array<char, 4> field{'q', 'q', 'q', 'q'};
  EXPECT_TRUE(CopyCString(field, "ab"));
  EXPECT_EQ(field, (std::array<char, 4>{'a', 'b', 0, 0}));
  EXPECT_FALSE(CopyCString(field, "abcdef"));  // cut to leave room for the terminator
  EXPECT_EQ(field, (std::array<char, 4>{'a', 'b', 'c', 0}));
  EXPECT_EQ(AsciiLower("/IFILE.ROM:\xC4"), "/ifile.rom:\xC4");
  EXPECT_EQ(AsciiUpper("kn[0-7]"), "KN[0-7]");
  for (const auto& [text, value] : {std::pair<const char*, int64_t>{"17", 17}, {"3x", 3}, {"x3", 0}, {"", 0}, {"  8", 8},
                                    {"+5", 5}, {"-2", -2}, {"007", 7}, {"99999999999999999999999999", 1000000000000000000}}) {
    EXPECT_EQ(CDecimal(text), value) << text;
  }
}

TEST(Guid, ParsesPrintsAndUsesTheMixedEndianFirmwareLayoutOrderedByFieldValue) {
  const auto a = Guid::Parse("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
  ASSERT_TRUE(a);
  EXPECT_EQ(Guid::Parse("{8c8ce578-8a3d-4f1c-9935-896185c32dd3}"), a);
  EXPECT_EQ(a->ToRegistryString(), "{8C8CE578-8A3D-4F1C-9935-896185C32DD3}");
  EXPECT_EQ(a->ToCompactString(), "8c8ce578-8a3d-4f1c-9935896185c32dd3");
  for (const char* text : {"", "8C8CE578-8A3D-4F1C-9935-896185C32DD", "8C8CE578-8A3D-4F1C-9935-896185C32DD33",
                           "8C8CE5788A3D-4F1C-9935-896185C32DD3-", "8C8CE578-8A3D-4F1C-9935-896185C32DDG",
                           "{8C8CE578-8A3D-4F1C-9935-896185C32DD3", "(8C8CE578-8A3D-4F1C-9935-896185C32DD3)"}) {
    EXPECT_FALSE(Guid::Parse(text)) << text;
  }
  const std::array<uint8_t, 16> bytes{0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                                      0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
  EXPECT_EQ(a->ToBytes(), bytes);
  EXPECT_EQ(Guid::FromBytes(bytes), a);
  EXPECT_FALSE(Guid::FromBytes(std::span(bytes).first(15)));
  // Field values decide, not the little-endian bytes in memory.
  EXPECT_LT(GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8"), GuidLiteral("05CA020B-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_LT(GuidLiteral("000000FF-0000-0000-0000-000000000001"), GuidLiteral("00000100-0000-0000-0000-000000000000"));
}

}  // namespace
}  // namespace nox::core

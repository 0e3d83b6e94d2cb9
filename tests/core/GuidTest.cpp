#include <gtest/gtest.h>

#include <array>

#include "core/Guid.h"

namespace nox::core {
namespace {

TEST(Guid, ParsesWithAndWithoutBracesInEitherCaseAndPrintsBothForms) {
  const auto a = Guid::Parse("7A9354D9-0468-444A-81CE-0BF617D890DF");
  const auto b = Guid::Parse("{7a9354d9-0468-444a-81ce-0bf617d890df}");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(a->ToRegistryString(), "{7A9354D9-0468-444A-81CE-0BF617D890DF}");
  EXPECT_EQ(a->ToCompactString(), "7a9354d9-0468-444a-81ce0bf617d890df");
  for (const char* text : {"", "7A9354D9-0468-444A-81CE-0BF617D890D", "7A9354D9-0468-444A-81CE-0BF617D890DFF",
                           "7A9354D90468-444A-81CE-0BF617D890DF-", "7A9354D9-0468-444A-81CE-0BF617D890DG",
                           "{7A9354D9-0468-444A-81CE-0BF617D890DF", "(7A9354D9-0468-444A-81CE-0BF617D890DF)"}) {
    EXPECT_FALSE(Guid::Parse(text)) << text;
  }
}

TEST(Guid, UsesTheMixedEndianFirmwareLayoutAndOrdersByFieldValue) {
  const Guid g = GuidLiteral("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
  const std::array<uint8_t, 16> expected{0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                                         0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
  EXPECT_EQ(g.ToBytes(), expected);
  EXPECT_EQ(Guid::FromBytes(expected), g);
  EXPECT_FALSE(Guid::FromBytes(std::span(expected).first(15)));
  // Field values decide, not the little-endian bytes in memory.
  EXPECT_LT(GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8"), GuidLiteral("05CA020B-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_LT(GuidLiteral("000000FF-0000-0000-0000-000000000001"), GuidLiteral("00000100-0000-0000-0000-000000000000"));
}

}  // namespace
}  // namespace nox::core

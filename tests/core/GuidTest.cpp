#include <gtest/gtest.h>

#include <array>

#include "core/Guid.h"

namespace nox::core {
namespace {

TEST(Guid, ParsesWithAndWithoutBracesInEitherCase) {
  const auto a = Guid::Parse("7A9354D9-0468-444A-81CE-0BF617D890DF");
  const auto b = Guid::Parse("{7a9354d9-0468-444a-81ce-0bf617d890df}");
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(a->data1, 0x7A9354D9u);
  EXPECT_EQ(a->data2, 0x0468);
  EXPECT_EQ(a->data3, 0x444A);
  EXPECT_EQ(a->data4[0], 0x81);
  EXPECT_EQ(a->data4[7], 0xDF);
}

TEST(Guid, RejectsMalformedText) {
  for (const char* text : {"", "7A9354D9-0468-444A-81CE-0BF617D890D", "7A9354D9-0468-444A-81CE-0BF617D890DFF",
                           "7A9354D90468-444A-81CE-0BF617D890DF-", "7A9354D9-0468-444A-81CE-0BF617D890DG",
                           "{7A9354D9-0468-444A-81CE-0BF617D890DF", "(7A9354D9-0468-444A-81CE-0BF617D890DF)"}) {
    EXPECT_FALSE(Guid::Parse(text)) << text;
  }
}

TEST(Guid, UsesTheMixedEndianFirmwareLayout) {
  const Guid g = GuidLiteral("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
  const std::array<uint8_t, 16> expected{0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                                         0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
  EXPECT_EQ(g.ToBytes(), expected);
  EXPECT_EQ(Guid::FromBytes(expected), g);
  EXPECT_FALSE(Guid::FromBytes(std::span(expected).first(15)));
}

TEST(Guid, PrintsRegistryAndCompactForms) {
  const Guid g = GuidLiteral("{5b5b8120-cd0e-11d9-b61b-0001294c3bd8}");
  EXPECT_EQ(g.ToRegistryString(), "{5B5B8120-CD0E-11D9-B61B-0001294C3BD8}");
  EXPECT_EQ(g.ToCompactString(), "5b5b8120-cd0e-11d9-b61b0001294c3bd8");
  EXPECT_EQ(Guid::Parse(g.ToRegistryString()), g);
}

TEST(Guid, OrdersByFieldValue) {
  const Guid lo = GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8");
  const Guid hi = GuidLiteral("05CA020B-0FC1-11DC-9011-00173153EBA8");
  EXPECT_LT(lo, hi);
  EXPECT_NE(lo, hi);
}

}  // namespace
}  // namespace nox::core

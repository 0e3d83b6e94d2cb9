#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "core/CText.h"

namespace nox::core {
namespace {

TEST(CText, BoundedReadStopsAtZeroEndOrLimit) {
  const std::array<uint8_t, 8> b{'A', 'B', 0, 'C', 'D', 'E', 'F', 'G'};
  EXPECT_EQ(BoundedCString(b, 0), "AB");
  EXPECT_EQ(BoundedCString(b, 2), "");
  EXPECT_EQ(BoundedCString(b, 3), "CDEFG");  // no terminator: stops at the buffer's end
  EXPECT_EQ(BoundedCString(b, 3, 2), "CD");
  EXPECT_EQ(BoundedCString(b, 8), "");
  EXPECT_EQ(BoundedCString(b, std::numeric_limits<size_t>::max()), "");
  EXPECT_EQ(BoundedCString(std::array<char, 4>{'x', 'y', 'z', 'w'}), "xyzw");
}

TEST(CText, CopyCutsToLeaveRoomForTheTerminator) {
  std::array<char, 4> field{'q', 'q', 'q', 'q'};
  EXPECT_TRUE(CopyCString(field, "ab"));
  EXPECT_EQ(field, (std::array<char, 4>{'a', 'b', 0, 0}));
  EXPECT_FALSE(CopyCString(field, "abcdef"));
  EXPECT_EQ(field, (std::array<char, 4>{'a', 'b', 'c', 0}));
}

TEST(CText, CaseChangesTouchOnlyAsciiLettersAndDecimalsFollowTheCLibrary) {
  EXPECT_EQ(AsciiLower("/IFILE.ROM:\xC4"), "/ifile.rom:\xC4");
  EXPECT_EQ(AsciiUpper("kn[0-7]"), "KN[0-7]");
  struct Case { const char* text; int64_t value; };
  for (const Case& c : {Case{"17", 17}, Case{"3x", 3}, Case{"x3", 0}, Case{"", 0}, Case{"  8", 8}, Case{"+5", 5},
                        Case{"-2", -2}, Case{"007", 7}, Case{"99999999999999999999999999", 1000000000000000000}}) {
    EXPECT_EQ(CDecimal(c.text), c.value) << c.text;
  }
}

}  // namespace
}  // namespace nox::core

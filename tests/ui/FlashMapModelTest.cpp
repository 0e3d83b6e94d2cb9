#include <gtest/gtest.h>

#include <vector>

#include "core/Progress.h"
#include "ui/FlashMapModel.h"

namespace nox::ui {
namespace {

constexpr ColorRef kRed = 0x0000FF;
constexpr ColorRef kWhite = 0xFFFFFF;

FlashMapModel BuiltMap(uint32_t biosSize, bool me = false, uint32_t wholeSize = 0) {
  FlashMapModel map;
  EXPECT_TRUE(map.Build({biosSize, me, wholeSize}));
  return map;
}

// Marked segments as bar × 16 + segment, in order.
std::vector<int> Marked(const FlashMapModel& map) {
  std::vector<int> out;
  for (size_t b = 0; b < map.Bars().size(); ++b) {
    for (int s = 0; s < 16; ++s) {
      if (map.Bars()[b].IsMarked(s)) out.push_back(static_cast<int>(b) * 16 + s);
    }
  }
  return out;
}

std::vector<int> Range(int first, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(first + i);
  return out;
}

TEST(FlashMapGeometry, CellSizeAndCaptionFollowTheMapSize) {
  struct Case { uint32_t size; bool me; uint32_t cell; uint32_t bars; const char* caption; };
  for (const Case& c : {
           Case{0x80000, false, 0x10000, 8, "BIOS Map(Each Block is 4K)"},
           Case{0x100000, true, 0x10000, 16, "BIOS Map(Each Block is 4K)"},
           Case{0x100001, false, 0x20000, 8, "BIOS Map(Each Block is 8K)"},
           Case{0x200000, true, 0x20000, 16, "BIOS Map(Each Block is 8K)"},
           Case{0x400000, false, 0x40000, 16, "BIOS Map(Each Block is 16K)"},
           Case{0x400000, true, 0x40000, 16, "BIOS Map with ME Block(Each Block is 16K)"},
           Case{0x800000, false, 0x80000, 16, "BIOS Map(Each Block is 32K)"},
           Case{0x600000, true, 0x80000, 12, "BIOS Map with ME Block(Each Block is 32K)"},
           Case{0x1000000, false, 0x100000, 16, "BIOS Map(Each Block is 64K)"},
           Case{0x1000000, true, 0x100000, 16, "BIOS Map with ME Block(Each Block is 64K)"},
           Case{0x8000, false, 0x10000, 0, "BIOS Map(Each Block is 4K)"},
       }) {
    SCOPED_TRACE(c.size);
    const MapGeometry g = ChooseMapGeometry(c.size, c.me);
    EXPECT_EQ(g.cellSize, c.cell);
    EXPECT_EQ(g.barCount, c.bars);
    EXPECT_EQ(g.caption, c.caption);
  }
}

TEST(FlashMapGeometry, TopOfMemoryBaseByViewSize) {
  struct Case { uint32_t size; uint32_t base; };
  for (const Case& c : {Case{0x80000, 0xFFF00000}, Case{0x100000, 0xFFF00000}, Case{0x100001, 0xFFE00000},
                        Case{0x200000, 0xFFE00000}, Case{0x400000, 0xFFC00000}, Case{0x800000, 0xFF800000},
                        Case{0x800001, 0xFF000000}, Case{0x2000000, 0xFF000000}}) {
    EXPECT_EQ(TopOfMemoryBase(c.size), c.base) << c.size;
  }
}

TEST(FlashMapGeometry, AddressTextIsEightUpperCaseHexDigits) {
  EXPECT_EQ(AddressText(0xFFC00000), "FFC00000h");
  EXPECT_EQ(AddressText(0x1A), "0000001Ah");
  EXPECT_EQ(AddressText(0xabcdef01), "ABCDEF01h");
}

TEST(FlashMapGeometry, BarsShareTheShrunkGroupBox) {
  // Inner box 14..106 × 35..183: 148 pixels for 4 bars of 37.
  const std::vector<Rect> rects = BarRects({10, 20, 110, 185}, 4);
  ASSERT_EQ(rects.size(), 4u);
  const int tops[] = {35, 72, 109, 146};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rects[i].left, 14);
    EXPECT_EQ(rects[i].right, 106);
    EXPECT_EQ(rects[i].top, tops[i]);
    EXPECT_EQ(rects[i].bottom, tops[i] + 36);
  }
  // 100 pixels for 3 bars: 33.33 each, truncated.
  const std::vector<Rect> thirds = BarRects({0, 0, 50, 117}, 3);
  EXPECT_EQ(thirds[1].top, 48);
  EXPECT_EQ(thirds[1].bottom, 80);
  EXPECT_TRUE(BarRects({0, 0, 50, 117}, 0).empty());
}

TEST(FlashMapLegend, LabelsAndColoursInOrder) {
  struct Case { const char* label; ColorRef colour; };
  const Case expected[] = {{"Read", 0xFFDCBE}, {"Erase", 0xFFFFFF}, {"Program", 0x0000FF}, {"Verify", 0x00FF00}};
  ASSERT_EQ(Legend().size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_STREQ(Legend()[i].label, expected[i].label);
    EXPECT_EQ(StateColour(Legend()[i].state), expected[i].colour) << i;
    EXPECT_EQ(static_cast<int>(Legend()[i].state), static_cast<int>(i) + 1);
  }
  const Rgb read = StateRgb(MapState::kRead);
  EXPECT_EQ(read.red, 190);
  EXPECT_EQ(read.green, 220);
  EXPECT_EQ(read.blue, 255);
}

TEST(FlashMapBuild, BarsStartAsEmptyGreySegments) {
  const FlashMapModel map = BuiltMap(0x400000);
  EXPECT_EQ(map.Geometry().caption, "BIOS Map(Each Block is 16K)");
  ASSERT_EQ(map.Bars().size(), 16u);
  const ProgressControlModel& bar = map.Bars()[0];
  EXPECT_EQ(bar.Mode(), BarMode::kSegmented);
  EXPECT_EQ(bar.SegmentCount(), 16);
  EXPECT_EQ(bar.Position(), -1);
  EXPECT_EQ(bar.Gap(), 2);
  EXPECT_EQ(bar.RangeMaximum(), 15);
  EXPECT_EQ(bar.EmptyFill(), kGrey);
  EXPECT_TRUE(Marked(map).empty());
}

TEST(FlashMapBuild, OnlyOnceAndOnlyWithAKnownSize) {
  FlashMapModel map;
  EXPECT_FALSE(map.Build({0, false, 0}));
  EXPECT_FALSE(map.Built());
  EXPECT_TRUE(map.Build({0x80000, false, 0}));
  EXPECT_FALSE(map.Build({0x400000, false, 0}));
  EXPECT_EQ(map.Bars().size(), 8u);
}

TEST(FlashMapBuild, MeRegionMapsTheWholePart) {
  const FlashMapModel map = BuiltMap(0x800000, true, 0x1000000);
  EXPECT_EQ(map.Bars().size(), 16u);
  EXPECT_EQ(map.Geometry().cellSize, 0x100000u);
  EXPECT_EQ(map.Geometry().caption, "BIOS Map with ME Block(Each Block is 64K)");
}

TEST(FlashMapUpdate, FourMegabytesShowAddressesFromTheTopOfMemory) {
  FlashMapModel map = BuiltMap(0x400000);
  EXPECT_EQ(map.Update(core::kProgressStart, 0, 0, MapState::kProgram), 0xFFC00000u);
  EXPECT_EQ(map.CurrentColour(), kRed);
  EXPECT_EQ(map.Update(0x0, 0x400000, 0x1000, MapState::kProgram), 0xFFC00000u);
  EXPECT_EQ(map.Update(0x45000, 0x400000, 0x1000, MapState::kProgram), 0xFFC45000u);
  // 0x45000 lies in bar 1 (256 KiB each), segment 1 (16 KiB each).
  EXPECT_EQ(Marked(map), (std::vector<int>{0, 17}));
  EXPECT_EQ(map.Bars()[1].Position(), 1);
}

TEST(FlashMapUpdate, BiosPassLandsInTheUpperHalfOfAnMeMap) {
  FlashMapModel map = BuiltMap(0x800000, true, 0x1000000);
  map.Update(core::kProgressStart, 0, 0, MapState::kProgram);
  EXPECT_EQ(map.Update(0x0, 0x800000, 0x1000, MapState::kProgram), 0xFF800000u);
  EXPECT_EQ(Marked(map), (std::vector<int>{8 * 16}));
}

TEST(FlashMapUpdate, WholeSizeBelowTheBiosSizeShiftsNothing) {
  FlashMapModel map = BuiltMap(0x800000, true, 0x400000);
  map.Update(core::kProgressStart, 0, 0, MapState::kProgram);
  map.Update(0x4000, 0x800000, 0x1000, MapState::kProgram);
  EXPECT_EQ(Marked(map), (std::vector<int>{1}));
}

TEST(FlashMapUpdate, MeUpdateDrawsTheWholePartUnshifted) {
  FlashMapModel map = BuiltMap(0x800000, true, 0x1000000);
  map.SetMeUpdateInProgress(true);
  EXPECT_EQ(map.Update(core::kProgressStart, 0, 0, MapState::kProgram), 0xFF000000u);
  EXPECT_EQ(map.Update(0x30000, 0x1000000, 0x1000, MapState::kProgram), 0xFF030000u);
  EXPECT_EQ(Marked(map), (std::vector<int>{3}));
}

TEST(FlashMapUpdate, PassesStartingHigherCountFromTheirBase) {
  FlashMapModel map = BuiltMap(0x80000);
  map.Update(core::kProgressStart, 0x40000, 0, MapState::kVerify);
  EXPECT_EQ(map.MapBase(), 0x40000u);
  map.Update(0x41000, 0x80000, 0x1000, MapState::kVerify);
  EXPECT_EQ(Marked(map), (std::vector<int>{1}));
  // Below the base there is no cell: nothing is marked, the address is still shown.
  EXPECT_EQ(map.Update(0x3F000, 0x80000, 0x1000, MapState::kVerify), 0xFFF3F000u);
  EXPECT_EQ(Marked(map), (std::vector<int>{1}));
}

TEST(FlashMapUpdate, EraseThenProgramOfOneBar) {
  FlashMapModel map = BuiltMap(0x80000);
  map.Update(core::kProgressStart, 0, 0, MapState::kErase);
  map.Update(0x10000, 0x80000, 0x10000, MapState::kErase);
  ASSERT_EQ(Marked(map), Range(16, 16));
  for (int s = 0; s < 16; ++s) EXPECT_EQ(map.Bars()[1].SegmentColour(s), kWhite) << s;
  map.Update(core::kProgressStart, 0, 0, MapState::kProgram);
  for (int s = 0; s < 16; ++s) {
    map.Update(0x10000 + s * 0x1000, 0x80000, 0x1000, MapState::kProgram);
    EXPECT_EQ(map.Bars()[1].SegmentColour(s), kRed) << s;
    if (s < 15) {
      EXPECT_EQ(map.Bars()[1].SegmentColour(s + 1), kWhite) << s;
    }
  }
  EXPECT_EQ(Marked(map), Range(16, 16));
}

TEST(FlashMapUpdate, EraseLengthInSegments) {
  struct Case { uint32_t size; uint32_t address; uint32_t length; std::vector<int> marked; };
  for (const Case& c : {
           // 64 KiB bars, 4 KiB segments.
           Case{0x80000, 0x3000, 0x2000, {3, 4}},
           // 128 KiB bars, 8 KiB segments: k = 1 never adds a segment, however the erase ends.
           Case{0x200000, 0x1000, 0x10800, Range(0, 8)},
           // 256 KiB bars, 16 KiB segments: an unaligned erase ending past half a segment adds one.
           Case{0x400000, 0x3000, 0x10000, Range(0, 5)},
           Case{0x400000, 0x8000, 0x10000, Range(2, 4)},
           // An aligned start adds none either.
           Case{0x400000, 0x10000, 0x13000, Range(4, 4)},
           // Past the end of its bar the erase goes on in the next bar, and stops at the map's end.
           Case{0x80000, 0x18000, 0x10000, Range(24, 16)},
           Case{0x80000, 0x78000, 0x10000, Range(120, 8)},
       }) {
    SCOPED_TRACE(c.address);
    FlashMapModel map = BuiltMap(c.size);
    map.Update(core::kProgressStart, 0, 0, MapState::kErase);
    map.Update(c.address, c.size, c.length, MapState::kErase);
    EXPECT_EQ(Marked(map), c.marked);
  }
}

TEST(FlashMapUpdate, EndMarkerShowsAllOnesAndLeavesTheBars) {
  FlashMapModel map = BuiltMap(0x80000);
  map.Update(core::kProgressStart, 0, 0, MapState::kProgram);
  map.Update(0x2000, 0x80000, 0x1000, MapState::kProgram);
  EXPECT_EQ(map.Update(core::kProgressEnd, 0x80000, 0, MapState::kVerify), 0xFFFFFFFFu);
  EXPECT_EQ(AddressText(0xFFFFFFFF), "FFFFFFFFh");
  EXPECT_EQ(Marked(map), (std::vector<int>{2}));
  EXPECT_EQ(map.CurrentColour(), kRed);
}

TEST(FlashMapUpdate, ReportsBeyondTheMapMarkNothing) {
  FlashMapModel map = BuiltMap(0x80000);
  map.Update(core::kProgressStart, 0, 0, MapState::kProgram);
  map.Update(0x80000, 0x80000, 0x1000, MapState::kProgram);
  EXPECT_TRUE(Marked(map).empty());
}

TEST(FlashMapReset, ClearsAndOptionallyRecolours) {
  FlashMapModel map = BuiltMap(0x80000);
  map.Update(core::kProgressStart, 0, 0, MapState::kRead);
  map.Update(0x5000, 0x80000, 0x1000, MapState::kRead);
  map.Reset(0xFFFFFFFF);
  EXPECT_TRUE(Marked(map).empty());
  EXPECT_EQ(map.Bars()[0].Position(), 0);
  EXPECT_EQ(map.Bars()[0].SegmentColour(5), kGrey);
  EXPECT_EQ(map.Bars()[0].EmptyFill(), kGrey);
  map.Reset(kWhite);
  for (const ProgressControlModel& bar : map.Bars()) EXPECT_EQ(bar.EmptyFill(), kWhite);
}

}  // namespace
}  // namespace nox::ui

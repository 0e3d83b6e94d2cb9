#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/Progress.h"
#include "ui/FlashMapModel.h"
#include "ui/ProgressControlModel.h"
#include "ui/ProgressPageModel.h"

namespace nox::ui {
namespace {

ProgressControlModel Bar(int count, BarMode mode, int position = 0) {
  ProgressControlModel bar(count, position);
  EXPECT_TRUE(bar.SetMode(static_cast<uint32_t>(mode)));
  return bar;
}

TEST(ProgressControlLayout, SegmentWidthSharesWhatTheGapsLeave) {
  struct Case { int count; int gap; int width; double segment; };
  for (const Case& c : {Case{16, 2, 150, 7.375}, Case{10, 1, 100, 9.0}, Case{3, 0, 10, 10.0 / 3}, Case{0, 1, 100, 0.0},
                        Case{10, 2, 10, 0.0}}) {
    ProgressControlModel bar(c.count, 0);
    bar.SetGap(c.gap);
    bar.Layout(c.width, 9);
    EXPECT_DOUBLE_EQ(bar.SegmentWidth(), c.segment) << c.count;
    EXPECT_DOUBLE_EQ(bar.SegmentHeight(), 9.0);
  }
  // A later count or gap lays the bar out again, and segments start at truncated offsets.
  ProgressControlModel bar = Bar(10, BarMode::kSegmented);
  bar.Layout(150, 9);
  bar.SetSegmentCount(16);
  bar.SetGap(2);
  const std::vector<SegmentPaint> paint = bar.Paint();
  ASSERT_EQ(paint.size(), 16u);
  const int x[] = {0, 9, 18, 28, 37};  // i × 9.375
  for (int i = 0; i < 5; ++i) EXPECT_EQ(std::make_pair(paint[i].x, paint[i].width), std::make_pair(x[i], 7)) << i;
}

TEST(ProgressControlBusy, BouncesBetweenTheEndsPaintingOnlyTheCurrentSegment) {
  ProgressControlModel bar(10, 0);
  std::vector<int> visited{bar.Position()};
  for (int i = 0; i < 20; ++i) {
    bar.BusyStep();
    visited.push_back(bar.Position());
  }
  EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2}));
  bar.Layout(100, 5);
  const std::vector<SegmentPaint> paint = bar.Paint();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(paint[i].fill, i == 2 ? kGrey : bar.EmptyFill()) << i;
  // Other modes do not step, and a single segment stays where it is.
  ProgressControlModel segmented = Bar(10, BarMode::kSegmented);
  segmented.BusyStep();
  ProgressControlModel single(1, 0);
  single.BusyStep();
  EXPECT_EQ(std::make_pair(segmented.Position(), single.Position()), std::make_pair(0, 0));
}

TEST(ProgressControlProgress, FillsWholeSegmentsAndPartOfTheNext) {
  struct Case { int count, width, position, maximum, fullSegments, partialWidth; };
  // 10 segments of 10 pixels, no gap; then 2 of 10, where the inset leaves 8 of the 9 pixels of 1.98.
  for (const Case& c : {Case{10, 100, 50, 100, 5, 0}, Case{10, 100, 55, 100, 5, 5}, Case{10, 100, 0, 100, 0, 0},
                        Case{10, 100, 100, 100, 10, 0}, Case{10, 100, 25, 100, 2, 5}, Case{10, 100, 50, 0, 0, 0},
                        Case{2, 20, 99, 100, 1, 8}}) {
    SCOPED_TRACE(c.position);
    ProgressControlModel bar = Bar(c.count, BarMode::kProgress, c.position);
    bar.SetGap(0);
    bar.SetRange(0, c.maximum);
    bar.Layout(c.width, 10);
    const std::vector<SegmentPaint> paint = bar.Paint();
    for (int i = 0; i < c.count; ++i) {
      EXPECT_EQ(paint[i].fill, i < c.fullSegments ? kGrey : bar.EmptyFill()) << i;
      EXPECT_EQ(paint[i].partialWidth, i == c.fullSegments ? c.partialWidth : 0) << i;
    }
  }
}

TEST(ProgressControlSegments, OnlySegmentedBarsMarkAndOnlyInsideTheBar) {
  ProgressControlModel busy(16, 0);
  busy.Mark(3, 0x0000FF);
  EXPECT_FALSE(busy.IsMarked(3));
  ProgressControlModel bar = Bar(16, BarMode::kSegmented);
  bar.Mark(16, 0x0000FF);
  bar.Mark(-1, 0x0000FF);
  for (int i = 0; i < 16; ++i) EXPECT_FALSE(bar.IsMarked(i)) << i;
  EXPECT_EQ(bar.Position(), 0);
  bar.Mark(15, 0x00FF00);
  EXPECT_EQ(std::make_tuple(bar.IsMarked(15), bar.SegmentColour(15), bar.Position()), std::make_tuple(true, 0x00FF00u, 15));
  // Marked segments paint in their own colour and the filled outline.
  bar.SetFilledOutline(0x111111);
  bar.Layout(160, 5);
  const std::vector<SegmentPaint> paint = bar.Paint();
  EXPECT_EQ(std::make_pair(paint[15].fill, paint[15].outline), std::make_pair(0x00FF00u, 0x111111u));
  EXPECT_EQ(std::make_pair(paint[14].fill, paint[14].outline), std::make_pair(bar.EmptyFill(), 0x875A32u));
  // Marks survive a shrink and grow.
  bar.SetSegmentCount(4);
  EXPECT_FALSE(bar.IsMarked(15));
  bar.SetSegmentCount(16);
  EXPECT_TRUE(bar.IsMarked(15));
}

TEST(ProgressControlSegments, ResetUnmarksAndStartsOver) {
  ProgressControlModel bar = Bar(4, BarMode::kSegmented);
  bar.Mark(2, 0x0000FF);
  bar.Mark(3, 0xFFFFFF);
  bar.Reset();
  EXPECT_EQ(std::make_pair(bar.Position(), bar.Step()), std::make_pair(0, 1));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(std::make_pair(bar.IsMarked(i), bar.SegmentColour(i)), std::make_pair(false, kGrey));
}

TEST(ProgressControlMode, OnlyKnownModesAreTaken) {
  ProgressControlModel bar(4, 0);
  for (uint32_t mode : {0u, 3u, 5u, 8u}) EXPECT_FALSE(bar.SetMode(mode)) << mode;
  EXPECT_EQ(bar.Mode(), BarMode::kBusy);
  EXPECT_TRUE(bar.SetMode(2));
  EXPECT_EQ(bar.Mode(), BarMode::kProgress);
}

// ---- the flash map ---------------------------------------------------------------------------

using core::kProgressEnd;
using core::kProgressStart;

FlashMapModel BuiltMap(const FlashFacts& facts) {
  FlashMapModel map;
  EXPECT_TRUE(map.Build(facts));
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
  struct Case { uint32_t size; bool me; uint32_t cell, bars; std::string caption; };
  const std::string me = "BIOS Map with ME Block(Each Block is ";
  for (const Case& c : {Case{0x80000, false, 0x10000, 8, "BIOS Map(Each Block is 4K)"},
                        Case{0x100000, true, 0x10000, 16, "BIOS Map(Each Block is 4K)"},
                        Case{0x100001, false, 0x20000, 8, "BIOS Map(Each Block is 8K)"},
                        Case{0x200000, true, 0x20000, 16, "BIOS Map(Each Block is 8K)"},
                        Case{0x400000, false, 0x40000, 16, "BIOS Map(Each Block is 16K)"},
                        Case{0x400000, true, 0x40000, 16, me + "16K)"}, Case{0x600000, true, 0x80000, 12, me + "32K)"},
                        Case{0x800000, false, 0x80000, 16, "BIOS Map(Each Block is 32K)"},
                        Case{0x1000000, false, 0x100000, 16, "BIOS Map(Each Block is 64K)"},
                        Case{0x1000000, true, 0x100000, 16, me + "64K)"},
                        Case{0x8000, false, 0x10000, 0, "BIOS Map(Each Block is 4K)"}}) {
    const MapGeometry g = ChooseMapGeometry(c.size, c.me);
    EXPECT_EQ(std::tie(g.cellSize, g.barCount, g.caption), std::tie(c.cell, c.bars, c.caption)) << c.size;
  }
}

TEST(FlashMapGeometry, AddressesShowBelowFourGiBInEightUpperCaseDigits) {
  for (const auto& [size, base] : {std::pair{0x80000u, 0xFFF00000u}, {0x100000u, 0xFFF00000u}, {0x100001u, 0xFFE00000u},
                                   {0x200000u, 0xFFE00000u}, {0x400000u, 0xFFC00000u}, {0x800000u, 0xFF800000u},
                                   {0x800001u, 0xFF000000u}, {0x2000000u, 0xFF000000u}}) {
    EXPECT_EQ(TopOfMemoryBase(size), base) << size;
  }
  EXPECT_EQ(AddressText(0x1A), "0000001Ah");
  EXPECT_EQ(AddressText(0xabcdef01), "ABCDEF01h");
}

TEST(FlashMapGeometry, BarsShareTheShrunkGroupBox) {
  // Inner box 14..106 × 35..183: 148 pixels for 4 bars of 37.
  const std::vector<Rect> rects = BarRects({10, 20, 110, 185}, 4);
  ASSERT_EQ(rects.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::tie(rects[i].left, rects[i].top, rects[i].right, rects[i].bottom),
              std::make_tuple(14, 35 + 37 * i, 106, 71 + 37 * i));
  }
  // 100 pixels for 3 bars: 33.33 each, truncated.
  const std::vector<Rect> thirds = BarRects({0, 0, 50, 117}, 3);
  EXPECT_EQ(std::tie(thirds[1].top, thirds[1].bottom), std::make_tuple(48, 80));
  EXPECT_TRUE(BarRects({0, 0, 50, 117}, 0).empty());
}

TEST(FlashMapBuild, OnceAndOnlyWithAKnownSizeIntoEmptyGreySegments) {
  FlashMapModel map;
  EXPECT_FALSE(map.Build({0, false, 0}));
  EXPECT_TRUE(map.Build({0x400000, false, 0}));
  EXPECT_FALSE(map.Build({0x80000, false, 0}));
  ASSERT_EQ(map.Bars().size(), 16u);
  const ProgressControlModel& bar = map.Bars()[15];
  EXPECT_EQ(std::make_tuple(bar.Mode(), bar.SegmentCount(), bar.Position(), bar.Gap(), bar.RangeMaximum(), bar.EmptyFill()),
            std::make_tuple(BarMode::kSegmented, 16, -1, 2, 15, kGrey));
  EXPECT_TRUE(Marked(map).empty());
}

constexpr FlashFacts k512K{0x80000, false, 0}, k4M{0x400000, false, 0}, kMe{0x800000, true, 0x1000000};
constexpr auto kErase = MapState::kErase, kProgram = MapState::kProgram, kVerify = MapState::kVerify;

TEST(FlashMapUpdate, ShowsTheAddressAndMarksItsCells) {
  // One pass: its start marker with the pass's base, then one report.
  struct Case { const char* what; FlashFacts facts; bool meUpdate; uint32_t base; MapState state;
                uint32_t address, length, shown; std::vector<int> marked; };
  for (const Case& c : {
           // 0x45000 lies in bar 1 (256 KiB each), segment 1 (16 KiB each).
           Case{"FourMegabytes", k4M, false, 0, kProgram, 0x45000, 0x1000, 0xFFC45000, {17}},
           Case{"BiosPassInTheUpperHalfOfAnMeMap", kMe, false, 0, kProgram, 0, 0x1000, 0xFF800000, {128}},
           Case{"WholeSizeBelowTheBiosSizeShiftsNothing", {0x800000, true, 0x400000}, false, 0, kProgram, 0x4000,
                0x1000, 0xFF804000, {1}},
           Case{"MeUpdateDrawsTheWholePartUnshifted", kMe, true, 0, kProgram, 0x30000, 0x1000, 0xFF030000, {3}},
           Case{"PassCountsFromItsBase", k512K, false, 0x40000, kVerify, 0x41000, 0x1000, 0xFFF41000, {1}},
           Case{"BelowThePassBaseNoCell", k512K, false, 0x40000, kVerify, 0x3F000, 0x1000, 0xFFF3F000, {}},
           Case{"BeyondTheMapNoCell", k512K, false, 0, kProgram, 0x80000, 0x1000, 0xFFF80000, {}},
           Case{"EndMarkerShowsAllOnes", k512K, false, 0, kProgram, kProgressEnd, 0, 0xFFFFFFFF, {}},
           // Erase lengths in segments. 64 KiB bars, 4 KiB segments:
           Case{"EraseSmall", k512K, false, 0, kErase, 0x3000, 0x2000, 0xFFF03000, {3, 4}},
           // 128 KiB bars, 8 KiB segments: k = 1 never adds a segment, however the erase ends.
           Case{"EraseEightK", {0x200000, false, 0}, false, 0, kErase, 0x1000, 0x10800, 0xFFE01000, Range(0, 8)},
           // 256 KiB bars, 16 KiB segments: an unaligned erase ending past half a segment adds one,
           Case{"EraseUnalignedEndingLate", k4M, false, 0, kErase, 0x3000, 0x10000, 0xFFC03000, Range(0, 5)},
           Case{"EraseUnalignedEndingEarly", k4M, false, 0, kErase, 0x8000, 0x10000, 0xFFC08000, Range(2, 4)},
           // an aligned start none.
           Case{"EraseAligned", k4M, false, 0, kErase, 0x10000, 0x13000, 0xFFC10000, Range(4, 4)},
           // Past the end of its bar the erase goes on in the next bar, and stops at the map's end.
           Case{"EraseIntoTheNextBar", k512K, false, 0, kErase, 0x18000, 0x10000, 0xFFF18000, Range(24, 16)},
           Case{"EraseStopsAtTheMapEnd", k512K, false, 0, kErase, 0x78000, 0x10000, 0xFFF78000, Range(120, 8)}}) {
    SCOPED_TRACE(c.what);
    FlashMapModel map = BuiltMap(c.facts);
    map.SetMeUpdateInProgress(c.meUpdate);
    map.Update(kProgressStart, c.base, 0, c.state);
    EXPECT_EQ(map.Update(c.address, c.facts.biosFlashSize, c.length, c.state), c.shown);
    EXPECT_EQ(Marked(map), c.marked);
  }
}

TEST(FlashMapUpdate, ProgrammingRecoloursErasedSegmentsOneByOne) {
  FlashMapModel map = BuiltMap(k512K);
  map.Update(kProgressStart, 0, 0, kErase);
  map.Update(0x10000, 0x80000, 0x10000, kErase);
  map.Update(kProgressStart, 0, 0, kProgram);
  map.Update(0x10000, 0x80000, 0x1000, kProgram);
  EXPECT_EQ(Marked(map), Range(16, 16));
  EXPECT_EQ(std::make_pair(map.Bars()[1].SegmentColour(0), map.Bars()[1].SegmentColour(1)),
            std::make_pair(0x0000FFu, 0xFFFFFFu));
}

TEST(FlashMapReset, ClearsAndOptionallyRecolours) {
  FlashMapModel map = BuiltMap(k512K);
  map.Update(kProgressStart, 0, 0, MapState::kRead);
  map.Update(0x5000, 0x80000, 0x1000, MapState::kRead);
  map.Reset(0xFFFFFFFF);
  EXPECT_TRUE(Marked(map).empty());
  EXPECT_EQ(std::make_tuple(map.Bars()[0].Position(), map.Bars()[0].SegmentColour(5), map.Bars()[0].EmptyFill()),
            std::make_tuple(0, kGrey, kGrey));
  map.Reset(0xFFFFFF);
  for (const ProgressControlModel& bar : map.Bars()) EXPECT_EQ(bar.EmptyFill(), 0xFFFFFFu);
}

// ---- the progress page -----------------------------------------------------------------------

ProgressPageModel BuiltPage() {
  ProgressPageModel page;
  EXPECT_TRUE(page.Build({0x400000, false, 0}, 48 * 128));
  return page;
}

TEST(ProgressPage, EachCallbackNamesItsOperationAndRegion) {
  const ProgressPageModel blank;
  EXPECT_EQ(std::make_tuple(blank.StageText(), blank.ValueLabel(), blank.ValueText()),
            std::make_tuple("None", "Address:", "0"));
  using Callback = CallbackEffect (ProgressPageModel::*)(uint32_t, uint32_t, uint32_t);
  struct Case { Callback callback; const char* stage; bool pumps; ColorRef colour; };
  for (const Case& c : {Case{&ProgressPageModel::OnReading, "Reading Main Bios.", false, 0xFFDCBE},
                        Case{&ProgressPageModel::OnErasing, "Erasing Main Bios.", true, 0xFFFFFF},
                        Case{&ProgressPageModel::OnProgramming, "Programming Main Bios.", true, 0x0000FF},
                        Case{&ProgressPageModel::OnVerifying, "Verifying Main Bios.", true, 0x00FF00}}) {
    SCOPED_TRACE(c.stage);
    ProgressPageModel page = BuiltPage();
    page.SetRegionLabel("Main Bios.");
    const CallbackEffect first = (page.*c.callback)(core::kProgressStart, 0, 0);
    EXPECT_EQ(std::make_tuple(first.stageChanged, first.pumpMessages, page.StageText(), page.ValueText()),
              std::make_tuple(true, c.pumps, c.stage, "FFC00000h"));
    EXPECT_FALSE((page.*c.callback)(0x4000, 0x400000, 0x4000).stageChanged);
    EXPECT_EQ(page.ValueText(), "FFC04000h");
    EXPECT_TRUE(page.Map().Bars()[0].IsMarked(1));
    EXPECT_EQ(page.Map().Bars()[0].SegmentColour(1), c.colour);
    // A new region changes the stage without a new start marker.
    page.SetRegionLabel("NVRAM.");
    EXPECT_TRUE((page.*c.callback)(0x8000, 0x400000, 0x4000).stageChanged);
  }
}

TEST(ProgressPage, EcProgressShowsPercentInItsOwnBar) {
  ProgressPageModel page = BuiltPage();
  EXPECT_EQ(std::make_pair(page.EcBarMaximum(), page.EcBarStep()), std::make_pair(48, 32));
  const CallbackEffect effect = page.OnEcProgress(24, 48);
  EXPECT_TRUE(effect.stageChanged && effect.pumpMessages);
  EXPECT_EQ(std::make_tuple(page.StageText(), page.ValueLabel(), page.ValueText(), page.EcBarPosition()),
            std::make_tuple("Programming EC.", "Percent:", "50%", 24));
  page.OnEcProgress(60, 48);
  EXPECT_EQ(std::make_pair(page.ValueText(), page.EcBarPosition()), std::make_pair(std::string("100%"), 48));
  // A later flash pass shows addresses under their own label again.
  page.OnProgramming(0x1000, 0x400000, 0x1000);
  EXPECT_EQ(page.ValueLabel(), "Address:");
  struct Case { uint16_t done, total; int percent; };
  for (const Case& c : {Case{0, 48, 0}, Case{48, 48, 100}, Case{1, 3, 33}, Case{2, 3, 66}, Case{0, 0, 0}, Case{5, 0, 0},
                        Case{65535, 65535, 100}, Case{65534, 65535, 99}}) {
    EXPECT_EQ(EcPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
  }
}

TEST(ProgressPage, CallbacksBeforeTheMapExistStillShowTheAddress) {
  ProgressPageModel page;
  EXPECT_FALSE(page.Build({0, false, 0}, 0));
  page.OnProgramming(core::kProgressStart, 0, 0);
  page.OnProgramming(0x1000, 0, 0x1000);
  EXPECT_TRUE(page.Map().Bars().empty());
  EXPECT_EQ(page.ValueText(), "FFF01000h");
}

}  // namespace
}  // namespace nox::ui

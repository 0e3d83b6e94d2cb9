#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/Progress.h"
#include "ui/ProgressPageModel.h"

namespace nox::ui {
namespace {

using core::kProgressEnd;
using core::kProgressStart;

ProgressControlModel Bar(int count, BarMode mode, int position = 0) {
  ProgressControlModel bar(count, position);
  EXPECT_TRUE(bar.SetMode(static_cast<uint32_t>(mode)));
  return bar;
}

// The bar as painted, a letter a segment: '.' empty, '#' grey, 'm' marked in its own colour, or the width of a
// partial fill; '?' for a segment outlined in neither the outline set for marked segments nor the default.
std::string Painted(const ProgressControlModel& bar) {
  std::string out;
  for (const SegmentPaint& p : bar.Paint()) {
    out += p.partialWidth ? char('0' + p.partialWidth) : p.fill == bar.EmptyFill() ? '.' : p.fill == kGrey ? '#' : 'm';
    if (p.outline != (out.back() == 'm' ? 0x111111u : 0x875A32u)) out.back() = '?';  // as set, or the default
  }
  return out;
}

TEST(ProgressControlLayout, SegmentWidthSharesWhatTheGapsLeave) {
  struct Case { int count; int gap; int width; double segment; };
  for (const Case& c : {Case{16, 2, 150, 7.375}, Case{10, 1, 100, 9.0}, Case{3, 0, 10, 10.0 / 3}, Case{0, 1, 100, 0.0},
                        Case{10, 2, 10, 0.0}}) {
    ProgressControlModel bar(c.count, 0);
    bar.SetGap(c.gap);
    bar.Layout(c.width, 9);
    EXPECT_EQ(std::make_pair(bar.SegmentWidth(), bar.SegmentHeight()), std::make_pair(c.segment, 9.0)) << c.count;
  }
  // A later count or gap lays the bar out again, and segments start at truncated offsets: the fifth at 4 × 9.375.
  ProgressControlModel bar = Bar(10, BarMode::kSegmented);
  bar.Layout(150, 9);
  bar.SetSegmentCount(16);
  EXPECT_EQ(bar.SegmentWidth(), 8.375);
  bar.SetGap(2);
  const std::vector<SegmentPaint> paint = bar.Paint();
  EXPECT_EQ(std::make_tuple(paint.size(), paint[4].x, paint[4].width), std::make_tuple(size_t{16}, 37, 7));
}

TEST(ProgressControlModes, BusyBouncesProgressFillsAndOnlySegmentedBarsMarkInsideTheBarUntilReset) {
  ProgressControlModel bar(10, 0);
  // Unknown modes are refused and the bar stays busy.
  for (uint32_t mode : {0u, 3u, 5u, 8u}) EXPECT_FALSE(bar.SetMode(mode)) << mode;
  std::vector<int> visited{bar.Position()};
  for (int i = 0; i < 21; ++i) {
    bar.BusyStep();
    visited.push_back(bar.Position());
  }
  EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3}));
  bar.Layout(100, 5);
  bar.Mark(4, 0x0000FF);
  EXPECT_EQ(Painted(bar), "...#......");
  // On its way down when reset, the bar starts over upwards; other modes and a single segment do not step.
  for (int i = 0; i < 8; ++i) bar.BusyStep();
  bar.Reset();
  ProgressControlModel segmented = Bar(10, BarMode::kSegmented), single(1, 0);
  segmented.BusyStep();
  single.BusyStep();
  EXPECT_EQ(std::make_tuple(bar.Position(), bar.Step(), bar.SegmentColour(4), segmented.Position(), single.Position()),
            std::make_tuple(0, 1, kGrey, 0, 0));

  // Progress: 10 segments of 10 pixels without gaps fill whole segments and part of the next; in 2 of 10, the
  // inset leaves 8 of the 9 pixels of 1.98.
  struct Case { int count, position, maximum; const char* painted; };
  for (const Case& c : std::vector<Case>{{10, 50, 100, "#####....."}, {10, 55, 100, "#####5...."},
                                        {10, 0, 100, ".........."}, {10, 100, 100, "##########"},
                                        {10, 25, 100, "##5......."}, {10, 50, 0, ".........."}, {2, 99, 100, "#8"}}) {
    ProgressControlModel progress = Bar(c.count, BarMode::kProgress, c.position);
    progress.SetGap(0);
    progress.SetRange(0, c.maximum);
    progress.Layout(c.count * 10, 10);
    EXPECT_EQ(Painted(progress), c.painted) << c.position;
  }

  // Segmented: marks inside the bar only, in their own colour and the filled outline; they survive a shrink and
  // grow, and a reset clears them.
  ProgressControlModel marks = Bar(16, BarMode::kSegmented);
  marks.Mark(16, 0x0000FF);
  marks.Mark(-1, 0x0000FF);
  const int before = marks.Position();
  marks.Mark(15, 0x00FF00);
  marks.SetFilledOutline(0x111111);
  marks.Layout(160, 5);
  marks.SetSegmentCount(4);
  const bool shrunk = marks.IsMarked(15);
  marks.SetSegmentCount(16);
  EXPECT_EQ(std::make_tuple(before, marks.Position(), shrunk, marks.SegmentColour(15), Painted(marks)),
            std::make_tuple(0, 15, false, 0x00FF00u, "...............m"));
  marks.Reset();
  EXPECT_EQ(std::make_tuple(marks.Position(), marks.IsMarked(15), marks.SegmentColour(15)),
            std::make_tuple(0, false, kGrey));
}

// ---- the flash map ---------------------------------------------------------------------------

FlashMapModel BuiltMap(const FlashFacts& facts) {
  FlashMapModel map;
  EXPECT_TRUE(map.Build(facts));
  return map;
}

// Marked segments as bar × 16 + segment, in order.
std::vector<int> Marked(const FlashMapModel& map) {
  std::vector<int> out;
  for (int i = 0; i < static_cast<int>(map.Bars().size()) * 16; ++i) {
    if (map.Bars()[i / 16].IsMarked(i % 16)) out.push_back(i);
  }
  return out;
}

std::vector<int> Range(int first, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(first + i);
  return out;
}

TEST(FlashMapGeometry, CellSizeCaptionAndBarsFollowTheMapSize) {
  struct Case { uint32_t size; bool me; uint32_t cell, bars; std::string caption; };
  const std::string bios = "BIOS Map(Each Block is ", me = "BIOS Map with ME Block(Each Block is ";
  const std::vector<Case> cases{
      {0x80000, false, 0x10000, 8, bios + "4K)"},    {0x100000, true, 0x10000, 16, bios + "4K)"},
      {0x100001, false, 0x20000, 8, bios + "8K)"},   {0x200000, true, 0x20000, 16, bios + "8K)"},
      {0x400000, false, 0x40000, 16, bios + "16K)"}, {0x400000, true, 0x40000, 16, me + "16K)"},
      {0x600000, true, 0x80000, 12, me + "32K)"},    {0x800000, false, 0x80000, 16, bios + "32K)"},
      {0x1000000, false, 0x100000, 16, bios + "64K)"}, {0x1000000, true, 0x100000, 16, me + "64K)"},
      {0x8000, false, 0x10000, 0, bios + "4K)"}};
  for (const Case& c : cases) {
    const MapGeometry g = ChooseMapGeometry(c.size, c.me);
    EXPECT_EQ(std::tie(g.cellSize, g.barCount, g.caption), std::tie(c.cell, c.bars, c.caption)) << c.size;
  }
  // The bars share the group box shrunk to 14..56 × 35..135: 100 pixels for 3 bars of 33.33, truncated.
  std::vector<std::tuple<int, int, int, int>> rects;
  for (const Rect& r : BarRects({10, 20, 60, 137}, 3)) rects.emplace_back(r.left, r.top, r.right, r.bottom);
  EXPECT_EQ(rects, (decltype(rects){{14, 35, 56, 67}, {14, 68, 56, 100}, {14, 101, 56, 134}}));
  EXPECT_TRUE(BarRects({0, 0, 50, 117}, 0).empty());
}

constexpr FlashFacts k512K{0x80000, false, 0}, k1M{0x100000, false, 0}, k2M{0x200000, false, 0},
    k4M{0x400000, false, 0}, kMe{0x800000, true, 0x1000000};
constexpr auto kErase = MapState::kErase, kProgram = MapState::kProgram, kVerify = MapState::kVerify;

TEST(FlashMapUpdate, ShowsTheAddressAndMarksItsCells) {
  // One pass: its start marker with the pass's base, then one report.
  struct Case { FlashFacts facts; uint32_t base; MapState state; uint32_t address, length, shown;
                std::vector<int> marked; bool meUpdate = false; };
  const std::vector<Case> cases{
      // 0x45000 lies in bar 1 (256 KiB each), segment 1 (16 KiB each). A BIOS pass lies in the upper half of an ME
      // map, unless the whole size is below the BIOS size; an ME update draws the whole part unshifted.
      {k4M, 0, kProgram, 0x45000, 0x1000, 0xFFC45000, {17}}, {kMe, 0, kProgram, 0, 0x1000, 0xFF800000, {128}},
      {{0x800000, true, 0x400000}, 0, kProgram, 0x4000, 0x1000, 0xFF804000, {1}},
      {kMe, 0, kProgram, 0x30000, 0x1000, 0xFF030000, {3}, true},
      // A pass counts from its base; below it, beyond the map and at the end marker no cell is marked.
      {k512K, 0x40000, kVerify, 0x41000, 0x1000, 0xFFF41000, {1}},
      {k512K, 0x40000, kVerify, 0x3F000, 0x1000, 0xFFF3F000, {}},
      {k512K, 0, kProgram, 0x80000, 0x1000, 0xFFF80000, {}}, {k512K, 0, kProgram, kProgressEnd, 0, ~0u, {}},
      // Erase lengths in segments. 64 KiB bars, 4 KiB segments; 128 KiB bars, 8 KiB segments: k = 1 never adds a
      // segment, however the erase ends; 256 KiB bars, 16 KiB segments: an unaligned erase ending past half a segment
      // adds one, an aligned start none.
      {k1M, 0, kErase, 0x3000, 0x2000, 0xFFF03000, {3, 4}}, {k2M, 0, kErase, 0x1000, 0x10800, 0xFFE01000, Range(0, 8)},
      {k4M, 0, kErase, 0x3000, 0x10000, 0xFFC03000, Range(0, 5)},
      {k4M, 0, kErase, 0x8000, 0x10000, 0xFFC08000, Range(2, 4)},
      {k4M, 0, kErase, 0x10000, 0x13000, 0xFFC10000, Range(4, 4)},
      // Past the end of its bar the erase goes on in the next bar, and stops at the map's end.
      {k512K, 0, kErase, 0x18000, 0x10000, 0xFFF18000, Range(24, 16)},
      {k512K, 0, kErase, 0x78000, 0x10000, 0xFFF78000, Range(120, 8)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(AddressText(c.shown));
    FlashMapModel map = BuiltMap(c.facts);
    map.SetMeUpdateInProgress(c.meUpdate);
    map.Update(kProgressStart, c.base, 0, c.state);
    EXPECT_EQ(map.Update(c.address, c.facts.biosFlashSize, c.length, c.state), c.shown);
    EXPECT_EQ(Marked(map), c.marked);
  }
}

TEST(FlashMapUpdate, BuiltOnceIntoGreySegmentsThatProgrammingRecoloursOneByOneUntilReset) {
  FlashMapModel map = BuiltMap(k512K);
  EXPECT_FALSE(map.Build(k4M));
  const ProgressControlModel& bar = map.Bars()[1];
  EXPECT_EQ(
      std::make_tuple(map.Bars().size(), bar.Mode(), bar.SegmentCount(), bar.Position(), bar.Gap(), bar.RangeMaximum()),
      std::make_tuple(size_t{8}, BarMode::kSegmented, 16, -1, 2, 15));
  map.Update(kProgressStart, 0, 0, kErase);
  map.Update(0x10000, 0x80000, 0x10000, kErase);
  map.Update(kProgressStart, 0, 0, kProgram);
  map.Update(0x10000, 0x80000, 0x1000, kProgram);
  EXPECT_EQ(Marked(map), Range(16, 16));
  EXPECT_EQ(std::make_pair(bar.SegmentColour(0), bar.SegmentColour(1)), std::make_pair(0x0000FFu, 0xFFFFFFu));
  // A reset clears the marks; all ones keeps the empty fill, any other colour becomes it.
  map.Reset(0xFFFFFFFF);
  EXPECT_TRUE(Marked(map).empty());
  EXPECT_EQ(std::make_tuple(bar.Position(), bar.SegmentColour(0), bar.EmptyFill()), std::make_tuple(0, kGrey, kGrey));
  map.Reset(0xFFFFFF);
  for (const ProgressControlModel& each : map.Bars()) EXPECT_EQ(each.EmptyFill(), 0xFFFFFFu);
}

// ---- the progress page -----------------------------------------------------------------------

TEST(ProgressPage, EachCallbackNamesItsOperationAndRegionAndEcProgressShowsAPercentage) {
  // Before the map exists the page shows its template texts, and then the addresses reported.
  ProgressPageModel blank;
  EXPECT_EQ(std::make_tuple(blank.StageText(), blank.ValueLabel(), blank.ValueText()),
            std::make_tuple("None", "Address:", "0"));
  EXPECT_FALSE(blank.Build({0, false, 0}, 0));
  blank.OnProgramming(kProgressStart, 0, 0);
  blank.OnProgramming(0x1000, 0, 0x1000);
  EXPECT_EQ(std::make_pair(blank.Map().Bars().size(), blank.ValueText()),
            std::make_pair(size_t{0}, std::string("FFF01000h")));
  using Callback = CallbackEffect (ProgressPageModel::*)(uint32_t, uint32_t, uint32_t);
  struct Case { Callback callback; const char* stage; bool pumps; ColorRef colour; };
  for (const Case& c : {Case{&ProgressPageModel::OnReading, "Reading Main Bios.", false, 0xFFDCBE},
                        Case{&ProgressPageModel::OnErasing, "Erasing Main Bios.", true, 0xFFFFFF},
                        Case{&ProgressPageModel::OnProgramming, "Programming Main Bios.", true, 0x0000FF},
                        Case{&ProgressPageModel::OnVerifying, "Verifying Main Bios.", true, 0x00FF00}}) {
    SCOPED_TRACE(c.stage);
    ProgressPageModel page;
    ASSERT_TRUE(page.Build(k4M, 0));
    page.SetRegionLabel("Main Bios.");
    const CallbackEffect first = (page.*c.callback)(kProgressStart, 0, 0);
    const std::string atStart = page.ValueText();
    const bool changedAgain = (page.*c.callback)(0x4000, 0x400000, 0x4000).stageChanged;
    const ProgressControlModel& bar = page.Map().Bars()[0];
    EXPECT_EQ(std::make_tuple(first.stageChanged, first.pumpMessages, page.StageText(), atStart, changedAgain,
                              page.ValueText(), bar.IsMarked(1), bar.SegmentColour(1)),
              std::make_tuple(true, c.pumps, c.stage, "FFC00000h", false, "FFC04000h", true, c.colour));
    // A new region changes the stage without a new start marker.
    page.SetRegionLabel("NVRAM.");
    EXPECT_TRUE((page.*c.callback)(0x8000, 0x400000, 0x4000).stageChanged);
  }

  // EC progress shows a percentage in its own bar. The stage, the label and the bar of a quarter are proven on the
  // terminal page; here the ends.
  ProgressPageModel page;
  ASSERT_TRUE(page.Build(k4M, 48 * 128));
  const CallbackEffect effect = page.OnEcProgress(60, 48);
  EXPECT_EQ(std::make_tuple(effect.stageChanged, effect.pumpMessages, page.ValueText(), page.EcBarPosition()),
            std::make_tuple(true, true, "100%", 48));
  // A later flash pass shows addresses under their own label again.
  page.OnProgramming(0x1000, 0x400000, 0x1000);
  EXPECT_EQ(page.ValueLabel(), "Address:");
  for (const auto& [done, total, percent] : {std::tuple<uint16_t, uint16_t, int>{2, 3, 66}, {5, 0, 0},
                                            {65535, 65535, 100}, {65534, 65535, 99}}) {
    EXPECT_EQ(EcPercent(done, total), percent) << done << "/" << total;
  }
}

}  // namespace
}  // namespace nox::ui

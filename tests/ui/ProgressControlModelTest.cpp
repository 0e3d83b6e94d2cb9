#include <gtest/gtest.h>

#include <vector>

#include "ui/ProgressControlModel.h"

namespace nox::ui {
namespace {

ProgressControlModel SegmentedBar(int count) {
  ProgressControlModel bar(count, 0);
  EXPECT_TRUE(bar.SetMode(static_cast<uint32_t>(BarMode::kSegmented)));
  return bar;
}

TEST(ProgressControlLayout, SegmentWidthSharesWhatTheGapsLeave) {
  struct Case { int count; int gap; int width; double segment; };
  for (const Case& c : {Case{16, 2, 150, 7.375}, Case{10, 1, 100, 9.0}, Case{3, 0, 10, 10.0 / 3},
                        Case{0, 1, 100, 0.0}, Case{10, 2, 10, 0.0}}) {
    SCOPED_TRACE(c.count);
    ProgressControlModel bar(c.count, 0);
    bar.SetGap(c.gap);
    bar.Layout(c.width, 9);
    EXPECT_DOUBLE_EQ(bar.SegmentWidth(), c.segment);
    EXPECT_DOUBLE_EQ(bar.SegmentHeight(), 9.0);
  }
}

TEST(ProgressControlLayout, CountAndGapChangesRelayout) {
  ProgressControlModel bar(10, 0);
  bar.Layout(150, 9);
  bar.SetSegmentCount(16);
  bar.SetGap(2);
  EXPECT_DOUBLE_EQ(bar.SegmentWidth(), 7.375);
}

TEST(ProgressControlLayout, SegmentsStartAtTruncatedOffsets) {
  ProgressControlModel bar = SegmentedBar(16);
  bar.SetGap(2);
  bar.Layout(150, 9);
  const std::vector<SegmentPaint> paint = bar.Paint();
  ASSERT_EQ(paint.size(), 16u);
  const std::vector<int> expected{0, 9, 18, 28, 37};  // i × 9.375, truncated
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(paint[i].x, expected[i]) << i;
    EXPECT_EQ(paint[i].width, 7);
  }
}

TEST(ProgressControlBusy, BouncesBetweenTheEnds) {
  ProgressControlModel bar(10, 0);
  std::vector<int> visited{bar.Position()};
  for (int i = 0; i < 20; ++i) {
    bar.BusyStep();
    visited.push_back(bar.Position());
  }
  EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2}));
}

TEST(ProgressControlBusy, PaintsOnlyTheCurrentSegmentGrey) {
  ProgressControlModel bar(4, 2);
  bar.Layout(40, 5);
  const std::vector<SegmentPaint> paint = bar.Paint();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(paint[i].fill, i == 2 ? kGrey : bar.EmptyFill()) << i;
}

TEST(ProgressControlBusy, StepsOnlyInBusyModeAndNeverLeaveASingleSegment) {
  ProgressControlModel segmented = SegmentedBar(10);
  segmented.BusyStep();
  EXPECT_EQ(segmented.Position(), 0);
  ProgressControlModel single(1, 0);
  single.BusyStep();
  single.BusyStep();
  EXPECT_EQ(single.Position(), 0);
}

TEST(ProgressControlProgress, FillsWholeSegmentsAndPartOfTheNext) {
  struct Case { int position; int maximum; int fullSegments; int partialWidth; };
  // 10 segments of 10 pixels, no gap.
  for (const Case& c : {Case{50, 100, 5, 0}, Case{55, 100, 5, 5}, Case{0, 100, 0, 0}, Case{100, 100, 10, 0},
                        Case{25, 100, 2, 5}, Case{50, 0, 0, 0}}) {
    SCOPED_TRACE(c.position);
    ProgressControlModel bar(10, c.position);
    ASSERT_TRUE(bar.SetMode(static_cast<uint32_t>(BarMode::kProgress)));
    bar.SetGap(0);
    bar.SetRange(0, c.maximum);
    bar.Layout(100, 10);
    const std::vector<SegmentPaint> paint = bar.Paint();
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(paint[i].fill, i < c.fullSegments ? kGrey : bar.EmptyFill()) << i;
      EXPECT_EQ(paint[i].partialWidth, i == c.fullSegments ? c.partialWidth : 0) << i;
    }
  }
}

TEST(ProgressControlProgress, PartialFillStaysInsideItsSegment) {
  ProgressControlModel bar(2, 99);
  bar.SetMode(static_cast<uint32_t>(BarMode::kProgress));
  bar.SetGap(0);
  bar.Layout(20, 10);
  // f × count = 1.98: the second segment would be 9 pixels, but the inset leaves 8.
  EXPECT_EQ(bar.Paint()[1].partialWidth, 8);
}

TEST(ProgressControlSegments, MarkingStaysInsideTheBar) {
  ProgressControlModel bar = SegmentedBar(16);
  bar.Mark(16, 0x0000FF);
  bar.Mark(-1, 0x0000FF);
  for (int i = 0; i < 16; ++i) EXPECT_FALSE(bar.IsMarked(i)) << i;
  EXPECT_EQ(bar.Position(), 0);
  bar.Mark(15, 0x0000FF);
  EXPECT_TRUE(bar.IsMarked(15));
  EXPECT_EQ(bar.SegmentColour(15), 0x0000FFu);
  EXPECT_EQ(bar.Position(), 15);
}

TEST(ProgressControlSegments, MarkedSegmentsPaintInTheirOwnColour) {
  ProgressControlModel bar = SegmentedBar(3);
  bar.SetFilledOutline(0x111111);
  bar.Layout(30, 5);
  bar.Mark(1, 0x00FF00);
  const std::vector<SegmentPaint> paint = bar.Paint();
  EXPECT_EQ(paint[0].fill, bar.EmptyFill());
  EXPECT_EQ(paint[1].fill, 0x00FF00u);
  EXPECT_EQ(paint[1].outline, 0x111111u);
  EXPECT_EQ(paint[2].outline, 0x875A32u);
}

TEST(ProgressControlSegments, MarkingNeedsSegmentedMode) {
  ProgressControlModel bar(16, 0);
  bar.Mark(3, 0x0000FF);
  EXPECT_FALSE(bar.IsMarked(3));
}

TEST(ProgressControlSegments, ResetUnmarksAndStartsOver) {
  ProgressControlModel bar = SegmentedBar(4);
  bar.Mark(2, 0x0000FF);
  bar.Mark(3, 0xFFFFFF);
  bar.Reset();
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(bar.Step(), 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(bar.IsMarked(i));
    EXPECT_EQ(bar.SegmentColour(i), kGrey);
  }
}

TEST(ProgressControlSegments, ShrinkingAndGrowingKeepsMarks) {
  ProgressControlModel bar = SegmentedBar(8);
  bar.Mark(6, 0x0000FF);
  bar.SetSegmentCount(4);
  EXPECT_FALSE(bar.IsMarked(6));
  bar.SetSegmentCount(8);
  EXPECT_TRUE(bar.IsMarked(6));
}

TEST(ProgressControlMode, OnlyKnownModesAreTaken) {
  ProgressControlModel bar(4, 0);
  for (uint32_t mode : {0u, 3u, 5u, 8u}) {
    EXPECT_FALSE(bar.SetMode(mode)) << mode;
    EXPECT_EQ(bar.Mode(), BarMode::kBusy);
  }
  EXPECT_TRUE(bar.SetMode(2));
  EXPECT_EQ(bar.Mode(), BarMode::kProgress);
}

}  // namespace
}  // namespace nox::ui

#include <gtest/gtest.h>

#include <vector>

#include "ui/ProgressControlModel.h"

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

}  // namespace
}  // namespace nox::ui

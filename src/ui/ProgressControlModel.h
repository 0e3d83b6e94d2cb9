// The state of one segmented progress bar: a busy indicator, a classic progress bar or a row of
// individually coloured cells (the flash map). The view owns the window, the animation timer and
// the drawing; it asks this model where each segment goes and how to paint it.
#pragma once

#include <cstdint>
#include <vector>

namespace nox::ui {

// Colours are Windows colour values, 0x00BBGGRR, so the Windows view can use them unchanged.
using ColorRef = uint32_t;

inline constexpr ColorRef kGrey = 0x808080;

enum class BarMode : uint32_t { kBusy = 1, kProgress = 2, kSegmented = 4 };

// How the view paints one segment: a rectangle at x of the given width and the control's full
// height, filled and outlined, optionally with a partial fill drawn one pixel inside it.
struct SegmentPaint {
  int x = 0;
  int width = 0;
  ColorRef fill = 0;
  ColorRef outline = 0;
  int partialWidth = 0;  // 0: no partial fill
  ColorRef partialFill = 0;
};

class ProgressControlModel {
 public:
  ProgressControlModel(int segmentCount, int position);

  // Segment count; the state and colour vectors only grow, so marks survive a shrink and grow.
  void SetSegmentCount(int count);
  void SetPosition(int position) { position_ = position; }
  void SetGap(int gap);
  void SetInterval(uint32_t ms) { intervalMs_ = ms; }
  void SetRange(int minimum, int maximum) { minimum_ = minimum; maximum_ = maximum; }
  // Unknown mode values are refused, so the control never ends up in a mode it cannot paint.
  bool SetMode(uint32_t mode);
  void SetEmptyFill(ColorRef c) { emptyFill_ = c; }
  void SetEmptyOutline(ColorRef c) { emptyOutline_ = c; }
  void SetFilledOutline(ColorRef c) { filledOutline_ = c; }
  void SetBackground(ColorRef c) { background_ = c; }

  // Client size changed: segment width and height are recomputed.
  void Layout(int clientWidth, int clientHeight);

  // One step of the busy animation: bounces between the first and the last segment.
  void BusyStep();

  // Segmented mode only, and only for an index inside the bar; anything else is ignored.
  void MarkSegment(int index, bool marked);
  void SetSegmentColour(int index, ColorRef colour);
  // Both at once, the way the flash map marks a cell.
  void Mark(int index, ColorRef colour);

  // Back to the start: position 0, moving forward, every segment unmarked and grey.
  void Reset();

  // What to paint, segment by segment, for the current mode.
  std::vector<SegmentPaint> Paint() const;

  int SegmentCount() const { return count_; }
  int Position() const { return position_; }
  int Step() const { return step_; }
  int Gap() const { return gap_; }
  uint32_t IntervalMs() const { return intervalMs_; }
  BarMode Mode() const { return mode_; }
  int RangeMinimum() const { return minimum_; }
  int RangeMaximum() const { return maximum_; }
  double SegmentWidth() const { return segmentWidth_; }
  double SegmentHeight() const { return segmentHeight_; }
  bool IsMarked(int index) const;
  ColorRef SegmentColour(int index) const;
  ColorRef Background() const { return background_; }
  ColorRef EmptyFill() const { return emptyFill_; }

 private:
  void Relayout();
  bool InBar(int index) const { return index >= 0 && index < count_; }

  int count_ = 0;
  int step_ = 1;
  int position_ = 0;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int gap_ = 1;
  double segmentHeight_ = 0;
  double segmentWidth_ = 0;
  uint32_t intervalMs_ = 100;
  BarMode mode_ = BarMode::kBusy;
  int minimum_ = 0;
  int maximum_ = 100;
  std::vector<bool> marked_;
  std::vector<ColorRef> colours_;
  ColorRef background_ = 0xF0F0F0;  // the usual button-face colour; the view sets the system one
  ColorRef emptyFill_ = 0xDCBEA0;
  ColorRef emptyOutline_ = 0x875A32;
  ColorRef partialFill_ = 0xFFDCBE;
  ColorRef filledOutline_ = 0x875A32;
};

}  // namespace nox::ui

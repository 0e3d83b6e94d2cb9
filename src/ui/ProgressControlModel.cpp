#include "ui/ProgressControlModel.h"

#include <algorithm>

namespace nox::ui {

ProgressControlModel::ProgressControlModel(int segmentCount, int position) : position_(position) {
  SetSegmentCount(segmentCount);
}

void ProgressControlModel::SetSegmentCount(int count) {
  count_ = std::max(count, 0);
  if (marked_.size() < static_cast<size_t>(count_)) {
    marked_.resize(count_, false);
    colours_.resize(count_, kGrey);
  }
  Relayout();
}

void ProgressControlModel::SetGap(int gap) {
  gap_ = std::max(gap, 0);
  Relayout();
}

bool ProgressControlModel::SetMode(uint32_t mode) {
  if (mode != 1 && mode != 2 && mode != 4) return false;
  mode_ = static_cast<BarMode>(mode);
  return true;
}

void ProgressControlModel::Layout(int clientWidth, int clientHeight) {
  clientWidth_ = clientWidth;
  clientHeight_ = clientHeight;
  Relayout();
}

void ProgressControlModel::Relayout() {
  segmentHeight_ = clientHeight_;
  // No segments, or gaps wider than the client: nothing is drawn rather than dividing by zero
  // or painting rectangles of negative width.
  if (count_ == 0) {
    segmentWidth_ = 0;
    return;
  }
  const double width = (static_cast<double>(clientWidth_) - static_cast<double>(count_) * gap_) / count_;
  segmentWidth_ = std::max(width, 0.0);
}

void ProgressControlModel::BusyStep() {
  if (mode_ != BarMode::kBusy || count_ == 0) return;
  if (count_ == 1) {
    position_ = 0;
    return;
  }
  if (position_ >= count_ - 1) step_ = -1;
  else if (position_ <= 0) step_ = 1;
  position_ += step_;
}

void ProgressControlModel::MarkSegment(int index, bool marked) {
  if (mode_ != BarMode::kSegmented || !InBar(index)) return;
  marked_[index] = marked;
  position_ = index;
}

void ProgressControlModel::SetSegmentColour(int index, ColorRef colour) {
  if (!InBar(index)) return;
  colours_[index] = colour;
}

void ProgressControlModel::Mark(int index, ColorRef colour) {
  if (mode_ != BarMode::kSegmented || !InBar(index)) return;
  SetSegmentColour(index, colour);
  MarkSegment(index, true);
}

void ProgressControlModel::Reset() {
  position_ = 0;
  step_ = 1;
  if (mode_ == BarMode::kSegmented) {
    std::fill(marked_.begin(), marked_.end(), false);
    std::fill(colours_.begin(), colours_.end(), kGrey);
  }
}

bool ProgressControlModel::IsMarked(int index) const { return InBar(index) && marked_[index]; }

ColorRef ProgressControlModel::SegmentColour(int index) const { return InBar(index) ? colours_[index] : kGrey; }

std::vector<SegmentPaint> ProgressControlModel::Paint() const {
  std::vector<SegmentPaint> out;
  out.reserve(count_);
  // A maximum of 0 would divide by zero; such a bar shows nothing filled.
  const double fraction = maximum_ != 0 ? static_cast<double>(minimum_ + position_) / maximum_ : 0.0;
  const int lastFull = static_cast<int>(fraction * count_) - 1;
  double x = 0;
  for (int i = 0; i < count_; ++i, x += segmentWidth_ + gap_) {
    SegmentPaint p;
    p.x = static_cast<int>(x);
    p.width = static_cast<int>(segmentWidth_);
    p.fill = emptyFill_;
    p.outline = emptyOutline_;
    switch (mode_) {
      case BarMode::kSegmented:
        if (marked_[i]) {
          p.fill = colours_[i];
          p.outline = filledOutline_;
        }
        break;
      case BarMode::kBusy:
        if (i == position_) {
          p.fill = kGrey;
          p.outline = filledOutline_;
        }
        break;
      case BarMode::kProgress:
        if (i <= lastFull) {
          p.fill = kGrey;
          p.outline = filledOutline_;
        } else if (i == lastFull + 1 && segmentWidth_ != 0) {
          const int partial = static_cast<int>(segmentWidth_ * (fraction * count_ - 1 - lastFull));
          // Inside a one-pixel inset, ending at most one pixel before the right edge.
          p.partialWidth = std::clamp(partial, 0, std::max(p.width - 2, 0));
          p.partialFill = partialFill_;
        }
        break;
    }
    out.push_back(p);
  }
  return out;
}

}  // namespace nox::ui

#include "ui/FlashMapModel.h"

#include <bit>

#include "core/Format.h"
#include "core/Progress.h"

namespace nox::ui {

namespace {

constexpr uint32_t kSegmentsPerBar = 16;
constexpr ColorRef kKeepFill = 0xFFFFFFFF;

}  // namespace

Rgb StateRgb(MapState state) {
  switch (state) {
    case MapState::kRead: return {190, 220, 255};
    case MapState::kErase: return {255, 255, 255};
    case MapState::kProgram: return {255, 0, 0};
    case MapState::kVerify: return {0, 255, 0};
  }
  return {128, 128, 128};
}

const std::vector<LegendEntry>& Legend() {
  static const std::vector<LegendEntry> legend{{"Read", MapState::kRead},
                                               {"Erase", MapState::kErase},
                                               {"Program", MapState::kProgram},
                                               {"Verify", MapState::kVerify}};
  return legend;
}

MapGeometry ChooseMapGeometry(uint32_t mapSize, bool hasMeRegion) {
  struct Row {
    uint32_t upTo;
    uint32_t cellSize;
    const char* caption;
    const char* meCaption;
  };
  static constexpr Row kRows[] = {
      {0x100000, 0x10000, "BIOS Map(Each Block is 4K)", "BIOS Map(Each Block is 4K)"},
      {0x200000, 0x20000, "BIOS Map(Each Block is 8K)", "BIOS Map(Each Block is 8K)"},
      {0x400000, 0x40000, "BIOS Map(Each Block is 16K)", "BIOS Map with ME Block(Each Block is 16K)"},
      {0x800000, 0x80000, "BIOS Map(Each Block is 32K)", "BIOS Map with ME Block(Each Block is 32K)"},
      {0xFFFFFFFF, 0x100000, "BIOS Map(Each Block is 64K)", "BIOS Map with ME Block(Each Block is 64K)"},
  };
  for (const Row& row : kRows) {
    if (mapSize <= row.upTo) {
      return {row.cellSize, mapSize / row.cellSize, hasMeRegion ? row.meCaption : row.caption};
    }
  }
  return {};  // not reached: the last row covers every size
}

uint32_t TopOfMemoryBase(uint32_t viewSize) {
  if (viewSize <= 0x100000) return 0xFFF00000;
  if (viewSize <= 0x200000) return 0xFFE00000;
  if (viewSize <= 0x400000) return 0xFFC00000;
  if (viewSize <= 0x800000) return 0xFF800000;
  return 0xFF000000;
}

std::string AddressText(uint32_t address) { return core::Format("%08Xh", address); }

std::vector<Rect> BarRects(Rect groupBox, uint32_t barCount) {
  std::vector<Rect> out;
  if (barCount == 0) return out;
  const int left = groupBox.left + 4;
  const int right = groupBox.right - 4;
  const int top = groupBox.top + 15;
  const int bottom = groupBox.bottom - 2;
  const double h = static_cast<double>(bottom - top) / barCount;
  out.reserve(barCount);
  for (uint32_t i = 0; i < barCount; ++i) {
    out.push_back({left, static_cast<int>(top + i * h), right, static_cast<int>(top + (i + 1) * h - 1)});
  }
  return out;
}

bool FlashMapModel::Build(const FlashFacts& facts) {
  if (built_ || facts.biosFlashSize == 0) return false;
  facts_ = facts;
  const uint32_t mapSize = facts.hasMeRegion ? facts.wholeFlashSize : facts.biosFlashSize;
  geometry_ = ChooseMapGeometry(mapSize, facts.hasMeRegion);
  bars_.clear();
  bars_.reserve(geometry_.barCount);
  for (uint32_t i = 0; i < geometry_.barCount; ++i) {
    ProgressControlModel bar(10, 0);
    bar.SetMode(static_cast<uint32_t>(BarMode::kSegmented));
    bar.SetSegmentCount(kSegmentsPerBar);
    bar.SetPosition(-1);
    bar.SetGap(2);
    bar.SetRange(0, kSegmentsPerBar - 1);
    bar.SetEmptyFill(kGrey);
    bar.SetEmptyOutline(0);
    bar.SetFilledOutline(0);
    bars_.push_back(bar);
  }
  built_ = true;
  return true;
}

uint32_t FlashMapModel::ViewSize() const {
  return meUpdateInProgress_ && facts_.hasMeRegion ? facts_.wholeFlashSize : facts_.biosFlashSize;
}

uint32_t FlashMapModel::Update(uint32_t address, uint32_t value, uint32_t length, MapState state) {
  const uint32_t base = TopOfMemoryBase(ViewSize());
  if (address == core::kProgressStart) {
    mapBase_ = value;
    currentColour_ = StateColour(state);
    return base;
  }
  if (address == core::kProgressEnd) return core::kProgressEnd;

  currentColour_ = StateColour(state);
  // BIOS addresses land in the upper part of a whole-part map. A whole size below the BIOS size
  // is a bad answer from the firmware; shifting by it would wrap the address.
  if (facts_.hasMeRegion && !meUpdateInProgress_ && facts_.wholeFlashSize > facts_.biosFlashSize) {
    address += facts_.wholeFlashSize - facts_.biosFlashSize;
  }
  const uint32_t shown = address | base;
  // Reports before the pass's start, or before the map exists, have no cell to mark.
  if (!built_ || address < mapBase_) return shown;

  const uint32_t cell = geometry_.cellSize;
  const int k = std::countr_zero(cell) - 16;
  const uint64_t offset = static_cast<uint64_t>(address) - mapBase_;
  const uint32_t segmentBytes = cell / kSegmentsPerBar;
  if (state == MapState::kErase) {
    uint32_t count = length >> (12 + k);
    if (k > 1 && address % 0x10000 != 0 && (address + length) % segmentBytes > cell / 32) ++count;
    MarkFrom(offset, count);
  } else {
    MarkFrom(offset, 1);
  }
  return shown;
}

// Marks consecutive segments starting at the one holding offset. An erase that reaches past its
// bar goes on in the next bars, as the erased flash does; the map's end stops it.
void FlashMapModel::MarkFrom(uint64_t offset, uint32_t segments) {
  const uint32_t segmentBytes = geometry_.cellSize / kSegmentsPerBar;
  uint64_t index = offset / segmentBytes;
  const uint64_t last = static_cast<uint64_t>(bars_.size()) * kSegmentsPerBar;
  for (uint32_t n = 0; n < segments && index < last; ++n, ++index) {
    bars_[index / kSegmentsPerBar].Mark(static_cast<int>(index % kSegmentsPerBar), currentColour_);
  }
}

void FlashMapModel::Reset(ColorRef colour) {
  for (ProgressControlModel& bar : bars_) {
    bar.Reset();
    if (colour != kKeepFill) bar.SetEmptyFill(colour);
  }
}

}  // namespace nox::ui

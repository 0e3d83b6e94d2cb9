#include "image/RegionBounds.h"

namespace nox::image {

namespace {

void Extend(RegionBounds::Span& span, const firmware::FlashBlockEntry& block) {
  if (span.low == RegionBounds::kNoLow || block.start < span.low) span.low = block.start;
  if (block.start >= span.end) span.end = block.start + block.size;
  span.size += block.size;
}

}  // namespace

RegionBounds RegionBounds::Compute(std::span<const firmware::FlashBlockEntry> blocks) {
  namespace bt = firmware::block_type;
  RegionBounds bounds;
  size_t group = 0;
  bool anyNcb = false;
  uint8_t lastNcbType = 0;
  for (const auto& block : blocks) {
    bounds.romSize += block.size;
    switch (block.type) {
      case bt::kBootBlock: Extend(bounds.bootBlock, block); break;
      case bt::kMainBios: Extend(bounds.mainBios, block); break;
      case bt::kNvram: Extend(bounds.nvram, block); break;
      case bt::kEc:
        Extend(bounds.ec, block);
        bounds.ecPresent = true;
        break;
      default:
        if (block.type < bt::kFirstNcb) break;
        if (anyNcb && block.type != lastNcbType) ++group;
        anyNcb = true;
        lastNcbType = block.type;
        if (group < kNcbGroups) Extend(bounds.ncb[group], block);
        break;
    }
  }
  return bounds;
}

}  // namespace nox::image

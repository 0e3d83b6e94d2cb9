#include "image/FlashComparison.h"

#include <algorithm>
#include <vector>

#include "image/SmbiosArea.h"

namespace nox::image {

namespace {
constexpr uint32_t kPieceSize = 0x10000;
}  // namespace

std::optional<bool> FlashHoldsImage(const FlashLayout& layout, const RegionSelection& selection, core::ByteSpan image,
                                    const FlashLayout::FlashReader& readFlash) {
  // Bytes the update does not take from the image.
  std::vector<bool> kept(image.size(), false);
  const auto keep = [&](uint64_t offset, uint64_t length) {
    for (uint64_t i = offset; i < offset + length && i < kept.size(); ++i) kept[i] = true;
  };
  const HoleTable& holes = layout.Holes();
  for (size_t h = 0; h < holes.Count(); ++h) {
    if (!selection.programNcbs || !layout.HoleSelected(h, selection)) keep(holes[h].imageOffset, holes[h].size);
  }
  if (const auto area = SmbiosArea::FindInImage(layout, image)) keep(area->first, area->second);

  std::vector<uint8_t> piece(kPieceSize);
  const auto blocks = layout.Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    const bool written = (selection.programMainBios && layout.BlockInRegion(i, RegionKind::kMainBios, selection)) ||
                         (selection.programBootBlock && layout.BlockInRegion(i, RegionKind::kBootBlock, selection)) ||
                         (selection.programEc && layout.BlockInRegion(i, RegionKind::kEc, selection)) ||
                         (selection.programNcbs && layout.BlockInNcb(i, selection));
    if (!written) continue;
    const auto& block = blocks[i];
    if (!core::InRange(image.size(), block.start, block.size)) return false;
    for (uint32_t done = 0; done < block.size; done += kPieceSize) {
      const uint32_t address = block.start + done;
      const uint32_t length = std::min(kPieceSize, block.size - done);
      if (!readFlash(address, std::span(piece).first(length))) return std::nullopt;
      for (uint32_t k = 0; k < length; ++k) {
        if (piece[k] != image[address + k] && !kept[address + k]) return false;
      }
    }
  }
  return true;
}

}  // namespace nox::image

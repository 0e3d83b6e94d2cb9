// The flash layout as the block engine sees it for one run: the layout's block table and
// holes under the run's region selection.
#pragma once

#include "image/EngineLayout.h"
#include "image/FlashLayout.h"

namespace nox::image {

class LayoutView final : public EngineLayout {
 public:
  LayoutView(const FlashLayout& layout, const RegionSelection& selection) : layout_(layout), selection_(selection) {}

  std::span<const firmware::FlashBlockEntry> Blocks() const override { return layout_.Blocks(); }
  uint32_t RomSize() const override { return layout_.RomSize(); }
  bool BlockInRegion(size_t index, RegionKind kind) const override {
    return layout_.BlockInRegion(index, kind, selection_);
  }
  std::vector<HoleSpan> HolesOfKind(uint8_t blockType) const override;

 private:
  const FlashLayout& layout_;
  const RegionSelection& selection_;
};

}  // namespace nox::image

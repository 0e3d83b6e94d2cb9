#include "image/LayoutView.h"

namespace nox::image {

std::vector<HoleSpan> LayoutView::HolesOfKind(uint8_t blockType) const {
  const HoleTable& holes = layout_.Holes();
  size_t begin = 0;
  size_t end = 0;
  if (blockType == firmware::block_type::kMainBios) {
    end = holes.MainCount();
  } else if (blockType == firmware::block_type::kBootBlock) {
    begin = holes.MainCount();
    end = holes.Count();
  }
  std::vector<HoleSpan> out;
  for (size_t i = begin; i < end; ++i) {
    out.push_back({holes[i].flashOffset, holes[i].size, layout_.HoleSelected(i, selection_)});
  }
  return out;
}

}  // namespace nox::image

// What the block engine needs to know of the flash layout: the block table, which blocks a
// pass over a region touches, and the ROM holes it must leave alone.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "firmware/FlashInfo.h"
#include "image/RegionSelection.h"

namespace nox::image {

struct HoleSpan {
  uint32_t offset = 0;  // flash address
  uint32_t size = 0;
  bool selected = false;  // to be written with the NCBs
};

class EngineLayout {
 public:
  virtual ~EngineLayout() = default;
  virtual std::span<const firmware::FlashBlockEntry> Blocks() const = 0;
  virtual uint32_t RomSize() const = 0;
  virtual bool BlockInRegion(size_t index, RegionKind kind) const = 0;
  // The ROM holes inside blocks of `blockType` (main BIOS or boot block), in the order found.
  virtual std::vector<HoleSpan> HolesOfKind(uint8_t blockType) const = 0;
};

}  // namespace nox::image

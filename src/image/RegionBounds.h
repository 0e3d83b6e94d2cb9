// The address bounds of each region of the flash part, as the flash log prints them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "firmware/FlashInfo.h"

namespace nox::image {

struct RegionBounds {
  // A low still holding this value means no block of that kind exists.
  static constexpr uint32_t kNoLow = 255;
  static constexpr size_t kNcbGroups = 16;

  struct Span {
    uint32_t low = kNoLow;
    uint32_t end = 0;
    uint32_t size = 0;  // sum of the block sizes
  };

  uint32_t romSize = 0;
  Span bootBlock;
  Span mainBios;
  Span nvram;
  Span ec;
  bool ecPresent = false;
  std::array<Span, kNcbGroups> ncb;

  // Runs of NCB blocks of one type form one group; a table with more groups than kept
  // here still counts into the ROM size, but the extra groups have no bounds.
  static RegionBounds Compute(std::span<const firmware::FlashBlockEntry> blocks);
};

}  // namespace nox::image

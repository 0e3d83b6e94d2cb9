// Which regions a flash run writes, as the session settings hold them.
#pragma once

#include <cstdint>

namespace nox::image {

// The selector a pass over the block table is run for. Numbered unlike the block types.
enum class RegionKind : uint8_t { kBootBlock = 0, kMainBios = 1, kEc = 2, kNcb = 3, kNvram = 4 };

struct RegionSelection {
  bool programBootBlock = false;
  bool programMainBios = false;
  bool programNvram = false;
  bool programEc = false;
  bool ecOnlyIfNewer = false;
  bool programNcbs = false;
  bool allNcbs = false;
  uint32_t ncbMask = 0;  // bit n selects NCB n: the NCB types first, then the ROM holes
};

}  // namespace nox::image

// The program's picture of the flash part: the firmware's block table, the bounds of each
// region, the non-critical blocks (NCBs) of the loaded image and their numbering, which
// blocks a pass over a region touches, and whether the image carries newer EC firmware.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/Bytes.h"
#include "firmware/FlashInfo.h"
#include "image/HoleTable.h"
#include "image/PlatformIdentityFile.h"
#include "image/RegionBounds.h"
#include "image/RegionSelection.h"

namespace nox::image {

// Error ids this layer answers with; the caller ends the session with them.
namespace layout_error {
inline constexpr uint32_t kTooManyNcbs = 6;    // more NCBs than the mask can number
inline constexpr uint32_t kFlashReadFailed = 66;
}  // namespace layout_error

// The EC block as the firmware's "$ECB" record describes it.
struct EcBlockRecord {
  static constexpr uint8_t kCompareVersions = 0x01;  // flag bit: the version word is meaningful
  uint8_t flags = 0;
  uint32_t address = 0;
  uint32_t size = 0;
  uint16_t versionOffset = 0;
  uint32_t versionMask = 0;
};

class FlashLayout {
 public:
  static constexpr size_t kMaxNcbs = 8;

  // Fills `destination` with the flash contents from `address` on; false when that failed.
  using FlashReader = std::function<bool(uint32_t address, std::span<uint8_t> destination)>;

  // Takes the block table and computes the region bounds; returns the ROM size.
  uint32_t SetBlockTable(std::span<const firmware::FlashBlockEntry> blocks, uint32_t ecVersionOffset = 0,
                         uint32_t ecVersionMask = 0);
  uint32_t SetBlockTable(const firmware::FlashInfo& info);

  // Rebuilds the NCB type list, the ROM holes and the platform identity file location for
  // a freshly loaded image. Returns 0, or kTooManyNcbs when the image has more NCBs than
  // the mask can number.
  uint32_t AnalyseImage(core::ByteSpan image);

  // Compares the EC version word in the flash with the one in the image and sets the
  // EC-newer flag when the image's is higher. `scratch` is the work buffer the flash copy
  // of the EC block goes to; no more than its size is ever read. Returns 0 or
  // kFlashReadFailed.
  uint32_t CheckEcNewer(core::ByteSpan image, const std::optional<EcBlockRecord>& ecb, core::MutableByteSpan scratch,
                        const FlashReader& readFlash);

  // True when a pass over `region` touches block `index`.
  bool BlockInRegion(size_t index, RegionKind region, const RegionSelection& selection) const;
  // True when block `index` belongs to the NCB region.
  bool BlockInNcb(size_t index, const RegionSelection& selection) const;
  // True when ROM hole `holeIndex` is one of the NCBs to write.
  bool HoleSelected(size_t holeIndex, const RegionSelection& selection) const;

  std::span<const firmware::FlashBlockEntry> Blocks() const { return blocks_; }
  const RegionBounds& Bounds() const { return bounds_; }
  uint32_t RomSize() const { return bounds_.romSize; }
  std::span<const uint8_t> NcbTypes() const { return {ncbTypes_.data(), ncbTypeCount_}; }
  size_t NcbCount() const { return ncbTypeCount_ + holes_.Count(); }
  const HoleTable& Holes() const { return holes_; }
  HoleTable& Holes() { return holes_; }
  const PlatformIdentityFile& IdentityFile() const { return identity_; }
  bool EcNewer() const { return ecNewer_; }
  bool EcPresent() const { return bounds_.ecPresent; }

 private:
  bool BuildNcbTypeList();
  // Scans every maximal run of consecutive blocks of `type` for ROM holes; stops with
  // false as soon as the image has more NCBs than can be numbered.
  bool CollectHoles(core::ByteSpan image, uint8_t type);
  bool BlockHoldsSelectedHole(const firmware::FlashBlockEntry& block, size_t firstHole, size_t endHole,
                              const RegionSelection& selection) const;

  std::vector<firmware::FlashBlockEntry> blocks_;
  uint32_t ecVersionOffset_ = 0;
  uint32_t ecVersionMask_ = 0;
  RegionBounds bounds_;
  std::array<uint8_t, kMaxNcbs> ncbTypes_{};
  size_t ncbTypeCount_ = 0;
  HoleTable holes_;
  PlatformIdentityFile identity_;
  bool ecNewer_ = false;
};

}  // namespace nox::image

#include "image/FlashLayout.h"

#include <algorithm>

namespace nox::image {

namespace bt = firmware::block_type;

uint32_t FlashLayout::SetBlockTable(std::span<const firmware::FlashBlockEntry> blocks, uint32_t ecVersionOffset,
                                    uint32_t ecVersionMask) {
  blocks_.assign(blocks.begin(), blocks.end());
  ecVersionOffset_ = ecVersionOffset;
  ecVersionMask_ = ecVersionMask;
  bounds_ = RegionBounds::Compute(blocks_);
  return bounds_.romSize;
}

uint32_t FlashLayout::SetBlockTable(const firmware::FlashInfo& info) {
  return SetBlockTable(info.Entries(), info.EcVersionOffset(), info.EcVersionMask());
}

bool FlashLayout::BuildNcbTypeList() {
  ncbTypeCount_ = 0;
  bool anyNcb = false;
  uint8_t lastType = 0;
  for (const auto& block : blocks_) {
    if (block.type < bt::kFirstNcb) continue;
    if (!anyNcb || block.type != lastType) {
      if (ncbTypeCount_ == kMaxNcbs) return false;
      ncbTypes_[ncbTypeCount_++] = block.type;
    }
    anyNcb = true;
    lastType = block.type;
  }
  return true;
}

bool FlashLayout::CollectHoles(core::ByteSpan image, uint8_t type) {
  for (size_t i = 0; i < blocks_.size();) {
    if (blocks_[i].type != type) {
      ++i;
      continue;
    }
    // A run ends where the next entry does not continue it in the part: the firmware lists
    // its blocks in its own order, which need not be the order of their addresses.
    const uint64_t start = blocks_[i].start;
    uint64_t length = 0;
    for (; i < blocks_.size() && blocks_[i].type == type && blocks_[i].start == start + length; ++i) {
      length += blocks_[i].size;
    }
    holes_.CollectRange(image, start, length);
    // Checked per range rather than per hole: the table holds the whole range first.
    if (NcbCount() > kMaxNcbs) return false;
  }
  return true;
}

uint32_t FlashLayout::AnalyseImage(core::ByteSpan image) {
  holes_.Clear();
  // The location belongs to the image: a candidate image tried earlier must not lend its
  // identity file to the next one.
  identity_.Clear();
  if (!BuildNcbTypeList()) return layout_error::kTooManyNcbs;
  if (!CollectHoles(image, bt::kMainBios)) return layout_error::kTooManyNcbs;
  for (const auto& block : blocks_) identity_.ScanRange(image, block.start, block.size);
  holes_.SetMainCount(holes_.Count());
  if (!CollectHoles(image, bt::kBootBlock)) return layout_error::kTooManyNcbs;
  return 0;
}

uint32_t FlashLayout::CheckEcNewer(core::ByteSpan image, const std::optional<EcBlockRecord>& ecb,
                                   core::MutableByteSpan scratch, const FlashReader& readFlash) {
  const auto entry = std::find_if(blocks_.begin(), blocks_.end(), [](const auto& b) { return b.type == bt::kEc; });
  if (entry == blocks_.end()) return 0;
  bounds_.ecPresent = true;

  uint32_t address = entry->start;
  uint32_t size = entry->size;
  uint32_t versionOffset = ecVersionOffset_;
  uint32_t mask = ecVersionMask_;
  if (ecb) {
    if ((ecb->flags & EcBlockRecord::kCompareVersions) == 0) return 0;
    address = ecb->address;
    size = ecb->size;
    versionOffset = ecb->versionOffset;
    mask = ecb->versionMask;
  }
  // A version word outside the EC block gives nothing to compare: the image is then not
  // known to be newer, which is the answer that never flashes EC firmware by mistake.
  if (!core::InRange(size, versionOffset, 4)) return 0;
  if (static_cast<uint64_t>(address) + size > (uint64_t{1} << 32)) return layout_error::kFlashReadFailed;

  // Only the version word is compared, so an EC block larger than the work buffer is read
  // through a window of the buffer's size that holds the word, never past the buffer.
  const uint32_t readLength = static_cast<uint32_t>(std::min<uint64_t>(size, scratch.size()));
  if (readLength < 4) return 0;
  const uint32_t windowStart = versionOffset + 4 > readLength ? versionOffset + 4 - readLength : 0;
  if (!readFlash || !readFlash(address + windowStart, scratch.first(readLength))) {
    return layout_error::kFlashReadFailed;
  }
  const uint32_t flashVersion = core::LoadLe32(&scratch[versionOffset - windowStart]) & mask;
  const auto imageWord = core::ReadLe32(image, static_cast<uint64_t>(address) + versionOffset);
  if (!imageWord) return 0;
  if ((*imageWord & mask) > flashVersion) ecNewer_ = true;
  return 0;
}

bool FlashLayout::HoleSelected(size_t holeIndex, const RegionSelection& selection) const {
  if (selection.allNcbs) return true;
  const size_t bit = holeIndex + ncbTypeCount_;
  return bit < 32 && (selection.ncbMask >> bit & 1u) != 0;
}

bool FlashLayout::BlockHoldsSelectedHole(const firmware::FlashBlockEntry& block, size_t firstHole, size_t endHole,
                                         const RegionSelection& selection) const {
  const uint64_t blockStart = block.start;
  const uint64_t blockEnd = blockStart + block.size;  // exclusive
  for (size_t h = firstHole; h < endHole && h < holes_.Count(); ++h) {
    const HoleRecord& hole = holes_[h];
    if (hole.size == 0 || !HoleSelected(h, selection)) continue;
    const uint64_t holeStart = hole.flashOffset;
    const uint64_t holeEnd = holeStart + hole.size;
    if (holeStart < blockEnd && blockStart < holeEnd) return true;
  }
  return false;
}

bool FlashLayout::BlockInNcb(size_t index, const RegionSelection& selection) const {
  if (index >= blocks_.size() || NcbCount() == 0) return false;
  const auto& block = blocks_[index];
  switch (block.type) {
    case bt::kMainBios:
      // The main BIOS pass writes the whole block anyway.
      return !selection.programMainBios &&
             BlockHoldsSelectedHole(block, 0, holes_.MainCount(), selection);
    case bt::kBootBlock:
      return !selection.programBootBlock &&
             BlockHoldsSelectedHole(block, holes_.MainCount(), holes_.Count(), selection);
    default:
      break;
  }
  if (block.type < bt::kFirstNcb) return false;
  if (selection.allNcbs) return true;
  const auto types = NcbTypes();
  const auto found = std::find(types.begin(), types.end(), block.type);
  if (found == types.end()) return false;
  return (selection.ncbMask >> (found - types.begin()) & 1u) != 0;
}

bool FlashLayout::BlockInRegion(size_t index, RegionKind region, const RegionSelection& selection) const {
  if (index >= blocks_.size()) return false;
  const uint8_t type = blocks_[index].type;
  switch (region) {
    case RegionKind::kBootBlock: return type == bt::kBootBlock && selection.programBootBlock;
    case RegionKind::kMainBios: return type == bt::kMainBios && selection.programMainBios;
    case RegionKind::kEc:
      return type == bt::kEc && (selection.programEc || (selection.ecOnlyIfNewer && ecNewer_));
    case RegionKind::kNcb: return BlockInNcb(index, selection);
    case RegionKind::kNvram: return type == bt::kNvram && selection.programNvram;
  }
  return false;
}

}  // namespace nox::image

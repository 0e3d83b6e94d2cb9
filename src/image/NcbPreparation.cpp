#include "image/NcbPreparation.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace nox::image {

namespace {

namespace bt = firmware::block_type;

// Firmware reads are handed out no larger than the engine's chunks.
constexpr uint32_t kPieceSize = 0x10000;

// The holes of one kind of block: indices [first, end) of the hole table.
struct HoleKind {
  uint8_t blockType;
  size_t first;
  size_t end;
  bool programRegion;  // whether the region holding these holes is written whole
};

bool Needed(const HoleKind& kind, const RegionSelection& selection) {
  if (kind.end <= kind.first) return false;
  // Writing the region whole with every NCB picked keeps nothing of the machine's holes.
  return kind.programRegion ? !selection.allNcbs : selection.programNcbs;
}

void Report(const core::ProgressCallback& onReading, uint32_t first, uint32_t second, uint32_t third) {
  if (onReading) onReading(first, second, third);
}

// The copy is indexed by flash address, so an entry reaching past the ROM size has no
// place in it; such a table is refused before anything is read. The reads report each
// firmware request to `onReading`, as every other read of the flash does.
bool ReadFlashCopy(std::span<const firmware::FlashBlockEntry> blocks, uint32_t romSize, firmware::SmiFlash& smi,
                   const core::ProgressCallback& onReading, std::unique_ptr<uint8_t[]>& buffer) {
  for (const auto& block : blocks) {
    if (!core::InRange(romSize, block.start, block.size)) return false;
  }
  try {
    // Flash-sized and read over at once: only what no block covers is filled, as erased.
    buffer = std::make_unique_for_overwrite<uint8_t[]>(romSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::span<uint8_t> copy(buffer.get(), romSize);
  std::vector<std::pair<uint32_t, uint32_t>> covered;
  for (const auto& block : blocks) covered.emplace_back(block.start, block.start + block.size);
  std::sort(covered.begin(), covered.end());
  uint32_t filled = 0;
  for (const auto& [start, end] : covered) {
    if (start > filled) std::fill(copy.begin() + filled, copy.begin() + start, 0xFF);
    filled = std::max(filled, end);
  }
  std::fill(copy.begin() + filled, copy.end(), 0xFF);
  Report(onReading, core::kProgressStart, blocks.empty() ? 0 : blocks.front().start, 0);
  for (const auto& block : blocks) {
    for (uint32_t done = 0; done < block.size;) {
      const uint32_t length = std::min(kPieceSize, block.size - done);
      const uint32_t address = block.start + done;
      if (!smi.ReadFlash(address, length, copy.subspan(address, length), onReading)) return false;
      done += length;
    }
  }
  Report(onReading, core::kProgressEnd, romSize, 0);
  return true;
}

// The maximal runs of the kind's blocks: consecutive entries that also follow each other in
// the part, the same runs as the hole table's.
std::vector<std::pair<uint64_t, uint64_t>> RunsOfKind(std::span<const firmware::FlashBlockEntry> blocks,
                                                       uint8_t type) {
  std::vector<std::pair<uint64_t, uint64_t>> runs;
  for (size_t i = 0; i < blocks.size();) {
    if (blocks[i].type != type) {
      ++i;
      continue;
    }
    const uint64_t start = blocks[i].start;
    uint64_t length = 0;
    for (; i < blocks.size() && blocks[i].type == type && blocks[i].start == start + length; ++i) {
      length += blocks[i].size;
    }
    runs.emplace_back(start, length);
  }
  return runs;
}

// Matches the kind's runs against the kind's records, in one sequence across the runs.
// Every record must find its hole: a record left unmatched would later copy from wherever
// an earlier match left its flash offset. When the volume walk does not find them all (an
// interrupted update erased a volume header in front of them), each hole is looked for by
// its own file header; `lost` gets the records of holes that are gone altogether.
bool MatchKind(FlashLayout& layout, core::ByteSpan flash, const HoleKind& kind, std::vector<size_t>& lost) {
  const auto runs = RunsOfKind(layout.Blocks(), kind.blockType);
  HoleTable& holes = layout.Holes();
  size_t cursor = kind.first;
  bool walked = true;
  for (const auto& [start, length] : runs) {
    if (!holes.MatchFlashRange(flash, start, length, cursor, kind.end)) {
      walked = false;
      break;
    }
  }
  if (walked && cursor == kind.end) return true;
  std::vector<bool> found;
  if (!holes.LocateByFileHeaders(flash, runs, kind.first, kind.end, found)) return false;
  for (size_t i = 0; i < found.size(); ++i) {
    if (!found[i]) lost.push_back(kind.first + i);
  }
  return true;
}

}  // namespace

bool PrepareNcbsForWriting(FlashLayout& layout, const RegionSelection& selection, std::span<uint8_t> image,
                           firmware::SmiFlash& smi, const core::ProgressCallback& onReading,
                           const LostHoleCallback& onLostHole) {
  const HoleTable& holes = layout.Holes();
  const size_t mainCount = std::min(holes.MainCount(), holes.Count());
  const HoleKind kinds[] = {
      {bt::kMainBios, 0, mainCount, selection.programMainBios},
      {bt::kBootBlock, mainCount, holes.Count(), selection.programBootBlock},
  };
  const bool anyNeeded = std::any_of(std::begin(kinds), std::end(kinds),
                                     [&](const HoleKind& kind) { return Needed(kind, selection); });
  if (!anyNeeded) return true;

  std::unique_ptr<uint8_t[]> buffer;
  if (!ReadFlashCopy(layout.Blocks(), layout.RomSize(), smi, onReading, buffer)) return false;
  const std::span<const uint8_t> flash(buffer.get(), layout.RomSize());

  // Everything is checked before the first byte is copied, so a refusal leaves the image
  // exactly as it was loaded.
  std::vector<size_t> toCopy, lost, lostKept;
  for (const HoleKind& kind : kinds) {
    if (!Needed(kind, selection)) continue;
    if (!MatchKind(layout, flash, kind, lost)) return false;
    for (size_t h = kind.first; h < kind.end; ++h) {
      if (selection.programNcbs && layout.HoleSelected(h, selection)) continue;
      if (std::find(lost.begin(), lost.end(), h) != lost.end()) {
        lostKept.push_back(h);
        continue;
      }
      const HoleRecord& hole = holes[h];
      if (!core::InRange(flash.size(), hole.flashOffset, hole.size) ||
          !core::InRange(image.size(), hole.imageOffset, hole.size)) {
        return false;
      }
      toCopy.push_back(h);
    }
  }
  for (const size_t h : toCopy) {
    const HoleRecord& hole = holes[h];
    std::copy_n(flash.begin() + static_cast<std::ptrdiff_t>(hole.flashOffset), hole.size,
                image.begin() + static_cast<std::ptrdiff_t>(hole.imageOffset));
  }
  if (onLostHole) {
    for (const size_t h : lostKept) onLostHole(holes[h]);
  }
  return true;
}

}  // namespace nox::image

#include "image/SmbiosArea.h"

#include <algorithm>
#include <new>
#include <optional>

#include "core/CText.h"

namespace nox::image {

namespace {

namespace bt = firmware::block_type;

constexpr uint8_t kSignature[] = {'B', 'S', 'A', '_'};
constexpr size_t kEntryHeadSize = 4;

std::optional<size_t> FindSignature(core::ByteSpan block) {
  const auto found = std::search(block.begin(), block.end(), std::begin(kSignature), std::end(kSignature));
  if (found == block.end()) return std::nullopt;
  return static_cast<size_t>(found - block.begin());
}

// The whole area (head and entries) at `match`, or none when its length runs past the
// block. The head counts too: an area whose entries would end in the next block cannot
// be copied out of this one.
std::optional<core::ByteSpan> AreaAt(core::ByteSpan block, size_t match) {
  const auto length = core::ReadLe32(block, match + 4);
  if (!length) return std::nullopt;
  return core::SubSpan(block, match, SmbiosArea::kHeadSize + uint64_t{*length});
}

}  // namespace

SmbiosArea::SaveResult SmbiosArea::Save(const FlashLayout& layout, const FlashLayout::FlashReader& readFlash,
                                        std::span<const std::string> types,
                                        const std::function<void(int type)>& warnMissing) {
  saved_.clear();
  for (const auto& block : layout.Blocks()) {
    if (block.type != bt::kBootBlock) continue;
    std::vector<uint8_t> bytes;
    try {
      bytes.resize(block.size);
    } catch (const std::bad_alloc&) {
      return SaveResult::kNoMemory;
    }
    if (!readFlash || !readFlash(block.start, bytes)) return SaveResult::kReadFailed;
    const auto match = FindSignature(bytes);
    if (!match) continue;
    const auto area = AreaAt(bytes, *match);
    if (!area) return SaveResult::kNone;

    try {
      if (types.empty()) {
        saved_.assign(area->begin(), area->end());
        return SaveResult::kSaved;
      }
      saved_.assign(area->size(), 0xFF);
    } catch (const std::bad_alloc&) {
      return SaveResult::kNoMemory;
    }
    std::copy_n(area->begin(), kHeadSize, saved_.begin());
    const core::ByteSpan entries = area->subspan(kHeadSize);
    const int64_t walkEnd = static_cast<int64_t>(entries.size()) - static_cast<int64_t>(kEntryHeadSize);
    size_t out = kHeadSize;
    for (const std::string& text : types) {
      const int64_t type = core::CDecimal(text);
      bool found = false;
      for (int64_t pos = 0; pos < walkEnd;) {
        const auto at = static_cast<size_t>(pos);
        const size_t entryLength = kEntryHeadSize + entries[at + 2];
        if (entries[at] == type) {
          found = true;
          // A malformed last entry, or a type named so often that the packed entries
          // outgrow the area, is cut at whichever end comes first.
          const size_t length = std::min({entryLength, entries.size() - at, saved_.size() - out});
          std::copy_n(entries.begin() + pos, length, saved_.begin() + static_cast<std::ptrdiff_t>(out));
          out += length;
        }
        pos += static_cast<int64_t>(entryLength);
      }
      if (!found && warnMissing) warnMissing(static_cast<int>(type));
    }
    return SaveResult::kSaved;
  }
  return SaveResult::kNone;
}

bool SmbiosArea::Restore(const FlashLayout& layout, std::span<uint8_t> image) const {
  if (saved_.empty()) return false;
  for (const auto& block : layout.Blocks()) {
    if (block.type != bt::kBootBlock) continue;
    if (!core::InRange(image.size(), block.start, block.size)) continue;
    const auto bytes = image.subspan(block.start, block.size);
    const auto match = FindSignature(bytes);
    if (!match) continue;
    const auto area = AreaAt(bytes, *match);
    if (!area || area->size() != saved_.size()) return false;
    std::copy(saved_.begin(), saved_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(*match));
    return true;
  }
  return false;
}

std::optional<std::pair<size_t, size_t>> SmbiosArea::FindInImage(const FlashLayout& layout, core::ByteSpan image) {
  for (const auto& block : layout.Blocks()) {
    if (block.type != bt::kBootBlock || !core::InRange(image.size(), block.start, block.size)) continue;
    const auto bytes = image.subspan(block.start, block.size);
    const auto match = FindSignature(bytes);
    if (!match) continue;
    const auto area = AreaAt(bytes, *match);
    if (!area) return std::nullopt;
    return std::pair<size_t, size_t>(block.start + *match, area->size());
  }
  return std::nullopt;
}

}  // namespace nox::image

#include "image/BlockEngine.h"

#include <algorithm>
#include <optional>

#include "core/Bytes.h"
#include "core/Format.h"

namespace nox::image {

using firmware::FlashBlockEntry;

BlockEngine::BlockEngine(firmware::SmiFlash& smi, os::OsServices& os, const EngineLayout& layout,
                         std::span<const uint8_t> image, EngineSettings settings, LogSink log)
    : smi_(smi), os_(os), layout_(layout), image_(image), settings_(settings), log_(std::move(log)) {
  // A budget of zero would never run out; the option parser refuses it, and so does this.
  settings_.retryCount = std::max<uint32_t>(settings_.retryCount, 1);
}

void BlockEngine::Log(const char* tag, uint32_t address, uint32_t size) {
  if (log_) log_(core::Format(" %s Addr : 0x%08X, Size : 0x%08X\r\n", tag, address, size));
}

void BlockEngine::Start(const core::ProgressCallback& progress) {
  budget_ = settings_.retryCount;
  const auto& blocks = layout_.Blocks();
  if (progress) progress(core::kProgressStart, blocks.empty() ? 0 : blocks.front().start, 0);
}

bool BlockEngine::Finish(const core::ProgressCallback& progress) {
  if (progress) progress(core::kProgressEnd, layout_.RomSize(), 0);
  os_.SleepMs(kTrailingDelayMs);
  return true;
}

std::span<const uint8_t> BlockEngine::ImageBytes(Chunk chunk) const {
  return core::SubSpan(image_, chunk.address, chunk.length).value_or(std::span<const uint8_t>{});
}

bool BlockEngine::WalkChunks(size_t index, const std::function<bool(Chunk)>& work) {
  const FlashBlockEntry entry = layout_.Blocks()[index];
  const uint64_t a = entry.start;
  const uint64_t s = entry.size;
  std::vector<HoleSpan> holes;
  if (!settings_.allNcbs && (entry.type == firmware::block_type::kMainBios || entry.type == firmware::block_type::kBootBlock)) {
    for (const HoleSpan& h : layout_.HolesOfKind(entry.type)) {
      if (!h.selected && h.size != 0 && a + s > h.offset && a < uint64_t{h.offset} + h.size) holes.push_back(h);
    }
  }
  // The unselected hole that holds `at`, if any.
  auto holeAt = [&](uint64_t at) {
    return std::find_if(holes.begin(), holes.end(),
                        [&](const HoleSpan& h) { return h.offset <= at && at < uint64_t{h.offset} + h.size; });
  };
  for (uint64_t p = 0; p < s;) {
    uint64_t length = std::min<uint64_t>(kChunkSize, s - p);
    // Step over every hole the chunk starts in: holes often lie back to back, and the one
    // behind a skipped hole must be stepped over as well, not erased with the rest.
    for (auto h = holeAt(a + p); h != holes.end() && length != 0; h = holeAt(a + p)) {
      const uint64_t rest = std::min(uint64_t{h->offset} + h->size - (a + p), length);
      p += rest;
      length -= rest;
    }
    if (length == 0) continue;
    // The chunk stops at the next hole ahead.
    for (const HoleSpan& h : holes) {
      if (h.offset > a + p) length = std::min<uint64_t>(length, h.offset - (a + p));
    }
    if (!work({static_cast<uint32_t>(a + p), static_cast<uint32_t>(length)})) return false;
    p += length;
  }
  return true;
}

bool BlockEngine::EraseAttempts(Chunk chunk, const core::ProgressCallback& progress) {
  for (int i = 0; i < kInnerAttempts; ++i) {
    if (smi_.EraseFlash(chunk.address, chunk.length, progress)) return true;
  }
  return false;
}

bool BlockEngine::WriteAttempts(Chunk chunk, const core::ProgressCallback& progress) {
  const auto bytes = ImageBytes(chunk);
  if (bytes.size() != chunk.length) return false;
  for (int i = 0; i < kInnerAttempts; ++i) {
    if (smi_.WriteFlash(chunk.address, chunk.length, bytes, progress)) return true;
  }
  return false;
}

bool BlockEngine::EraseRegion(const core::ProgressCallback& progress, RegionKind kind) {
  Start(progress);
  const auto& blocks = layout_.Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (!layout_.BlockInRegion(i, kind)) continue;
    Log("[Erase] ", blocks[i].start, blocks[i].size);
    const bool ok = WalkChunks(i, [&](Chunk chunk) {
      os_.BlockUserInput(true);
      while (!smi_.EraseFlash(chunk.address, chunk.length, progress)) {
        if (--budget_ == 0) return false;
      }
      budget_ = settings_.retryCount;
      return true;
    });
    if (!ok) return false;
  }
  return Finish(progress);
}

bool BlockEngine::ProgramRegion(const core::ProgressCallback& progress, RegionKind kind) {
  Start(progress);
  const auto& blocks = layout_.Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (!layout_.BlockInRegion(i, kind)) continue;
    const bool ok = WalkChunks(i, [&](Chunk chunk) {
      const auto bytes = ImageBytes(chunk);
      if (bytes.size() != chunk.length) return false;  // the image does not reach this far
      Log("[Update]", blocks[i].start, blocks[i].size);
      os_.BlockUserInput(true);
      while (!smi_.WriteFlash(chunk.address, chunk.length, bytes, progress)) {
        EraseAttempts(chunk, {});
        if (--budget_ == 0) return false;
      }
      budget_ = settings_.retryCount;
      return true;
    });
    if (!ok) return false;
  }
  return Finish(progress);
}

bool BlockEngine::VerifyRegion(const core::ProgressCallback& progress, RegionKind kind) {
  Start(progress);
  const auto& blocks = layout_.Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (!layout_.BlockInRegion(i, kind)) continue;
    const bool ok = WalkChunks(i, [&](Chunk chunk) {
      const auto bytes = ImageBytes(chunk);
      if (bytes.size() != chunk.length) return false;
      while (true) {
        os_.BlockUserInput(true);
        if (smi_.VerifyFlash(chunk.address, chunk.length, bytes, progress)) break;
        EraseAttempts(chunk, {});
        WriteAttempts(chunk, {});
        if (--budget_ == 0) return false;
      }
      budget_ = settings_.retryCount;
      return true;
    });
    if (!ok) return false;
  }
  return Finish(progress);
}

bool BlockEngine::CompareChunk(Chunk chunk, bool forced, bool inFirstEntry,
                               const core::ProgressCallback& verifyProgress,
                               const core::ProgressCallback& eraseProgress,
                               const core::ProgressCallback& writeProgress) {
  const auto bytes = ImageBytes(chunk);
  if (bytes.size() != chunk.length) return false;
  while (true) {
    if (!forced && smi_.VerifyFlash(chunk.address, chunk.length, bytes, verifyProgress)) return true;
    Log("[Erase] ", chunk.address, chunk.length);
    EraseAttempts(chunk, forced ? core::ProgressCallback{} : eraseProgress);
    Log("[Update]", chunk.address, chunk.length);
    WriteAttempts(chunk, forced ? core::ProgressCallback{} : writeProgress);
    bool done = false;
    if (forced) {
      // The last entry is left blank until the walk reaches it in order.
      if (smi_.EraseFlash(chunk.address, chunk.length, {})) budget_ = settings_.retryCount;
      done = true;
    } else {
      for (int i = 0; i < kInnerAttempts && !done; ++i) {
        done = smi_.VerifyFlash(chunk.address, chunk.length, bytes, verifyProgress);
      }
      if (done) {
        budget_ = settings_.retryCount;
        if (writeProgress) {
          for (uint32_t k = 0; k + 1024 <= chunk.length; k += 1024) {
            writeProgress(chunk.address + k, layout_.RomSize(), chunk.length);
          }
        }
      }
    }
    if (inFirstEntry) firstChanged_ = true;
    if (done) return true;
    if (--budget_ == 0) return false;
  }
}

bool BlockEngine::CompareRegion(const core::ProgressCallback& verifyProgress,
                                const core::ProgressCallback& eraseProgress,
                                const core::ProgressCallback& writeProgress, RegionKind kind) {
  Start(verifyProgress);
  const auto& blocks = layout_.Blocks();
  firstChanged_ = false;
  // The region's lowest and highest entries, for the boot block and main BIOS passes.
  std::optional<size_t> first;
  std::optional<size_t> last;
  if (kind == RegionKind::kBootBlock || kind == RegionKind::kMainBios) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (!layout_.BlockInRegion(i, kind)) continue;
      if (!first || blocks[i].start < blocks[*first].start) first = i;
      if (!last || blocks[i].start > blocks[*last].start) last = i;
    }
  }
  const bool distinct = first && last && *first != *last;
  auto walk = [&](size_t index, bool forced) {
    const bool inFirst = distinct && index == *first;
    return WalkChunks(index, [&](Chunk chunk) {
      return CompareChunk(chunk, forced, inFirst, verifyProgress, eraseProgress, writeProgress);
    });
  };
  bool lastWalked = false;
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (distinct && firstChanged_) {
      firstChanged_ = false;
      if (!walk(*last, /*forced=*/true)) return false;
      // A table in the firmware's order may list the last entry before the first: the walk
      // has passed it already and would leave it blank.
      if (lastWalked && !walk(*last, /*forced=*/false)) return false;
    }
    if (!layout_.BlockInRegion(i, kind)) continue;
    if (!walk(i, /*forced=*/false)) return false;
    if (last && i == *last) lastWalked = true;
  }
  return Finish(verifyProgress);
}

}  // namespace nox::image

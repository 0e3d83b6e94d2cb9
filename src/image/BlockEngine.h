// Carries out one region of a flash update: an erase, a program and a verify pass over the
// region's blocks in chunks of at most 64 KiB, or a single compare pass that rewrites only
// the chunks that differ. Unselected ROM holes are never erased or written; every chunk is
// retried within a per-pass budget.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "core/Progress.h"
#include "firmware/SmiFlash.h"
#include "image/EngineLayout.h"
#include "os/OsServices.h"

namespace nox::image {

// Receives the log lines ("\r\n"-terminated); empty when no log is open.
using LogSink = std::function<void(const std::string&)>;

struct EngineSettings {
  uint32_t retryCount = 5;
  bool allNcbs = false;
};

class BlockEngine {
 public:
  static constexpr uint32_t kChunkSize = 0x10000;
  static constexpr int kInnerAttempts = 5;
  // The pause after every pass, which gives the firmware time to settle.
  static constexpr uint32_t kTrailingDelayMs = 100;

  BlockEngine(firmware::SmiFlash& smi, os::OsServices& os, const EngineLayout& layout,
              std::span<const uint8_t> image, EngineSettings settings, LogSink log = {});

  bool EraseRegion(const core::ProgressCallback& progress, RegionKind kind);
  bool ProgramRegion(const core::ProgressCallback& progress, RegionKind kind);
  bool VerifyRegion(const core::ProgressCallback& progress, RegionKind kind);
  bool CompareRegion(const core::ProgressCallback& verifyProgress, const core::ProgressCallback& eraseProgress,
                     const core::ProgressCallback& writeProgress, RegionKind kind);

 private:
  struct Chunk {
    uint32_t address;
    uint32_t length;
  };
  enum class Pass { kErase, kProgram };

  // Walks the chunks of entry `index`, clipped around unselected holes; `work` returns
  // false to fail the pass. Every pass walks this way, verify and compare included: their
  // repairs erase and write whole chunks, and a chunk must never take a hole with it.
  bool WalkChunks(size_t index, const std::function<bool(Chunk)>& work);
  std::span<const uint8_t> ImageBytes(Chunk chunk) const;
  bool EraseAttempts(Chunk chunk, const core::ProgressCallback& progress);
  bool WriteAttempts(Chunk chunk, const core::ProgressCallback& progress);
  bool CompareChunk(Chunk chunk, bool forced, bool inFirstEntry, const core::ProgressCallback& verifyProgress,
                    const core::ProgressCallback& eraseProgress, const core::ProgressCallback& writeProgress);
  void Log(const char* tag, uint32_t address, uint32_t size);
  void Start(const core::ProgressCallback& progress);
  bool Finish(const core::ProgressCallback& progress);

  firmware::SmiFlash& smi_;
  os::OsServices& os_;
  const EngineLayout& layout_;
  std::span<const uint8_t> image_;
  EngineSettings settings_;
  LogSink log_;
  uint32_t budget_ = 0;
  bool firstChanged_ = false;
};

}  // namespace nox::image

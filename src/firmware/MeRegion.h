// The management engine's region of the flash part: where the firmware says it lies, whether
// an image carries it (a full-flash image with its descriptor, or the bare region), and its
// programming between the firmware's begin and end requests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "core/Progress.h"
#include "firmware/Ofbd.h"
#include "firmware/SmiFlash.h"

namespace nox::firmware {

namespace me {
inline constexpr uint32_t kErrSize = 3;
inline constexpr uint32_t kErrEraseFailed = 67;
inline constexpr uint32_t kErrWriteFailed = 68;
inline constexpr uint32_t kErrRomCorrupted = 159;
inline constexpr uint32_t kErrMeCorrupted = 160;
inline constexpr uint32_t kPieceSize = 65536;
inline constexpr int kAttempts = 5;
// The descriptor's signature lies at one of these offsets of a full-flash image.
inline constexpr size_t kLastSignatureOffset = 27;
inline constexpr uint32_t kPhaseStart = 0xFFFFFFFE;
inline constexpr uint32_t kPhaseEnd = 0xFFFFFFFF;
}  // namespace me

// The firmware's answer to a region query (selectors 0 and 3).
struct MeAnswer {
  uint32_t start = 0;        // of the ME region, a flash address
  uint32_t size = 0;
  uint32_t span = 0;         // from address 0, what the entire update covers; also where the
                             // system firmware begins in a full-flash image
  uint32_t regionSize = 0;   // of the system firmware in a full-flash image
  static MeAnswer From(const std::optional<std::array<uint8_t, 18>>& record);
};

struct MeCheckInput {
  bool ignition = false;     // "meuf"
  bool entire = false;       // "me"
  MeAnswer kept;             // the last answer the firmware gave
  uint32_t totalFlashSize = 0;
};

struct MeCheckResult {
  uint32_t error = 0;
  bool ignitionImage = false;      // the image is the bare ME region
  // The image is a full-flash image narrowed to its system-firmware region at `offset`.
  bool regionFromFull = false;
  size_t offset = 0;
  size_t size = 0;
  // A full-flash image or a bare ME region: the image holds ME data.
  bool MeInImage() const { return error == 0 && (ignitionImage || regionFromFull); }
};

// Checks `image` against the firmware's answers; `print` gets the console words.
MeCheckResult CheckMeImage(std::span<const uint8_t> image, const MeCheckInput& in,
                           const std::function<void(const char*)>& print);

// What ProgramMeRegion writes: flash [base + head, base + length) from source[head, length).
struct MeProgram {
  uint32_t base = 0;
  uint32_t length = 0;
  uint32_t head = 0;
  std::span<const uint8_t> source;
};

// Erases and writes the region in 64 KiB pieces, each erase and write tried up to five
// times; 0, 67 or 68. The flash size the progress calls name is base + length meanwhile.
uint32_t ProgramMeRegion(SmiFlash& smi, const MeProgram& program, std::span<uint8_t> scratch,
                         const core::ProgressCallback& onErasing, const core::ProgressCallback& onWriting);

}  // namespace nox::firmware

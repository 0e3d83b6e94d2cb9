#include "firmware/MeRegion.h"

#include <algorithm>
#include <cstring>

#include "core/Bytes.h"

namespace nox::firmware {

using namespace me;

namespace {

constexpr uint8_t kDescriptorSignature[] = {0x5A, 0xA5, 0xF0, 0x0F};
// "$FID" is looked for in 1024-byte windows from the image's end backwards, each 894 bytes
// before the last, comparing at the first 894 offsets of each.
constexpr size_t kWindow = 1024;
constexpr size_t kWindowStep = 894;

bool HasDescriptor(std::span<const uint8_t> image) {
  for (size_t at = 0; at <= kLastSignatureOffset && at + 4 <= image.size(); ++at) {
    if (std::memcmp(image.data() + at, kDescriptorSignature, 4) == 0) return true;
  }
  return false;
}

bool FidAbove(std::span<const uint8_t> image, size_t floor) {
  if (image.size() < kWindow) return false;
  for (size_t start = image.size() - kWindow; start > floor; start -= kWindowStep) {
    for (size_t k = 0; k < kWindowStep; ++k) {
      if (std::memcmp(image.data() + start + k, "$FID", 4) == 0) return true;
    }
    if (start < kWindowStep) break;
  }
  return false;
}

}  // namespace

MeAnswer MeAnswer::From(const std::optional<std::array<uint8_t, 18>>& record) {
  if (!record) return {};
  const auto& r = *record;
  return {core::LoadLe32(&r[2]), core::LoadLe32(&r[6]), core::LoadLe32(&r[10]), core::LoadLe32(&r[14])};
}

MeCheckResult CheckMeImage(std::span<const uint8_t> image, const MeCheckInput& in,
                           const std::function<void(const char*)>& print) {
  const bool asked = in.ignition || in.entire;
  const auto say = [&](const char* text) {
    if (asked && print) print(text);
  };
  MeCheckResult result;
  say(" - ME Data Size checking . ");
  const bool descriptor = HasDescriptor(image);
  if (!descriptor && in.ignition) {
    if (image.size() != in.kept.size) {
      say("bad\n");
      result.error = kErrSize;
      return result;
    }
    result.ignitionImage = true;
    say("ok\n");
    return result;
  }
  if (!descriptor && in.entire) {
    say("bad\n");
    result.error = kErrSize;
    return result;
  }
  if (image.size() == in.totalFlashSize || !descriptor) return result;
  if (image.size() >= in.kept.span && image.size() - in.kept.span >= in.kept.regionSize) {
    if (!FidAbove(image, in.kept.span)) {
      say("bad\n");
      result.error = kErrRomCorrupted;
      return result;
    }
    result.regionFromFull = true;
    result.offset = in.kept.span;
    result.size = in.kept.regionSize;
    say("ok\n");
    return result;
  }
  if (!asked) {
    result.error = kErrSize;
    return result;
  }
  say("bad\n");
  result.error = kErrMeCorrupted;
  return result;
}

uint32_t ProgramMeRegion(SmiFlash& smi, const MeProgram& program, std::span<uint8_t> scratch,
                         const core::ProgressCallback& onErasing, const core::ProgressCallback& onWriting) {
  // A source or a work buffer that cannot hold the region is refused before the part is
  // touched.
  if (program.source.size() < program.length || scratch.size() < kPieceSize || program.head >= program.length) {
    return kErrEraseFailed;
  }
  const std::optional<uint32_t> savedSize = smi.TotalFlashSizeOverride();
  smi.SetTotalFlashSizeOverride(program.base + program.length);
  const auto pieceOf = [&](uint32_t offset) { return std::min(kPieceSize, program.length - offset); };
  const auto erase = [&](uint32_t address, uint32_t length) {
    for (int i = 0; i < kAttempts; ++i) {
      if (smi.EraseFlash(address, length, onErasing)) return true;
    }
    return false;
  };

  uint32_t result = 0;
  if (onErasing) onErasing(kPhaseStart, 0, 0);
  for (uint32_t offset = 0, head = program.head; offset < program.length && result == 0; offset += kPieceSize, head = 0) {
    if (!erase(program.base + offset + head, pieceOf(offset) - head)) result = kErrEraseFailed;
  }
  if (onErasing) onErasing(kPhaseEnd, program.length, 0);

  if (result == 0) {
    if (onWriting) onWriting(kPhaseStart, 0, 0);
    for (uint32_t offset = 0, head = program.head; offset < program.length && result == 0;
         offset += kPieceSize, head = 0) {
      const uint32_t address = program.base + offset + head;
      const uint32_t length = pieceOf(offset) - head;
      std::copy_n(program.source.begin() + offset + head, length, scratch.begin());
      int failures = 0;
      while (!smi.WriteFlash(address, length, scratch.first(length), onWriting)) {
        // A failed write may have cleared bits: the range is erased again before the next try.
        if (++failures == kAttempts || !erase(address, length)) {
          result = kErrWriteFailed;
          break;
        }
      }
    }
    if (onWriting) onWriting(kPhaseEnd, program.length, 0);
  }
  smi.SetTotalFlashSizeOverride(savedSize);
  return result;
}

}  // namespace nox::firmware

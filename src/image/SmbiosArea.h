// The boot block's "BSA_" area holds the SMBIOS structures that belong to this machine.
// Programming the boot block would replace them with the image's generic copy, so the
// machine's area (or the chosen structure types of it) is saved from the flash and laid
// over the image's area before the image is written.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "image/FlashLayout.h"

namespace nox::image {

// Shown once for every requested type the machine's area does not hold.
inline constexpr const char* kMissingTypeWarning = "- Warning: System doesn't have Type-%d structure to preserve\n";

class SmbiosArea {
 public:
  static constexpr size_t kHeadSize = 8;  // "BSA_" and the 32-bit length of the entries

  enum class SaveResult { kSaved, kNone, kNoMemory, kReadFailed };

  // Finds the first "BSA_" area in the boot blocks of the flash and keeps it: whole when
  // `types` is empty, otherwise only the entries of the given types (decimal numbers, in
  // the order given) packed from the front, the rest erased to 0xFF. `warnMissing` hears
  // of every requested type the area does not hold.
  SaveResult Save(const FlashLayout& layout, const FlashLayout::FlashReader& readFlash,
                  std::span<const std::string> types, const std::function<void(int type)>& warnMissing);

  // Lays the saved area over the first "BSA_" area in the boot blocks of `image`. False,
  // with the image untouched, when nothing is saved, the image has no such area, or its
  // area differs in length from the saved one.
  bool Restore(const FlashLayout& layout, std::span<uint8_t> image) const;

  // Offset and length (head included) of the first area in the boot blocks of `image`.
  static std::optional<std::pair<size_t, size_t>> FindInImage(const FlashLayout& layout, core::ByteSpan image);

  void Clear() { saved_.clear(); }
  bool HasArea() const { return !saved_.empty(); }
  std::span<const uint8_t> Bytes() const { return saved_; }

 private:
  std::vector<uint8_t> saved_;
};

}  // namespace nox::image

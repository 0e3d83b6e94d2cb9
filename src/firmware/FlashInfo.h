// The firmware's block table, kept in the normalized (version 11) layout: a 16-byte header
// followed by 9-byte block entries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace nox::firmware {

namespace block_type {
inline constexpr uint8_t kBootBlock = 0;
inline constexpr uint8_t kMainBios = 1;
inline constexpr uint8_t kNvram = 2;
inline constexpr uint8_t kEc = 3;
inline constexpr uint8_t kFirstNcb = 128;
}  // namespace block_type

struct FlashBlockEntry {
  uint32_t start = 0;
  uint32_t size = 0;
  uint8_t type = 0;
  friend bool operator==(const FlashBlockEntry&, const FlashBlockEntry&) = default;
};

class FlashInfo {
 public:
  static constexpr size_t kHeaderSize = 16;
  static constexpr size_t kEntrySize = 9;
  static constexpr size_t kV10HeaderSize = 8;

  // Normalizes a reply standing at the start of `reply`. None when the reply's block
  // table does not fit inside it.
  static std::optional<FlashInfo> FromReply(std::span<const uint8_t> reply);

  uint8_t RefusalMarker() const { return bytes_[4]; }
  uint8_t Version() const { return bytes_[5]; }
  uint16_t BlockCount() const;
  uint32_t EcVersionOffset() const;
  uint32_t EcVersionMask() const;
  FlashBlockEntry Entry(size_t index) const;  // index < BlockCount()
  std::vector<FlashBlockEntry> Entries() const;
  uint32_t TotalSize() const { return totalSize_; }
  // The normalized copy: N x 9 + 25 bytes.
  std::span<const uint8_t> Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t totalSize_ = 0;
};

}  // namespace nox::firmware

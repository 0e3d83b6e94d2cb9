// The flash part as NOR flash behaves: erasing sets bytes to 0xFF, programming can only
// clear bits, so a write over unerased data stores old AND new.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/sim/Profile.h"

namespace nox::sim {

class FlashPart {
 public:
  FlashPart(uint32_t size, std::vector<BlockEntry> blocks);

  uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }
  bool Contains(uint32_t address, uint32_t length) const {
    return address <= bytes_.size() && length <= bytes_.size() - address;
  }

  // Each returns false, changing nothing, when the range is not inside the part.
  bool Read(uint32_t address, std::span<uint8_t> out) const;
  bool Erase(uint32_t address, uint32_t length);
  bool Program(uint32_t address, std::span<const uint8_t> data);

  // Stores a byte as it is, bypassing NOR rules: for faults that corrupt a cell.
  void Poke(uint32_t address, uint8_t value) {
    if (address < bytes_.size()) bytes_[address] = value;
    modified_ = true;
  }

  // Whether the contents changed since the last ClearModified(): saves skip an unchanged part.
  bool Modified() const { return modified_; }
  void ClearModified() { modified_ = false; }

  std::span<const uint8_t> Bytes() const { return bytes_; }
  // Replaces the whole contents (a new machine, or flash.bin read back); the size must match.
  bool Load(std::span<const uint8_t> contents);

  // One counter per block of the table: how many erase requests touched it.
  const std::vector<uint32_t>& EraseCounts() const { return eraseCounts_; }
  void SetEraseCounts(std::vector<uint32_t> counts);

 private:
  std::vector<uint8_t> bytes_;
  std::vector<BlockEntry> blocks_;
  std::vector<uint32_t> eraseCounts_;
  bool modified_ = true;
};

}  // namespace nox::sim

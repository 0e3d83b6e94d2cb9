// The flash part as NOR flash behaves: erasing sets bytes to 0xFF, programming can only
// clear bits, so a write over unerased data stores old AND new.
#pragma once

#include <cstdint>
#include <functional>
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
  void Poke(uint32_t address, uint8_t value);

  // Every erase, program and poke hands the bytes it changed to `store` as it happens, so
  // that what keeps the part (flash.bin) holds what a real part would at any moment.
  using Store = std::function<void(uint32_t address, std::span<const uint8_t> bytes)>;
  void SetStore(Store store) { store_ = std::move(store); }

  std::span<const uint8_t> Bytes() const { return bytes_; }
  // Replaces the whole contents (a new machine, or flash.bin read back); the size must match.
  // The store is not told: the contents came from it or are about to be written whole.
  bool Load(std::span<const uint8_t> contents);

  // One counter per block of the table: how many erase requests touched it.
  const std::vector<uint32_t>& EraseCounts() const { return eraseCounts_; }
  void SetEraseCounts(std::vector<uint32_t> counts);

 private:
  std::vector<uint8_t> bytes_;
  std::vector<BlockEntry> blocks_;
  std::vector<uint32_t> eraseCounts_;
  Store store_;
  void Stored(uint32_t address, size_t length) {
    if (store_) store_(address, std::span<const uint8_t>(bytes_).subspan(address, length));
  }
};

}  // namespace nox::sim

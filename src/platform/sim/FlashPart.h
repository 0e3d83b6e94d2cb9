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

  uint32_t Size() const { return size_; }
  bool Contains(uint32_t address, uint32_t length) const {
    return address <= size_ && length <= size_ - address;
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
  // Called before every change, so that what keeps a record of the changes can bring it up
  // to date first.
  void SetBeforeChange(std::function<void()> hook) { beforeChange_ = std::move(hook); }

  std::span<const uint8_t> Bytes() const { return {Data(), size_}; }
  // Replaces the whole contents (a new machine, or flash.bin read back); the size must match.
  // The store is not told: the contents came from it or are about to be written whole.
  bool Load(std::span<const uint8_t> contents);
  // Takes `storage` (the size of the part, holding its contents, e.g. flash.bin mapped) as
  // the part itself: changes land there and nothing is copied. It must outlive the part's use.
  bool Adopt(std::span<uint8_t> storage);

  // One counter per block of the table: how many erase requests touched it.
  const std::vector<uint32_t>& EraseCounts() const { return eraseCounts_; }
  void SetEraseCounts(std::vector<uint32_t> counts);

 private:
  // The contents live in `owned_` (filled with 0xFF when first needed, so that a part about
  // to be loaded or adopted is never filled for nothing) or in adopted storage.
  uint8_t* Data() const;
  void Changing() {
    if (beforeChange_) beforeChange_();
  }
  void Stored(uint32_t address, size_t length) {
    if (store_) store_(address, std::span<const uint8_t>(Data() + address, length));
  }

  uint32_t size_;
  mutable std::vector<uint8_t> owned_;
  mutable uint8_t* data_ = nullptr;
  std::vector<BlockEntry> blocks_;
  std::vector<uint32_t> eraseCounts_;
  Store store_;
  std::function<void()> beforeChange_;
};

}  // namespace nox::sim

#include "platform/sim/FlashPart.h"

#include <algorithm>
#include <cstring>

namespace nox::sim {

FlashPart::FlashPart(uint32_t size, std::vector<BlockEntry> blocks)
    : size_(size), blocks_(std::move(blocks)), eraseCounts_(blocks_.size(), 0) {}

uint8_t* FlashPart::Data() const {
  if (data_ == nullptr) {
    owned_.assign(size_, 0xFF);
    data_ = owned_.data();
  }
  return data_;
}

bool FlashPart::Read(uint32_t address, std::span<uint8_t> out) const {
  if (out.size() > size_ || !Contains(address, static_cast<uint32_t>(out.size()))) return false;
  std::memcpy(out.data(), Data() + address, out.size());
  return true;
}

bool FlashPart::Erase(uint32_t address, uint32_t length) {
  if (!Contains(address, length)) return false;
  Changing();
  std::memset(Data() + address, 0xFF, length);
  Stored(address, length);
  const uint64_t end = uint64_t{address} + length;
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const uint64_t bStart = blocks_[i].start;
    const uint64_t bEnd = bStart + blocks_[i].size;
    if (length != 0 && bStart < end && address < bEnd) ++eraseCounts_[i];
  }
  return true;
}

bool FlashPart::Program(uint32_t address, std::span<const uint8_t> data) {
  if (data.size() > size_ || !Contains(address, static_cast<uint32_t>(data.size()))) return false;
  Changing();
  uint8_t* dst = Data() + address;
  size_t i = 0;
  for (; i + 8 <= data.size(); i += 8) {
    uint64_t a, b;
    std::memcpy(&a, dst + i, 8);
    std::memcpy(&b, data.data() + i, 8);
    a &= b;
    std::memcpy(dst + i, &a, 8);
  }
  for (; i < data.size(); ++i) dst[i] &= data[i];
  Stored(address, data.size());
  return true;
}

void FlashPart::Poke(uint32_t address, uint8_t value) {
  if (address >= size_) return;
  Changing();
  Data()[address] = value;
  Stored(address, 1);
}

bool FlashPart::Load(std::span<const uint8_t> contents) {
  if (contents.size() != size_) return false;
  if (data_ == nullptr) {
    owned_.assign(contents.begin(), contents.end());
    data_ = owned_.data();
  } else {
    std::memcpy(data_, contents.data(), contents.size());
  }
  return true;
}

bool FlashPart::Adopt(std::span<uint8_t> storage) {
  if (storage.size() != size_) return false;
  data_ = storage.data();
  owned_ = {};
  return true;
}

void FlashPart::SetEraseCounts(std::vector<uint32_t> counts) {
  counts.resize(blocks_.size(), 0);
  eraseCounts_ = std::move(counts);
}

}  // namespace nox::sim

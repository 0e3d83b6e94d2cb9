// The checksum of POSIX cksum (CRC-32, polynomial 0x04C11DB7, the length folded in), so that
// a shell compares what metool saw with `cksum <file` and a program with this function.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace nox::metool {

inline uint32_t Cksum(std::span<const uint8_t> bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0;
  const auto add = [&](uint8_t b) { crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF]; };
  for (const uint8_t b : bytes) add(b);
  for (uint64_t n = bytes.size(); n != 0; n >>= 8) add(static_cast<uint8_t>(n));
  return ~crc;
}

}  // namespace nox::metool

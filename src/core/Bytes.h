// Little-endian access to byte buffers.
//
// Two flavours: the checked Read*/Write* functions take a span and an offset and refuse
// anything that does not fit (use them on every byte that came from outside: packages,
// images, firmware replies); the Load*/Store* functions work on a pointer the caller has
// already proven to be in range (fixed-size records the program itself built).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace nox::core {

using ByteSpan = std::span<const uint8_t>;
using MutableByteSpan = std::span<uint8_t>;

// An allocator whose default construction leaves a byte as the allocator gave it: growing a
// vector with resize(n) does not zero it first. For buffers the size of a flash part that are
// written over at once, where zeroing costs as much again as the writing.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  template <class U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
// resize(n) leaves the new bytes undefined; resize(n, value) and the other members fill as
// a std::vector does.
using ByteBuffer = std::vector<uint8_t, DefaultInitAllocator<uint8_t>>;

inline uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLe32(p)) | (static_cast<uint64_t>(LoadLe32(p + 4)) << 32);
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
  StoreLe32(p, static_cast<uint32_t>(v));
  StoreLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without
// overflowing on hostile offsets or lengths.
constexpr bool InRange(size_t size, size_t offset, size_t length) {
  return offset <= size && length <= size - offset;
}

std::optional<uint8_t> ReadU8(ByteSpan bytes, size_t offset);
std::optional<uint16_t> ReadLe16(ByteSpan bytes, size_t offset);
std::optional<uint32_t> ReadLe32(ByteSpan bytes, size_t offset);
std::optional<uint64_t> ReadLe64(ByteSpan bytes, size_t offset);

bool WriteLe16(MutableByteSpan bytes, size_t offset, uint16_t value);
bool WriteLe32(MutableByteSpan bytes, size_t offset, uint32_t value);
bool WriteLe64(MutableByteSpan bytes, size_t offset, uint64_t value);

// The window [offset, offset + length) of `bytes`, or an empty optional when it does not fit.
std::optional<ByteSpan> SubSpan(ByteSpan bytes, size_t offset, size_t length);

// Sum of the little-endian 16-bit words of `bytes` modulo 65536 (an odd last byte counts
// as the low half of a word). Package headers and modules check out when this is 0.
uint16_t Sum16(ByteSpan bytes);

// Sum of the bytes modulo 256.
uint8_t Sum8(ByteSpan bytes);

}  // namespace nox::core

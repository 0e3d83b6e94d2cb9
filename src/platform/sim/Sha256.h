// SHA-256, for the digest this machine's firmware keeps in a signed capsule header. Written
// here rather than taken from a library because none is packaged for both the host and the
// MinGW build, and the firmware side only needs to hash a few megabytes at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace nox::sim {

class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;

  Sha256();
  void Update(std::span<const uint8_t> bytes);
  // Pads and returns the digest; the object must not be updated afterwards.
  Digest Final();

  static Digest Of(std::span<const uint8_t> bytes) {
    Sha256 h;
    h.Update(bytes);
    return h.Final();
  }

 private:
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes hashed so far
};

}  // namespace nox::sim

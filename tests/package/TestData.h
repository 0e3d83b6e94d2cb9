// Inputs shared by the package tests and benchmarks: generated firmware-like data and the
// OVMF images of the host, plus a bit writer for hand-made streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nox::package::testdata {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);
// Short instruction-like sequences from a small vocabulary with varying operands.
std::vector<uint8_t> CodeLike(size_t size, uint32_t seed);
// A flash image: 0xFF padding, code-like volumes, random (already compressed) payloads and
// string tables, in uneven pieces, padded with 0xFF at the end.
std::vector<uint8_t> SyntheticRom(size_t size, uint32_t seed);
// The file's bytes, or none when it cannot be read.
std::optional<std::vector<uint8_t>> ReadFile(const std::string& path);

// MSB-first bit writer for streams built by hand.
class Bits {
 public:
  Bits& Put(unsigned count, uint32_t value);
  std::vector<uint8_t> Bytes() const;

 private:
  std::vector<bool> bits_;
};

}  // namespace nox::package::testdata

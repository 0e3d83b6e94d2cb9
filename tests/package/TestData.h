// Inputs shared by the package tests and benchmarks: generated firmware-like data and the
// OVMF images of the host, a bit writer for hand-made streams, and a scratch directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
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

// A fresh directory of this process's own under the temporary directory (tests of several
// builds run at once), removed with its contents at the end of the scope.
struct TempDir {
  TempDir();
  ~TempDir();
  // Writes `bytes` to `name` in the directory and returns the file's path.
  std::string Write(const std::string& name, std::span<const uint8_t> bytes) const;
  std::string operator/(const std::string& name) const { return (path / name).string(); }

  std::filesystem::path path;
};

// MSB-first bit writer for streams built by hand.
class Bits {
 public:
  Bits& Put(unsigned count, uint32_t value);
  std::vector<uint8_t> Bytes() const;

 private:
  std::vector<bool> bits_;
};

// A -lh5- block header whose three tables each name one symbol: every code is that symbol,
// and no bits are spent on it.
Bits SingleCodeBlock(uint32_t blockSize, uint32_t literal, uint32_t position = 0);

}  // namespace nox::package::testdata

#include "TestData.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include <stdlib.h>

namespace nox::package::testdata {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

std::vector<uint8_t> CodeLike(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint8_t>> vocabulary(96);
  for (auto& word : vocabulary) {
    word.resize(1 + rng() % 6);
    for (auto& b : word) b = static_cast<uint8_t>(rng() % 7 == 0 ? rng() : 0x40 + rng() % 80);
  }
  std::geometric_distribution<size_t> pick(0.08);
  std::vector<uint8_t> out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const auto& word = vocabulary[std::min<size_t>(pick(rng), vocabulary.size() - 1)];
    out.insert(out.end(), word.begin(), word.end());
    if (rng() % 3 == 0) {  // an operand: small offsets, or an address near a base
      const uint32_t operand = rng() % 2 ? rng() % 256 : 0xFFF00000u + (rng() % 0x4000) * 4;
      for (int i = 0; i < (operand < 256 ? 1 : 4); ++i) out.push_back(static_cast<uint8_t>(operand >> (8 * i)));
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> SyntheticRom(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  static const char* const kStrings[] = {"Setup", "Boot Option", "Enabled", "Disabled", "SATA Port",
                                         "USB Legacy", "Memory Frequency", "Secure Boot", "CPU Ratio"};
  for (uint32_t piece = 0; out.size() < size; ++piece) {
    const size_t length = std::min<size_t>(size - out.size(), 16384 + rng() % (512 * 1024));
    const uint32_t kind = piece % 5;
    if (kind == 0 || kind == 3) out.insert(out.end(), length, 0xFF);
    if (kind == 1 || kind == 2) {
      const auto bytes = kind == 1 ? CodeLike(length, rng()) : RandomBytes(length / 3, rng());
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    for (const size_t end = out.size() + length / 2; kind == 4 && out.size() < end;) {
      // UCS-2 text, as setup strings are stored
      for (const char* s = kStrings[rng() % std::size(kStrings)]; *s; ++s) out.insert(out.end(), {uint8_t(*s), 0});
      out.insert(out.end(), {0, 0});
    }
  }
  out.resize(size, 0xFF);
  std::fill(out.end() - static_cast<std::ptrdiff_t>(std::min<size_t>(size, 65536)), out.end(), 0xFF);
  return out;
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
  std::string name = (std::filesystem::temp_directory_path() / "nox_test_XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make a directory like " + name);
  path = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string TempDir::Write(const std::string& name, std::span<const uint8_t> bytes) const {
  const std::string file = *this / name;
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return file;
}

Bits& Bits::Put(unsigned count, uint32_t value) {
  for (unsigned i = count; i-- > 0;) bits_.push_back((value >> i) & 1);
  return *this;
}

std::vector<uint8_t> Bits::Bytes() const {
  std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits_.size(); ++i)
    if (bits_[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return out;
}

Bits SingleCodeBlock(uint32_t blockSize, uint32_t literal, uint32_t position) {
  return Bits().Put(16, blockSize).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, literal).Put(4, 0).Put(4, position);
}

}  // namespace nox::package::testdata

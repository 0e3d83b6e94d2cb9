#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "package/HuffmanCode.h"

namespace nox::package {
namespace {

struct Distribution {
  std::string name;
  std::vector<uint32_t> frequencies;
};

std::vector<Distribution> Distributions() {
  std::vector<uint32_t> fib{1, 1};  // unlimited, the rarest of 40 symbols would need 39 bits
  while (fib.size() < 40) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint32_t> sparse(510, 0);
  std::mt19937 rng(3);
  for (auto& f : sparse) f = rng() % 3 == 0 ? 0 : 1 + rng() % 1000;
  std::vector<uint32_t> steep(510, 1);
  steep[65] = 1u << 30;
  return {{"Fibonacci40", fib}, {"Sparse510", sparse}, {"OneDominant", steep}, {"Two", {0, 5, 0, 9}}};
}

class LimitedLengths : public ::testing::TestWithParam<Distribution> {};

TEST_P(LimitedLengths, FormACompleteCodeWithinTheLimit) {
  const auto& freq = GetParam().frequencies;
  for (unsigned limit : {16u, 12u}) {
    const auto lengths = LimitedCodeLengths(freq, limit);
    uint64_t kraft = 0;  // a complete prefix code fills the code space exactly
    for (size_t s = 0; s < freq.size(); ++s) {
      if (lengths[s]) kraft += 1ull << (limit - lengths[s]);
      EXPECT_LE(lengths[s], limit);
      EXPECT_EQ(lengths[s] == 0, freq[s] == 0) << s;
      for (size_t t = 0; t < freq.size(); ++t) {
        if (freq[s] > freq[t] && freq[t] != 0) {
          EXPECT_LE(lengths[s], lengths[t]) << s << " vs " << t;
        }
      }
    }
    EXPECT_EQ(kraft, 1ull << limit) << "limit " << limit;
  }
}

INSTANTIATE_TEST_SUITE_P(Frequencies, LimitedLengths, ::testing::ValuesIn(Distributions()),
                         [](const auto& p) { return p.param.name; });

TEST(LimitedLengths, FewerThanTwoSymbolsGetNoCode) {
  EXPECT_EQ(LimitedCodeLengths(std::vector<uint32_t>{0, 0, 7, 0}, 16), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(LimitedCodeLengths(std::vector<uint32_t>(14, 0), 16), std::vector<uint8_t>(14, 0));
}

TEST(CanonicalCodes, ShorterFirstThenSymbolOrder) {
  EXPECT_EQ(CanonicalCodes(std::vector<uint8_t>{3, 0, 2, 3, 2, 2}), (std::vector<uint16_t>{0b110, 0, 0b00, 0b111, 0b01, 0b10}));
}

}  // namespace
}  // namespace nox::package

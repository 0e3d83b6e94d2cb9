#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/Lh5Decoder.h"
#include "package/Lh5Encoder.h"

namespace nox::package {
namespace {

using testdata::Bits;

std::vector<uint8_t> Decode(const std::vector<uint8_t>& stream, size_t size, size_t* written = nullptr) {
  std::vector<uint8_t> out(size, 0xAA);
  const size_t n = Lh5Decode(stream, out);
  if (written) *written = n;
  return out;
}

// ---------------------------------------------------------------------------------------
// Round trips: whatever the encoder makes, the decoder turns back into the input.

struct CorpusItem {
  std::string name;
  std::vector<uint8_t> (*make)();
  bool compressible;
};

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const CorpusItem kCorpus[] = {
    {"Empty", [] { return std::vector<uint8_t>{}; }, false},
    {"OneByte", [] { return std::vector<uint8_t>{0x5A}; }, false},
    {"ThreeBytes", [] { return std::vector<uint8_t>{1, 2, 3}; }, false},
    {"Zeros1MiB", [] { return std::vector<uint8_t>(1 << 20, 0); }, true},
    {"Random1MiB", [] { return testdata::RandomBytes(1 << 20, 7); }, false},
    {"CodeLike", [] { return testdata::CodeLike(300000, 11); }, true},
    {"CodeThenRandomThenCode",
     [] { return Concat(Concat(testdata::CodeLike(70000, 3), testdata::RandomBytes(40000, 4)), testdata::CodeLike(70000, 3)); },
     true},
    {"SyntheticRom8MiB", [] { return testdata::SyntheticRom(8 << 20, 1); }, true},
    // Byte k occurs fib(k) times in random order: the rare bytes need the longest codes the
    // format allows, beyond the first lookup.
    {"SkewedByteFrequencies",
     [] {
       std::vector<uint8_t> v;
       uint32_t a = 1, b = 1;
       for (uint8_t k = 0; k < 26; ++k) {
         v.insert(v.end(), a, static_cast<uint8_t>(k * 7));
         const uint32_t next = a + b;
         a = b;
         b = next;
       }
       std::shuffle(v.begin(), v.end(), std::mt19937(5));
       return v;
     },
     true},
    {"AllByteValuesRepeated",
     [] {
       std::vector<uint8_t> v;
       for (int r = 0; r < 300; ++r)
         for (int b = 0; b < 256; ++b) v.push_back(static_cast<uint8_t>(b ^ r));
       return v;
     },
     true},
};

class RoundTrip : public ::testing::TestWithParam<CorpusItem> {};

TEST_P(RoundTrip, DecodesBackToTheInput) {
  const std::vector<uint8_t> input = GetParam().make();
  const std::vector<uint8_t> stream = Lh5Encode(input);
  size_t written = 0;
  EXPECT_EQ(Decode(stream, input.size(), &written), input);
  EXPECT_EQ(written, input.size());
  if (GetParam().compressible) {
    EXPECT_LT(stream.size(), input.size() * 3 / 4);
  }
  // Random data may not grow by more than the block tables.
  EXPECT_LT(stream.size(), input.size() + input.size() / 64 + 64);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RoundTrip, ::testing::ValuesIn(kCorpus),
                         [](const auto& p) { return p.param.name; });

class OvmfRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(OvmfRoundTrip, DecodesBackToTheImage) {
  const auto image = testdata::ReadFile(std::string("/usr/share/OVMF/") + GetParam());
  if (!image) GTEST_SKIP() << "no OVMF image " << GetParam();
  const std::vector<uint8_t> stream = Lh5Encode(*image);
  EXPECT_EQ(Decode(stream, image->size()), *image);
}

INSTANTIATE_TEST_SUITE_P(Images, OvmfRoundTrip,
                         ::testing::Values("OVMF_CODE.fd", "OVMF_VARS.fd", "OVMF_CODE_4M.fd", "OVMF_VARS_4M.fd"),
                         [](const auto& p) {
                           std::string n = p.param;
                           std::replace(n.begin(), n.end(), '.', '_');
                           return n;
                         });

TEST(Lh5Encoder, ReportsProgressUpToTheWholeInput) {
  const auto input = testdata::CodeLike(200000, 5);
  size_t last = 0, calls = 0;
  Lh5Encode(input, [&](size_t done, size_t total) {
    EXPECT_EQ(total, input.size());
    EXPECT_GE(done, last);
    last = done;
    ++calls;
  });
  EXPECT_GT(calls, 1u);
  EXPECT_EQ(last, input.size());
}

// ---------------------------------------------------------------------------------------
// Decoder behaviour at the edges of the window and of the input.

TEST(Lh5Decoder, MatchAcrossTheWindowBoundaryIsCompleted) {
  // Random bytes only compress through the repeat, which starts before and ends after
  // output position 8192, with a distance close to the whole window.
  const auto head = testdata::RandomBytes(8100, 21);
  std::vector<uint8_t> input = head;
  input.insert(input.end(), head.begin(), head.begin() + 250);
  const auto stream = Lh5Encode(input);
  ASSERT_LT(stream.size(), input.size() - 150) << "the repeat was not coded as a match";
  EXPECT_EQ(Decode(stream, input.size()), input);
}

TEST(Lh5Decoder, AnyOutputLengthGivesThatPrefix) {
  const auto input = testdata::CodeLike(40000, 9);
  const auto stream = Lh5Encode(input);
  for (size_t size : {size_t{1}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{16384}, size_t{39999}}) {
    size_t written = 0;
    const auto out = Decode(stream, size, &written);
    EXPECT_EQ(written, size);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin())) << size;
  }
}

TEST(Lh5Decoder, TruncatedStreamStillYieldsTheFullSize) {
  const auto input = testdata::CodeLike(100000, 13);
  auto stream = Lh5Encode(input);
  stream.resize(stream.size() / 2);
  size_t written = 0;
  const auto out = Decode(stream, input.size(), &written);
  EXPECT_EQ(written, input.size());
  // Everything coded before the cut comes out unchanged.
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 20000, input.begin()));
  EXPECT_NE(out, input);
}

TEST(Lh5Decoder, NothingToWriteReturnsZero) {
  std::vector<uint8_t> out;
  EXPECT_EQ(Lh5Decode(std::vector<uint8_t>{1, 2, 3}, out), 0u);
}

// Header of a block whose three tables each name one symbol: every code is that symbol,
// and no bits are spent on it.
Bits SingleCodeBlock(uint32_t blockSize, uint32_t literal, uint32_t position = 0) {
  Bits b;
  b.Put(16, blockSize).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, literal).Put(4, 0).Put(4, position);
  return b;
}

TEST(Lh5Decoder, SingleCodeBlockRepeatsItsLiteral) {
  size_t written = 0;
  const auto out = Decode(SingleCodeBlock(5000, 'A').Bytes(), 5000, &written);
  EXPECT_EQ(written, 5000u);
  EXPECT_EQ(out, std::vector<uint8_t>(5000, 'A'));
}

TEST(Lh5Decoder, BlockSizeZeroMeans65536Codes) {
  // After 65536 codes the next block header comes from the zero bytes behind the input:
  // a single-code block of literal 0.
  const auto out = Decode(SingleCodeBlock(0, 'A').Bytes(), 70000);
  EXPECT_EQ(std::count(out.begin(), out.begin() + 65536, 'A'), 65536);
  EXPECT_EQ(std::count(out.begin() + 65536, out.end(), 0), 70000 - 65536);
}

TEST(Lh5Decoder, MatchReachingBeforeTheStartReadsTheInitialWindow) {
  // One match of 256 bytes (code 509) at distance 1, as the very first code.
  const auto out = Decode(SingleCodeBlock(1, 509, 0).Bytes(), 256);
  EXPECT_EQ(out, std::vector<uint8_t>(256, kInitialWindowByte));
}

TEST(Lh5Decoder, CodesLongerThanTheFirstLookupOfSmallTables) {
  // Code-length table: symbols 0,1,2,4..9 with lengths 1,2,3,4..9 and symbols 3 and 10 with
  // 10 bits, so "length 1" (symbol 3) is the 10-bit code 1111111110.
  testdata::Bits b;
  b.Put(16, 4).Put(5, 11);
  b.Put(3, 1).Put(3, 2).Put(3, 3).Put(2, 0);                  // symbols 0..2, no zero run
  b.Put(7, 0b1111110);                                        // symbol 3: 10 (unary)
  b.Put(3, 4).Put(3, 5).Put(3, 6);                            // symbols 4..6
  b.Put(4, 0b1110).Put(5, 0b11110).Put(6, 0b111110).Put(7, 0b1111110);  // symbols 7..10
  b.Put(9, 2).Put(10, 0b1111111110).Put(10, 0b1111111110);    // literals 0 and 1: one bit each
  b.Put(4, 0).Put(4, 0);                                      // single position code
  b.Put(4, 0b0110);                                           // data: 0 1 1 0
  size_t written = 0;
  EXPECT_EQ(Decode(b.Bytes(), 4, &written), (std::vector<uint8_t>{0, 1, 1, 0}));
  EXPECT_EQ(written, 4u);
}

TEST(Lh5Decoder, ExpandModuleTakesSizesFromTheDataHeader) {
  const auto input = testdata::CodeLike(30000, 17);
  const auto stream = Lh5Encode(input);
  std::vector<uint8_t> module(kDataHeaderSize);
  core::StoreLe32(module.data(), static_cast<uint32_t>(stream.size() + kDataHeaderSize));
  core::StoreLe32(module.data() + 4, static_cast<uint32_t>(input.size()));
  module.insert(module.end(), stream.begin(), stream.end());
  // Bytes behind the stored size are not part of the stream.
  module.insert(module.end(), 64, 0xFF);

  std::vector<uint8_t> out(input.size() + 10, 0);
  EXPECT_EQ(ExpandModule(out, module), input.size());
  EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin()));
  EXPECT_EQ(out[input.size()], 0);  // nothing written past the expanded size

  std::vector<uint8_t> small(input.size() - 1);
  EXPECT_EQ(ExpandModule(small, module), 0u);
  EXPECT_EQ(ExpandModule(out, core::ByteSpan(module).first(7)), 0u);
}

// ---------------------------------------------------------------------------------------
// Tables that do not form a usable prefix code stop the expansion early.

struct BadStream {
  const char* name;
  Bits (*make)();
  size_t expectWritten;
};

const BadStream kBadStreams[] = {
    {"CodeLengthTableOversubscribed",
     [] { return Bits().Put(16, 10).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Put(2, 0); }, 0},
    {"CodeLengthLongerThan16Bits", [] { return Bits().Put(16, 10).Put(5, 1).Put(16, 0xFFFF); }, 0},
    {"CodeLengthCountPastAlphabet", [] { return Bits().Put(16, 10).Put(5, 20).Put(16, 0); }, 0},
    {"PositionCountPastAlphabet",
     [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'A').Put(4, 15); }, 0},
    {"LiteralCountPastAlphabet", [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 3).Put(9, 511); }, 0},
    {"SingleLiteralOutsideAlphabet", [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 510); }, 0},
    {"SingleCodeLengthOutsideAlphabet", [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 19); }, 0},
    {"LiteralZeroRunPastAlphabet",
     [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 2).Put(9, 3).Put(9, 500); }, 0},
    {"LiteralTableOversubscribed",
     // Every literal length decodes as code 3 (length 1): three codes of one bit.
     [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 3).Put(9, 3); }, 0},
    {"SinglePositionOutsideAlphabet",
     [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'A').Put(4, 0).Put(4, 14); }, 0},
    {"PositionTableOversubscribed",
     [] {
       return Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'A').Put(4, 3).Put(3, 1).Put(3, 1).Put(3, 1);
     },
     0},
    {"UncoveredCodeOfIncompleteTable",
     // One literal (0) with a 1-bit code: "0" decodes, "1" belongs to no symbol.
     [] { return Bits().Put(16, 10).Put(5, 0).Put(5, 3).Put(9, 1).Put(4, 0).Put(4, 0).Put(1, 0).Put(1, 1); }, 1},
    {"SecondBlockBroken",
     [] { return SingleCodeBlock(4, 'B').Put(16, 10).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Put(2, 0); }, 4},
};

class InvalidTables : public ::testing::TestWithParam<BadStream> {};

TEST_P(InvalidTables, StopWithAShortResult) {
  const size_t size = 100;
  size_t written = 0;
  const auto out = Decode(GetParam().make().Bytes(), size, &written);
  EXPECT_EQ(written, GetParam().expectWritten);
}

INSTANTIATE_TEST_SUITE_P(Streams, InvalidTables, ::testing::ValuesIn(kBadStreams),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nox::package

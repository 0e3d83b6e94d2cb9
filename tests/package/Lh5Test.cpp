// The -lh5- coder: round trips, hand-made streams, damaged streams, and our streams against
// LHA implementations written elsewhere: liblhasa's decoder reads what our encoder writes,
// and our decoder reads what jlha's encoder writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <lha_decoder.h>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/HuffmanCode.h"
#include "package/Lh5Decoder.h"
#include "package/Lh5Encoder.h"

namespace nox::package {
namespace {

using Buffer = std::vector<uint8_t>;
using testdata::Bits;
using testdata::SingleCodeBlock;

Buffer Concat(Buffer a, const Buffer& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// liblhasa's -lh5- decoder over a stream in memory; what it produced before it stopped.
Buffer LhasaDecode(const Buffer& stream, size_t size) {
  std::pair<const Buffer*, size_t> source{&stream, 0};  // the stream and how far it was read
  const auto read = [](void* buf, size_t len, void* user) {
    auto& [bytes, at] = *static_cast<std::pair<const Buffer*, size_t>*>(user);
    const size_t n = std::min(len, bytes->size() - at);
    std::copy_n(bytes->data() + at, n, static_cast<uint8_t*>(buf));
    at += n;
    return n;
  };
  char method[] = "-lh5-";
  LHADecoder* decoder = lha_decoder_new(lha_decoder_for_name(method), read, &source, size);
  if (decoder == nullptr) return {};
  Buffer out(size);
  size_t done = 0;
  for (size_t n = 1; done < size && n != 0; done += n) n = lha_decoder_read(decoder, out.data() + done, size - done);
  lha_decoder_free(decoder);
  out.resize(done);
  return out;
}

// jlha's stream for `input`: the data of the first member of the level-2 archive it writes.
Buffer JlhaStream(const Buffer& input) {
  const testdata::TempDir dir;
  dir.Write("in.bin", input);
  const std::string command = "cd '" + dir.path.string() + "' && /usr/bin/jlha a2o5q out.lzh in.bin >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  const Buffer archive = testdata::ReadFile(dir / "out.lzh").value_or(Buffer{});
  // The member header: its size, the method, the packed and the original size.
  const auto headerSize = core::ReadLe16(archive, 0);
  const auto packed = core::ReadLe32(archive, 7);
  const auto method = core::SubSpan(archive, 2, 5);
  if (!headerSize || !packed || !method || core::ReadLe32(archive, 11) != input.size() ||
      !std::ranges::equal(*method, std::string_view("-lh5-")))
    return {};
  const auto stream = core::SubSpan(archive, *headerSize, *packed);
  return stream ? Buffer(stream->begin(), stream->end()) : Buffer{};
}

Buffer Ovmf(const char* name) { return testdata::ReadFile(std::string("/usr/share/OVMF/") + name).value_or(Buffer{}); }

// Whatever our encoder makes, our decoder and liblhasa's turn back into the input, in at most
// `ratio` of its size (plus room for the tables of a tiny input); where jlha compresses the
// input too, our decoder turns its stream back into the input.
TEST(Differential, EveryInputRoundTripsWithinItsSizeAndAgreesWithLiblhasaAndJlha) {
  Buffer skewed;  // byte k occurs fib(k) times in random order: the rare bytes need the longest codes
  for (uint32_t k = 0, a = 1, b = 1; k < 26; ++k, b += a, a = b - a) skewed.insert(skewed.end(), a, uint8_t(k * 7));
  std::shuffle(skewed.begin(), skewed.end(), std::mt19937(5));
  Buffer allValues;
  for (int r = 0; r < 300 * 256; ++r) allValues.push_back(static_cast<uint8_t>(r ^ (r >> 8)));
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "Boot Option #" + std::to_string(i % 37) + " ";
  // Random bytes only compress through the repeat, which starts before and ends after output
  // position 8192, with a distance close to the whole window.
  const auto head = testdata::RandomBytes(8100, 21);
  const auto code = testdata::CodeLike(70000, 3);
  constexpr double kStored = 1 + 1.0 / 64;  // random data may not grow by more than the block tables
  // name, input, ratio, whether jlha compresses it too (it stores random data as -lh0-)
  const std::tuple<const char*, Buffer, double, bool> corpus[] = {
      {"Empty", {}, kStored, false}, {"OneByte", {0x5A}, kStored, false}, {"ThreeBytes", {1, 2, 3}, kStored, false},
      {"Text", Buffer(text.begin(), text.end()), 0.75, true}, {"Zeros1MiB", Buffer(1 << 20, 0), 0.75, true},
      {"Random1MiB", testdata::RandomBytes(1 << 20, 7), kStored, false},
      {"CodeLike", testdata::CodeLike(300000, 11), 0.75, true},
      {"CodeThenRandomThenCode", Concat(Concat(code, testdata::RandomBytes(40000, 4)), code), 0.75, true},
      {"SyntheticRom8MiB", testdata::SyntheticRom(8 << 20, 1), 0.75, true},
      {"SkewedByteFrequencies", skewed, 0.75, true}, {"AllByteValuesRepeated", allValues, 0.75, true},
      {"RepeatAcrossTheWindowBoundary", Concat(head, Buffer(head.begin(), head.begin() + 250)), 0.97, false},
      {"OvmfCode", Ovmf("OVMF_CODE.fd"), kStored, true}, {"OvmfVars", Ovmf("OVMF_VARS.fd"), 0.75, true}};
  for (const auto& [name, input, ratio, viaJlha] : corpus) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(input.size() != 0 || std::string_view(name) == "Empty") << "input not available";
    const Buffer stream = Lh5Encode(input);
    Buffer out(input.size(), 0xAA);  // what a skipped byte would leave behind
    bool exact = false;
    EXPECT_EQ(Lh5Decode(stream, out, &exact), input.size());
    EXPECT_TRUE(out == input && exact);
    EXPECT_LT(double(stream.size()), double(input.size()) * ratio + 64);
    EXPECT_TRUE(LhasaDecode(stream, input.size()) == input) << "liblhasa on our stream";
    if (!viaJlha) continue;
    const auto jlha = JlhaStream(input);
    ASSERT_FALSE(jlha.empty()) << "no -lh5- member from /usr/bin/jlha";
    std::fill(out.begin(), out.end(), 0xAA);
    exact = false;
    EXPECT_EQ(Lh5Decode(jlha, out, &exact), input.size());
    EXPECT_TRUE(out == input && exact) << "ours on jlha's stream";
  }
}

// Damaged streams: flipped bits turn into other symbols, other tables, references before
// the start of the output. liblhasa stops at the end of the input and at a block that
// declares 0 codes, where we go on (zero bits, 65536 codes), and it may go on through
// tables we refuse; so the two agree on the bytes both of them produced.
TEST(DifferentialLiblhasa, DamagedStreamsAgreeWhileBothDecode) {
  const auto input = testdata::CodeLike(20000, 41);
  const auto clean = Lh5Encode(input);
  std::mt19937 rng(42);
  size_t compared = 0;
  for (int round = 0; round < 300; ++round) {
    auto stream = clean;
    for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
      stream[rng() % stream.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Buffer ours(input.size());
    const size_t written = Lh5Decode(stream, ours);
    const auto theirs = LhasaDecode(stream, input.size());
    const auto n = static_cast<std::ptrdiff_t>(std::min(written, theirs.size()));
    ASSERT_TRUE(std::equal(theirs.begin(), theirs.begin() + n, ours.begin())) << "round " << round;
    compared += static_cast<size_t>(n);
  }
  EXPECT_GT(compared, 300u * input.size() / 10);
}

TEST(Lh5Encoder, ReportsProgressUpToTheWholeInput) {
  const auto input = testdata::CodeLike(200000, 5);
  std::vector<size_t> done;
  Lh5Encode(input, [&](size_t now, size_t total) { done.push_back(total == input.size() ? now : 0); });
  EXPECT_GT(done.size(), 1u);
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end()) && done.front() > 0);
  EXPECT_EQ(done.back(), input.size());
}

TEST(Lh5Decoder, AnyOutputLengthGivesThatPrefixEvenFromATruncatedStream) {
  const auto input = testdata::CodeLike(100000, 13);
  const auto stream = Lh5Encode(input);
  for (size_t size : {0, 1, 8191, 8192, 8193, 16384, 39999}) {
    Buffer out(size, 0xAA);
    EXPECT_EQ(Lh5Decode(stream, out), size);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin())) << size;
  }
  // Cut in half, the stream still fills the whole output; what was coded before the cut is unchanged.
  Buffer out(input.size(), 0xAA);
  EXPECT_EQ(Lh5Decode(core::ByteSpan(stream).first(stream.size() / 2), out), input.size());
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 20000, input.begin()));
  EXPECT_NE(out, input);
}

TEST(Lh5Decoder, ExpandModuleTakesSizesFromTheDataHeader) {
  const auto input = testdata::CodeLike(30000, 17);
  const auto stream = Lh5Encode(input);
  Buffer module(kDataHeaderSize);
  core::StoreLe32(module.data(), static_cast<uint32_t>(stream.size() + kDataHeaderSize));
  core::StoreLe32(module.data() + 4, static_cast<uint32_t>(input.size()));
  module = Concat(Concat(module, stream), Buffer(64, 0xFF));  // bytes behind the stored size are not the stream's
  Buffer out(input.size() + 10, 0);
  bool exact = false;
  EXPECT_EQ(ExpandModule(out, module, &exact), input.size());
  EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin()) && exact);
  EXPECT_EQ(out[input.size()], 0);  // nothing written past the expanded size
  Buffer small(input.size() - 1);
  EXPECT_EQ(ExpandModule(small, module), 0u);
  EXPECT_EQ(ExpandModule(out, core::ByteSpan(module).first(7)), 0u);
}

// Hand-made streams. Tables that do not form a usable prefix code stop the expansion early:
// the decoder then reports only what it wrote before. A module is taken only from a stream
// that holds exactly its size: one that ends early, leaves codes or a match over, or has
// anything behind it but the zero bits of its last byte is damaged, checksum or not.
struct HandStream {
  const char* name;
  Bits bits;
  size_t size;
  Buffer expected;  // the output; its length is what the decoder reports written
  bool exact;
};

const HandStream kHandStreams[] = {
    {"SingleCodeBlockRepeatsItsLiteral", SingleCodeBlock(5000, 'A'), 5000, Buffer(5000, 'A'), true},
    // After 65536 codes the next header comes from the zero bytes behind the input: literal 0.
    {"BlockSizeZeroMeans65536Codes", SingleCodeBlock(0, 'A'), 70000, Concat(Buffer(65536, 'A'), Buffer(70000 - 65536, 0)),
     false},
    {"StreamEndsBeforeTheOutput", SingleCodeBlock(5000, 'A'), 5001, Concat(Buffer(5000, 'A'), Buffer(1, 0)), false},
    {"CodesOfTheLastBlockLeftOver", SingleCodeBlock(5000, 'A'), 4999, Buffer(4999, 'A'), false},
    {"ZeroByteBehindTheStream", SingleCodeBlock(5000, 'A').Put(8, 0), 5000, Buffer(5000, 'A'), false},
    {"NonZeroBitInTheLastByte", SingleCodeBlock(5000, 'A').Put(4, 1), 5000, Buffer(5000, 'A'), false},
    {"NothingFromNothing", Bits(), 0, {}, true},
    {"NothingFromABlock", SingleCodeBlock(1, 'A'), 0, {}, false},
    // One match of 256 bytes (code 509) at distance 1, as the very first code.
    {"MatchBeforeTheStartReadsTheInitialWindow", SingleCodeBlock(1, 509), 256, Buffer(256, kInitialWindowByte), true},
    {"MatchRunsPastTheOutput", SingleCodeBlock(1, 509), 255, Buffer(255, kInitialWindowByte), false},
    // Code-length table: symbols 0,1,2,4..9 with lengths 1,2,3,4..9 and symbols 3 and 10 with
    // 10 bits, so "length 1" (symbol 3) is the 10-bit code 1111111110.
    {"CodesLongerThanTheFirstLookup",
     Bits().Put(16, 4).Put(5, 11).Put(3, 1).Put(3, 2).Put(3, 3).Put(2, 0)  // symbols 0..2, no zero run
         .Put(7, 0b1111110)                                                 // symbol 3: 10 (unary)
         .Put(3, 4).Put(3, 5).Put(3, 6)                                     // symbols 4..6
         .Put(4, 0b1110).Put(5, 0b11110).Put(6, 0b111110).Put(7, 0b1111110) // symbols 7..10
         .Put(9, 2).Put(10, 0b1111111110).Put(10, 0b1111111110)             // literals 0 and 1: one bit each
         .Put(4, 0).Put(4, 0)                                               // single position code
         .Put(4, 0b0110),                                                   // data: 0 1 1 0
     4, Buffer{0, 1, 1, 0}, true},
    {"CodeLengthTableOversubscribed", Bits().Put(16, 10).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Put(2, 0), 100, {}, false},
    {"CodeLengthLongerThan16Bits", Bits().Put(16, 10).Put(5, 1).Put(16, 0xFFFF), 100, {}, false},
    {"CodeLengthCountPastAlphabet", Bits().Put(16, 10).Put(5, 20).Put(16, 0), 100, {}, false},
    {"PositionCountPastAlphabet", Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'A').Put(4, 15), 100, {}, false},
    {"LiteralCountPastAlphabet", Bits().Put(16, 10).Put(5, 0).Put(5, 3).Put(9, 511), 100, {}, false},
    {"SingleLiteralOutsideAlphabet", Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 510), 100, {}, false},
    {"SingleCodeLengthOutsideAlphabet", Bits().Put(16, 10).Put(5, 0).Put(5, 19), 100, {}, false},
    {"LiteralZeroRunPastAlphabet", Bits().Put(16, 10).Put(5, 0).Put(5, 2).Put(9, 3).Put(9, 500), 100, {}, false},
    // Every literal length decodes as code 3 (length 1): three codes of one bit.
    {"LiteralTableOversubscribed", Bits().Put(16, 10).Put(5, 0).Put(5, 3).Put(9, 3), 100, {}, false},
    {"SinglePositionOutsideAlphabet", SingleCodeBlock(10, 'A', 14), 100, {}, false},
    {"PositionTableOversubscribed",
     Bits().Put(16, 10).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'A').Put(4, 3).Put(3, 1).Put(3, 1).Put(3, 1), 100, {},
     false},
    // One literal (0) with a 1-bit code: "0" decodes, "1" belongs to no symbol.
    {"UncoveredCodeOfIncompleteTable",
     Bits().Put(16, 10).Put(5, 0).Put(5, 3).Put(9, 1).Put(4, 0).Put(4, 0).Put(1, 0).Put(1, 1), 100, Buffer{0}, false},
    {"SecondBlockBroken", SingleCodeBlock(4, 'B').Put(16, 10).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Put(2, 0), 100,
     Buffer(4, 'B'), false},
};

TEST(Lh5Decoder, HandMadeStreamsDecodeToTheExpectedPrefixAndSayWhetherExactly) {
  for (const HandStream& c : kHandStreams) {
    Buffer out(c.size, 0xAA);
    bool exact = !c.exact;
    ASSERT_EQ(Lh5Decode(c.bits.Bytes(), out, &exact), c.expected.size()) << c.name;
    EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), out.begin())) << c.name;
    EXPECT_EQ(exact, c.exact) << c.name;
  }
}

// ---- code lengths for the encoder ---------------------------------------------------------------

TEST(LimitedLengths, FormACompleteCodeWithinTheLimitOrNoneForFewerThanTwoSymbols) {
  std::vector<uint32_t> fib{1, 1};  // unlimited, the rarest of 40 symbols would need 39 bits
  while (fib.size() < 40) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint32_t> sparse(510, 0);
  std::mt19937 rng(3);
  for (auto& f : sparse) f = rng() % 3 == 0 ? 0 : 1 + rng() % 1000;
  std::vector<uint32_t> steep(510, 1);
  steep[65] = 1u << 30;
  for (const auto& freq : {fib, sparse, steep, std::vector<uint32_t>{0, 5, 0, 9}}) {
    for (unsigned limit : {16u, 12u}) {
      const auto lengths = LimitedCodeLengths(freq, limit);
      uint64_t kraft = 0;  // a complete prefix code fills the code space exactly
      for (size_t s = 0; s < freq.size(); ++s) {
        kraft += lengths[s] ? 1ull << (limit - lengths[s]) : 0;
        EXPECT_TRUE(lengths[s] <= limit && (lengths[s] == 0) == (freq[s] == 0)) << s;
        for (size_t t = 0; t < freq.size(); ++t)  // the more frequent symbol never has the longer code
          EXPECT_TRUE(freq[s] <= freq[t] || freq[t] == 0 || lengths[s] <= lengths[t]) << s << " vs " << t;
      }
      EXPECT_EQ(kraft, 1ull << limit) << freq.size() << " symbols, limit " << limit;
    }
  }
  EXPECT_EQ(LimitedCodeLengths(std::vector<uint32_t>{0, 0, 7, 0}, 16), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(LimitedCodeLengths(std::vector<uint32_t>(14, 0), 16), std::vector<uint8_t>(14, 0));
}

}  // namespace
}  // namespace nox::package

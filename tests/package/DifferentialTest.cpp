// Our -lh5- streams against LHA implementations written elsewhere: liblhasa's decoder reads
// what our encoder writes, and our decoder reads what jlha's encoder writes.
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
#include "package/Lh5Decoder.h"
#include "package/Lh5Encoder.h"

namespace nox::package {
namespace {

using Buffer = std::vector<uint8_t>;

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

TEST(Differential, LiblhasaDecodesOurStreamsAndWeDecodeJlhas) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "Boot Option #" + std::to_string(i % 37) + " ";
  const std::tuple<const char*, Buffer, bool> inputs[] = {  // name, input, whether jlha compresses it too
      {"Text", Buffer(text.begin(), text.end()), true}, {"CodeLike", testdata::CodeLike(500000, 31), true},
      {"Zeros", Buffer(300000, 0), true}, {"SyntheticRom", testdata::SyntheticRom(3 << 20, 33), true},
      {"OvmfCode", Ovmf("OVMF_CODE.fd"), true}, {"OvmfVars", Ovmf("OVMF_VARS.fd"), true},
      {"Random", testdata::RandomBytes(70000, 32), false}};  // jlha stores it as -lh0-
  for (const auto& [name, input, viaJlha] : inputs) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(input.empty()) << "input not available";
    EXPECT_TRUE(LhasaDecode(Lh5Encode(input), input.size()) == input) << "liblhasa on our stream";
    if (!viaJlha) continue;
    const auto stream = JlhaStream(input);
    ASSERT_FALSE(stream.empty()) << "no -lh5- member from /usr/bin/jlha";
    Buffer out(input.size());
    EXPECT_EQ(Lh5Decode(stream, out), input.size());
    EXPECT_TRUE(out == input) << "ours on jlha's stream";
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

}  // namespace
}  // namespace nox::package

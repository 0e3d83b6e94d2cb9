// Our -lh5- streams against LHA implementations written elsewhere: liblhasa's decoder reads
// what our encoder writes, and our decoder reads what jlha's encoder writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <lha_decoder.h>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/Lh5Decoder.h"
#include "package/Lh5Encoder.h"

namespace nox::package {
namespace {

// liblhasa's -lh5- decoder over a stream in memory; what it produced before it stopped.
std::vector<uint8_t> LhasaDecode(const std::vector<uint8_t>& stream, size_t size) {
  struct Source {
    const std::vector<uint8_t>* bytes;
    size_t at = 0;
  } source{&stream};
  const auto read = [](void* buf, size_t len, void* user) {
    auto* s = static_cast<Source*>(user);
    const size_t n = std::min(len, s->bytes->size() - s->at);
    std::copy_n(s->bytes->data() + s->at, n, static_cast<uint8_t*>(buf));
    s->at += n;
    return n;
  };
  char method[] = "-lh5-";
  LHADecoder* decoder = lha_decoder_new(lha_decoder_for_name(method), read, &source, size);
  if (decoder == nullptr) return {};
  std::vector<uint8_t> out(size);
  size_t done = 0;
  for (size_t n = 1; done < size && n != 0; done += n) n = lha_decoder_read(decoder, out.data() + done, size - done);
  lha_decoder_free(decoder);
  out.resize(done);
  return out;
}

struct Input {
  const char* name;
  std::vector<uint8_t> (*make)();
};

std::vector<uint8_t> Ovmf(const char* name) {
  return testdata::ReadFile(std::string("/usr/share/OVMF/") + name).value_or(std::vector<uint8_t>{});
}

std::vector<uint8_t> Text() {
  std::string t;
  for (int i = 0; i < 3000; ++i) t += "Boot Option #" + std::to_string(i % 37) + " ";
  return {t.begin(), t.end()};
}

const Input kInputs[] = {
    {"Text", Text},
    {"CodeLike", [] { return testdata::CodeLike(500000, 31); }},
    {"Zeros", [] { return std::vector<uint8_t>(300000, 0); }},
    {"SyntheticRom", [] { return testdata::SyntheticRom(3 << 20, 33); }},
    {"OvmfCode", [] { return Ovmf("OVMF_CODE.fd"); }},
    {"OvmfVars", [] { return Ovmf("OVMF_VARS.fd"); }},
};

class DifferentialLiblhasa : public ::testing::TestWithParam<Input> {};

TEST_P(DifferentialLiblhasa, DecodesOurStreams) {
  const auto input = GetParam().make();
  if (input.empty()) GTEST_SKIP() << "input not available";
  const auto stream = Lh5Encode(input);
  EXPECT_EQ(LhasaDecode(stream, input.size()), input);
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
    std::vector<uint8_t> ours(input.size());
    const size_t written = Lh5Decode(stream, ours);
    const auto theirs = LhasaDecode(stream, input.size());
    const size_t common = std::min(written, theirs.size());
    ASSERT_TRUE(std::equal(theirs.begin(), theirs.begin() + static_cast<std::ptrdiff_t>(common), ours.begin()))
        << "round " << round;
    compared += common;
  }
  EXPECT_GT(compared, 300u * input.size() / 10);
}

class DifferentialJlha : public ::testing::TestWithParam<Input> {};

TEST_P(DifferentialJlha, StreamsDecodeWithOurs) {
  const char* const jlha = "/usr/bin/jlha";
  if (!std::filesystem::exists(jlha)) GTEST_SKIP() << "jlha is not installed";
  const auto input = GetParam().make();
  if (input.empty()) GTEST_SKIP() << "input not available";
  const auto dir = std::filesystem::temp_directory_path() / (std::string("nox_jlha_") + GetParam().name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "in.bin").string(), std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  const std::string command = "cd '" + dir.string() + "' && " + jlha + " a2o5q out.lzh in.bin >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const auto archive = testdata::ReadFile((dir / "out.lzh").string());
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(archive);
  // The first member of the level-2 archive: header size, method, packed and original size.
  const auto headerSize = core::ReadLe16(*archive, 0);
  const auto packed = core::ReadLe32(*archive, 7);
  const auto original = core::ReadLe32(*archive, 11);
  ASSERT_TRUE(headerSize && packed && original);
  ASSERT_EQ(std::string(archive->begin() + 2, archive->begin() + 7), "-lh5-");
  ASSERT_EQ(*original, input.size());
  const auto stream = core::SubSpan(*archive, *headerSize, *packed);
  ASSERT_TRUE(stream);
  std::vector<uint8_t> out(input.size());
  EXPECT_EQ(Lh5Decode(*stream, out), input.size());
  EXPECT_EQ(out, input);
}

constexpr auto kName = [](const auto& p) { return std::string(p.param.name); };
INSTANTIATE_TEST_SUITE_P(Inputs, DifferentialJlha, ::testing::ValuesIn(kInputs), kName);
INSTANTIATE_TEST_SUITE_P(Inputs, DifferentialLiblhasa, ::testing::ValuesIn(kInputs), kName);
// jlha stores incompressible data as -lh0-, so random input is only checked this way.
const Input kWithRandom[] = {{"Random", [] { return testdata::RandomBytes(70000, 32); }}};
INSTANTIATE_TEST_SUITE_P(Random, DifferentialLiblhasa, ::testing::ValuesIn(kWithRandom), kName);

}  // namespace
}  // namespace nox::package

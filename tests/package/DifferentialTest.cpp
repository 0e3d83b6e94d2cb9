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

struct MemoryStream {
  const std::vector<uint8_t>* bytes;
  size_t at = 0;
};

size_t ReadMemory(void* buf, size_t len, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  const size_t n = std::min(len, s->bytes->size() - s->at);
  std::copy_n(s->bytes->data() + s->at, n, static_cast<uint8_t*>(buf));
  s->at += n;
  return n;
}

std::vector<uint8_t> LhasaDecode(const std::vector<uint8_t>& stream, size_t size) {
  char method[] = "-lh5-";
  MemoryStream source{&stream};
  LHADecoder* decoder = lha_decoder_new(lha_decoder_for_name(method), ReadMemory, &source, size);
  if (decoder == nullptr) return {};
  std::vector<uint8_t> out(size);
  size_t done = 0;
  while (done < size) {
    const size_t n = lha_decoder_read(decoder, out.data() + done, size - done);
    if (n == 0) break;
    done += n;
  }
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

const Input kInputs[] = {
    {"Text", [] { std::string t; for (int i = 0; i < 3000; ++i) t += "Boot Option #" + std::to_string(i % 37) + " "; return std::vector<uint8_t>(t.begin(), t.end()); }},
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

// The raw stream of the first member of a level-2 archive written by jlha.
struct Member {
  std::string method;
  std::vector<uint8_t> stream;
  uint32_t size = 0;
};

std::optional<Member> FirstMember(const std::vector<uint8_t>& archive) {
  const auto headerSize = core::ReadLe16(archive, 0);
  const auto packed = core::ReadLe32(archive, 7);
  const auto original = core::ReadLe32(archive, 11);
  if (!headerSize || !packed || !original || archive.size() < 7) return std::nullopt;
  const auto data = core::SubSpan(archive, *headerSize, *packed);
  if (!data) return std::nullopt;
  return Member{std::string(archive.begin() + 2, archive.begin() + 7), {data->begin(), data->end()}, *original};
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
  const auto member = FirstMember(*archive);
  ASSERT_TRUE(member);
  ASSERT_EQ(member->size, input.size());
  ASSERT_EQ(member->method, "-lh5-");
  std::vector<uint8_t> out(input.size());
  EXPECT_EQ(Lh5Decode(member->stream, out), input.size());
  EXPECT_EQ(out, input);
}

INSTANTIATE_TEST_SUITE_P(Inputs, DifferentialJlha, ::testing::ValuesIn(kInputs),
                         [](const auto& p) { return std::string(p.param.name); });

// jlha stores incompressible data as -lh0-, so random input is only checked this way.
const Input kWithRandom[] = {{"Random", [] { return testdata::RandomBytes(70000, 32); }}};

INSTANTIATE_TEST_SUITE_P(Inputs, DifferentialLiblhasa, ::testing::ValuesIn(kInputs),
                         [](const auto& p) { return std::string(p.param.name); });
INSTANTIATE_TEST_SUITE_P(Random, DifferentialLiblhasa, ::testing::ValuesIn(kWithRandom),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace nox::package

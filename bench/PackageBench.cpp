// Expansion speed against liblhasa's decoder on the same streams, and the time to open a
// packaged executable and take its ROM image out.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <lha_decoder.h>

#include "TestData.h"
#include "package/Lh5Decoder.h"
#include "package/Lh5Encoder.h"
#include "package/Package.h"
#include "package/PackageWriter.h"

namespace {

using namespace nox::package;

struct Sample {
  std::vector<uint8_t> plain;
  std::vector<uint8_t> stream;
};

const Sample& GetSample(int which) {
  static std::map<int, Sample> cache;
  auto it = cache.find(which);
  if (it != cache.end()) return it->second;
  Sample s;
  switch (which) {
    case 0: s.plain = testdata::SyntheticRom(8 << 20, 1); break;
    case 1: s.plain = testdata::ReadFile("/usr/share/OVMF/OVMF_CODE_4M.fd").value_or(std::vector<uint8_t>{}); break;
    case 2: s.plain = testdata::ReadFile("/usr/share/OVMF/OVMF_CODE.fd").value_or(std::vector<uint8_t>{}); break;
  }
  s.stream = Lh5Encode(s.plain);
  return cache.emplace(which, std::move(s)).first->second;
}

const char* SampleName(int which) {
  static const char* const names[] = {"synthetic_rom_8MiB", "OVMF_CODE_4M", "OVMF_CODE"};
  return names[which];
}

void BM_ExpandOurs(benchmark::State& state) {
  const Sample& s = GetSample(static_cast<int>(state.range(0)));
  if (s.plain.empty()) return state.SkipWithError("input missing");
  std::vector<uint8_t> out(s.plain.size());
  for (auto _ : state) {
    const size_t n = Lh5Decode(s.stream, out);
    benchmark::DoNotOptimize(n);
    if (n != out.size()) state.SkipWithError("short expansion");
  }
  if (out != s.plain) state.SkipWithError("wrong expansion");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.plain.size()));
  state.SetLabel(SampleName(static_cast<int>(state.range(0))));
}

struct MemoryStream {
  const std::vector<uint8_t>* bytes;
  size_t at = 0;
};

size_t ReadMemory(void* buf, size_t len, void* user) {
  auto* m = static_cast<MemoryStream*>(user);
  const size_t n = std::min(len, m->bytes->size() - m->at);
  std::copy_n(m->bytes->data() + m->at, n, static_cast<uint8_t*>(buf));
  m->at += n;
  return n;
}

void BM_ExpandLiblhasa(benchmark::State& state) {
  const Sample& s = GetSample(static_cast<int>(state.range(0)));
  if (s.plain.empty()) return state.SkipWithError("input missing");
  std::vector<uint8_t> out(s.plain.size());
  char method[] = "-lh5-";
  for (auto _ : state) {
    MemoryStream source{&s.stream};
    LHADecoder* d = lha_decoder_new(lha_decoder_for_name(method), ReadMemory, &source, out.size());
    size_t done = 0;
    while (done < out.size()) {
      const size_t n = lha_decoder_read(d, out.data() + done, out.size() - done);
      if (n == 0) break;
      done += n;
    }
    lha_decoder_free(d);
    if (done != out.size()) state.SkipWithError("short expansion");
  }
  if (out != s.plain) state.SkipWithError("wrong expansion");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.plain.size()));
  state.SetLabel(SampleName(static_cast<int>(state.range(0))));
}

BENCHMARK(BM_ExpandOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpandLiblhasa)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_Encode(benchmark::State& state) {
  const Sample& s = GetSample(static_cast<int>(state.range(0)));
  if (s.plain.empty()) return state.SkipWithError("input missing");
  for (auto _ : state) benchmark::DoNotOptimize(Lh5Encode(s.plain));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.plain.size()));
  state.SetLabel(SampleName(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_Encode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(2);

// A 10 MiB executable: program bytes, then a driver, the 8 MiB ROM image and small modules.
void BM_OpenAndExtractRom(benchmark::State& state) {
  const Sample& rom = GetSample(0);
  const auto path = (std::filesystem::temp_directory_path() / "nox_bench_tool.exe").string();
  {
    std::vector<std::vector<uint8_t>> modules;
    modules.push_back(*BuildModule({"@UII", std::vector<uint8_t>(200, 'i'), false, false}));
    modules.push_back(*BuildModule({"@W64", testdata::CodeLike(60000, 4), true, true}));
    modules.push_back(*BuildModule({"@R00", rom.plain, false, true}));
    modules.push_back(*BuildModule({"@CMD", std::vector<uint8_t>{'/', 'p'}, false, true}));
    const auto package = *BuildPackage(modules);
    // Program bytes in front, with a stray tag, to bring the file to 10 MiB.
    auto program = testdata::CodeLike((10u << 20) - package.size(), 5);
    std::copy_n("@ZPK", 4, program.begin() + 4096);
    const auto exe = AppendPackage(program, package);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(exe.data()), static_cast<std::streamsize>(exe.size()));
    state.counters["file_MiB"] = static_cast<double>(exe.size()) / (1 << 20);
  }
  for (auto _ : state) {
    Package p;
    ExtractedModule m;
    if (OpenPackage(p, path) != 0 || ExtractModule(p, "@R00", m) != 0 || m.size != rom.plain.size())
      state.SkipWithError("extraction failed");
    ClosePackage(p);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_OpenAndExtractRom)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

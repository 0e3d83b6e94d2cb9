// Host CPU time of a whole region update through the firmware layer and the simulated
// machine: erase, program and verify an 8 MiB main BIOS. Virtual pauses cost nothing here.
#include <benchmark/benchmark.h>

#include <random>

#include "firmware/SimRig.h"
#include "image/BlockEngine.h"

namespace {

using nox::firmware::FlashBlockEntry;

class WholeRegion : public nox::image::EngineLayout {
 public:
  std::vector<FlashBlockEntry> blocks{{0, 0x800000, 1}};
  std::span<const FlashBlockEntry> Blocks() const override { return blocks; }
  uint32_t RomSize() const override { return 0x800000; }
  bool BlockInRegion(size_t, nox::image::RegionKind kind) const override {
    return kind == nox::image::RegionKind::kMainBios;
  }
  std::vector<nox::image::HoleSpan> HolesOfKind(uint8_t) const override { return {}; }
};

void EraseProgramVerify8MiB(benchmark::State& state) {
  nox::testing::SimRig rig("minimal-1m", [](nox::sim::Profile& p) {
    p.flash.size = 0x800000;
    p.flash.blocks = {{0, 0x800000, 1}};
  });
  rig.Open();
  std::vector<uint8_t> image(0x800000);
  std::mt19937 random(1);
  for (auto& b : image) b = static_cast<uint8_t>(random());
  WholeRegion layout;
  nox::image::BlockEngine engine(*rig.smi, *rig.os, layout, image, {});
  for (auto _ : state) {
    const bool ok = engine.EraseRegion({}, nox::image::RegionKind::kMainBios) &&
                    engine.ProgramRegion({}, nox::image::RegionKind::kMainBios) &&
                    engine.VerifyRegion({}, nox::image::RegionKind::kMainBios);
    if (!ok) state.SkipWithError("the update failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 0x800000);
}
BENCHMARK(EraseProgramVerify8MiB)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

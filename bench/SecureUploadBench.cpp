// Host CPU time of handing a 16 MiB signed capsule to a secure-flash firmware through the
// firmware layer and the simulated machine (513 pieces of 32 KiB, the firmware keeping each),
// then the firmware's check of the whole image; and the utility's search for a capsule header
// inside an image, with the header near the end of 16 MiB.
#include <benchmark/benchmark.h>

#include "firmware/SecureFlash.h"
#include "firmware/SimRig.h"
#include "platform/sim/Capsule.h"

namespace {

void UploadAndVerify16MiB(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    nox::testing::SimRig rig("secure-16m");
    rig.Open();
    const auto& profile = rig.machine->GetProfile();
    const nox::sim::RomResult capsule = nox::sim::BuildCapsuleImage(profile, nox::sim::RunningRomOptions(profile), {});
    rig.secure->RequestSecureRegion(nox::firmware::secure::kRuntime, nox::firmware::secure::kMainBiosBit, std::nullopt,
                                    static_cast<uint32_t>(capsule.image.size()));
    state.ResumeTiming();
    if (!rig.secure->LoadImageToFirmware(capsule.image, 0, {}) || rig.secure->StartSecureFlashSession() != 0) {
      state.SkipWithError("the firmware did not take the image");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (16 << 20));
}
BENCHMARK(UploadAndVerify16MiB)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void EmbeddedHeaderSearch16MiB(benchmark::State& state) {
  std::vector<uint8_t> image(16 << 20, 0xFF);
  const auto marker = nox::firmware::secure::MarkerGuid().ToBytes();
  const auto capsule = nox::firmware::secure::CapsuleGuid().ToBytes();
  std::copy(marker.begin(), marker.end(), image.end() - 4096);
  std::copy(capsule.begin(), capsule.end(), image.end() - 4096 + 40);
  image[image.size() - 4096 + 40 + 28] = 64;
  for (auto _ : state) benchmark::DoNotOptimize(nox::firmware::EmbeddedCapsuleHeader(image));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (16 << 20));
}
BENCHMARK(EmbeddedHeaderSearch16MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

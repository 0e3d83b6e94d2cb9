// What the progress page costs the flash run of an 8 MiB part: erase in 64 KiB requests,
// program and verify in 1 KiB requests. The page model alone, then the terminal view drawing
// in place in colour (redraws throttled by the real clock) and as plain lines, both writing
// to /dev/null so the terminal's own speed stays out of the figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/Progress.h"
#include "ui/MainDialog.h"
#include "ui/TextMainDialog.h"
#include "ui/Ui.h"

namespace {

using namespace nox::ui;

constexpr uint32_t kPartSize = 8u << 20;
constexpr uint32_t kEraseRequest = 64u << 10;
constexpr uint32_t kRequest = 1u << 10;
// Requests of the three passes plus a start and an end marker each.
constexpr double kReportsPerPass = kPartSize / kEraseRequest + 2.0 * (kPartSize / kRequest) + 6;

template <typename Report>
void Pass(Report&& report, uint32_t step) {
  report(nox::core::kProgressStart, 0, 0);
  for (uint32_t address = 0; address < kPartSize; address += step) report(address, kPartSize, step);
  report(nox::core::kProgressEnd, kPartSize, 0);
}

void SetCounters(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kReportsPerPass));
  state.counters["per_report"] =
      benchmark::Counter(kReportsPerPass, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PageModel(benchmark::State& state) {
  ProgressPageModel page;
  page.Build({kPartSize, false, 0}, 0);
  page.SetRegionLabel("Main Bios.");
  for (auto _ : state) {
    page.ResetMap(kGrey);
    Pass([&](uint32_t a, uint32_t v, uint32_t l) { benchmark::DoNotOptimize(page.OnErasing(a, v, l)); },
         kEraseRequest);
    Pass([&](uint32_t a, uint32_t v, uint32_t l) { benchmark::DoNotOptimize(page.OnProgramming(a, v, l)); },
         kRequest);
    Pass([&](uint32_t a, uint32_t v, uint32_t l) { benchmark::DoNotOptimize(page.OnVerifying(a, v, l)); },
         kRequest);
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_PageModel)->Unit(benchmark::kMillisecond);

// The view only draws; nothing here asks the host or the user anything.
class IdleHost : public MainDialogHost {
 public:
  StartFacts Facts() override { return {}; }
  void ApplyStartPlan(const StartPlan&) override {}
  FlashFacts MapFacts() override { return {kPartSize, false, 0}; }
  uint32_t EcImageSize() override { return 0; }
  bool HasImage() override { return false; }
  InformationFacts InfoFacts() override { return {}; }
  SetupFacts PageSetupFacts() override { return {}; }
  // The progress page never reaches the Setup page's options.
  SetupBinding& Binding() override { std::abort(); }
  void OpenRomFile(FlashDialog&) override {}
  void SaveCurrentBios(FlashDialog&) override {}
  bool CheckUpdatePermission(std::string&) override { return true; }
  uint32_t ImageSize() override { return kPartSize; }
  uint32_t FlashSize(bool) override { return kPartSize; }
  uint32_t RetryCount() override { return 0; }
  void WaitMs(uint32_t) override {}
  void RunFlash(FlashDialog&) override {}
  [[noreturn]] void EndSession(uint32_t) override { std::abort(); }
};

class IdleUi : public Ui {
 public:
  Button MessageBox(const std::string&, const std::string&, uint32_t) override { return Button::kOk; }
  std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
  void ShowKorvInfo(const KorvInfo&) override {}
  void RunMainDialog(MainDialogHost&) override {}
  std::optional<std::string> OpenFileDialog(const FileDialogOptions&) override { return std::nullopt; }
  std::optional<std::string> SaveFileDialog(const FileDialogOptions&) override { return std::nullopt; }
  void Beep() override {}
  void ShowImageTransfer(uint32_t, uint32_t) override {}
};

void ViewRun(benchmark::State& state, TextViewStyle style) {
  std::FILE* out = std::fopen("/dev/null", "w");
  if (!out) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  {
    IdleHost host;
    IdleUi ui;
    TextMainDialog dialog(host, ui, out, [] { return std::nullopt; }, style);
    dialog.Page().Build(host.MapFacts(), 0);
    dialog.ShowProgressPage();
    dialog.SetMessageLines("Updating BIOS from", "Version A06 to A07.");
    dialog.SetRegionLabel("Main Bios.");
    for (auto _ : state) {
      dialog.ResetMap(kGrey);
      Pass([&](uint32_t a, uint32_t v, uint32_t l) { dialog.OnErasing(a, v, l); }, kEraseRequest);
      Pass([&](uint32_t a, uint32_t v, uint32_t l) { dialog.OnProgramming(a, v, l); }, kRequest);
      Pass([&](uint32_t a, uint32_t v, uint32_t l) { dialog.OnVerifying(a, v, l); }, kRequest);
      dialog.SetStatus("Done.");
    }
  }
  std::fclose(out);
  SetCounters(state);
}

void BM_TerminalColour(benchmark::State& state) { ViewRun(state, {true, true, false}); }
BENCHMARK(BM_TerminalColour)->Unit(benchmark::kMillisecond);

void BM_PlainLines(benchmark::State& state) { ViewRun(state, {}); }
BENCHMARK(BM_PlainLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Progress.h"
#include "ui/TextMainDialog.h"
#include "ui/TextUi.h"

namespace nox::ui {
namespace {

TEST(MainDialogStart, AutoRunNeedsARomAndARegionOptionAndDecidesThePagesOnce) {
  // "p", "b", "n", "e", "K", "KN[0-7]", "meuf", "me".
  for (uint32_t id : {3u, 4u, 5u, 7u, 8u, 9u, 41u, 42u}) {
    const std::vector<uint32_t> ids{1, id};
    EXPECT_TRUE(DecideAutoRun({true, false, ids, {}}) && DecideAutoRun({false, true, ids, {}})) << id;
    EXPECT_FALSE(DecideAutoRun({false, false, ids, {}})) << id;
  }
  const std::vector<uint32_t> others{0, 1, 2, 6, 10, 40, 43, 57};
  EXPECT_FALSE(DecideAutoRun({true, true, others, {}}));
  EXPECT_EQ(MainWindowTitle("B2"), "NOXWINGUI v.1.05.B2");
  // An automatic run shows only the Progress page (the other pages are proven on the menu below), once.
  MainDialogModel model;
  const std::vector<uint32_t> mainBios{3};
  EXPECT_EQ(model.Start({true, false, mainBios, {}})->pages, std::vector<Page>{Page::kProgress});
  EXPECT_FALSE(model.Start({})) << "a second start changes nothing";
}

// How the sizes are compared within the retries is proven on the window below; the window's timer ticks again
// and again, and only the first tick of an automatic run does anything.
TEST(MainDialogTimer, StartsOnceAndOnlyInAnAutomaticRun) {
  for (const bool autoRun : {true, false}) {
    const std::vector<uint32_t> ids{autoRun ? 4u : 6u};
    MainDialogModel model;
    model.Start({true, false, ids, {}});
    int calls = 0;
    const auto flashSize = [&](bool) { return ++calls, 0x800000u; };
    const TickPlan plan = model.Tick(0x800000, flashSize, 5);
    EXPECT_EQ(std::make_tuple(plan.postFlash, plan.stopTimer && plan.disableOpenAndSave, model.Started(), calls),
              std::make_tuple(autoRun, autoRun, autoRun, autoRun ? 1 : 0));
    const TickPlan again = model.Tick(0x800000, flashSize, 5);
    EXPECT_FALSE(again.postFlash || again.stopTimer || again.message || calls > 1) << autoRun;
  }
}

// ---- the window in a terminal ----------------------------------------------------------------
// The menu's words, the pages and Open and Save are driven as a user drives them in the window
// scenarios; here the automatic run, the progress log and the redrawn page.

constexpr uint32_t kRomSize = 0x400000;  // 16 rows of 256 KiB

// EndSession must not return; the test catches this instead.
struct SessionEnded { uint32_t id; };

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

std::vector<size_t> Counts(const std::string& text, const std::vector<std::string>& needles) {
  std::vector<size_t> counts;
  for (const std::string& needle : needles) counts.push_back(Count(text, needle));
  return counts;
}

// The window of an automatic run over a host that records what it is asked, printing into memory with its boxes;
// the menu is answered from `answers`.
class Rig : public MainDialogHost {
 public:
  ~Rig() override {
    std::fclose(in_);
    std::fclose(file_);
    std::free(buffer_);
  }
  StartFacts Facts() override { return {true, false, kMainBios, {}}; }
  void ApplyStartPlan(const StartPlan&) override {}
  FlashFacts MapFacts() override { return {kRomSize, false, 0}; }
  uint32_t EcImageSize() override { return 0; }
  bool HasImage() override { return true; }
  InformationFacts InfoFacts() override { throw std::logic_error("an automatic run has no Information page"); }
  SetupFacts PageSetupFacts() override { throw std::logic_error("an automatic run has no Setup page"); }
  SetupBinding& Binding() override { throw std::logic_error("an automatic run has no Setup page"); }
  void OpenRomFile(FlashDialog&) override { ADD_FAILURE() << "Open is disabled after an automatic start"; }
  void SaveCurrentBios(FlashDialog&) override { ADD_FAILURE() << "Save is disabled after an automatic start"; }
  bool CheckUpdatePermission(std::string& message) override {
    ++permissionChecks;
    message = refusal;
    return refusal.empty();
  }
  uint32_t ImageSize() override { return kRomSize; }
  // The sizes the firmware answers in turn, the last one from then on.
  uint32_t FlashSize(bool reread) override {
    rereads += reread;
    return flashSizes[std::min<size_t>(rereads, flashSizes.size() - 1)];
  }
  uint32_t RetryCount() override { return retries; }
  void WaitMs(uint32_t ms) override { waits.push_back(ms); }
  void RunFlash(FlashDialog& window) override {
    ++runs;
    if (run) run(window);
  }
  [[noreturn]] void EndSession(uint32_t errorId) override { throw SessionEnded{errorId}; }

  TextMainDialog& Make(TextViewStyle style = {}, TextMainDialog::Clock clock = {}) {
    const auto reader = [this]() -> std::optional<std::string> {
      ++asked;
      return asked <= static_cast<int>(answers.size()) ? std::optional(answers[asked - 1]) : std::nullopt;
    };
    return dialog.emplace(*this, ui_, file_, reader, style, std::move(clock));
  }
  // Runs the window until the session ends; its id, or nothing if Run returned.
  std::optional<uint32_t> RunToEnd() try {
    dialog->Run();
    return std::nullopt;
  } catch (const SessionEnded& ended) {
    return ended.id;
  }
  std::string Text() {
    std::fflush(file_);
    return {buffer_, size_};
  }
  std::FILE* File() const { return file_; }

  static constexpr uint32_t kMainBios[] = {3};
  std::string refusal;
  std::vector<uint32_t> flashSizes{kRomSize};
  uint32_t retries = 3;
  std::function<void(FlashDialog&)> run;
  std::vector<std::string> answers;
  int permissionChecks = 0, rereads = 0, runs = 0, asked = 0;
  std::vector<uint32_t> waits;
  std::optional<TextMainDialog> dialog;

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_ = open_memstream(&buffer_, &size_);
  std::FILE* in_ = std::fopen("/dev/null", "r");  // boxes take their first button
  TextUi ui_{in_, file_};
};

using Report = void (FlashDialog::*)(uint32_t, uint32_t, uint32_t);

// One pass as the engine reports it: start marker, a request per `step` bytes of [0, size), end marker.
// `tick` runs before every request, for a test clock.
void Pass(FlashDialog& dialog, Report report, uint32_t size, uint32_t step, const std::function<void()>& tick = {}) {
  (dialog.*report)(core::kProgressStart, 0, 0);
  for (uint32_t address = 0; address < size; address += step) {
    if (tick) tick();
    (dialog.*report)(address, kRomSize, step);
  }
  (dialog.*report)(core::kProgressEnd, kRomSize, 0);
}

// The opening of a Main Bios update, as the flash run does it.
void BeginMainBiosRun(FlashDialog& dialog) {
  dialog.ResetMap(kGrey);
  dialog.ShowProgressPage();
  dialog.SetMessageLines("Updating BIOS from", "Version A06 to A07.");
  dialog.SetRegionLabel("Main Bios.");
}

// The end of a run; a run that asked for a restart leaves the Flash button off.
void EndRun(FlashDialog& dialog, const char* status = "Done.", bool flashEnabled = false) {
  dialog.SetStatus(status);
  dialog.EnableFlashButton(flashEnabled);
}

// The log a run writes is proven on the whole runs of the program. The run starts after the timer, once a re-read
// size matches within the host's retries; otherwise a box ends the session first. A run that asked for a restart
// makes Run return without the menu.
TEST(TextMainDialogAutoRun, RunsTheFlashOnceTheSizesMatchAndEndsWithoutTheMenu) {
  struct Case { std::vector<uint32_t> sizes; uint32_t retries; std::optional<uint32_t> ended; int rereads, runs; };
  for (const Case& c : std::vector<Case>{{{kRomSize}, 3, std::nullopt, 0, 1}, {{kRomSize / 2}, 3, 48, 3, 0},
                                        {{0, kRomSize / 2, kRomSize}, 2, std::nullopt, 2, 1},
                                        {{0, 0, 0, kRomSize}, 2, 48, 2, 0}, {{0, kRomSize}, 0, 48, 0, 0}}) {
    Rig rig;
    std::tie(rig.flashSizes, rig.retries) = std::tie(c.sizes, c.retries);
    rig.run = [&](FlashDialog& dialog) { EndRun(dialog); };
    rig.Make();
    const std::optional<uint32_t> ended = rig.RunToEnd();
    const std::string box = "== NOXWINGUI ==\nFirmware file size does not match existing Firmware size.\n[OK] > ";
    EXPECT_EQ(std::tie(ended, rig.waits, rig.rereads, rig.runs, rig.asked),
              std::make_tuple(c.ended, std::vector<uint32_t>{500}, c.rereads, c.runs, 0))
        << c.sizes.size();
    EXPECT_EQ(Count(rig.Text(), box), c.ended ? 1u : 0u) << c.sizes.size();
  }
}

TEST(TextMainDialogMenu, ARunThatLeavesFlashEnabledOpensTheMenuAndEachFlashChecksPermissionFirst) {
  Rig rig;
  rig.refusal = "Flash is locked.";
  std::vector<std::string> reasons;
  // The automatic run and the first from the menu fail and leave the window open; the last,
  // permitted by then, asks for a restart.
  rig.run = [&](FlashDialog& dialog) {
    reasons.push_back(dialog.BlockingReason());
    EndRun(dialog, "Failed!", rig.runs < 3);
    if (rig.runs == 2) rig.refusal.clear();
  };
  rig.answers = {"f", "FLASH", "exit"};
  rig.Make();

  const std::optional<uint32_t> ended = rig.RunToEnd();
  EXPECT_EQ(std::tie(ended, rig.runs, rig.permissionChecks, rig.asked), std::make_tuple(std::nullopt, 3, 3, 2));
  EXPECT_EQ(reasons, (std::vector<std::string>{"Flash is locked.", "Flash is locked.Flash is locked.", ""}));
  // Open and Save stay disabled after the automatic start; the window's only page is the Progress page.
  const std::string text = rig.Text();
  EXPECT_EQ(Counts(text, {"Failed!\n", "(Open) [Flash] (Save) [Exit] > ", "[Setup]"}), (std::vector<size_t>{1, 2, 0}));
}

TEST(TextMainDialogTerminal, RedrawsInPlaceAtMostOncePerIntervalButNotOverAMessageBox) {
  Rig rig;
  uint64_t now = 10'000;
  // Half the part in 64 KiB erase requests, 25 ms apart: a whole number of redraw intervals.
  constexpr uint64_t kTick = 25, kErasePassMs = kRomSize / 2 / 0x10000 * kTick;
  static_assert(kErasePassMs % kRedrawIntervalMs == 0);
  rig.run = [&](FlashDialog& dialog) {
    BeginMainBiosRun(dialog);
    Pass(dialog, &FlashDialog::OnErasing, kRomSize / 2, 0x10000, [&] { now += kTick; });
    std::fputs("box\n", rig.File());
    rig.dialog->Detach();
    // A new stage is drawn at once, even within the interval.
    dialog.SetRegionLabel("BB.");
    dialog.OnVerifying(core::kProgressStart, 0, 0);
    EndRun(dialog);
  };
  TextMainDialog& dialog = rig.Make(TextViewStyle{true, false, false}, [&now] { return now; });
  EXPECT_EQ(rig.RunToEnd(), std::nullopt);

  // The pass's first frame, then one per elapsed interval and none for the end marker. Every redraw climbs back
  // exactly over the page drawn before, except the first and the one below the box.
  const std::string text = rig.Text();
  const size_t pageLines = Count(dialog.RenderPage(), "\n"), erasing = 1 + kErasePassMs / kRedrawIntervalMs;
  const std::string up = "\x1b[" + std::to_string(pageLines) + "A";
  EXPECT_EQ(Counts(text, {"\x1b[2KStage: Erasing Main Bios.\n", "\x1b[2KStage: Verifying BB.\n",
                          "\x1b[2KStage: Done.\n"}),
            (std::vector<size_t>{erasing, 1, 1}));
  EXPECT_EQ(Count(text, up), Count(text, "\x1b[2KStage: ") - 2);
  EXPECT_EQ(Count(text, "\x1b["), Count(text, up) + Count(text, "\x1b[2K"));
  const size_t box = text.find("box\n");
  ASSERT_NE(box, std::string::npos);
  EXPECT_EQ(text.find("\x1b[", box), text.find("\x1b[2K", box)) << "the page below the box starts afresh";

  // The last frame: half the part erased, the rest untouched, letters only.
  const std::string last = text.substr(text.rfind(up) + up.size());
  EXPECT_EQ(Counts(last, {"\x1b[2K  EEEEEEEEEEEEEEEE\n", "\x1b[2K  ................\n", "\x1b[2K",
                          "Version A06 to A07.\n", "Stage: Done.\n"}),
            (std::vector<size_t>{8, 8, pageLines, 1, 1}));
}

TEST(TextMainDialogTerminal, ColourStyleDrawsBlocksAndTheLegend) {
  Rig rig;
  TextMainDialog& dialog = rig.Make(TextViewStyle{true, true, false});
  ASSERT_TRUE(dialog.Page().Build(rig.MapFacts(), 64 * 128));
  dialog.SetRegionLabel("Main Bios.");
  Pass(dialog, &FlashDialog::OnErasing, 0x10000, 0x10000);  // the first four cells
  dialog.OnEcProgress(16, 64);  // a quarter of a 64-block EC image: a quarter of the bar

  const std::string page = dialog.RenderPage();
  std::string firstRow = "BIOS Map(Each Block is 16K)\n  ";
  for (int i = 0; i < 16; ++i) firstRow += i < 4 ? "\x1b[107m  \x1b[0m" : "\x1b[100m  \x1b[0m";  // erased, grey
  EXPECT_EQ(Counts(page, {"\n", firstRow + "\n",
                          "\n  \x1b[106m  \x1b[0m Read \x1b[107m  \x1b[0m Erase \x1b[41m  \x1b[0m Program "
                          "\x1b[42m  \x1b[0m Verify\nEmbedded Controller Firmware [########........................]\n"
                          "Stage: Programming EC.\nPercent: 25%\n"}),
            (std::vector<size_t>{2 + 1 + 16 + 1 + 1 + 2, 1, 1}));
  // Colour values are 0x00BBGGRR: 24-bit colours take red from the low byte and ignore the top
  // one; a colour of no state is grey, or '#' as a letter.
  EXPECT_EQ(AnsiBackground(StateColour(MapState::kRead), true), "\x1b[48;2;190;220;255m");
  EXPECT_EQ(AnsiBackground(0xFF563412, true) + AnsiBackground(0xFF563412, false), "\x1b[48;2;18;52;86m\x1b[100m");
  EXPECT_EQ(std::string({CellLetter(StateColour(MapState::kProgram), true), CellLetter(0xFF563412, true)}), "P#");
}

}  // namespace
}  // namespace nox::ui

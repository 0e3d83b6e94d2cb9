#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Progress.h"
#include "ui/MainDialog.h"
#include "ui/TextMainDialog.h"
#include "ui/Ui.h"

namespace nox::ui {
namespace {

constexpr uint32_t kRomSize = 0x400000;  // 16 rows of 256 KiB

// EndSession must not return; the test catches this instead.
struct SessionEnded {
  uint32_t id;
};

class FakeHost : public MainDialogHost {
 public:
  StartFacts Facts() override {
    StartFacts facts;
    facts.packageSuppliedRom = packageSuppliedRom;
    facts.selectedOptionIds = selectedOptionIds;
    return facts;
  }
  void ApplyStartPlan(const StartPlan&) override {}
  FlashFacts MapFacts() override { return {kRomSize, false, 0}; }
  uint32_t EcImageSize() override { return 0; }
  bool HasImage() override { return hasImage; }
  bool CheckUpdatePermission(std::string& message) override {
    ++permissionChecks;
    if (!permitted) message = refusal;
    return permitted;
  }
  uint32_t ImageSize() override { return imageSize; }
  uint32_t FlashSize(bool reread) override {
    (reread ? rereads : firstReads) += 1;
    return flashSize;
  }
  uint32_t RetryCount() override { return retryCount; }
  void WaitMs(uint32_t ms) override { waits.push_back(ms); }
  void RunFlash(FlashDialog& dialog) override {
    ++runs;
    if (run) run(dialog);
  }
  [[noreturn]] void EndSession(uint32_t errorId) override { throw SessionEnded{errorId}; }

  bool packageSuppliedRom = false;
  std::vector<uint32_t> selectedOptionIds;
  bool hasImage = true;
  bool permitted = true;
  std::string refusal;
  uint32_t imageSize = kRomSize;
  uint32_t flashSize = kRomSize;
  uint32_t retryCount = 3;
  std::function<void(FlashDialog&)> run;

  int permissionChecks = 0;
  int firstReads = 0;
  int rereads = 0;
  int runs = 0;
  std::vector<uint32_t> waits;
};

class FakeUi : public Ui {
 public:
  struct Box {
    std::string text;
    std::string title;
    uint32_t style;
  };
  Button MessageBox(const std::string& text, const std::string& title, uint32_t boxStyle) override {
    boxes.push_back({text, title, boxStyle});
    return Button::kOk;
  }
  std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
  void ShowKorvInfo(const KorvInfo&) override {}
  void RunMainDialog(MainDialogHost&) override {}

  std::vector<Box> boxes;
};

// What the dialog prints, read back from a temporary file.
class Output {
 public:
  Output() : file_(std::tmpfile()) {
    if (!file_) throw std::runtime_error("no temporary file");
  }
  ~Output() {
    if (file_) std::fclose(file_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::FILE* File() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    const long end = std::ftell(file_);
    std::string text(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    std::rewind(file_);
    text.resize(std::fread(text.data(), 1, text.size(), file_));
    std::fseek(file_, 0, SEEK_END);
    return text;
  }

 private:
  std::FILE* file_;
};

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Answers the menu from a script; counts how often it was asked.
struct Script {
  std::deque<std::string> answers;
  int asked = 0;
  TextMainDialog::LineReader Reader() {
    return [this]() -> std::optional<std::string> {
      ++asked;
      if (answers.empty()) return std::nullopt;
      std::string line = answers.front();
      answers.pop_front();
      return line;
    };
  }
};

// Runs the window until the session ends; returns its id, or nothing if Run returned.
std::optional<uint32_t> RunToEnd(TextMainDialog& dialog) {
  try {
    dialog.Run();
  } catch (const SessionEnded& ended) {
    return ended.id;
  }
  return std::nullopt;
}

// A window over fake ports, printing into a temporary file.
struct Rig {
  FakeHost host;
  FakeUi ui;
  Output out;
  Script script;
  std::optional<TextMainDialog> dialog;

  TextMainDialog& Make(TextViewStyle style = {}, TextMainDialog::Clock clock = {}) {
    dialog.emplace(host, ui, out.File(), script.Reader(), style, std::move(clock));
    return *dialog;
  }
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

// A run that ends in a restart: the Flash button stays off.
void EndRun(FlashDialog& dialog) {
  dialog.SetStatus("Done.");
  dialog.EnableFlashButton(false);
}

void AutoRunFacts(FakeHost& host) {
  host.packageSuppliedRom = true;
  host.selectedOptionIds = {3};
}

TEST(TextMainDialogAutoRun, RunsTheFlashOnceAndLogsOneLinePerMapRow) {
  Rig rig;
  AutoRunFacts(rig.host);
  constexpr uint32_t kProgramStep = 0x1000;
  std::string blockingReason = "not asked";
  rig.host.run = [&](FlashDialog& dialog) {
    blockingReason = dialog.BlockingReason();
    BeginMainBiosRun(dialog);
    Pass(dialog, &FlashDialog::OnErasing, kRomSize, 0x10000);
    Pass(dialog, &FlashDialog::OnProgramming, kRomSize, kProgramStep);
    EndRun(dialog);
  };
  TextMainDialog& dialog = rig.Make();

  dialog.Run();  // returns: the run asked for a restart

  EXPECT_EQ(rig.host.waits, std::vector<uint32_t>{500});
  EXPECT_EQ(rig.host.permissionChecks, 1);
  EXPECT_EQ(blockingReason, "");
  EXPECT_EQ(rig.host.runs, 1);
  EXPECT_EQ(rig.script.asked, 0) << "the menu must not open after a restart was requested";
  EXPECT_TRUE(rig.ui.boxes.empty());

  const std::string text = rig.out.Text();
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "NOXWINGUI v.1.05");
  EXPECT_EQ(lines[1], "================");
  EXPECT_EQ(Count(text, "[Open]"), 0u);

  // The page's template texts are no progress and stay out of the log.
  EXPECT_EQ(lines[2], "BIOS Map(Each Block is 16K): 16 rows of 16 cells");
  EXPECT_EQ(lines[3], "Updating BIOS from");
  EXPECT_EQ(lines[4], "Version A06 to A07.");
  EXPECT_EQ(lines[5], "Erasing Main Bios.");
  EXPECT_EQ(Count(text, "None"), 0u);

  EXPECT_EQ(Count(text, "Erasing Main Bios.\n"), 1u);
  EXPECT_EQ(Count(text, "Programming Main Bios.\n"), 1u);
  EXPECT_EQ(lines.back(), "Done.");

  // One address line per row and pass; the 1024 program requests do not each get one, and
  // the markers' base and all-ones values never show up.
  EXPECT_EQ(Count(text, "  Address: "), 2u * 16);
  EXPECT_EQ(Count(text, "FFFFFFFFh"), 0u);
  for (uint32_t row = 0; row < 16; ++row) {
    const std::string line = "  Address: " + AddressText(0xFFC00000 + row * 0x40000) + "\n";
    EXPECT_EQ(Count(text, line), 2u) << line;
  }
  EXPECT_LT(lines.size(), kRomSize / kProgramStep / 10);
}

TEST(TextMainDialogAutoRun, ARunThatLeavesFlashEnabledOpensTheMenu) {
  Rig rig;
  AutoRunFacts(rig.host);
  rig.host.run = [](FlashDialog& dialog) {
    BeginMainBiosRun(dialog);
    dialog.SetStatus("Failed!");
    dialog.EnableFlashButton(true);
  };
  TextMainDialog& dialog = rig.Make();

  EXPECT_EQ(RunToEnd(dialog), std::optional<uint32_t>(0)) << "the menu's end of input ends the session";
  EXPECT_EQ(rig.host.runs, 1);
  EXPECT_EQ(rig.script.asked, 1);
  const std::string text = rig.out.Text();
  EXPECT_NE(text.find("Failed!\n"), std::string::npos);
  EXPECT_NE(text.find("[Open] [Setup] [Flash] [Save] [Exit] > "), std::string::npos);
}

TEST(TextMainDialogAutoRun, SizeMismatchEndsTheSessionBeforeTheRun) {
  Rig rig;
  AutoRunFacts(rig.host);
  rig.host.imageSize = kRomSize;
  rig.host.flashSize = kRomSize / 2;
  rig.host.retryCount = 3;
  TextMainDialog& dialog = rig.Make();

  EXPECT_EQ(RunToEnd(dialog), std::optional<uint32_t>(48)) << "a size mismatch must end the session";
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "Firmware file size does not match existing Firmware size.");
  EXPECT_EQ(rig.ui.boxes[0].title, kAppTitle);
  EXPECT_EQ(rig.host.firstReads, 1);
  EXPECT_EQ(rig.host.rereads, 3);
  EXPECT_EQ(rig.host.runs, 0);
  EXPECT_EQ(rig.script.asked, 0);
}

TEST(TextMainDialogMenu, AnswersEachButtonAndEndsOnExit) {
  Rig rig;
  rig.host.hasImage = false;
  rig.script.answers = {"open", "Save", "  SETUP\t", "flash", "", "bogus", "o", "s", "exit", "open"};

  EXPECT_EQ(RunToEnd(rig.Make()), std::optional<uint32_t>(0));

  EXPECT_EQ(rig.script.asked, 9) << "nothing is read after exit";
  EXPECT_TRUE(rig.host.waits.empty());
  EXPECT_EQ(rig.host.runs, 0);
  const std::string text = rig.out.Text();
  EXPECT_EQ(Count(text, "[Open] [Setup] (Flash) [Save] [Exit] > "), 9u);
  EXPECT_EQ(Count(text, "Open: not available yet.\n"), 2u);
  EXPECT_EQ(Count(text, "Save: not available yet.\n"), 2u);
  EXPECT_EQ(Count(text, "Setup: not available yet.\n"), 1u);
  EXPECT_EQ(Count(text, "Flash: there is no ROM image to flash.\n"), 2u);
  EXPECT_EQ(Count(text, "Please choose one of the buttons.\n"), 1u);
}

TEST(TextMainDialogMenu, FlashChecksPermissionAndReturnsOnlyWhenTheRunDisabledIt) {
  Rig rig;
  rig.host.permitted = false;
  rig.host.refusal = "Flash is locked.";
  std::vector<std::string> reasons;
  // The first run fails and leaves the window open; the second asks for a restart.
  rig.host.run = [&](FlashDialog& dialog) {
    reasons.push_back(dialog.BlockingReason());
    dialog.EnableFlashButton(rig.host.runs == 1);
  };
  rig.script.answers = {"f", "FLASH", "exit"};

  EXPECT_EQ(RunToEnd(rig.Make()), std::nullopt);

  EXPECT_EQ(rig.host.runs, 2);
  EXPECT_EQ(rig.host.permissionChecks, 2);
  EXPECT_EQ(rig.script.asked, 2);
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], "Flash is locked.");
  EXPECT_NE(reasons[1].find("Flash is locked."), std::string::npos);
  EXPECT_EQ(Count(rig.out.Text(), "[Open] [Setup] [Flash] [Save] [Exit] > "), 2u);
}

TEST(TextMainDialogTerminal, RedrawsInPlaceAtMostOncePerInterval) {
  Rig rig;
  AutoRunFacts(rig.host);
  uint64_t now = 10'000;
  constexpr uint64_t kTick = 25;  // per request
  constexpr uint32_t kErased = kRomSize / 2;
  constexpr uint32_t kEraseStep = 0x10000;
  constexpr uint64_t kErasePassMs = kErased / kEraseStep * kTick;
  static_assert(kErasePassMs % kRedrawIntervalMs == 0);
  std::string pageBeforeVerify;
  rig.host.run = [&](FlashDialog& dialog) {
    BeginMainBiosRun(dialog);
    Pass(dialog, &FlashDialog::OnErasing, kErased, kEraseStep, [&] { now += kTick; });
    // A new stage is drawn at once, even within the interval.
    dialog.SetRegionLabel("BB.");
    dialog.OnVerifying(core::kProgressStart, 0, 0);
    EndRun(dialog);
  };
  TextMainDialog& dialog = rig.Make(TextViewStyle{true, false, false}, [&now] { return now; });

  dialog.Run();

  const std::string text = rig.out.Text();
  // The first frame of the pass, then one per elapsed interval, and none for the end marker.
  EXPECT_EQ(Count(text, "\x1b[2KStage: Erasing Main Bios.\n"), 1 + kErasePassMs / kRedrawIntervalMs);
  EXPECT_EQ(Count(text, "\x1b[2KStage: Verifying BB.\n"), 1u);
  EXPECT_EQ(Count(text, "\x1b[2KStage: Done.\n"), 1u);

  // Every redraw climbs back exactly over the page drawn before.
  const size_t pageLines = Lines(dialog.RenderPage()).size();
  EXPECT_EQ(pageLines, 2 + 1 + 16 + 1 + 2u);
  const std::string up = "\x1b[" + std::to_string(pageLines) + "A";
  const size_t frames = Count(text, "\x1b[2KStage: ");
  EXPECT_EQ(Count(text, up), frames - 1);
  EXPECT_EQ(Count(text, "\x1b["), Count(text, up) + Count(text, "\x1b[2K"));

  // The last frame: half the part erased, the rest untouched, letters only.
  const std::string last = text.substr(text.rfind(up) + up.size());
  EXPECT_EQ(Count(last, "\x1b[2K  EEEEEEEEEEEEEEEE\n"), 8u);
  EXPECT_EQ(Count(last, "\x1b[2K  ................\n"), 8u);
  EXPECT_EQ(Count(last, "\x1b[2K"), pageLines);
  EXPECT_NE(last.find("Version A06 to A07.\n"), std::string::npos);
  EXPECT_NE(last.find("Stage: Done.\n"), std::string::npos);
}

TEST(TextMainDialogTerminal, AMessageBoxIsNotDrawnOver) {
  Rig rig;
  FakeUi ui;
  rig.script.answers = {"flash"};
  uint64_t now = 10'000;
  TextMainDialog* view = nullptr;
  rig.host.run = [&](FlashDialog& dialog) {
    BeginMainBiosRun(dialog);
    std::fputs("box\n", rig.out.File());
    view->Detach();
    now += kRedrawIntervalMs;
    dialog.SetStatus("Failed!");
    dialog.EnableFlashButton(false);
  };
  TextMainDialog& dialog = rig.Make(TextViewStyle{true, false, false}, [&now] { return now; });
  view = &dialog;

  dialog.Run();

  ASSERT_EQ(rig.host.runs, 1);
  const std::string text = rig.out.Text();
  const size_t box = text.find("box\n");
  ASSERT_NE(box, std::string::npos);
  EXPECT_EQ(text.find("\x1b[", box), text.find("\x1b[2K", box)) << "the page below the box starts afresh";
  EXPECT_NE(text.find("Stage: Failed!\n", box), std::string::npos);
}

TEST(TextMainDialogTerminal, ColourStyleDrawsBlocksAndTheLegend) {
  Rig rig;
  TextMainDialog& dialog = rig.Make(TextViewStyle{true, true, false});
  ASSERT_TRUE(dialog.Page().Build(rig.host.MapFacts(), 0));
  dialog.SetRegionLabel("Main Bios.");
  Pass(dialog, &FlashDialog::OnErasing, 0x10000, 0x10000);  // the first four cells

  const std::vector<std::string> lines = Lines(dialog.RenderPage());
  ASSERT_EQ(lines.size(), 2 + 1 + 16 + 1 + 2u);
  const std::string erased = "\x1b[107m  \x1b[0m";
  const std::string grey = "\x1b[100m  \x1b[0m";
  std::string firstRow = "  ";
  for (int i = 0; i < 16; ++i) firstRow += i < 4 ? erased : grey;
  EXPECT_EQ(lines[3], firstRow);
  EXPECT_EQ(Count(lines[4], grey), 16u);
  EXPECT_EQ(lines[19], "  \x1b[106m  \x1b[0m Read \x1b[107m  \x1b[0m Erase \x1b[41m  \x1b[0m Program "
                       "\x1b[42m  \x1b[0m Verify");
  EXPECT_EQ(lines[20], "Stage: Erasing Main Bios.");
  EXPECT_EQ(lines[21], "Address: FFFFFFFFh");
}

TEST(TextMainDialogColours, AnsiBackgrounds) {
  EXPECT_EQ(AnsiBackground(StateColour(MapState::kRead), false), "\x1b[106m");
  EXPECT_EQ(AnsiBackground(StateColour(MapState::kErase), false), "\x1b[107m");
  EXPECT_EQ(AnsiBackground(StateColour(MapState::kProgram), false), "\x1b[41m");
  EXPECT_EQ(AnsiBackground(StateColour(MapState::kVerify), false), "\x1b[42m");
  EXPECT_EQ(AnsiBackground(kGrey, false), "\x1b[100m");
  EXPECT_EQ(AnsiBackground(0x00FF0000, false), "\x1b[100m");  // blue is no state colour
  EXPECT_EQ(AnsiBackground(0xFFFFFFFF, false), "\x1b[100m");

  // Colour values are 0x00BBGGRR: red comes from the low byte.
  EXPECT_EQ(AnsiBackground(ToColorRef({0x12, 0x34, 0x56}), true), "\x1b[48;2;18;52;86m");
  EXPECT_EQ(AnsiBackground(StateColour(MapState::kProgram), true), "\x1b[48;2;255;0;0m");
  EXPECT_EQ(AnsiBackground(0xFF000000, true), "\x1b[48;2;0;0;0m");
}

TEST(TextMainDialogColours, CellLetters) {
  EXPECT_EQ(CellLetter(kGrey, false), '.');
  EXPECT_EQ(CellLetter(StateColour(MapState::kErase), false), '.');
  EXPECT_EQ(CellLetter(StateColour(MapState::kRead), true), 'R');
  EXPECT_EQ(CellLetter(StateColour(MapState::kErase), true), 'E');
  EXPECT_EQ(CellLetter(StateColour(MapState::kProgram), true), 'P');
  EXPECT_EQ(CellLetter(StateColour(MapState::kVerify), true), 'V');
  EXPECT_EQ(CellLetter(kGrey, true), '#');
}

}  // namespace
}  // namespace nox::ui

#include "ui/TextMainDialog.h"

#include <chrono>

#include "core/CText.h"
#include "core/Format.h"

namespace nox::ui {

namespace {

constexpr const char* kReset = "\x1b[0m";
// Basic-colour backgrounds near the map's colours, for terminals without 24-bit colour.
struct BasicColour {
  ColorRef colour;
  int code;
};
constexpr BasicColour kBasicColours[] = {
    {ToColorRef({190, 220, 255}), 106},  // read: light blue
    {ToColorRef({255, 255, 255}), 107},  // erase: white
    {ToColorRef({255, 0, 0}), 41},       // program: red
    {ToColorRef({0, 255, 0}), 42},       // verify: green
};
constexpr int kBasicGrey = 100;

uint64_t SteadyMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string AnsiBackground(ColorRef colour, bool trueColour) {
  if (trueColour) {
    return core::Format("\x1b[48;2;%u;%u;%um", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  }
  for (const BasicColour& c : kBasicColours) {
    if (c.colour == colour) return core::Format("\x1b[%dm", c.code);
  }
  return core::Format("\x1b[%dm", kBasicGrey);
}

char CellLetter(ColorRef colour, bool marked) {
  if (!marked) return '.';
  for (const LegendEntry& entry : Legend()) {
    if (StateColour(entry.state) == colour) return entry.label[0];
  }
  return '#';
}

TextMainDialog::TextMainDialog(MainDialogHost& host, Ui& ui, std::FILE* out, LineReader readLine,
                               TextViewStyle style, Clock clock)
    : host_(host), ui_(ui), out_(out), readLine_(std::move(readLine)), style_(style), clock_(std::move(clock)) {
  if (!clock_) clock_ = SteadyMs;
  // The page's template texts (stage "None", address 0) are no progress: a log starts with the
  // first change of them.
  printedStage_ = Page().StageText();
  printedBar_ = 0;
}

void TextMainDialog::Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void TextMainDialog::Run() {
  const std::optional<StartPlan> plan = Main().Start(host_.Facts());
  if (!plan) return;
  host_.ApplyStartPlan(*plan);
  title_ = plan->title;
  Page().Build(host_.MapFacts(), host_.EcImageSize());
  EnableFlashButton(host_.HasImage());
  Print(title_ + "\n" + std::string(title_.size(), '=') + "\n");
  if (plan->autoRun) {
    // The Progress page is the window's only page, so it shows from the start.
    ShowProgressPage();
    AutoStart();
    // A run that returns with the Flash button still enabled left the window open; one that
    // disabled it asked the machine to restart or power off, and the program ends with it.
    if (Main().Started() && !FlashEnabled()) return;
  }
  Menu();
}

void TextMainDialog::AutoStart() {
  host_.WaitMs(kTimerIntervalMs);
  std::string message;
  const bool permitted = host_.CheckUpdatePermission(message);
  Main().OnPermissionCheck(permitted, message);
  const TickPlan tick =
      Main().Tick(host_.ImageSize(), [this](bool reread) { return host_.FlashSize(reread); }, host_.RetryCount());
  if (tick.message) {
    Detach();
    ui_.MessageBox(*tick.message, kAppTitle, style::kOk);
  }
  if (tick.endSessionId) host_.EndSession(*tick.endSessionId);
  if (tick.postFlash) Flash();
}

void TextMainDialog::Menu() {
  while (true) {
    Print(std::string("[Open] [Setup] ") + (FlashEnabled() ? "[Flash]" : "(Flash)") + " [Save] [Exit] > ");
    const std::optional<std::string> line = readLine_();
    if (!line) {
      Print("\n");
      host_.EndSession(0);
    }
    const std::string answer = core::AsciiLower(Trim(*line));
    if (answer.empty() || answer == "flash" || answer == "f") {
      if (!FlashEnabled()) {
        Print("Flash: there is no ROM image to flash.\n");
        continue;
      }
      // The window's timer has checked the update permission by the time a user clicks.
      std::string message;
      Main().OnPermissionCheck(host_.CheckUpdatePermission(message), message);
      Flash();
      if (!FlashEnabled()) return;
    } else if (answer == "open" || answer == "o") {
      Print(std::string("Open: ") + kNotAvailableYet + ".\n");
    } else if (answer == "setup") {
      Print(std::string("Setup: ") + kNotAvailableYet + ".\n");
    } else if (answer == "save" || answer == "s") {
      Print(std::string("Save: ") + kNotAvailableYet + ".\n");
    } else if (answer == "exit" || answer == "x") {
      host_.EndSession(0);
    } else {
      Print("Please choose one of the buttons.\n");
    }
  }
}

void TextMainDialog::Flash() {
  host_.RunFlash(*this);
  if (drawPending_) Draw();
}

void TextMainDialog::ShowProgressPage() {
  if (pageShown_) return;
  pageShown_ = true;
  if (!style_.inPlace) {
    const MapGeometry& g = Page().Map().Geometry();
    Print(core::Format("%s: %u rows of 16 cells\n", g.caption.c_str(), g.barCount));
  }
  Draw();
}

void TextMainDialog::BringToFront() {
  if (style_.inPlace) Draw();
}

void TextMainDialog::Changed(const CallbackEffect& effect) {
  if (!style_.inPlace) {
    PrintProgressLine();
    return;
  }
  if (!pageShown_) return;
  const uint64_t now = clock_();
  if (effect.stageChanged || now - lastDraw_ >= kRedrawIntervalMs || drawnLines_ == 0) {
    lastDraw_ = now;
    Draw();
  } else {
    drawPending_ = true;
  }
}

// Without a terminal: a line when the stage changes and one for every row of the map the
// work moves into, so a log shows the run's course without a line per request.
void TextMainDialog::PrintProgressLine() {
  const ProgressPageModel& page = Page();
  const auto& [first, second] = MessageLines();
  if (!first.empty() && !messagePrinted_) {
    Print(first + "\n" + second + "\n");
    messagePrinted_ = true;
  }
  if (page.StageText() != printedStage_) {
    printedStage_ = page.StageText();
    printedBar_ = UINT64_MAX;
    Print(printedStage_ + "\n");
  }
  if (page.AtMarker()) return;
  const uint32_t cell = page.Map().Geometry().cellSize;
  const bool address = page.ValueLabel() == "Address:";
  const uint64_t bar = address && cell != 0 ? page.ShownAddress() / cell : page.EcBarPosition();
  if (bar == printedBar_) return;
  printedBar_ = bar;
  Print("  " + page.ValueLabel() + " " + page.ValueText() + "\n");
}

std::string TextMainDialog::Cell(const ProgressControlModel& bar, int index) const {
  const bool marked = bar.IsMarked(index);
  const ColorRef colour = marked ? bar.SegmentColour(index) : bar.EmptyFill();
  if (!style_.colour) return std::string(1, CellLetter(colour, marked));
  return AnsiBackground(colour, style_.trueColour) + "  " + kReset;
}

std::string TextMainDialog::RenderPage() const {
  const ProgressPageModel& page = Page();
  const FlashMapModel& map = page.Map();
  std::string text;
  const auto& [first, second] = MessageLines();
  text += first + "\n" + second + "\n";
  text += map.Geometry().caption + "\n";
  for (const ProgressControlModel& bar : map.Bars()) {
    text += "  ";
    for (int i = 0; i < bar.SegmentCount(); ++i) text += Cell(bar, i);
    text += "\n";
  }
  if (style_.colour) {
    text += " ";
    for (const LegendEntry& entry : Legend()) {
      text += ' ';
      text += AnsiBackground(StateColour(entry.state), style_.trueColour);
      text += "  ";
      text += kReset;
      text += ' ';
      text += entry.label;
    }
    text += "\n";
  } else {
    text += "  R Read  E Erase  P Program  V Verify  . untouched\n";
  }
  text += "Stage: " + page.StageText() + "\n";
  text += page.ValueLabel() + " " + page.ValueText() + "\n";
  return text;
}

void TextMainDialog::Draw() {
  drawPending_ = false;
  if (!style_.inPlace || !pageShown_) return;
  std::string frame;
  // Back to the top of the page drawn last and over it, line by line.
  if (drawnLines_ > 0) frame += core::Format("\x1b[%dA", drawnLines_);
  const std::string page = RenderPage();
  int lines = 0;
  size_t start = 0;
  while (start < page.size()) {
    size_t end = page.find('\n', start);
    if (end == std::string::npos) end = page.size() - 1;
    frame += "\x1b[2K";
    frame.append(page, start, end - start + 1);
    start = end + 1;
    ++lines;
  }
  drawnLines_ = lines;
  Print(frame);
}

}  // namespace nox::ui

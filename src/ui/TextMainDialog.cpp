#include "ui/TextMainDialog.h"

#include <algorithm>
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
  CreatePages(host_, *plan);
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
  if (tick.disableOpenAndSave) openSaveEnabled_ = false;
  if (tick.message) {
    Detach();
    ui_.MessageBox(*tick.message, kAppTitle, style::kOk);
  }
  if (tick.endSessionId) host_.EndSession(*tick.endSessionId);
  if (tick.postFlash) Flash();
}

void TextMainDialog::Menu() {
  const auto button = [](const char* name, bool enabled) {
    return std::string(enabled ? "[" : "(") + name + (enabled ? "] " : ") ");
  };
  while (true) {
    std::string menu;
    if (InformationPage()) menu += "[Information] ";
    if (SetupPage()) menu += "[Setup] ";
    menu += button("Open", openSaveEnabled_) + button("Flash", FlashEnabled()) + button("Save", openSaveEnabled_) +
            "[Exit] > ";
    Print(menu);
    const std::optional<std::string> line = readLine_();
    if (!line) {
      Print("\n");
      host_.EndSession(0);
    }
    const std::string answer = core::AsciiLower(Trim(*line));
    if (answer.empty() || answer == "flash" || answer == "f") {
      if (!FlashEnabled()) {
        Print("Flash: the button is disabled (open a ROM file first).\n");
        continue;
      }
      // The window's timer has checked the update permission by the time a user clicks.
      std::string message;
      Main().OnPermissionCheck(host_.CheckUpdatePermission(message), message);
      Flash();
      if (!FlashEnabled()) return;
    } else if (answer == "open" || answer == "o" || answer == "save" || answer == "s") {
      const bool open = answer[0] == 'o';
      if (!openSaveEnabled_) {
        Print(std::string(open ? "Open" : "Save") + ": the button is disabled.\n");
        continue;
      }
      if (open) {
        host_.OpenRomFile(*this);
      } else {
        host_.SaveCurrentBios(*this);
        if (drawPending_) Draw();
      }
    } else if (answer == "information" || answer == "i" || answer == "setup") {
      const bool info = answer[0] == 'i';
      if (info ? !InformationPage() : !SetupPage()) {
        Print(std::string(info ? "Information" : "Setup") + ": the window shows only its Progress page.\n");
      } else if (info) {
        Print(RenderInformationPage());
      } else {
        RunSetupPage();
      }
    } else if (answer == "exit" || answer == "x") {
      host_.EndSession(0);
    } else {
      Print("Please choose one of the buttons.\n");
    }
  }
}

std::string TextMainDialog::RenderInformationPage() const {
  const InformationPageModel* page = InformationPage();
  if (!page) return {};
  std::string text = "-- Information --\n";
  for (const InfoField& field : page->Fields()) {
    if (field.id == info_id::kOs) text += "System Information\n";
    if (field.id == info_id::kInputRomFile) text += "ROM File Information\n";
    text += std::string("  ") + field.label + " " + field.value + "\n";
  }
  return text;
}

std::string TextMainDialog::RenderSetupPage() const {
  const SetupPageModel* page = SetupPage();
  if (!page) return {};
  std::string text = "-- Setup --\n";
  std::string group;
  for (const SetupControl& control : SetupControls()) {
    if (control.kind == SetupControlKind::kLabel) continue;
    if (group != control.group) {
      group = control.group;
      text += group + "\n";
    }
    const ControlState& state = page->State(control.id);
    const char* mark = !state.visible ? " (hidden)" : !state.enabled ? " (disabled)" : "";
    if (control.kind == SetupControlKind::kEdit) {
      // The edit is shown with its label, as the page places them side by side.
      const SetupControl* label = FindSetupControl(setup_id::kSmbiosLabel);
      text += std::string("  ") + (label ? label->text : "") + " [" + page->EditText() + "]" + mark + "\n";
    } else {
      text += std::string("  ") + (state.checked ? "[x] " : "[ ] ") + control.text + mark + "\n";
    }
  }
  return text;
}

void TextMainDialog::ShowSetupPage() { Print(RenderSetupPage()); }

void TextMainDialog::RunSetupPage() {
  SetupPageModel& page = *SetupPage();
  Print(RenderSetupPage());
  const SetupControl* label = FindSetupControl(setup_id::kSmbiosLabel);
  const std::string edit = core::AsciiLower(label ? label->text : "");
  while (true) {
    Print("Setup (a box's text clicks it; \"" + std::string(label ? label->text : "") +
          " TEXT\" types; empty line: back) > ");
    const std::optional<std::string> line = readLine_();
    if (!line) {
      Print("\n");
      return;
    }
    const std::string typed = Trim(*line);
    if (typed.empty()) return;
    const std::string lower = core::AsciiLower(typed);
    if (!edit.empty() && lower.compare(0, edit.size(), edit) == 0) {
      // The text after the label, without the one blank that separates them.
      std::string rest = line->substr(line->find(':') + 1);
      if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
      TypeSmbiosTypes(rest);
      continue;
    }
    const SetupControl* found = nullptr;
    for (const SetupControl& control : SetupControls()) {
      if (control.kind == SetupControlKind::kCheckBox && core::AsciiLower(control.text) == lower) found = &control;
    }
    if (!found) {
      Print("There is no box \"" + typed + "\" on this page.\n");
    } else if (!page.Click(found->id)) {
      Print(std::string(found->text) + ": the box cannot be changed.\n");
    } else {
      Print(RenderSetupPage());
    }
  }
}

void TextMainDialog::TypeSmbiosTypes(const std::string& text) {
  SetupPageModel& page = *SetupPage();
  const ControlState& state = page.State(setup_id::kSmbiosEdit);
  if (!state.visible || !state.enabled) {
    Print("Preserve SMBIOS Types: the field cannot be changed now.\n");
    return;
  }
  // The field is emptied first, then takes the text one key at a time as a user types it.
  page.OnEditChanged("", 0);
  for (const char c : text) {
    const std::string next = page.EditText() + c;
    if (page.OnEditChanged(next, next.size()).beep) ui_.Beep();
  }
  Print(RenderSetupPage());
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
  // The EC bar, in 32 cells of its range.
  constexpr int kEcCells = 32;
  const int maximum = page.EcBarMaximum();
  const int filled = maximum > 0 ? std::min(kEcCells, page.EcBarPosition() * kEcCells / maximum) : 0;
  text += "Embedded Controller Firmware [" + std::string(static_cast<size_t>(filled), '#') +
          std::string(static_cast<size_t>(kEcCells - filled), '.') + "]\n";
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

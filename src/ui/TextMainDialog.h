// The main window in a terminal. With a selection and an image at hand it starts the flash by
// itself and shows the progress page: the flash map as rows of sixteen cells, the stage and
// the address. Otherwise it offers the window's buttons as a small menu.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "ui/MainDialog.h"
#include "ui/Ui.h"

namespace nox::ui {

// How the progress page is drawn.
struct TextViewStyle {
  bool inPlace = false;    // a terminal: the page is redrawn over itself
  bool colour = false;     // cells as coloured blocks; letters otherwise
  bool trueColour = false; // the terminal takes 24-bit colours
};

// At most this often is a terminal page redrawn between stage changes.
inline constexpr uint64_t kRedrawIntervalMs = 50;

class TextMainDialog final : public ModelFlashDialog {
 public:
  using LineReader = std::function<std::optional<std::string>()>;
  using Clock = std::function<uint64_t()>;  // milliseconds, monotonic

  TextMainDialog(MainDialogHost& host, Ui& ui, std::FILE* out, LineReader readLine, TextViewStyle style,
                 Clock clock = {});

  // Runs the window until the session ends; returns only when a flash run returned (a
  // restart or power-off is on its way) and no input is left.
  void Run();

  // A message box is about to be printed: the page is not redrawn over it.
  void Detach() { drawnLines_ = 0; }

  // The page as text, one line per element: title, message lines, map caption, the bars,
  // stage and value. Colour codes only in colour style.
  std::string RenderPage() const;

  void ShowProgressPage() override;
  void BringToFront() override;
  void ShowSetupPage() override;

  // The pages as text: label and value per line; every control with its state.
  std::string RenderInformationPage() const;
  std::string RenderSetupPage() const;

 protected:
  void Changed(const CallbackEffect& effect) override;

 private:
  void AutoStart();
  void Menu();
  // The Setup page's own input: clicks by a box's text and typing into the SMBIOS edit.
  void RunSetupPage();
  void TypeSmbiosTypes(const std::string& text);
  void Flash();
  void Draw();
  void PrintProgressLine();
  void Print(const std::string& text);
  std::string Cell(const ProgressControlModel& bar, int index) const;

  MainDialogHost& host_;
  Ui& ui_;
  std::FILE* out_;
  LineReader readLine_;
  TextViewStyle style_;
  Clock clock_;
  std::string title_;
  bool pageShown_ = false;
  bool openSaveEnabled_ = true;
  int drawnLines_ = 0;
  uint64_t lastDraw_ = 0;
  bool drawPending_ = false;
  // Plain progress: the stage and the bar of the last line printed.
  bool messagePrinted_ = false;
  std::string printedStage_;
  uint64_t printedBar_ = UINT64_MAX;
};

// The ANSI colour of a map cell: the state colours and grey as 16-colour backgrounds, any
// colour exactly with 24-bit colour.
std::string AnsiBackground(ColorRef colour, bool trueColour);
// The letter of a map cell without colours: R, E, P, V, or "." when unmarked.
char CellLetter(ColorRef colour, bool marked);

}  // namespace nox::ui

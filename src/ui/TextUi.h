// A user interface in plain text, for terminals and scripts. Every box is printed with its title, its text as given and
// its buttons; one answer line is read from standard input: a button's name (case does not
// matter), or an empty line for the box's default button. End of input answers Cancel (No
// for yes/no boxes; OK when OK is the only button), so a script that runs out of answers
// never hangs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ui/Ui.h"

namespace nox::ui {

class TextMainDialog;
struct TextViewStyle;

class TextUi : public Ui {
 public:
  explicit TextUi(std::FILE* in = stdin, std::FILE* out = stdout) : in_(in), out_(out) {}

  Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override;
  std::optional<std::string> AskPassword(const std::string& prompt) override;
  void ShowKorvInfo(const KorvInfo& info) override;
  void RunMainDialog(MainDialogHost& host) override;
  // A file dialog reads one line, the path as typed; an empty line or the end of input
  // cancels.
  std::optional<std::string> OpenFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) override;
  // A terminal rings its bell; a log shows "(beep)".
  void Beep() override;
  // A terminal redraws one line in place; a log gets a line every tenth of the image.
  void ShowImageTransfer(uint32_t sent, uint32_t total) override;

 protected:
  // One line from the input without its line break; none at end of input.
  std::optional<std::string> ReadLine();
  // The same for a secret: a terminal build turns echo off around it.
  virtual std::optional<std::string> ReadSecretLine() { return ReadLine(); }
  void Print(const std::string& text);
  std::FILE* Out() const { return out_; }
  // How the main window's progress page is drawn; plain lines unless a terminal says more.
  virtual TextViewStyle ViewStyle() const;

 private:
  Button Ask(const std::vector<Button>& buttons, Button onEnd);
  std::optional<std::string> AskPath(const char* title, const FileDialogOptions& options);

  std::FILE* in_;
  std::FILE* out_;
  TextMainDialog* activeDialog_ = nullptr;  // while the main window runs
  int transferShown_ = -1;                   // the last percentage printed
};

}  // namespace nox::ui

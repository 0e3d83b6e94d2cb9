#include "ui/TextUi.h"

#include "ui/TextMainDialog.h"

#include <algorithm>
#include <cerrno>

#include "core/CText.h"
#include "core/Format.h"

namespace nox::ui {
namespace {

const char* Name(Button b) {
  switch (b) {
    case Button::kOk: return "OK";
    case Button::kCancel: return "Cancel";
    case Button::kAbort: return "Abort";
    case Button::kRetry: return "Retry";
    case Button::kIgnore: return "Ignore";
    case Button::kYes: return "Yes";
    case Button::kNo: return "No";
  }
  return "?";
}

std::vector<Button> ButtonsOf(uint32_t boxStyle) {
  switch (boxStyle & style::kButtonMask) {
    case 1: return {Button::kOk, Button::kCancel};
    case 2: return {Button::kAbort, Button::kRetry, Button::kIgnore};
    case 3: return {Button::kYes, Button::kNo, Button::kCancel};
    case 4: return {Button::kYes, Button::kNo};
    case 5: return {Button::kRetry, Button::kCancel};
    default: return {Button::kOk};
  }
}

}  // namespace

void TextUi::Print(const std::string& text) {
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

std::optional<std::string> TextUi::ReadLine() {
  std::string line;
  bool any = false;
  Waiting();
  while (true) {
    errno = 0;
    const int c = std::fgetc(in_);
    if (c == EOF && errno == EINTR && std::ferror(in_)) {
      // A request to stop broke the wait: it is acted on, unless a flash holds it, and then
      // the same answer is waited for again.
      std::clearerr(in_);
      Waiting();
      continue;
    }
    if (c == EOF) break;
    any = true;
    if (c == '\n') break;
    if (c != '\r') line.push_back(static_cast<char>(c));
  }
  Waiting();
  if (!any) return std::nullopt;
  return line;
}

Button TextUi::Ask(const std::vector<Button>& buttons, Button onEnd) {
  std::string prompt;
  for (Button b : buttons) prompt += std::string("[") + Name(b) + "] ";
  while (true) {
    Print(prompt + "> ");
    const auto line = ReadLine();
    if (!line) {
      Print("\n");
      return onEnd;
    }
    if (line->empty()) return buttons.front();
    const std::string answer = core::AsciiLower(*line);
    for (Button b : buttons) {
      if (answer == core::AsciiLower(Name(b))) return b;
    }
    Print("Please answer with one of the buttons.\n");
  }
}

Button TextUi::MessageBox(const std::string& text, const std::string& title, uint32_t style) {
  if (activeDialog_) activeDialog_->Detach();
  Print("== " + title + " ==\n" + text + (text.empty() || text.back() != '\n' ? "\n" : ""));
  const auto buttons = ButtonsOf(style);
  Button onEnd = buttons.front();
  for (Button b : buttons) {
    if (b == Button::kCancel || b == Button::kNo) {
      onEnd = b;
      if (b == Button::kCancel) break;
    }
  }
  return Ask(buttons, onEnd);
}

std::optional<std::string> TextUi::AskPassword(const std::string& prompt) {
  Print("== " + prompt + " ==\nPassword (empty line or end of input cancels): ");
  auto line = ReadSecretLine();
  if (!line || line->empty()) return std::nullopt;
  return line;
}

void TextUi::ShowKorvInfo(const KorvInfo& info) {
  Print("== Korv Bios Flash ==\n"
        "NOTICE!!!\n"
        "Running on an unsupport system.\n"
        "System Bios Update information\n"
        "  System:   " + info.romSystem + "\n"
        "  Revision: " + info.romRevision + "\n"
        "  Vendor:   " + info.romVendor + "\n"
        "Current System Bios information\n"
        "  System:   " + info.currentSystem + "\n"
        "  Revision: " + info.currentRevision + "\n"
        "  Vendor:   " + info.currentVendor + "\n");
  Ask({Button::kCancel}, Button::kCancel);
}

std::optional<std::string> TextUi::AskPath(const char* title, const FileDialogOptions& options) {
  if (activeDialog_) activeDialog_->Detach();
  // The filter's descriptions, without their patterns: "ROM Files (*.ROM), All Files (*.*)".
  std::string kinds;
  size_t at = 0;
  for (bool description = true; at < options.filter.size(); description = !description) {
    size_t bar = options.filter.find('|', at);
    if (bar == std::string::npos) bar = options.filter.size();
    if (description && bar > at) kinds += (kinds.empty() ? "" : ", ") + options.filter.substr(at, bar - at);
    at = bar + 1;
  }
  Print(std::string("== ") + title + " ==\nFile name (" + kinds + "; empty line cancels): ");
  const auto line = ReadLine();
  if (!line) Print("\n");
  if (!line || line->empty()) return std::nullopt;
  return line;
}

std::optional<std::string> TextUi::OpenFileDialog(const FileDialogOptions& options) { return AskPath("Open", options); }

std::optional<std::string> TextUi::SaveFileDialog(const FileDialogOptions& options) { return AskPath("Save As", options); }

void TextUi::Beep() {
  if (activeDialog_) activeDialog_->Detach();
  Print(ViewStyle().inPlace ? "\a" : "(beep)\n");
}

void TextUi::ShowImageTransfer(uint32_t sent, uint32_t total) {
  const bool inPlace = ViewStyle().inPlace;
  if (total == 0) {
    if (inPlace && transferShown_ >= 0) Print("\n");
    transferShown_ = -1;
    return;
  }
  const int percent = static_cast<int>(uint64_t{std::min(sent, total)} * 100 / total);
  if (percent == transferShown_ || (!inPlace && percent / 10 == transferShown_ / 10 && transferShown_ >= 0)) return;
  transferShown_ = percent;
  Print(core::Format(inPlace ? "\r%s: %3d%%" : "%s: %3d%%\n", kImageTransferText, percent));
}

TextViewStyle TextUi::ViewStyle() const { return {}; }

void TextUi::RunMainDialog(MainDialogHost& host) {
  TextMainDialog dialog(host, *this, out_, [this] { return ReadLine(); }, ViewStyle());
  activeDialog_ = &dialog;
  // Cleared however the window ends, a test's end of the session included.
  struct Active {
    TextMainDialog*& slot;
    ~Active() { slot = nullptr; }
  } active{activeDialog_};
  dialog.Run();
}

}  // namespace nox::ui

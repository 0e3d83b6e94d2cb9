// A user interface that answers from a script and records every box, and a session end that
// throws so that a refusal can be observed.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/SessionEnd.h"
#include "ui/Ui.h"

namespace nox::testing {

using Box = std::tuple<std::string, std::string, uint32_t>;  // text, title, style
using Boxes = std::vector<Box>;
using Strings = std::vector<std::string>;

struct ScriptedUi final : ui::Ui {
  explicit ScriptedUi(ui::Button whenOut = ui::Button::kCancel) : otherwise(whenOut) {}
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    boxes.emplace_back(text, title, style);
    const ui::Button answer = buttons.empty() ? otherwise : buttons.front();
    if (!buttons.empty()) buttons.pop_front();
    return answer;
  }
  std::optional<std::string> AskPassword(const std::string& prompt) override {
    prompts.push_back(prompt);
    const std::optional<std::string> answer = passwords.empty() ? std::nullopt : passwords.front();
    if (!passwords.empty()) passwords.pop_front();
    return answer;
  }
  void ShowKorvInfo(const ui::KorvInfo& info) override { korvInfos.push_back(info); }
  void RunMainDialog(ui::MainDialogHost&) override {}
  std::optional<std::string> OpenFileDialog(const ui::FileDialogOptions&) override { return std::nullopt; }
  std::optional<std::string> SaveFileDialog(const ui::FileDialogOptions&) override { return std::nullopt; }
  void Beep() override {}
  void ShowImageTransfer(uint32_t, uint32_t) override {}
  Strings Texts() const {
    Strings out;
    for (const Box& b : boxes) out.push_back(std::get<0>(b));
    return out;
  }

  // Answers in order, then `otherwise` (Cancel unless told), so no question loops for ever.
  std::deque<ui::Button> buttons;
  ui::Button otherwise;
  std::deque<std::optional<std::string>> passwords;  // none once they run out (Cancel)
  Boxes boxes;
  Strings prompts;
  std::vector<ui::KorvInfo> korvInfos;
};

struct Ended { uint32_t errorId; };

struct ThrowingEnd final : core::SessionEnd {
  [[noreturn]] void EndSession(uint32_t errorId) override { throw Ended{errorId}; }
};

}  // namespace nox::testing

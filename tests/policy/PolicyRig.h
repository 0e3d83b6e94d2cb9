// The policy checks wired to an in-memory simulated machine, a user interface that answers
// from a script and records every box, and a session end that throws so that a refusal can
// be observed.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "firmware/SimRig.h"
#include "platform/sim/RomImage.h"
#include "policy/FirmwarePassword.h"
#include "policy/PolicyChecks.h"  // the environment, the identity and the checks

namespace nox::policy::test {

using Box = std::tuple<std::string, std::string, uint32_t>;  // text, title, style
using Boxes = std::vector<Box>;
using Strings = std::vector<std::string>;
using Tweak = std::function<void(sim::Profile&)>;
// How a step ended: the session's end with its id, or none when the step returned.
using Outcome = std::optional<uint32_t>;
inline const Outcome kEnded = 0u;

struct ScriptedUi final : ui::Ui {
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    boxes.emplace_back(text, title, style);
    const ui::Button answer = buttons.empty() ? ui::Button::kCancel : buttons.front();
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
  std::optional<std::string> OpenFileDialog(const ui::FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SaveFileDialog(const ui::FileDialogSpec&) override { return std::nullopt; }
  void Beep() override {}
  Strings Texts() const {
    Strings out;
    for (const Box& b : boxes) out.push_back(std::get<0>(b));
    return out;
  }

  std::deque<ui::Button> buttons;  // answers in order; Cancel once they run out, so no question loops for ever
  std::deque<std::optional<std::string>> passwords;  // none once they run out (Cancel)
  Boxes boxes;
  Strings prompts;
  std::vector<ui::KorvInfo> korvInfos;
};

struct Ended { uint32_t errorId; };

struct ThrowingEnd final : core::SessionEnd {
  [[noreturn]] void EndSession(uint32_t errorId) override { throw Ended{errorId}; }
};

struct PolicyRig {
  explicit PolicyRig(const std::string& preset, const Tweak& tweak = {}) : sim(preset, tweak) { sim.Open(); }

  // An image made for this machine's flash part, with the running identity changed by `change`.
  std::vector<uint8_t> Rom(const std::function<void(sim::RomOptions&)>& change = {}) const {
    sim::RomOptions options = sim::RunningRomOptions(sim.machine->GetProfile());
    if (change) change(options);
    sim::RomResult result = sim::BuildRomImage(sim.machine->GetProfile(), options);
    if (!result.error.empty()) throw std::runtime_error(result.error);
    return result.image;
  }
  std::vector<uint8_t> RomVersion(const char* v) const { return Rom([=](sim::RomOptions& o) { o.version = v; }); }

  // Runs `step`; the error id when it ended the session, none when it returned.
  Outcome Run(const std::function<void()>& step) {
    try {
      step();
    } catch (const Ended& e) {
      return e.errorId;
    }
    return std::nullopt;
  }
  // The checks on the package's image number `number`, the way start-up runs them.
  Outcome Check(const std::vector<uint8_t>& rom, uint32_t number = 0) {
    return Run([&] { RunPolicyChecks(env, identity, {number, true, rom}, matched); });
  }

  // The SMIs that reached the firmware holding every field of `pattern`.
  size_t Smis(const nlohmann::json& pattern) const {
    const auto smis = sim.Smis();
    return std::ranges::count_if(smis, [&](const nlohmann::json& smi) { return smi == Patched(smi, pattern); });
  }
  static nlohmann::json Patched(nlohmann::json line, const nlohmann::json& fields) {
    line.update(fields);
    return line;
  }
  // True when `needle` occurs anywhere in the machine's shared block.
  bool SharedBlockHolds(std::string_view needle) {
    const auto block = sim.machine->SharedBlock();
    return std::search(block.begin(), block.end(), needle.begin(), needle.end()) != block.end();
  }

  testing::SimRig sim;
  ScriptedUi ui;
  ThrowingEnd end;
  config::ConfigStore config;
  config::WordOptionFlags words;
  image::FlashLayout layout;
  std::string console;
  SystemIdentity identity;
  bool matched = false;
  std::vector<uint8_t> scratch = std::vector<uint8_t>(0x10000);
  std::function<void(const std::string&)> print = [this](const std::string& line) { console += line; };
  PolicyEnv env{config, words, *sim.smi, *sim.info, *sim.oem, *sim.driver, layout, ui, end, print, scratch};
  FirmwarePasswordEnv fenv{config, *sim.ofbd, *sim.smi, ui, *sim.os, print};
};

}  // namespace nox::policy::test

// The policy checks wired to an in-memory simulated machine, a user interface that answers
// from a script and records every box, and a session end that throws so that a refusal can
// be observed.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "config/ConfigStore.h"
#include "config/WordOptions.h"
#include "core/SessionEnd.h"
#include "firmware/SimRig.h"
#include "image/FlashLayout.h"
#include "platform/sim/RomImage.h"
#include "policy/PolicyChecks.h"
#include "policy/PolicyEnv.h"
#include "policy/SystemIdentity.h"
#include "ui/Ui.h"

namespace nox::policy::test {

struct Box {
  std::string text;
  std::string title;
  uint32_t style = 0;
  bool operator==(const Box&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << '{' << b.text << " | " << b.title << " | " << b.style << '}';
  }
};

template <typename T>
T Next(std::deque<T>& answers, T whenNone) {
  if (answers.empty()) return whenNone;
  T first = answers.front();
  answers.pop_front();
  return first;
}

class ScriptedUi final : public ui::Ui {
 public:
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    boxes.push_back({text, title, style});
    return Next(buttons, ui::Button::kOk);
  }
  std::optional<std::string> AskPassword(const std::string& prompt) override {
    prompts.push_back(prompt);
    return Next(passwords, std::optional<std::string>{});
  }
  void ShowKorvInfo(const ui::KorvInfo& info) override { korvInfos.push_back(info); }
  void RunMainDialog(ui::MainDialogHost&) override {}

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const Box& b : boxes) out.push_back(b.text);
    return out;
  }

  std::deque<ui::Button> buttons;                    // answers in order; OK once they run out
  std::deque<std::optional<std::string>> passwords;  // none once they run out (Cancel)
  std::vector<Box> boxes;
  std::vector<std::string> prompts;
  std::vector<ui::KorvInfo> korvInfos;
};

struct Ended {
  uint32_t errorId;
};

class ThrowingEnd final : public core::SessionEnd {
 public:
  [[noreturn]] void EndSession(uint32_t errorId) override { throw Ended{errorId}; }
};

class PolicyRig {
 public:
  explicit PolicyRig(const std::string& preset, const std::function<void(sim::Profile&)>& tweak = {})
      : sim(preset, tweak) {
    sim.Open();
  }

  // An image made for this machine's flash part, with the running identity changed by `change`.
  std::vector<uint8_t> Rom(const std::function<void(sim::RomOptions&)>& change = {}) const {
    sim::RomOptions options = sim::RunningRomOptions(sim.machine->GetProfile());
    if (change) change(options);
    sim::RomResult result = sim::BuildRomImage(sim.machine->GetProfile(), options);
    if (!result.error.empty()) throw std::runtime_error(result.error);
    return result.image;
  }
  std::vector<uint8_t> RomVersion(const char* version) const {
    return Rom([=](sim::RomOptions& o) { o.version = version; });
  }

  // Runs `step`; the error id when it ended the session, none when it returned.
  std::optional<uint32_t> Outcome(const std::function<void()>& step) {
    try {
      step();
    } catch (const Ended& e) {
      return e.errorId;
    }
    return std::nullopt;
  }
  // The checks on the package's image number `number`, the way start-up runs them.
  std::optional<uint32_t> Check(const std::vector<uint8_t>& rom, uint32_t number = 0) {
    return Outcome([&] { RunPolicyChecks(env, identity, {number, true, rom}, matched); });
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
  PolicyEnv env{config, words, *sim.smi, *sim.info, *sim.oem, *sim.driver, layout, ui, end,
                [this](const std::string& line) { console += line; }, scratch};
};

}  // namespace nox::policy::test

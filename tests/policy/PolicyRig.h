// The policy checks wired to an in-memory simulated machine, a scripted user interface and a
// session end that throws.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ScriptedUi.h"
#include "firmware/SimRig.h"
#include "platform/sim/RomImage.h"
#include "policy/FirmwarePassword.h"
#include "policy/PolicyChecks.h"  // the environment, the identity and the checks

namespace nox::policy::test {

using testing::Box;
using testing::Boxes;
using testing::Strings;
using Tweak = std::function<void(sim::Profile&)>;
// How a step ended: the session's end with its id, or none when the step returned.
using Outcome = std::optional<uint32_t>;
inline const Outcome kEnded = 0u;

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
    } catch (const testing::Ended& e) {
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
    return std::ranges::count_if(smis, [&](nlohmann::json smi) {
      const nlohmann::json before = smi;
      smi.update(pattern);
      return smi == before;
    });
  }
  // True when `needle` occurs anywhere in the machine's shared block.
  bool SharedBlockHolds(std::string_view needle) {
    const auto block = sim.machine->SharedBlock();
    return std::search(block.begin(), block.end(), needle.begin(), needle.end()) != block.end();
  }

  testing::SimRig sim;
  testing::ScriptedUi ui;
  testing::ThrowingEnd end;
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

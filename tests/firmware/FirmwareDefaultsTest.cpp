// The firmware's default options against the simulated machine: what the utility sends is
// read back from the machine's journal, what it answers from the option store.
#include <gtest/gtest.h>

#include <initializer_list>
#include <set>

#include "SimRig.h"
#include "config/ConfigStore.h"
#include "firmware/FirmwareDefaults.h"

namespace nox::firmware {
namespace {

using nox::testing::SimRig;
using Outcome = FirmwareDefaults::Outcome;

std::set<uint32_t> Selected(const config::ConfigStore& store) {
  std::set<uint32_t> ids;
  for (const config::CommandRecord& r : store.Records()) {
    if (r.Selected()) ids.insert(r.id);
  }
  return ids;
}

std::unique_ptr<SimRig> Machine(bool answers, uint32_t switchOn = 0, uint32_t switchOff = 0) {
  auto rig = std::make_unique<SimRig>("legacy-8m", [&](sim::Profile& p) {
    p.defaults.enabled = answers;
    p.defaults.switchOn = switchOn;
    p.defaults.switchOff = switchOff;
  });
  rig->Open();
  return rig;
}

void Select(config::ConfigStore& store, std::initializer_list<uint32_t> ids) {
  for (uint32_t id : ids) store.SelectCommand(id, true);
}

// The one 'Q' exchange the machine saw since `mark`.
nlohmann::json OnlyExchange(const SimRig& rig, size_t mark) {
  const auto smis = rig.Smis(mark);
  EXPECT_EQ(smis.size(), 1u);
  if (smis.empty()) return {};
  EXPECT_EQ(smis[0].value("class", 0u), 0x40000000u);
  EXPECT_EQ(smis[0].value("type", 0), 'Q');
  EXPECT_FALSE(smis[0].contains("misuse")) << smis[0].dump();
  return smis[0];
}

struct BehaviourCase {
  const char* name;
  int32_t configBehaviour;
  uint32_t sentOff;
  Outcome outcome;
  std::set<uint32_t> after;
};

class Behaviour : public ::testing::TestWithParam<BehaviourCase> {};

TEST_P(Behaviour, DecidesWhatIsSentAndWhetherTheAnswerCounts) {
  const BehaviourCase& c = GetParam();
  // The firmware asks for the boot block and reboot, and against the ROM ID skip.
  auto rig = Machine(true, 0x0002 | 0x0040, 0x0080);
  config::ConfigStore store;
  Select(store, {config::option::kMainBios, config::option::kNoRomIdCheck});
  FirmwareDefaults defaults(*rig->ofbd);
  const size_t mark = rig->Mark();
  EXPECT_EQ(defaults.Fetch(store, c.configBehaviour), c.outcome);
  const nlohmann::json sent = OnlyExchange(*rig, mark);
  EXPECT_EQ(sent.value("offMask", 0xDEADu), c.sentOff);
  EXPECT_EQ(sent.value("selectedMask", 0xDEADu), 0x0081u);
  EXPECT_EQ(sent.value("flags", 0), 1);
  EXPECT_EQ(Selected(store), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    ConfigBehaviour, Behaviour,
    ::testing::Values(BehaviourCase{"NoScriptWord", -1, 0, Outcome::kApplied, {3, 4, 11}},
                      BehaviourCase{"ScriptReplaces", 0, 0x17FF, Outcome::kIgnored, {3, 12}},
                      BehaviourCase{"ScriptAdds", 1, 0x17FF, Outcome::kIgnored, {3, 12}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(FirmwareDefaults, AnOptionSwitchedOnAndOffEndsUpOff) {
  auto rig = Machine(true, 0x0001 | 0x0008, 0x0001 | 0x0008);
  config::ConfigStore store;
  Select(store, {config::option::kMainBios, config::option::kNcbN});
  FirmwareDefaults defaults(*rig->ofbd);
  EXPECT_EQ(defaults.Fetch(store, -1), Outcome::kApplied);
  EXPECT_TRUE(Selected(store).empty());
  EXPECT_EQ(defaults.SentSelectedMask(), 0x0001u);
  EXPECT_EQ(defaults.SentOffMask(), 0u);
}

TEST(FirmwareDefaults, FirmwareWithoutDefaultsChangesNothing) {
  auto rig = Machine(false, 0x0002, 0x0001);
  config::ConfigStore store;
  Select(store, {config::option::kMainBios, config::option::kReboot});
  FirmwareDefaults defaults(*rig->ofbd);
  const size_t mark = rig->Mark();
  EXPECT_EQ(defaults.Fetch(store, -1), Outcome::kNotHandled);
  const nlohmann::json sent = OnlyExchange(*rig, mark);
  EXPECT_EQ(sent.value("selectedMask", 0u), 0x0041u);
  EXPECT_EQ(sent.value("unsupported", false), true);
  EXPECT_EQ(Selected(store), (std::set<uint32_t>{3, 11}));
}

TEST(FirmwareDefaults, SavingTheFirmwareAsksNothing) {
  auto rig = Machine(true, 0x0001, 0);
  config::ConfigStore store;
  Select(store, {config::option::kSaveFile});
  FirmwareDefaults defaults(*rig->ofbd);
  const size_t mark = rig->Mark();
  EXPECT_EQ(defaults.Fetch(store, -1), Outcome::kSkipped);
  EXPECT_TRUE(rig->Smis(mark).empty());
  EXPECT_EQ(Selected(store), std::set<uint32_t>{config::option::kSaveFile});
}

}  // namespace
}  // namespace nox::firmware

// The firmware's default options against the simulated machine: what the utility sends is
// read back from the machine's journal, what it answers from the option store.
#include <gtest/gtest.h>

#include <set>

#include "SimRig.h"
#include "config/ConfigStore.h"
#include "firmware/FirmwareDefaults.h"

namespace nox::firmware {
namespace {

using nox::testing::SimRig;
using Outcome = FirmwareDefaults::Outcome;
using Ids = std::set<uint32_t>;
namespace option = config::option;

struct Case {
  const char* name;
  bool answers;  // the firmware has defaults: it switches on `switchOn` and off `switchOff`
  uint32_t switchOn, switchOff;
  Ids selected;
  int32_t configBehaviour;  // -1: no script word
  Outcome outcome;
  std::optional<std::pair<uint32_t, uint32_t>> sent;  // selected and off masks of the one 'Q' exchange
  Ids after;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Defaults : public ::testing::TestWithParam<Case> {};

TEST_P(Defaults, DecideWhatIsSentAndWhetherTheAnswerCounts) {
  const Case& c = GetParam();
  SimRig rig("legacy-8m", [&](sim::Profile& p) { p.defaults = {c.answers, c.switchOn, c.switchOff}; });
  rig.Open();
  config::ConfigStore store;
  for (uint32_t id : c.selected) store.SelectCommand(id, true);
  const size_t mark = rig.Mark();
  EXPECT_EQ(FirmwareDefaults(*rig.ofbd).Fetch(store, c.configBehaviour), c.outcome);
  const auto smis = rig.Smis(mark);
  ASSERT_EQ(smis.size(), c.sent ? 1u : 0u);
  if (c.sent) {
    EXPECT_EQ(smis[0].value("class", 0u), 0x40000000u);
    EXPECT_EQ(smis[0].value("type", 0), 'Q');
    EXPECT_FALSE(smis[0].contains("misuse")) << smis[0].dump();
    EXPECT_EQ(smis[0].value("selectedMask", 0xDEADu), c.sent->first);
    EXPECT_EQ(smis[0].value("offMask", 0xDEADu), c.sent->second);
    EXPECT_EQ(smis[0].value("flags", 0), c.answers ? 1 : 0);
    EXPECT_EQ(smis[0].value("unsupported", false), !c.answers);
  }
  Ids after;
  for (const config::CommandRecord& r : store.Records()) {
    if (r.Selected()) after.insert(r.id);
  }
  EXPECT_EQ(after, c.after);
}

// The firmware asks for the boot block (4) and reboot (11), and against the ROM ID skip (12).
constexpr uint32_t kOn = 0x0002 | 0x0040, kOff = 0x0080;
const Ids kMainNoRomId = {option::kMainBios, option::kNoRomIdCheck};
INSTANTIATE_TEST_SUITE_P(
    ConfigBehaviour, Defaults,
    ::testing::Values(
        Case{"NoScriptWord", true, kOn, kOff, kMainNoRomId, -1, Outcome::kApplied, {{0x0081, 0}}, {3, 4, 11}},
        Case{"ScriptReplaces", true, kOn, kOff, kMainNoRomId, 0, Outcome::kIgnored, {{0x0081, 0x17FF}}, {3, 12}},
        Case{"ScriptAdds", true, kOn, kOff, kMainNoRomId, 1, Outcome::kIgnored, {{0x0081, 0x17FF}}, {3, 12}},
        Case{"SwitchedOnAndOffEndsUpOff", true, 0x0009, 0x0009, {option::kMainBios, option::kNcbN}, -1, Outcome::kApplied,
             {{0x0001, 0}}, {}},
        Case{"FirmwareWithoutDefaults", false, 0x0002, 0x0001, {option::kMainBios, option::kReboot}, -1,
             Outcome::kNotHandled, {{0x0041, 0}}, {3, 11}},
        Case{"SavingTheFirmwareAsksNothing", true, 0x0001, 0, {option::kSaveFile}, -1, Outcome::kSkipped, std::nullopt,
             {option::kSaveFile}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace nox::firmware

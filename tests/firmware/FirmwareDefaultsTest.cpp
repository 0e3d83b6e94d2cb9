// The firmware's default options against the simulated machine: what the utility sends is
// read back from the machine's journal, what it answers from the option store.
#include <gtest/gtest.h>

#include <set>

#include "SimRig.h"
#include "config/ConfigStore.h"
#include "firmware/FirmwareDefaults.h"

namespace nox::firmware {
namespace {

using Outcome = FirmwareDefaults::Outcome;
using Ids = std::set<uint32_t>;
namespace option = config::option;

TEST(FirmwareDefaults, DecideWhatIsSentAndWhetherTheAnswerCounts) {
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
  // The firmware asks for the boot block (4) and reboot (11), and against the ROM ID skip (12).
  constexpr uint32_t kOn = 0x0002 | 0x0040, kOff = 0x0080;
  const Ids kMainNoRomId = {option::kMainBios, option::kNoRomIdCheck};
  const Case cases[] = {
      {"no script word", true, kOn, kOff, kMainNoRomId, -1, Outcome::kApplied, {{0x0081, 0}}, {3, 4, 11}},
      {"script replaces", true, kOn, kOff, kMainNoRomId, 0, Outcome::kIgnored, {{0x0081, 0x17FF}}, {3, 12}},
      {"script adds", true, kOn, kOff, kMainNoRomId, 1, Outcome::kIgnored, {{0x0081, 0x17FF}}, {3, 12}},
      {"switched on and off ends up off", true, 0x0009, 0x0009, {option::kMainBios, option::kNcbN}, -1,
       Outcome::kApplied, {{0x0001, 0}}, {}},
      {"firmware without defaults", false, 0x0002, 0x0001, {option::kMainBios, option::kReboot}, -1,
       Outcome::kNotHandled, {{0x0041, 0}}, {3, 11}},
      {"saving the firmware asks nothing", true, 0x0001, 0, {option::kSaveFile}, -1, Outcome::kSkipped, {},
       {option::kSaveFile}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nox::testing::SimRig rig("legacy-8m", [&](sim::Profile& p) { p.defaults = {c.answers, c.switchOn, c.switchOff}; });
    rig.Open();
    config::ConfigStore store;
    for (uint32_t id : c.selected) store.SelectCommand(id, true);
    const size_t mark = rig.Mark();
    EXPECT_EQ(FirmwareDefaults(*rig.ofbd).Fetch(store, c.configBehaviour), c.outcome);
    const auto smis = rig.Smis(mark);
    ASSERT_EQ(smis.size(), c.sent ? 1u : 0u);
    if (c.sent) {
      EXPECT_EQ(std::make_tuple(smis[0].value("selectedMask", 0xDEADu), smis[0].value("offMask", 0xDEADu),
                                smis[0].value("flags", 0), smis[0].contains("misuse")),
                std::make_tuple(c.sent->first, c.sent->second, c.answers ? 1 : 0, false));
    }
    Ids after;
    for (const config::CommandRecord& r : store.Records()) {
      if (r.Selected()) after.insert(r.id);
    }
    EXPECT_EQ(after, c.after);
  }
}

}  // namespace
}  // namespace nox::firmware

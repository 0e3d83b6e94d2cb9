// The operating-system services of a simulated run: every effect lands in the machine's
// journal and none reaches the host.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/SimOsServices.h"

namespace nox::sim {
namespace {

using nlohmann::json;

TEST(SimOsServices, InstancesEffectsAndFirmwareTables) {
  std::string error;
  const auto machine = Machine::InMemory(*MakePreset("legacy-8m"), error);
  std::set<std::string> taken;
  SimOsServices os(*machine, [&](const std::string& name) { return taken.insert(name).second; }, [](uint32_t) {});
  // A second instance is refused the services' mutex.
  EXPECT_EQ(os.InitOsServices(), 0u);
  EXPECT_EQ(os.InitOsServices(), 97u);
  EXPECT_TRUE(os.CreateInstanceMutex("NOXWINGUI"));
  EXPECT_FALSE(os.CreateInstanceMutex("NOXWINGUI"));
  os.KeepAwake(true);
  os.SetFlashProtection(true);
  os.SetFlashProtection(true);  // already protected: nothing saved twice
  os.BlockUserInput(true);
  os.SetFlashProtection(false);
  EXPECT_FALSE(os.RestorePowerButtons()) << "nothing left to restore";
  os.SleepMs(1000);
  // The journal's events after the machine was made, without their numbers and times.
  json effects = json::array();
  for (json j : machine->GetJournal().Entries()) {
    j.erase("n");
    j.erase("t");
    if (j.value("event", "") != "create") effects.push_back(j);
  }
  EXPECT_EQ(effects, json::parse(R"([{"event": "os-init", "major": 10}, {"event": "keep-awake", "on": true,
      "state": "0x80000043"}, {"event": "lock-workstation", "disabled": true}, {"event": "power-buttons", "saved": true},
      {"event": "input", "blocked": true}, {"event": "lock-workstation", "disabled": false},
      {"event": "power-buttons", "saved": false}, {"event": "pause", "ms": 1000}])"));
  // The FADT of the profile, and no other table.
  const uint32_t size = os.ReadTable(0x41435049, 0x50434146, {});
  ASSERT_GT(size, 50u);
  std::vector<uint8_t> fadt(size);
  EXPECT_EQ(os.ReadTable(0x41435049, 0x50434146, fadt), size);
  EXPECT_EQ(fadt[48] | (fadt[49] << 8), 0xB2);
  EXPECT_EQ(os.ReadTable(0x41435049, 0x54445344, fadt), 0u);
}

}  // namespace
}  // namespace nox::sim

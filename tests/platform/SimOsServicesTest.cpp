// The operating-system services of a simulated run: every effect lands in the machine's
// journal and none reaches the host; pauses move the virtual clock.
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

struct OsRig {
  OsRig() {
    std::string error;
    machine = Machine::InMemory(*MakePreset("legacy-8m"), error);
    os = std::make_unique<SimOsServices>(
        *machine, [this](const std::string& name) { return taken.insert(name).second; },
        [this](uint32_t code) { endCodes.push_back(code); });
  }
  // The `field` of every journal line of `event`, in order.
  json Values(const std::string& event, const std::string& field = "event") {
    json out = json::array();
    for (const auto& j : machine->GetJournal().Entries()) {
      if (j.value("event", "") == event) out.push_back(j.value(field, json()));
    }
    return out;
  }
  std::unique_ptr<Machine> machine;
  std::unique_ptr<SimOsServices> os;
  std::vector<uint32_t> endCodes;
  std::set<std::string> taken;
};

TEST(SimOsServices, SecondInstanceIsRefusedTheServicesMutex) {
  OsRig rig;
  EXPECT_EQ(rig.os->InitOsServices(), 0u);
  EXPECT_EQ(rig.os->InitOsServices(), 97u);
  EXPECT_TRUE(rig.os->CreateInstanceMutex("NOXWINGUI"));
  EXPECT_FALSE(rig.os->CreateInstanceMutex("NOXWINGUI"));
}

TEST(SimOsServices, FlashProtectionIsJournaledAndRestoredOnce) {
  OsRig rig;
  rig.os->KeepAwake(true);
  rig.os->SetFlashProtection(true);
  rig.os->SetFlashProtection(true);  // already protected: nothing saved twice
  rig.os->BlockUserInput(true);
  rig.os->BlockUserInput(false);
  rig.os->SetFlashProtection(false);
  EXPECT_FALSE(rig.os->RestorePowerButtons()) << "nothing left to restore";
  rig.os->KeepAwake(false);
  EXPECT_EQ(rig.Values("keep-awake", "state"), json({"0x80000043", "0x80000000"}));
  EXPECT_EQ(rig.Values("power-buttons", "saved"), json({true, false}));
  EXPECT_EQ(rig.Values("lock-workstation", "disabled"), json({true, false}));
  EXPECT_EQ(rig.Values("input", "blocked"), json({true, false}));
}

TEST(SimOsServices, RestartAndPowerOffTakeTheMachineAndTheProgramDown) {
  OsRig rig;
  EXPECT_EQ(rig.os->RestartMachine(), 1);
  EXPECT_EQ(rig.endCodes, std::vector<uint32_t>{0});
  EXPECT_EQ(rig.os->PowerOffMachine(), 1);
  EXPECT_EQ(rig.endCodes, (std::vector<uint32_t>{0, 0}));
  for (const char* event : {"restart-requested", "reboot", "power-off-requested", "power-off"}) {
    EXPECT_EQ(rig.Values(event).size(), 1u) << event;
  }
}

TEST(SimOsServices, PausesAdvanceTheVirtualClockOnly) {
  OsRig rig;
  const uint64_t before = rig.os->NowMs();
  rig.os->SleepMs(1000);
  rig.os->SleepMs(250);
  EXPECT_EQ(rig.os->NowMs(), before + 1250);
  EXPECT_EQ(rig.Values("pause", "ms"), json({1000, 250}));
}

TEST(SimOsServices, FirmwareTablesComeFromTheProfile) {
  OsRig rig;
  EXPECT_TRUE(rig.os->HasTableService());
  const uint32_t size = rig.os->ReadTable(0x41435049, 0x50434146, {});
  ASSERT_GT(size, 50u);
  std::vector<uint8_t> fadt(size);
  EXPECT_EQ(rig.os->ReadTable(0x41435049, 0x50434146, fadt), size);
  EXPECT_EQ(fadt[48] | (fadt[49] << 8), 0xB2);
  EXPECT_EQ(rig.os->ReadTable(0x41435049, 0x54445344, fadt), 0u) << "no other table";
  EXPECT_EQ(rig.os->ProbeFirmwareVariable(), 1u) << "legacy firmware has no variable services";
}

}  // namespace
}  // namespace nox::sim

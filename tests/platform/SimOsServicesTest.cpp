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

struct OsRig {
  OsRig() {
    std::string error;
    machine = Machine::InMemory(*MakePreset("legacy-8m"), error);
    os = std::make_unique<SimOsServices>(
        *machine,
        [this](const std::string& name) {
          if (taken.count(name)) return false;
          taken.insert(name);
          return true;
        },
        [this](uint32_t code) { endCodes.push_back(code); });
  }
  std::vector<nlohmann::json> Events(const std::string& name) {
    std::vector<nlohmann::json> out;
    for (const auto& j : machine->GetJournal().Entries()) {
      if (j.value("event", "") == name) out.push_back(j);
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

  const auto awake = rig.Events("keep-awake");
  ASSERT_EQ(awake.size(), 2u);
  EXPECT_EQ(awake[0]["state"], "0x80000043");
  EXPECT_EQ(awake[1]["state"], "0x80000000");
  const auto buttons = rig.Events("power-buttons");
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0]["saved"], true);
  EXPECT_EQ(buttons[1]["saved"], false);
  const auto lock = rig.Events("lock-workstation");
  ASSERT_EQ(lock.size(), 2u);
  EXPECT_EQ(lock[0]["disabled"], true);
  EXPECT_EQ(lock[1]["disabled"], false);
  const auto input = rig.Events("input");
  ASSERT_EQ(input.size(), 2u);
  EXPECT_EQ(input[0]["blocked"], true);
  EXPECT_EQ(input[1]["blocked"], false);
}

TEST(SimOsServices, RestartAndPowerOffTakeTheMachineAndTheProgramDown) {
  OsRig rig;
  EXPECT_EQ(rig.os->RestartMachine(), 1);
  EXPECT_EQ(rig.Events("restart-requested").size(), 1u);
  EXPECT_EQ(rig.Events("reboot").size(), 1u);
  EXPECT_EQ(rig.endCodes, std::vector<uint32_t>{0});
  EXPECT_EQ(rig.os->PowerOffMachine(), 1);
  EXPECT_EQ(rig.Events("power-off-requested").size(), 1u);
  EXPECT_EQ(rig.Events("power-off").size(), 1u);
  EXPECT_EQ(rig.endCodes, (std::vector<uint32_t>{0, 0}));
}

TEST(SimOsServices, PausesAdvanceTheVirtualClockOnly) {
  OsRig rig;
  const uint64_t before = rig.os->NowMs();
  rig.os->SleepMs(1000);
  rig.os->SleepMs(250);
  EXPECT_EQ(rig.os->NowMs(), before + 1250);
  EXPECT_EQ(rig.Events("pause").size(), 2u);
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

// The operating-system services of a simulated run: every effect lands in the machine's
// journal and none reaches the host; pauses move the virtual clock. And the console build's
// lookup of its own executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/console/RunningExecutable.h"
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

TEST(SimOsServices, EffectsAreJournaledAndFlashProtectionRestoredOnce) {
  OsRig rig;
  rig.os->KeepAwake(true);
  rig.os->SetFlashProtection(true);
  rig.os->SetFlashProtection(true);  // already protected: nothing saved twice
  rig.os->BlockUserInput(true);
  rig.os->BlockUserInput(false);
  rig.os->SetFlashProtection(false);
  EXPECT_FALSE(rig.os->RestorePowerButtons()) << "nothing left to restore";
  rig.os->KeepAwake(false);
  rig.os->SleepMs(1000);
  rig.os->SleepMs(250);
  EXPECT_EQ(rig.Values("keep-awake", "state"), json({"0x80000043", "0x80000000"}));
  EXPECT_EQ(rig.Values("power-buttons", "saved"), json({true, false}));
  EXPECT_EQ(rig.Values("lock-workstation", "disabled"), json({true, false}));
  EXPECT_EQ(rig.Values("input", "blocked"), json({true, false}));
  EXPECT_EQ(rig.Values("pause", "ms"), json({1000, 250}));
  const uint64_t before = rig.os->NowMs();
  rig.os->SleepMs(40);
  EXPECT_EQ(rig.os->NowMs(), before + 40) << "pauses move the virtual clock";
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

TEST(RunningExecutable, NamesThisTestProgram) {
  const auto path = platform::RunningExecutablePath();
  ASSERT_TRUE(path);
  EXPECT_EQ(std::filesystem::path(*path).filename(), "nox_platform_tests");
  EXPECT_TRUE(std::filesystem::equivalent(*path, "/proc/self/exe"));
}

}  // namespace
}  // namespace nox::sim

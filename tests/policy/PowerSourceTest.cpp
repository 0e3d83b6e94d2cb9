#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PolicyRig.h"
#include "policy/PolicyChecks.h"
#include "policy/PowerSource.h"

namespace nox::policy::test {
namespace {

using ui::Button;

constexpr const char* kAcMissing =
    "The AC adapter and Battery must be plugged in before the system BIOS\ncan be flashed.Press OK when they are both "
    "plugged in or CANCEL to quit.";
constexpr const char* kBatteryLow =
    "The Battery must be charged above 10 percent before the system BIOS can be flashed.\nPress OK when the Battery "
    "is charged or CANCEL to quit.";

std::vector<std::string> Texts(const ScriptedUi& ui) {
  std::vector<std::string> out;
  for (const Box& b : ui.boxes) out.push_back(b.text);
  return out;
}

// Runs the checks on a newer image of the machine, the way start-up does.
std::optional<uint32_t> RunNewer(PolicyRig& rig) {
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "A07"; });
  bool matched = false;
  return rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); });
}

TEST(PowerSource, AcMessageUntilPluggedInThenTheChargeMessage) {
  // Adapter missing and battery low; after the fourth refresh (one was made while the
  // firmware was probed) only the charge is low.
  PolicyRig rig("legacy-8m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0005;
    p.ecb1.refreshesUntilChange = 4;
    p.ecb1.flagsAfter = 0x0004;
  });
  rig.ui.buttons = {Button::kOk, Button::kOk, Button::kCancel};
  EXPECT_EQ(RunNewer(rig), 0u);
  EXPECT_EQ(Texts(rig.ui), (std::vector<std::string>{kAcMissing, kAcMissing, kBatteryLow}));
  for (const Box& b : rig.ui.boxes) {
    EXPECT_EQ(b.title, "Korv 9A");
    EXPECT_EQ(b.style, ui::style::kOkCancel);
  }
}

TEST(PowerSource, OkOnAChargedBatteryEndsTheLoopAndTheRunGoesOn) {
  PolicyRig rig("legacy-8m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0004;
    p.ecb1.refreshesUntilChange = 3;
    p.ecb1.flagsAfter = 0x0000;
  });
  EXPECT_FALSE(RunNewer(rig));
  EXPECT_EQ(Texts(rig.ui), (std::vector<std::string>{kBatteryLow}));
}

TEST(PowerSource, OkWithoutFixingShowsTheSameMessageAgain) {
  PolicyRig rig("legacy-8m", [](sim::Profile& p) { p.ecb1.flags = 0x0002; });
  rig.ui.buttons = {Button::kOk, Button::kOk, Button::kOk, Button::kCancel};
  EXPECT_EQ(RunNewer(rig), 0u);
  EXPECT_EQ(Texts(rig.ui), std::vector<std::string>(4, kAcMissing));
}

TEST(PowerSource, EachCallRefreshesAndReportsOnePass) {
  PolicyRig rig("uefi-16m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0004;
    p.ecb1.refreshesUntilChange = 3;
    p.ecb1.flagsAfter = 0x0180;
  });
  ASSERT_EQ(ReadCurrentIdentity(rig.env, rig.identity), 0);
  int result = -1;
  EXPECT_FALSE(rig.Outcome([&] { result = CheckPowerSource(rig.env, rig.identity); }));
  EXPECT_EQ(result, 0);
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].title, "Korv Tablet 16");
  EXPECT_FALSE(rig.Outcome([&] { result = CheckPowerSource(rig.env, rig.identity); }));
  EXPECT_EQ(result, 1);
  // The refreshed word stays for the version confirmation that follows.
  EXPECT_EQ(rig.sim.info->EcbFlags(), 0x0180);
}

TEST(PowerSource, MachineWithoutTheCapabilityBlockIsNeverAsked) {
  PolicyRig rig("minimal-1m");
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "A02"; });
  bool matched = false;
  EXPECT_FALSE(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); }));
  EXPECT_TRUE(rig.ui.boxes.empty());
  for (const auto& smi : rig.sim.Smis()) EXPECT_NE(smi.value("op", ""), "refresh-ecb");
}

}  // namespace
}  // namespace nox::policy::test

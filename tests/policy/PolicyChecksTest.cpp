#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PolicyRig.h"
#include "config/CommandTable.h"
#include "policy/PolicyChecks.h"
#include "policy/PowerSource.h"

namespace nox::policy::test {
namespace {

namespace option = config::option;
using ui::Button;
using Boxes = std::vector<Box>;

constexpr uint32_t kOkCancelWarning = ui::style::kOkCancel | ui::style::kIconWarning;

void Set(Version& v, const char* text) { std::copy_n(text, 3, v.begin()); }

// ---- choosing among the package's images ------------------------------------------------------

TEST(CandidateSelection, NewerImageOfThisMachineIsTakenWithoutQuestions) {
  PolicyRig rig("legacy-8m");
  EXPECT_FALSE(rig.Check(rig.RomVersion("A07")));
  EXPECT_TRUE(rig.matched);
  EXPECT_TRUE(rig.ui.boxes.empty());
  EXPECT_EQ(VersionText(rig.identity.currentVersion), "A06");
  EXPECT_EQ(rig.identity.currentSystemName.Text(), "Korv 9A");
  EXPECT_FALSE(rig.sim.smi->FlashEnabled());  // handed back before the questions
}

TEST(CandidateSelection, EveryCandidateHasItsEcVersionCompared) {
  PolicyRig rig("legacy-8m");  // "$ECB" places the EC block at 0x40000
  const auto ecReads = [&] {
    size_t n = 0;
    for (const auto& smi : rig.sim.Smis()) n += smi.value("op", "") == "read" && smi.value("addr", 0u) == 0x40000u;
    return n;
  };
  EXPECT_FALSE(rig.Check(rig.Rom([](sim::RomOptions& o) { o.systemId = 0x50; o.names = {"Other"}; })));
  EXPECT_FALSE(rig.matched);
  EXPECT_EQ(ecReads(), 1u);
  EXPECT_FALSE(rig.layout.EcNewer());
  EXPECT_FALSE(rig.Check(rig.Rom([](sim::RomOptions& o) { o.version = "A07"; o.ecVersion = 0x00010300; }), 1));
  EXPECT_EQ(ecReads(), 2u);
  EXPECT_TRUE(rig.layout.EcNewer());
}

TEST(CandidateSelection, ImageWithoutIdsIsUnsupported) {
  PolicyRig rig("minimal-1m");
  rig.words.romGiven = true;
  EXPECT_EQ(rig.Check(rig.Rom([](sim::RomOptions& o) { o.systemId = 0; o.extendedId = 0; })), 0u);
  EXPECT_EQ(rig.ui.korvInfos.size(), 1u);
  EXPECT_TRUE(rig.ui.boxes.empty());
}

// ---- the extension list, on a machine without the capability block --------------------------------

struct ExtensionCase {
  const char* what;
  bool sysext, romGiven;
  std::vector<uint16_t> list;
  bool matched;
  const char* refusal;  // the box text, or null when the image is taken
};

class ExtensionIds : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(ExtensionIds, DecideOnlyWithSysext) {
  const ExtensionCase& c = GetParam();
  PolicyRig rig("minimal-1m");  // system ID 0x31, extended ID 0x0031, no "$ECB"
  if (c.sysext) rig.config.SelectCommand(option::kSystemExtendedId, true);
  rig.words.romGiven = c.romGiven;
  const auto ended = rig.Check(rig.Rom([&](sim::RomOptions& o) {
    o.systemId = 0x32;
    o.extendedId = 0x0032;
    o.extensionIds = c.list;
    o.version = "A02";
  }));
  EXPECT_EQ(rig.matched, c.matched);
  EXPECT_EQ(ended, c.refusal ? std::optional<uint32_t>(0) : std::nullopt);
  EXPECT_EQ(rig.ui.boxes, (c.refusal ? Boxes{{c.refusal, "WARNING", 0}} : Boxes{}));
  // No capability block, so the power source is never asked about.
  for (const auto& smi : rig.sim.Smis()) EXPECT_NE(smi.value("op", ""), "refresh-ecb");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtensionIds,
    ::testing::Values(ExtensionCase{"listed_with_sysext", true, false, {0x0040, 0x0031}, true, nullptr},
                      ExtensionCase{"listed_without_sysext_is_no_match", false, false, {0x0031}, false, nullptr},
                      ExtensionCase{"fixed_rom_listed_with_sysext", true, true, {0x0031}, false, nullptr},
                      ExtensionCase{"fixed_rom_without_sysext", false, true, {0x0031}, false, "Korv ID is not match.\n"},
                      ExtensionCase{"fixed_rom_not_listed", true, true, {0x0040}, false,
                                    "Korv extension ID is not match.\n"}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(ExtensionIds, ForcetypeGoesByTheListAlone) {
  PolicyRig rig("minimal-1m");
  rig.words.forcetype = true;
  // The IDs agree, but with "forcetype" only the list counts.
  EXPECT_EQ(rig.Check(rig.RomVersion("A02")), 0u);
  EXPECT_EQ(rig.ui.Texts(), std::vector<std::string>{"Korv extension ID is not match.\n"});
}

TEST(ModelNames, NameIndexPicksTheImageNameThatMustEqualTheMachines) {
  // The firmware says its name is the second of the image's list, but calls itself by the
  // first: on a machine with the capability block the names decide.
  PolicyRig rig("uefi-16m", [](sim::Profile& p) { p.oem.nameIndex = 2; });
  EXPECT_EQ(rig.Check(rig.RomVersion("B13")), 0u);
  EXPECT_TRUE(rig.matched);  // the IDs fit, so the candidate is the one
  ASSERT_EQ(rig.ui.korvInfos.size(), 1u);
  EXPECT_EQ(rig.ui.korvInfos[0].romSystem, "Korv Tablet 16 LTE 2A51");
  EXPECT_EQ(rig.ui.korvInfos[0].currentSystem, "Korv Tablet 16 2A51");

  PolicyRig past("uefi-16m", [](sim::Profile& p) { p.oem.nameIndex = 3; });  // keeps the first name
  EXPECT_FALSE(past.Check(past.RomVersion("B13")));
  EXPECT_TRUE(past.matched);
  EXPECT_EQ(past.identity.rom.systemName.Text(), "Korv Tablet 16");
}

// ---- version rules -----------------------------------------------------------------------------

struct ProtectionCase {
  const char* what;
  const char* running;
  uint32_t option;
  const char* value;
  bool refused;
};

class VersionProtection : public ::testing::TestWithParam<ProtectionCase> {};

TEST_P(VersionProtection, RefusesAsTheOptionsSay) {
  const ProtectionCase& c = GetParam();
  PolicyRig rig("minimal-1m");
  rig.config.SelectCommand(c.option, true);
  ASSERT_TRUE(rig.config.SetValue(c.option, c.value));
  Set(rig.identity.currentVersion, c.running);
  EXPECT_EQ(rig.Outcome([&] { CheckVersionProtection(rig.env, rig.identity); }).has_value(), c.refused);
  const std::string text = std::string(c.running) + " version is protected,can't to be flashed.\nPress OK to exit.";
  EXPECT_EQ(rig.ui.boxes, (c.refused ? Boxes{{text, "WARNING", 0}} : Boxes{}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionProtection,
    ::testing::Values(ProtectionCase{"notaver_below", "A09", option::kNotAVersion, "A10", true},
                      ProtectionCase{"notaver_equal", "A10", option::kNotAVersion, "A10", false},
                      ProtectionCase{"notaver_lower_case_letter", "a09", option::kNotAVersion, "A10", true},
                      ProtectionCase{"notaver_other_letter", "X09", option::kNotAVersion, "A10", false},
                      ProtectionCase{"notaver_first_value_char_unused", "A09", option::kNotAVersion, "Z10", true},
                      ProtectionCase{"ndwaver_equal", "A10", option::kNdwaVersion, "A10", true},
                      ProtectionCase{"ndwaver_above", "A11", option::kNdwaVersion, "A10", true},
                      ProtectionCase{"ndwaver_below", "A09", option::kNdwaVersion, "A10", false},
                      ProtectionCase{"notxver_below", "X09", option::kNotXVersion, "X10", true},
                      ProtectionCase{"notxver_a_version", "A09", option::kNotXVersion, "X10", false},
                      ProtectionCase{"notxver_equal", "X10", option::kNotXVersion, "X10", false}),
    [](const auto& p) { return std::string(p.param.what); });

constexpr const char* kOlderRefused =
    "You are about to flash your bios to an older Bios version.\nKorv does not recommend flashing your Bios to an "
    "older version.\nPress OK button to exit.";
constexpr const char* kOlderConfirm =
    "You are about to flash your BIOS to an older BIOS version.\nKorv does not recommend flashing your BIOS to an "
    "older version.\nPress the \"OK\" button to continue the flash process.";
constexpr const char* kSameRefused = "Can't flash to the same Bios version.\nPress OK to exit.";
constexpr const char* kSameConfirm =
    "Confirm - Replace \"A06\" BIOS wilth \"A06\" BIOS?\nPress OK will close all applications, shut down Windows, "
    "flash the BIOS, then reboot.";
constexpr const char* kSameTitle = "Korv Mini BIOS Flash A06";

struct ChangeCase {
  const char* what;
  const char* rom;
  const char* running;
  uint16_t ecbFlags;
  bool forceit;
  Button answer;
  bool ended;
  Boxes boxes;
};

class VersionChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(VersionChange, AsksOrRefusesAsTheVersionsAndBitsSay) {
  const ChangeCase& c = GetParam();
  PolicyRig rig("minimal-1m");
  rig.sim.info->SetEcbFlags(c.ecbFlags);
  rig.words.forceit = c.forceit;
  rig.ui.buttons = {c.answer};
  Set(rig.identity.rom.version, c.rom);
  Set(rig.identity.currentVersion, c.running);
  rig.identity.rom.systemName.CopyFrom(std::vector<uint8_t>{'K', 'o', 'r', 'v', ' ', 'M', 'i', 'n', 'i', 0}, 0);
  EXPECT_EQ(rig.Outcome([&] { ConfirmVersionChange(rig.env, rig.identity); }),
            c.ended ? std::optional<uint32_t>(0) : std::nullopt);
  EXPECT_EQ(rig.ui.boxes, c.boxes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionChange,
    ::testing::Values(ChangeCase{"a_image_over_x_asks_nothing", "A05", "X12", 0, false, Button::kOk, false, {}},
                      ChangeCase{"newer", "A07", "A06", 0, false, Button::kOk, false, {}},
                      ChangeCase{"older_refused", "A05", "A06", 0, false, Button::kOk, true,
                                 {{kOlderRefused, "WARNING", 0}}},
                      ChangeCase{"older_forced", "A05", "A06", 0, true, Button::kOk, false, {}},
                      ChangeCase{"older_bit7_ok", "A05", "A06", 0x80, false, Button::kOk, false,
                                 {{kOlderConfirm, "WARNING!!", kOkCancelWarning}}},
                      ChangeCase{"older_bit8_cancel", "A05", "A06", 0x100, true, Button::kCancel, true,
                                 {{kOlderConfirm, "WARNING!!", kOkCancelWarning}}},
                      ChangeCase{"x_image_over_a_is_compared", "X05", "A06", 0, false, Button::kOk, false, {}},
                      ChangeCase{"same_refused", "A06", "A06", 0, false, Button::kOk, true,
                                 {{kSameRefused, "WARNING", 0}}},
                      ChangeCase{"same_forced", "A06", "A06", 0, true, Button::kOk, false, {}},
                      ChangeCase{"same_bit8_ok", "A06", "A06", 0x100, false, Button::kOk, false,
                                 {{kSameConfirm, kSameTitle, kOkCancelWarning}}},
                      ChangeCase{"same_bit7_cancel", "A06", "A06", 0x80, true, Button::kCancel, true,
                                 {{kSameConfirm, kSameTitle, kOkCancelWarning}}}),
    [](const auto& p) { return std::string(p.param.what); });

// ---- the end of the checks -----------------------------------------------------------------------

TEST(LateChecks, ForceitWithLrSkipsPowerAndVersionQuestions) {
  // AC missing for ever and the same version: both would stop a normal run.
  for (const bool lr : {true, false}) {
    PolicyRig rig("legacy-8m", [](sim::Profile& p) { p.ecb1.flags = 0x0001; });
    rig.words.forceit = true;
    rig.words.lr = lr;
    rig.ui.buttons = {Button::kCancel};
    EXPECT_EQ(rig.Check(rig.Rom()), lr ? std::nullopt : std::optional<uint32_t>(0));
    EXPECT_TRUE(rig.matched);
    EXPECT_EQ(rig.ui.boxes.size(), lr ? 0u : 1u);
  }
}

TEST(LateChecks, FirmwareProtectedVersionIsRefused) {
  for (const char* protectedVersion : {"B13", "B14"}) {
    PolicyRig rig("uefi-16m", [&](sim::Profile& p) { p.oem.protectedVersions = {protectedVersion}; });
    const bool refused = std::string(protectedVersion) == "B13";
    EXPECT_EQ(rig.Check(rig.RomVersion("B13")), refused ? std::optional<uint32_t>(0) : std::nullopt);
    const Boxes refusal{{"\"B12\" version is protected, can't flash to \"B13\" version.\nPress OK to exit.",
                         "System Warning !!", 0}};
    EXPECT_EQ(rig.ui.boxes, (refused ? refusal : Boxes{}));
  }
}

TEST(CurrentIdentity, OnUefiComesFromTheFirmwareCallAndIsAskedOnlyOnce) {
  PolicyRig rig("uefi-16m");
  ASSERT_EQ(ReadCurrentIdentity(rig.env, rig.identity), 0);
  EXPECT_EQ(rig.identity.currentExtendedId, 0x2A51);
  EXPECT_EQ(rig.identity.currentSystemName.Text(), "Korv Tablet 16");
  rig.identity.currentExtendedId = 0x1111;  // everything is known now: a second reading keeps it
  ASSERT_EQ(ReadCurrentIdentity(rig.env, rig.identity), 0);
  EXPECT_EQ(rig.identity.currentExtendedId, 0x1111);
}

TEST(CurrentIdentity, OnLegacyKnownIdentityIsNotReadAgainAndAnUnmappableSegmentIsReported) {
  PolicyRig rig("legacy-8m");
  ASSERT_TRUE(rig.sim.driver->UnloadIoDriver());  // no driver: no mapping
  SystemIdentity known;
  Set(known.currentVersion, "A01");
  known.versionFound = known.idsFound = known.nameFound = true;
  EXPECT_EQ(ReadCurrentIdentity(rig.env, known), 0);
  EXPECT_TRUE(rig.console.empty());
  known.nameFound = false;
  EXPECT_EQ(ReadCurrentIdentity(rig.env, known), -1);
  EXPECT_EQ(rig.console, " error mapping physical memory!\n");
  EXPECT_EQ(VersionText(known.currentVersion), "A01");
}

// ---- the power source --------------------------------------------------------------------------

constexpr const char* kAcMissing =
    "The AC adapter and Battery must be plugged in before the system BIOS\ncan be flashed.Press OK when they are both "
    "plugged in or CANCEL to quit.";
constexpr const char* kBatteryLow =
    "The Battery must be charged above 10 percent before the system BIOS can be flashed.\nPress OK when the Battery "
    "is charged or CANCEL to quit.";

struct PowerCase {
  const char* what;
  uint16_t flags;
  uint32_t refreshesUntilChange;  // one refresh is made while the firmware is probed
  uint16_t flagsAfter;
  std::deque<Button> buttons;
  bool ended;
  std::vector<std::string> texts;
};

class PowerSource : public ::testing::TestWithParam<PowerCase> {};

TEST_P(PowerSource, AsksUntilFixedOrCancelled) {
  const PowerCase& c = GetParam();
  PolicyRig rig("legacy-8m", [&](sim::Profile& p) {
    p.ecb1.flags = c.flags;
    p.ecb1.refreshesUntilChange = c.refreshesUntilChange;
    p.ecb1.flagsAfter = c.flagsAfter;
  });
  rig.ui.buttons = c.buttons;
  EXPECT_EQ(rig.Check(rig.RomVersion("A07")), c.ended ? std::optional<uint32_t>(0) : std::nullopt);
  EXPECT_EQ(rig.ui.Texts(), c.texts);
  for (const Box& b : rig.ui.boxes) EXPECT_EQ(b, (Box{b.text, "Korv 9A", ui::style::kOkCancel}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PowerSource,
    ::testing::Values(PowerCase{"ac_then_charge", 0x0005, 4, 0x0004, {Button::kOk, Button::kOk, Button::kCancel}, true,
                                {kAcMissing, kAcMissing, kBatteryLow}},
                      PowerCase{"charged_then_ok", 0x0004, 3, 0x0000, {}, false, {kBatteryLow}},
                      PowerCase{"ok_without_fixing_asks_again", 0x0002, 0, 0,
                                {Button::kOk, Button::kOk, Button::kOk, Button::kCancel}, true,
                                std::vector<std::string>(4, kAcMissing)}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(PowerSource, EachCallRefreshesAndReportsOnePass) {
  PolicyRig rig("uefi-16m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0004;
    p.ecb1.refreshesUntilChange = 3;
    p.ecb1.flagsAfter = 0x0180;
  });
  ASSERT_EQ(ReadCurrentIdentity(rig.env, rig.identity), 0);
  EXPECT_EQ(CheckPowerSource(rig.env, rig.identity), 0);
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].title, "Korv Tablet 16");
  EXPECT_EQ(CheckPowerSource(rig.env, rig.identity), 1);
  // The refreshed word stays for the version confirmation that follows.
  EXPECT_EQ(rig.sim.info->EcbFlags(), 0x0180);
}

}  // namespace
}  // namespace nox::policy::test

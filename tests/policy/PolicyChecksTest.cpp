#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PolicyRig.h"
#include "config/CommandTable.h"
#include "policy/PolicyChecks.h"

namespace nox::policy::test {
namespace {

namespace option = config::option;
using ui::Button;

constexpr uint32_t kOkCancelWarning = ui::style::kOkCancel | ui::style::kIconWarning;

// ---- choosing among the package's images ------------------------------------------------------

TEST(CandidateSelection, MissingImageIsRefusedWithItsNumber) {
  PolicyRig rig("legacy-8m");
  bool matched = true;
  const auto ended = rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {3, false, {}}, matched); });
  ASSERT_EQ(ended, 0u);
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "Can't find the number 03 ROM file ...\nPress OK to quit.");
  EXPECT_EQ(rig.ui.boxes[0].title, "WARNING");
  EXPECT_EQ(rig.ui.boxes[0].style, ui::style::kOk);
  EXPECT_FALSE(matched);
}

TEST(CandidateSelection, NewerImageOfThisMachineIsTakenWithoutQuestions) {
  PolicyRig rig("legacy-8m");
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "A07"; });
  bool matched = false;
  const auto ended = rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); });
  EXPECT_FALSE(ended);
  EXPECT_TRUE(matched);
  EXPECT_TRUE(rig.ui.boxes.empty());
  EXPECT_EQ(VersionText(rig.identity.currentVersion), "A06");
  EXPECT_EQ(VersionText(rig.identity.rom.version), "A07");
  EXPECT_EQ(rig.identity.currentSystemName.Text(), "Korv 9A");
  EXPECT_FALSE(rig.sim.smi->FlashEnabled());  // handed back before the questions
}

TEST(CandidateSelection, MisfitsAreSkippedAndTheFirstOneIsShownWhenNoneFits) {
  PolicyRig rig("legacy-8m");
  auto other = [&](uint8_t systemId, const char* name, const char* version) {
    return rig.Rom([=](sim::RomOptions& o) {
      o.systemId = systemId;
      o.names = {name};
      o.version = version;
    });
  };
  const auto rom0 = other(0x50, "Other 0", "A01");
  const auto rom1 = other(0x51, "Other 1", "A02");
  const auto rom9 = other(0x59, "Other 9", "A09");
  bool matched = true;
  EXPECT_FALSE(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom0}, matched); }));
  EXPECT_FALSE(matched);
  EXPECT_FALSE(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {1, true, rom1}, matched); }));
  EXPECT_FALSE(matched);
  EXPECT_EQ(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {9, true, rom9}, matched); }), 0u);
  ASSERT_EQ(rig.ui.korvInfos.size(), 1u);
  const ui::KorvInfo& info = rig.ui.korvInfos[0];
  EXPECT_EQ(info.romSystem, "Other 0 1234");
  EXPECT_EQ(info.romRevision, "A01");
  EXPECT_EQ(info.currentSystem, "Korv 9A 1234");
  EXPECT_EQ(info.currentRevision, "A06");
  EXPECT_TRUE(rig.ui.boxes.empty());
}

TEST(CandidateSelection, FixedRomNumberSkipsTheChoiceButNotTheIdCheck) {
  PolicyRig rig("legacy-8m");
  rig.words.romGiven = true;
  const auto rom = rig.Rom([](sim::RomOptions& o) {
    o.systemId = 0x50;
    o.names = {"Other"};
  });
  bool matched = true;
  EXPECT_EQ(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {4, true, rom}, matched); }), 0u);
  EXPECT_FALSE(matched);
  ASSERT_EQ(rig.ui.korvInfos.size(), 1u);  // the names differ on a machine with the capability block
  EXPECT_EQ(rig.ui.korvInfos[0].romSystem, "Other 1234");
}

// ---- the extension list, on a machine without the capability block --------------------------------

struct ExtensionCase {
  const char* what;
  bool sysext;
  bool romGiven;
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
  const auto rom = rig.Rom([&](sim::RomOptions& o) {
    o.systemId = 0x32;
    o.extendedId = 0x0032;
    o.extensionIds = c.list;
    o.version = "A02";
  });
  bool matched = false;
  const auto ended = rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); });
  EXPECT_EQ(matched, c.matched);
  if (c.refusal) {
    EXPECT_EQ(ended, 0u);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text, c.refusal);
    EXPECT_EQ(rig.ui.boxes[0].title, "WARNING");
  } else {
    EXPECT_FALSE(ended);
    EXPECT_TRUE(rig.ui.boxes.empty());
  }
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
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "A02"; });
  bool matched = false;
  EXPECT_EQ(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); }), 0u);
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "Korv extension ID is not match.\n");
}

TEST(ModelNames, NameIndexPicksTheImageNameThatMustEqualTheMachines) {
  // The firmware says its name is the second of the image's list, but calls itself by the
  // first: on a machine with the capability block the names decide.
  PolicyRig rig("uefi-16m", [](sim::Profile& p) { p.oem.nameIndex = 2; });
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "B13"; });
  bool matched = false;
  EXPECT_EQ(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); }), 0u);
  EXPECT_TRUE(matched);  // the IDs fit, so the candidate is the one
  EXPECT_EQ(rig.identity.systemNameIndex, 2);
  EXPECT_EQ(rig.identity.rom.systemName.Text(), "Korv Tablet 16 LTE");
  ASSERT_EQ(rig.ui.korvInfos.size(), 1u);
  EXPECT_EQ(rig.ui.korvInfos[0].romSystem, "Korv Tablet 16 LTE 2A51");
  EXPECT_EQ(rig.ui.korvInfos[0].currentSystem, "Korv Tablet 16 2A51");
}

TEST(ModelNames, IndexPastTheListKeepsTheFirstNameAndTheImageIsTaken) {
  PolicyRig rig("uefi-16m", [](sim::Profile& p) { p.oem.nameIndex = 3; });
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "B13"; });
  bool matched = false;
  EXPECT_FALSE(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); }));
  EXPECT_TRUE(matched);
  EXPECT_EQ(rig.identity.rom.systemName.Text(), "Korv Tablet 16");
  EXPECT_TRUE(rig.ui.korvInfos.empty());
}

TEST(UnknownIdentity, ImageWithoutIdsIsUnsupported) {
  PolicyRig rig("minimal-1m");
  rig.words.romGiven = true;
  const auto rom = rig.Rom([](sim::RomOptions& o) {
    o.systemId = 0;
    o.extendedId = 0;
  });
  bool matched = false;
  EXPECT_EQ(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); }), 0u);
  EXPECT_EQ(rig.ui.korvInfos.size(), 1u);
  EXPECT_TRUE(rig.ui.boxes.empty());
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
  std::copy_n(c.running, 3, rig.identity.currentVersion.begin());
  const auto ended = rig.Outcome([&] { CheckVersionProtection(rig.env, rig.identity); });
  EXPECT_EQ(ended.has_value(), c.refused);
  if (c.refused) {
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text,
              std::string(c.running) + " version is protected,can't to be flashed.\nPress OK to exit.");
    EXPECT_EQ(rig.ui.boxes[0].title, "WARNING");
  } else {
    EXPECT_TRUE(rig.ui.boxes.empty());
  }
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

TEST(VersionProtection, UnselectedOptionsRefuseNothing) {
  PolicyRig rig("minimal-1m");
  rig.identity.currentVersion = {'A', '0', '1'};
  EXPECT_FALSE(rig.Outcome([&] { CheckVersionProtection(rig.env, rig.identity); }));
}

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

struct ChangeCase {
  const char* what;
  const char* rom;
  const char* running;
  uint16_t ecbFlags;
  bool forceit;
  Button answer;
  bool ended;
  const char* text;  // the one box, or null for none
  const char* title;
  uint32_t style;
};

class VersionChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(VersionChange, AsksOrRefusesAsTheVersionsAndBitsSay) {
  const ChangeCase& c = GetParam();
  PolicyRig rig("minimal-1m");
  rig.sim.info->SetEcbFlags(c.ecbFlags);
  rig.words.forceit = c.forceit;
  rig.ui.buttons = {c.answer};
  std::copy_n(c.rom, 3, rig.identity.rom.version.begin());
  std::copy_n(c.running, 3, rig.identity.currentVersion.begin());
  const std::vector<uint8_t> name = {'K', 'o', 'r', 'v', ' ', 'M', 'i', 'n', 'i', 0};
  rig.identity.rom.systemName.CopyFrom(name, 0);
  const auto ended = rig.Outcome([&] { ConfirmVersionChange(rig.env, rig.identity); });
  EXPECT_EQ(ended.has_value(), c.ended);
  if (ended) {
    EXPECT_EQ(*ended, 0u);
  }
  if (!c.text) {
    EXPECT_TRUE(rig.ui.boxes.empty());
    return;
  }
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, c.text);
  EXPECT_EQ(rig.ui.boxes[0].title, c.title);
  EXPECT_EQ(rig.ui.boxes[0].style, c.style);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionChange,
    ::testing::Values(
        ChangeCase{"a_image_over_x_asks_nothing", "A05", "X12", 0, false, Button::kOk, false, nullptr, "", 0},
        ChangeCase{"newer", "A07", "A06", 0, false, Button::kOk, false, nullptr, "", 0},
        ChangeCase{"older_refused", "A05", "A06", 0, false, Button::kOk, true, kOlderRefused, "WARNING", 0},
        ChangeCase{"older_forced", "A05", "A06", 0, true, Button::kOk, false, nullptr, "", 0},
        ChangeCase{"older_bit7_ok", "A05", "A06", 0x80, false, Button::kOk, false, kOlderConfirm, "WARNING!!",
                   kOkCancelWarning},
        ChangeCase{"older_bit8_cancel", "A05", "A06", 0x100, true, Button::kCancel, true, kOlderConfirm, "WARNING!!",
                   kOkCancelWarning},
        ChangeCase{"x_image_over_a_is_compared", "X05", "A06", 0, false, Button::kOk, false, nullptr, "", 0},
        ChangeCase{"same_refused", "A06", "A06", 0, false, Button::kOk, true, kSameRefused, "WARNING", 0},
        ChangeCase{"same_forced", "A06", "A06", 0, true, Button::kOk, false, nullptr, "", 0},
        ChangeCase{"same_bit8_ok", "A06", "A06", 0x100, false, Button::kOk, false, kSameConfirm,
                   "Korv Mini BIOS Flash A06", kOkCancelWarning},
        ChangeCase{"same_bit7_cancel", "A06", "A06", 0x80, true, Button::kCancel, true, kSameConfirm,
                   "Korv Mini BIOS Flash A06", kOkCancelWarning}),
    [](const auto& p) { return std::string(p.param.what); });

// ---- the end of the checks -----------------------------------------------------------------------

TEST(LateChecks, ForceitWithLrSkipsPowerAndVersionQuestions) {
  // AC missing for ever and the same version: both would stop a normal run.
  auto missingAc = [](sim::Profile& p) { p.ecb1.flags = 0x0001; };
  PolicyRig forced("legacy-8m", missingAc);
  forced.words.forceit = true;
  forced.words.lr = true;
  bool matched = false;
  EXPECT_FALSE(forced.Outcome([&] { RunPolicyChecks(forced.env, forced.identity, {0, true, forced.Rom()}, matched); }));
  EXPECT_TRUE(matched);
  EXPECT_TRUE(forced.ui.boxes.empty());

  PolicyRig plain("legacy-8m", missingAc);
  plain.words.forceit = true;
  plain.ui.buttons = {Button::kCancel};
  EXPECT_EQ(plain.Outcome([&] { RunPolicyChecks(plain.env, plain.identity, {0, true, plain.Rom()}, matched); }), 0u);
  ASSERT_EQ(plain.ui.boxes.size(), 1u);
  EXPECT_EQ(plain.ui.boxes[0].title, "Korv 9A");
}

TEST(LateChecks, FirmwareProtectedVersionIsRefused) {
  PolicyRig rig("uefi-16m", [](sim::Profile& p) { p.oem.protectedVersions = {"B13"}; });
  const auto rom = rig.Rom([](sim::RomOptions& o) { o.version = "B13"; });
  bool matched = false;
  EXPECT_EQ(rig.Outcome([&] { RunPolicyChecks(rig.env, rig.identity, {0, true, rom}, matched); }), 0u);
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "\"B12\" version is protected, can't flash to \"B13\" version.\nPress OK to exit.");
  EXPECT_EQ(rig.ui.boxes[0].title, "System Warning !!");

  PolicyRig other("uefi-16m", [](sim::Profile& p) { p.oem.protectedVersions = {"B14"}; });
  EXPECT_FALSE(other.Outcome([&] {
    RunPolicyChecks(other.env, other.identity, {0, true, other.Rom([](sim::RomOptions& o) { o.version = "B13"; })},
                    matched);
  }));
  EXPECT_TRUE(other.ui.boxes.empty());
}

TEST(CurrentIdentityOnUefi, ComesFromTheFirmwareCallAndIsAskedOnlyOnce) {
  PolicyRig rig("uefi-16m");
  ASSERT_EQ(ReadCurrentIdentity(rig.env, rig.identity), 0);
  EXPECT_EQ(VersionText(rig.identity.currentVersion), "B12");
  EXPECT_EQ(rig.identity.currentSystemId, 0xFE);
  EXPECT_EQ(rig.identity.currentExtendedId, 0x2A51);
  EXPECT_EQ(rig.identity.currentSystemName.Text(), "Korv Tablet 16");
  // Everything is known now: a second reading keeps it even if the area changed.
  rig.identity.currentExtendedId = 0x1111;
  ASSERT_EQ(ReadCurrentIdentity(rig.env, rig.identity), 0);
  EXPECT_EQ(rig.identity.currentExtendedId, 0x1111);
}

TEST(CurrentIdentityOnLegacy, KnownIdentityIsNotReadAgainAndAnUnmappableSegmentIsReported) {
  PolicyRig rig("legacy-8m");
  ASSERT_TRUE(rig.sim.driver->UnloadIoDriver());  // no driver: no mapping
  SystemIdentity known;
  known.currentVersion = {'A', '0', '1'};
  known.versionFound = known.idsFound = known.nameFound = true;
  EXPECT_EQ(ReadCurrentIdentity(rig.env, known), 0);
  EXPECT_EQ(VersionText(known.currentVersion), "A01");
  EXPECT_TRUE(rig.console.empty());

  known.nameFound = false;
  EXPECT_EQ(ReadCurrentIdentity(rig.env, known), -1);
  EXPECT_EQ(rig.console, " error mapping physical memory!\n");
  EXPECT_EQ(VersionText(known.currentVersion), "A01");
}

}  // namespace
}  // namespace nox::policy::test

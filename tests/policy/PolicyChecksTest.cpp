// The policy checks wired to an in-memory simulated machine, a scripted user interface and a
// session end that throws.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/CommandTable.h"
#include "config/ScriptedUi.h"
#include "firmware/SimRig.h"
#include "platform/sim/RomImage.h"
#include "policy/AdminPassword.h"
#include "policy/FirmwarePassword.h"
#include "policy/PolicyChecks.h"
#include "policy/PowerSource.h"
#include "policy/Wipe.h"

namespace nox::policy::test {
namespace {

using testing::Box;
using testing::Boxes;
using testing::Strings;
using Tweak = std::function<void(sim::Profile&)>;
// How a step ended: the session's end with its id, or none when the step returned.
using Outcome = std::optional<uint32_t>;
const Outcome kEnded = 0u;

struct PolicyRig {
  explicit PolicyRig(const std::string& preset, const Tweak& tweak = {}) : sim(preset, tweak) { sim.Open(); }

  // An image made for this machine's flash part, with the running identity changed by `change`.
  std::vector<uint8_t> Rom(const std::function<void(sim::RomOptions&)>& change = {}) const {
    sim::RomOptions options = sim::RunningRomOptions(sim.machine->GetProfile());
    if (change) change(options);
    sim::RomResult result = sim::BuildRomImage(sim.machine->GetProfile(), options);
    if (!result.error.empty()) throw std::runtime_error(result.error);
    return result.image;
  }
  std::vector<uint8_t> RomVersion(const char* v) const { return Rom([=](sim::RomOptions& o) { o.version = v; }); }

  // Runs `step`; the error id when it ended the session, none when it returned.
  Outcome Run(const std::function<void()>& step) {
    try {
      step();
    } catch (const testing::Ended& e) {
      return e.errorId;
    }
    return std::nullopt;
  }
  // The checks on the package's image number `number`, the way start-up runs them.
  Outcome Check(const std::vector<uint8_t>& rom, uint32_t number = 0) {
    return Run([&] { RunPolicyChecks(env, identity, {number, true, rom}, matched); });
  }

  // The SMIs that reached the firmware holding every field of `pattern`.
  size_t Smis(const nlohmann::json& pattern) const {
    const auto smis = sim.Smis();
    return std::ranges::count_if(smis, [&](nlohmann::json smi) {
      const nlohmann::json before = smi;
      smi.update(pattern);
      return smi == before;
    });
  }
  // True when `needle` occurs anywhere in the machine's shared block.
  bool SharedBlockHolds(std::string_view needle) {
    const auto block = sim.machine->SharedBlock();
    return std::search(block.begin(), block.end(), needle.begin(), needle.end()) != block.end();
  }

  testing::SimRig sim;
  testing::ScriptedUi ui;
  testing::ThrowingEnd end;
  config::ConfigStore config;
  config::WordOptionFlags words;
  image::FlashLayout layout;
  std::string console;
  SystemIdentity identity;
  bool matched = false;
  std::vector<uint8_t> scratch = std::vector<uint8_t>(0x10000);
  std::function<void(const std::string&)> print = [this](const std::string& line) { console += line; };
  PolicyEnv env{config, words, *sim.smi, *sim.info, *sim.oem, *sim.driver, layout, ui, end, print, scratch};
  FirmwarePasswordEnv fenv{config, *sim.ofbd, *sim.smi, ui, *sim.os, print};
};

namespace option = config::option;
using ui::Button;
constexpr Button kOk = Button::kOk, kCancel = Button::kCancel;

void Set(Version& v, const char* text) { std::copy_n(text, 3, v.begin()); }

// ---- choosing among the package's images ------------------------------------------------------

// What a user meets (the missing image, the choice among misfits, a fixed number that does
// not fit) is proven by the whole start-up runs of the application tests; here what they
// cannot see: a fitting image is taken quietly, flash writes are handed back before the
// questions, every candidate has its EC version compared, and one without IDs is unsupported.
TEST(CandidateSelection, FittingImageIsTakenQuietlyEveryCandidateReadsTheEcAndOneWithoutIdsIsUnsupported) {
  PolicyRig rig("legacy-8m");  // "$ECB" places the EC block at 0x40000
  const nlohmann::json ecRead = {{"op", "read"}, {"addr", 0x40000}};
  EXPECT_FALSE(rig.Check(rig.Rom([](sim::RomOptions& o) { o.systemId = 0x50; o.names = {"Other"}; })));
  EXPECT_EQ(std::tuple(rig.matched, rig.Smis(ecRead), rig.layout.EcNewer()), std::tuple(false, size_t{1}, false));
  EXPECT_FALSE(rig.Check(rig.Rom([](sim::RomOptions& o) { o.version = "A07"; o.ecVersion = 0x00010300; }), 1));
  EXPECT_EQ(std::tuple(rig.matched, rig.Smis(ecRead), rig.layout.EcNewer(), rig.ui.boxes.size()),
            std::tuple(true, size_t{2}, true, size_t{0}));
  EXPECT_FALSE(rig.sim.smi->FlashEnabled());

  PolicyRig noIds("minimal-1m");
  noIds.words.romGiven = true;
  EXPECT_EQ(noIds.Check(noIds.Rom([](sim::RomOptions& o) { o.systemId = 0; o.extendedId = 0; })), kEnded);
  EXPECT_EQ(std::make_pair(noIds.ui.korvInfos.size(), noIds.ui.boxes.size()), std::make_pair(size_t{1}, size_t{0}));
}

// ---- the extension list, on a machine without the capability block --------------------------------

TEST(ExtensionIds, DecideOnlyWithSysextOrForcetype) {
  struct Case { bool sysext, romGiven, forcetype; uint8_t romId; std::vector<uint16_t> list; bool matched;
                const char* refusal; };
  const char* const kIdRefused = "Korv ID is not match.\n";
  const char* const kListRefused = "Korv extension ID is not match.\n";
  // Listed, but without sysext no match; with "forcetype" only the list counts, though the IDs agree.
  for (const Case& c : {Case{true, false, false, 0x32, {0x0040, 0x0031}, true, nullptr},
                        Case{false, false, false, 0x32, {0x0031}, false, nullptr}, Case{true, true, false, 0x32, {0x0031}},
                        Case{false, true, false, 0x32, {0x0031}, false, kIdRefused},
                        Case{true, true, false, 0x32, {0x0040}, false, kListRefused},
                        Case{false, false, true, 0x31, {}, false, kListRefused}}) {
    SCOPED_TRACE(::testing::Message() << c.sysext << c.romGiven << c.forcetype);
    PolicyRig rig("minimal-1m");  // system ID 0x31, extended ID 0x0031, no "$ECB"
    if (c.sysext) rig.config.SelectCommand(option::kSystemExtendedId, true);
    rig.words.romGiven = c.romGiven;
    rig.words.forcetype = c.forcetype;
    const auto ended = rig.Check(rig.Rom([&](sim::RomOptions& o) {
      std::tie(o.systemId, o.extendedId, o.extensionIds, o.version) = std::tuple(c.romId, c.romId, c.list, "A02");
    }));
    EXPECT_EQ(std::make_pair(rig.matched, ended), std::make_pair(c.matched, c.refusal ? kEnded : std::nullopt));
    EXPECT_EQ(rig.ui.boxes, (c.refusal ? Boxes{{c.refusal, "WARNING", 0}} : Boxes{}));
    // No capability block, so the power source is never asked about.
    EXPECT_EQ(rig.Smis({{"op", "refresh-ecb"}}), 0u);
  }
}

TEST(ModelNames, NameIndexPicksTheImageNameThatMustEqualTheMachines) {
  // The firmware says its name is the second of the image's list, but calls itself by the
  // first: on a machine with the capability block the names decide.
  PolicyRig rig("uefi-16m", [](sim::Profile& p) { p.oem.nameIndex = 2; });
  EXPECT_EQ(rig.Check(rig.RomVersion("B13")), kEnded);  // the IDs fit, so the candidate is the one
  ASSERT_EQ(rig.ui.korvInfos.size(), 1u);
  EXPECT_EQ(std::make_pair(rig.ui.korvInfos[0].romSystem, rig.ui.korvInfos[0].currentSystem),
            std::make_pair(std::string("Korv Tablet 16 LTE 2A51"), std::string("Korv Tablet 16 2A51")));
}

// ---- version rules -----------------------------------------------------------------------------

TEST(VersionProtection, RefusesAsTheOptionsSay) {
  struct Case { const char* running; uint32_t option; const char* value; bool refused; };  // option 0: none
  const uint32_t notA = option::kNotAVersion, ndwA = option::kNdwaVersion, notX = option::kNotXVersion;
  for (const Case& c : {Case{"A09", notA, "A10", true}, Case{"A10", notA, "A10", false}, Case{"a09", notA, "A10", true},
                        Case{"X09", notA, "A10", false}, Case{"A09", notA, "Z10", true},  // the value's letter is unused
                        Case{"A10", ndwA, "A10", true}, Case{"A11", ndwA, "A10", true}, Case{"A09", ndwA, "A10", false},
                        Case{"X09", notX, "X10", true}, Case{"A09", notX, "X10", false}, Case{"X10", notX, "X10", false},
                        Case{"A01", 0, "", false}}) {
    SCOPED_TRACE(::testing::Message() << c.running << " " << c.option << " " << c.value);
    PolicyRig rig("minimal-1m");
    if (c.option != 0) {
      rig.config.SelectCommand(c.option, true);
      ASSERT_TRUE(rig.config.SetValue(c.option, c.value));
    }
    Set(rig.identity.currentVersion, c.running);
    EXPECT_EQ(rig.Run([&] { CheckVersionProtection(rig.env, rig.identity); }), c.refused ? kEnded : std::nullopt);
    const std::string text = std::string(c.running) + " version is protected,can't to be flashed.\nPress OK to exit.";
    EXPECT_EQ(rig.ui.boxes, (c.refused ? Boxes{{text, "WARNING", 0}} : Boxes{}));
  }
}

constexpr uint32_t kOkCancelWarning = ui::style::kOkCancel | ui::style::kIconWarning;
const Boxes kOlderRefused{{"You are about to flash your bios to an older Bios version.\nKorv does not recommend flashing "
                           "your Bios to an older version.\nPress OK button to exit.",
                           "WARNING", 0}};
const Boxes kOlderAsked{{"You are about to flash your BIOS to an older BIOS version.\nKorv does not recommend flashing "
                         "your BIOS to an older version.\nPress the \"OK\" button to continue the flash process.",
                         "WARNING!!", kOkCancelWarning}};
const Boxes kSameRefused{{"Can't flash to the same Bios version.\nPress OK to exit.", "WARNING", 0}};
const Boxes kSameAsked{{"Confirm - Replace \"A06\" BIOS wilth \"A06\" BIOS?\nPress OK will close all applications, "
                        "shut down Windows, flash the BIOS, then reboot.",
                        "Korv Mini BIOS Flash A06", kOkCancelWarning}};

TEST(VersionChange, AsksOrRefusesAsTheVersionsAndBitsSay) {
  // held: the flash part holds the image already (else an update to it was cut off).
  struct Case { const char* rom; const char* running; uint16_t ecbFlags; bool forceit; Button answer; bool ended; Boxes boxes;
                bool held = true; };
  for (const Case& c : {Case{"A05", "X12", 0, false, kOk, false, {}},  // an A image over an X version asks nothing
                        Case{"A07", "A06", 0, false, kOk, false, {}}, Case{"A05", "A06", 0, true, kOk, false, {}},
                        Case{"A05", "A06", 0, false, kOk, true, kOlderRefused},
                        Case{"A05", "A06", 0x80, false, kOk, false, kOlderAsked},
                        Case{"A05", "A06", 0x100, true, kCancel, true, kOlderAsked},
                        Case{"X05", "A06", 0, false, kOk, false, {}},  // an X image over an A version is compared
                        Case{"A06", "A06", 0, false, kOk, true, kSameRefused}, Case{"A06", "A06", 0, true, kOk, false, {}},
                        Case{"A06", "A06", 0x100, false, kOk, false, kSameAsked},
                        Case{"A06", "A06", 0x80, true, kCancel, true, kSameAsked},
                        Case{"A06", "A06", 0, false, kOk, false, {}, false},
                        Case{"A05", "A06", 0, false, kOk, true, kOlderRefused, false}}) {
    SCOPED_TRACE(::testing::Message() << c.rom << " over " << c.running << " " << c.ecbFlags << " " << c.forceit);
    PolicyRig rig("minimal-1m");
    rig.sim.info->SetEcbFlags(c.ecbFlags);
    rig.words.forceit = c.forceit;
    rig.env.partHoldsImage = [&](std::span<const uint8_t>) { return c.held; };
    rig.ui.buttons = {c.answer};
    Set(rig.identity.rom.version, c.rom);
    Set(rig.identity.currentVersion, c.running);
    rig.identity.rom.systemName.CopyFrom(std::vector<uint8_t>{'K', 'o', 'r', 'v', ' ', 'M', 'i', 'n', 'i', 0}, 0);
    EXPECT_EQ(rig.Run([&] { ConfirmVersionChange(rig.env, rig.identity); }), c.ended ? kEnded : std::nullopt);
    EXPECT_EQ(rig.ui.boxes, c.boxes);
  }
}

// ---- the end of the checks -----------------------------------------------------------------------

TEST(LateChecks, FirmwareProtectedVersionIsRefused) {
  const Boxes refusal{
      {"\"B12\" version is protected, can't flash to \"B13\" version.\nPress OK to exit.", "System Warning !!", 0}};
  for (const auto& [listed, boxes] : {std::pair{"B13", refusal}, {"B14", Boxes{}}}) {
    PolicyRig rig("uefi-16m", [&](sim::Profile& p) { p.oem.protectedVersions = {listed}; });
    EXPECT_EQ(rig.Check(rig.RomVersion("B13")), boxes.empty() ? std::nullopt : kEnded);
    EXPECT_EQ(rig.ui.boxes, boxes);
  }
}

TEST(CurrentIdentity, OnLegacyKnownIdentityIsNotReadAgainAndAnUnmappableSegmentIsReported) {
  PolicyRig rig("legacy-8m");
  ASSERT_TRUE(rig.sim.driver->UnloadIoDriver());  // no driver: no mapping
  SystemIdentity known;
  Set(known.currentVersion, "A01");
  known.versionFound = known.idsFound = known.nameFound = true;
  EXPECT_EQ(std::make_pair(ReadCurrentIdentity(rig.env, known), rig.console), std::make_pair(0, std::string()));
  known.nameFound = false;
  EXPECT_EQ(std::make_pair(ReadCurrentIdentity(rig.env, known), rig.console),
            std::make_pair(-1, std::string(" error mapping physical memory!\n")));
  EXPECT_EQ(VersionText(known.currentVersion), "A01");
}

// ---- the power source --------------------------------------------------------------------------

TEST(PowerSource, AsksUntilFixedOrCancelledUnlessForcedAndUnattended) {
  const char* const kAcMissing =
      "The AC adapter and Battery must be plugged in before the system BIOS\ncan be flashed.Press OK when they are "
      "both plugged in or CANCEL to quit.";
  const char* const kBatteryLow =
      "The Battery must be charged above 10 percent before the system BIOS can be flashed.\nPress OK when the "
      "Battery is charged or CANCEL to quit.";
  // With nothing to fix a call reports one pass; the checks ask again on anything else.
  PolicyRig fine("legacy-8m");
  ASSERT_EQ(std::pair(CheckPowerSource(fine.env, fine.identity), fine.ui.boxes.size()), std::pair(1, size_t{0}));
  // One refresh of the flags is made while the firmware is probed.
  // until: the refreshes before the flags change.
  struct Case { uint16_t flags; uint32_t until; uint16_t flagsAfter; bool forceit, lr;
                std::deque<Button> buttons; bool ended; Strings texts; };
  for (const Case& c : {Case{0x0005, 4, 0x0004, false, false, {kOk, kOk, kCancel}, true,
                             {kAcMissing, kAcMissing, kBatteryLow}},
                        Case{0x0004, 3, 0x0000, false, false, {kOk}, false, {kBatteryLow}},
                        // OK without fixing anything asks again.
                        Case{0x0002, 0, 0, false, false, {kOk, kOk, kOk, kCancel}, true, Strings(4, kAcMissing)},
                        Case{0x0001, 0, 0, true, false, {kCancel}, true, {kAcMissing}},
                        Case{0x0001, 0, 0, true, true, {kCancel}, false, {}}}) {
    SCOPED_TRACE(::testing::Message() << c.flags << (c.forceit ? " forceit" : "") << (c.lr ? " lr" : ""));
    PolicyRig rig("legacy-8m", [&](sim::Profile& p) {
      std::tie(p.ecb1.flags, p.ecb1.refreshesUntilChange, p.ecb1.flagsAfter) = std::tuple(c.flags, c.until, c.flagsAfter);
    });
    std::tie(rig.words.forceit, rig.words.lr) = std::tuple(c.forceit, c.lr);
    rig.ui.buttons = c.buttons;
    EXPECT_EQ(rig.Check(rig.RomVersion("A07")), c.ended ? kEnded : std::nullopt);
    EXPECT_EQ(rig.ui.Texts(), c.texts);
    for (const Box& b : rig.ui.boxes) EXPECT_EQ(b, (Box{std::get<0>(b), "Korv 9A", ui::style::kOkCancel}));
  }
}

// ---- administrator password ----------------------------------------------------------------------

// The class-10 calls with `select` (3 the maximum length, 4 a submission).
nlohmann::json PasswordCall(unsigned select) { return {{"op", "oem"}, {"class", 10}, {"select", select}}; }

TEST(AdminPassword, OneAttemptAgainstTheMaximumLengthAndNoneWithoutAPassword) {
  // set: the firmware's password, at most 6 characters; none: the firmware does not answer class 10.
  struct Case { std::optional<std::string> set, typed; bool onCommandLine, accepted; const char* message;
                size_t submissions; };
  const char* const kWrong = "Admin password is not correct.";
  for (const Case& c : {Case{"secret", "secret", false, true, nullptr, 1},  // exactly the maximum
                        Case{"secret", "secrets", false, false, "Error : Password maximum length is 6.", 0},
                        Case{"secret", "public", false, false, kWrong, 1},
                        Case{"secret", "", false, false, kWrong, 1},  // empty is sent
                        Case{"secret", std::nullopt, false, false, kWrong, 0},  // cancelled
                        Case{"secret", "secret", true, true, nullptr, 1},
                        Case{"secret", "secreT", true, false, kWrong, 1},
                        Case{"", "x", false, true, nullptr, 0}, Case{std::nullopt, "x", false, true, nullptr, 0}}) {
    SCOPED_TRACE(c.set.value_or("(none)") + " " + c.typed.value_or("(cancelled)") + (c.onCommandLine ? " given" : ""));
    PolicyRig rig("uefi-16m", [&](sim::Profile& p) {
      std::tie(p.oem.adminPassword, p.oem.password, p.oem.passwordMaxLength) = std::tuple(!!c.set, c.set.value_or(""), 6);
    });
    if (c.onCommandLine) std::tie(rig.words.passwordGiven, rig.words.password) = std::tuple(true, *c.typed);
    else rig.ui.passwords = {c.typed};
    const bool asked = !c.onCommandLine && c.set.value_or("") != "";
    EXPECT_EQ(CheckAdminPassword(rig.env, rig.words), c.accepted);
    EXPECT_EQ(std::tuple(rig.ui.prompts, rig.Smis(PasswordCall(4)), rig.Smis(PasswordCall(3)) != 0),
              std::tuple(asked ? Strings{"Enter Admin Password"} : Strings{}, c.submissions, c.set.value_or("") != ""));
    const Box box{c.message ? c.message : "", "Password checking", ui::style::kOk | ui::style::kIconWarning};
    EXPECT_EQ(rig.ui.boxes, (c.message ? Boxes{box} : Boxes{}));
    EXPECT_FALSE(c.typed && !c.typed->empty() && rig.SharedBlockHolds(*c.typed));
    EXPECT_EQ(rig.console.find("secret"), std::string::npos);
    EXPECT_TRUE(rig.words.password.empty());  // a command-line value is wiped once used
  }
}

TEST(Wipe, ClearsTheWholeStorageOfAString) {
  std::string text = "a password long enough to live on the heap";
  const char* storage = text.data();
  const size_t capacity = text.capacity();
  text.resize(4);  // the tail beyond the size still holds the old characters
  WipeString(text);
  EXPECT_TRUE(text.empty());
  ASSERT_EQ(text.data(), storage);  // no reallocation: the same storage was cleared
  for (size_t i = 0; i < capacity; ++i) EXPECT_EQ(storage[i], 0) << i;
}

// ---- firmware password over OFBD -----------------------------------------------------------------------

Tweak FirmwarePassword(uint32_t attempts, bool texts = true, bool ofbd = true) {
  return [=](sim::Profile& p) {
    p.ofbdPassword = {true, "letmein", attempts, texts ? "Firmware password" : "", texts ? "Wrong password" : "",
                      texts ? "No more attempts" : ""};
    if (!ofbd) p.ofbdVersion = 0;
  };
}

const nlohmann::json kPasswordExchange = {{"op", "ofbd"}, {"class", 0x20000000u}};

TEST(FirmwarePassword, AskedWhileTheFirmwareAllowsAndWhatWasTypedIsWiped) {
  // `input`: the input-block effects in order, "f" free and "b" blocked.
  struct Case { Tweak profile; bool region; std::deque<std::optional<std::string>> typed; uint32_t error;
                bool messageShown; Strings prompts, texts; size_t exchanges; const char* input;
                uint32_t failedBefore = 0; };
  const uint32_t kExceeded = kErrPasswordRetryExceeded;
  const Strings asked2(2, "Firmware password");
  for (const Case& c : {Case{[](sim::Profile&) {}, true, {}, 0, false, {}, {}, 1, ""},  // not wanted, after the query
                        Case{FirmwarePassword(3), false, {}, 0, false, {}, {}, 0, ""},   // no region
                        Case{FirmwarePassword(3, true, false), true, {}, 0, false, {}, {}, 0, ""},
                        // A prefix is not the password.
                        Case{FirmwarePassword(3), true, {"letmei", "letmein"}, 0, false, asked2, {"Wrong password"}, 3,
                             "fbfbfb"},
                        // Exhausted: left unblocked for the end of the run.
                        Case{FirmwarePassword(2), true, {"one", "two", "letmein"}, kExceeded, true, asked2,
                             {"Wrong password", "No more attempts"}, 3, "fbfbfbf"},
                        // Without a text of the firmware's the session shows the message.
                        Case{FirmwarePassword(1, false), true, {"wrong"}, kExceeded, false, {"Password"}, {}, 2, "fb"},
                        Case{FirmwarePassword(3), true, {}, kExceeded, false, {"Firmware password"}, {}, 1, "fb"},
                        // Locked by an earlier run, the firmware refuses at the query.
                        Case{FirmwarePassword(1), true, {"letmein"}, kExceeded, true, {}, {"No more attempts"}, 1, "f",
                             1}}) {
    SCOPED_TRACE(::testing::Message() << c.typed.size() << " typed, " << c.exchanges << " exchanges");
    PolicyRig rig("legacy-8m", c.profile);
    rig.config.SelectCommand(config::option::kMainBios, c.region);
    rig.ui.passwords = c.typed;
    rig.sim.machine->MutableState().ofbdPasswordFailures = c.failedBefore;
    const auto result = RunFirmwarePassword(rig.fenv);
    std::string input, console;
    for (const auto& e : rig.sim.Events("input")) input += e.value("blocked", false) ? 'b' : 'f';
    EXPECT_EQ(std::make_pair(result.error, result.messageShown), std::make_pair(c.error, c.messageShown));
    EXPECT_EQ(std::make_tuple(rig.ui.prompts, rig.ui.Texts(), rig.Smis(kPasswordExchange), input),
              std::make_tuple(c.prompts, c.texts, c.exchanges, std::string(c.input)));
    for (const std::string& prompt : c.prompts) console += " - " + prompt + ": ";
    EXPECT_EQ(rig.console, console);
    // Nothing of the firmware's needs to overwrite the password: the block must have been cleared.
    for (const auto& typed : c.typed) EXPECT_FALSE(typed && rig.SharedBlockHolds(*typed)) << typed.value_or("");
  }
}

}  // namespace
}  // namespace nox::policy::test

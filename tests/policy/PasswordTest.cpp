#include <gtest/gtest.h>

#include "PolicyRig.h"
#include "config/CommandTable.h"
#include "policy/AdminPassword.h"
#include "policy/FirmwarePassword.h"
#include "policy/Wipe.h"

namespace nox::policy::test {
namespace {

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
                        Case{"secret", "secret", true, true, nullptr, 1}, Case{"secret", "secreT", true, false, kWrong, 1},
                        Case{"", "x", false, true, nullptr, 0}, Case{std::nullopt, "x", false, true, nullptr, 0}}) {
    SCOPED_TRACE(c.set.value_or("(none)") + " " + c.typed.value_or("(cancelled)") + (c.onCommandLine ? " given" : ""));
    PolicyRig rig("uefi-16m", [&](sim::Profile& p) {
      std::tie(p.oem.adminPassword, p.oem.password, p.oem.passwordMaxLength) = std::tuple(!!c.set, c.set.value_or(""), 6);
    });
    if (c.onCommandLine) {
      rig.words.passwordGiven = true;
      rig.words.password = *c.typed;
    } else {
      rig.ui.passwords = {c.typed};
    }
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
                        Case{FirmwarePassword(1), true, {"letmein"}, kExceeded, true, {}, {"No more attempts"}, 1, "f", 1}}) {
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

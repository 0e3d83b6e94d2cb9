#include <gtest/gtest.h>

#include "PolicyRig.h"
#include "config/CommandTable.h"
#include "policy/AdminPassword.h"
#include "policy/FirmwarePassword.h"
#include "policy/Wipe.h"

namespace nox::policy::test {
namespace {

// ---- administrator password ----------------------------------------------------------------------

Tweak AdminPassword(std::string password, uint8_t maxLength) {
  return [=](sim::Profile& p) {
    p.oem.adminPassword = true;
    p.oem.password = password;
    p.oem.passwordMaxLength = maxLength;
  };
}

// The class-10 calls with `select` (3 the maximum length, 4 a submission).
nlohmann::json PasswordCall(unsigned select) { return {{"op", "oem"}, {"class", 10}, {"select", select}}; }

TEST(AdminPassword, OneAttemptAgainstTheMaximumLength) {
  struct Case { std::optional<std::string> typed; bool onCommandLine, accepted; const char* message; size_t submissions; };
  const char* const kWrong = "Admin password is not correct.";
  for (const Case& c : {Case{"secret", false, true, nullptr, 1},  // exactly the maximum
                        Case{"secrets", false, false, "Error : Password maximum length is 6.", 0},
                        Case{"public", false, false, kWrong, 1}, Case{"", false, false, kWrong, 1},  // empty is sent
                        Case{std::nullopt, false, false, kWrong, 0},                                 // cancelled
                        Case{"secret", true, true, nullptr, 1}, Case{"secreT", true, false, kWrong, 1}}) {
    SCOPED_TRACE(c.typed.value_or("(cancelled)") + (c.onCommandLine ? " on the command line" : ""));
    PolicyRig rig("uefi-16m", AdminPassword("secret", 6));
    if (c.onCommandLine) {
      rig.words.passwordGiven = true;
      rig.words.password = *c.typed;
    } else {
      rig.ui.passwords = {c.typed};
    }
    EXPECT_EQ(CheckAdminPassword(rig.env, rig.words), c.accepted);
    EXPECT_EQ(rig.ui.prompts, (c.onCommandLine ? Strings{} : Strings{"Enter Admin Password"}));
    EXPECT_EQ(rig.Smis(PasswordCall(4)), c.submissions);
    const Box box{c.message ? c.message : "", "Password checking", ui::style::kOk | ui::style::kIconWarning};
    EXPECT_EQ(rig.ui.boxes, (c.message ? Boxes{box} : Boxes{}));
    EXPECT_FALSE(c.typed && !c.typed->empty() && rig.SharedBlockHolds(*c.typed));
    EXPECT_EQ(rig.console.find("secret"), std::string::npos);
    EXPECT_TRUE(rig.words.password.empty());  // a command-line value is wiped once used
  }
}

TEST(AdminPassword, NoPasswordSetAsksNothing) {
  const Tweak unanswered = [](sim::Profile& p) { p.oem.adminPassword = false; };  // class 10 unanswered
  for (const Tweak& tweak : {AdminPassword("", 16), unanswered}) {
    PolicyRig rig("uefi-16m", tweak);
    EXPECT_TRUE(CheckAdminPassword(rig.env, rig.words));
    EXPECT_TRUE(rig.ui.prompts.empty() && rig.ui.boxes.empty());
    EXPECT_EQ(rig.Smis(PasswordCall(3)), 0u);
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
                bool messageShown; Strings prompts, texts; size_t exchanges; const char* input; };
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
                        Case{FirmwarePassword(3), true, {}, kExceeded, false, {"Firmware password"}, {}, 1, "fb"}}) {
    SCOPED_TRACE(::testing::Message() << c.typed.size() << " typed, " << c.exchanges << " exchanges");
    PolicyRig rig("legacy-8m", c.profile);
    rig.config.SelectCommand(config::option::kMainBios, c.region);
    rig.ui.passwords = c.typed;
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

TEST(FirmwarePassword, ALockedFirmwareRefusesAtTheQuery) {
  PolicyRig rig("legacy-8m", FirmwarePassword(1));
  rig.config.SelectCommand(config::option::kMainBios, true);
  rig.ui.passwords = {"wrong"};
  EXPECT_EQ(RunFirmwarePassword(rig.fenv).error, kErrPasswordRetryExceeded);
  rig.ui.boxes.clear();
  rig.ui.prompts.clear();
  const auto again = RunFirmwarePassword(rig.fenv);
  EXPECT_EQ(std::make_pair(again.error, again.messageShown), std::make_pair(kErrPasswordRetryExceeded, true));
  EXPECT_EQ(std::make_pair(rig.ui.prompts, rig.ui.Texts()), std::make_pair(Strings{}, Strings{"No more attempts"}));
}

}  // namespace
}  // namespace nox::policy::test

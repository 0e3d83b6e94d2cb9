#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PolicyRig.h"
#include "config/CommandTable.h"
#include "policy/AdminPassword.h"
#include "policy/FirmwarePassword.h"
#include "policy/Wipe.h"

namespace nox::policy::test {
namespace {

using Strings = std::vector<std::string>;

// ---- administrator password ----------------------------------------------------------------------

std::function<void(sim::Profile&)> AdminPassword(std::string password, uint8_t maxLength) {
  return [=](sim::Profile& p) {
    p.oem.adminPassword = true;
    p.oem.password = password;
    p.oem.passwordMaxLength = maxLength;
  };
}

// The class-10 calls with `select` that reached the firmware.
size_t PasswordCalls(PolicyRig& rig, unsigned select) {
  size_t n = 0;
  for (const auto& smi : rig.sim.Smis()) {
    n += smi.value("op", "") == "oem" && smi.value("class", 0) == 10 && smi.value("select", 0u) == select;
  }
  return n;
}

struct AdminCase {
  const char* what;
  std::optional<std::string> typed;  // none: the dialog is cancelled
  bool onCommandLine;
  bool accepted;
  const char* message;  // the one box, or null
  size_t submissions;
};

class AdminPasswordCheck : public ::testing::TestWithParam<AdminCase> {};

TEST_P(AdminPasswordCheck, OneAttemptAgainstTheMaximumLength) {
  const AdminCase& c = GetParam();
  PolicyRig rig("uefi-16m", AdminPassword("secret", 6));
  if (c.onCommandLine) {
    rig.words.passwordGiven = true;
    rig.words.password = *c.typed;
  } else {
    rig.ui.passwords = {c.typed};
  }
  EXPECT_EQ(CheckAdminPassword(rig.env, rig.words), c.accepted);
  EXPECT_EQ(rig.ui.prompts, (c.onCommandLine ? Strings{} : Strings{"Enter Admin Password"}));
  EXPECT_EQ(PasswordCalls(rig, 4), c.submissions);
  const std::vector<Box> box{{c.message ? c.message : "", "Password checking",
                              ui::style::kOk | ui::style::kIconWarning}};
  EXPECT_EQ(rig.ui.boxes, (c.message ? box : std::vector<Box>{}));
  if (c.typed && !c.typed->empty()) {
    EXPECT_FALSE(rig.SharedBlockHolds(*c.typed));
  }
  EXPECT_EQ(rig.console.find("secret"), std::string::npos);
  EXPECT_TRUE(rig.words.password.empty());  // a command-line value is wiped once used
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AdminPasswordCheck,
    ::testing::Values(
        AdminCase{"exactly_the_maximum", "secret", false, true, nullptr, 1},
        AdminCase{"one_longer", "secrets", false, false, "Error : Password maximum length is 6.", 0},
        AdminCase{"wrong", "public", false, false, "Admin password is not correct.", 1},
        AdminCase{"empty_is_sent_and_refused", "", false, false, "Admin password is not correct.", 1},
        AdminCase{"cancelled", std::nullopt, false, false, "Admin password is not correct.", 0},
        AdminCase{"command_line", "secret", true, true, nullptr, 1},
        AdminCase{"command_line_wrong", "secreT", true, false, "Admin password is not correct.", 1}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(AdminPassword, NoPasswordSetAsksNothing) {
  const auto unanswered = [](sim::Profile& p) { p.oem.adminPassword = false; };  // class 10 unanswered
  for (const auto& tweak : {AdminPassword("", 16), std::function<void(sim::Profile&)>(unanswered)}) {
    PolicyRig rig("uefi-16m", tweak);
    EXPECT_TRUE(CheckAdminPassword(rig.env, rig.words));
    EXPECT_TRUE(rig.ui.prompts.empty());
    EXPECT_TRUE(rig.ui.boxes.empty());
    EXPECT_EQ(PasswordCalls(rig, 3), 0u);
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

std::function<void(sim::Profile&)> FirmwarePassword(uint32_t attempts, bool texts = true) {
  return [=](sim::Profile& p) {
    p.ofbdPassword.enabled = true;
    p.ofbdPassword.password = "letmein";
    p.ofbdPassword.maxAttempts = attempts;
    p.ofbdPassword.prompt = texts ? "Firmware password" : "";
    p.ofbdPassword.wrongMessage = texts ? "Wrong password" : "";
    p.ofbdPassword.lockedMessage = texts ? "No more attempts" : "";
  };
}

class FirmwarePasswordRig : public PolicyRig {
 public:
  explicit FirmwarePasswordRig(const std::function<void(sim::Profile&)>& tweak) : PolicyRig("legacy-8m", tweak) {
    config.SelectCommand(config::option::kMainBios, true);
  }
  FirmwarePasswordResult Run() { return RunFirmwarePassword(fenv); }
  // The input-block effects, true for blocked.
  std::vector<bool> InputEffects() {
    std::vector<bool> out;
    for (const auto& e : sim.Events("input")) out.push_back(e.value("blocked", false));
    return out;
  }
  size_t PasswordExchanges() {
    size_t n = 0;
    for (const auto& smi : sim.Smis()) n += smi.value("op", "") == "ofbd" && smi.value("class", 0u) == 0x20000000u;
    return n;
  }

  FirmwarePasswordEnv fenv{config, *sim.ofbd, *sim.smi, ui, *sim.os, [this](const std::string& t) { console += t; }};
};

TEST(FirmwarePassword, NotAskedWhenNotWantedOrWithoutARegionOrWithoutOfbd) {
  FirmwarePasswordRig unwanted([](sim::Profile&) {});
  EXPECT_EQ(unwanted.Run().error, 0u);
  EXPECT_EQ(unwanted.PasswordExchanges(), 1u);  // the query alone

  FirmwarePasswordRig noRegion(FirmwarePassword(3));
  noRegion.config.SelectCommand(config::option::kMainBios, false);
  EXPECT_EQ(noRegion.Run().error, 0u);
  EXPECT_EQ(noRegion.PasswordExchanges(), 0u);

  FirmwarePasswordRig noOfbd([](sim::Profile& p) {
    FirmwarePassword(3)(p);
    p.ofbdVersion = 0;
  });
  EXPECT_EQ(noOfbd.Run().error, 0u);
  EXPECT_EQ(noOfbd.PasswordExchanges(), 0u);
  EXPECT_TRUE(unwanted.ui.prompts.empty() && noRegion.ui.prompts.empty() && noOfbd.ui.prompts.empty());
}

TEST(FirmwarePassword, AcceptedAfterAWrongTry) {
  FirmwarePasswordRig rig(FirmwarePassword(3));
  rig.ui.passwords = {"letmei", "letmein"};  // a prefix is not the password
  const auto result = rig.Run();
  EXPECT_EQ(result.error, 0u);
  EXPECT_FALSE(result.messageShown);
  EXPECT_EQ(rig.ui.prompts, Strings(2, "Firmware password"));
  EXPECT_EQ(rig.console, " - Firmware password:  - Firmware password: ");
  EXPECT_EQ(rig.ui.Texts(), Strings{"Wrong password"});
  // Input is free for the dialog and the box, and blocked again afterwards.
  EXPECT_EQ(rig.InputEffects(), (std::vector<bool>{false, true, false, true, false, true}));
  EXPECT_FALSE(rig.SharedBlockHolds("letmein"));
  EXPECT_FALSE(rig.SharedBlockHolds("letmei"));
}

TEST(FirmwarePassword, AttemptsExhaustedEndsWith155AndTheFirmwareText) {
  FirmwarePasswordRig rig(FirmwarePassword(2));
  rig.ui.passwords = {"one", "two", "letmein"};
  const auto result = rig.Run();
  EXPECT_EQ(result.error, kErrPasswordRetryExceeded);
  EXPECT_TRUE(result.messageShown);
  EXPECT_EQ(rig.ui.prompts.size(), 2u);
  EXPECT_EQ(rig.ui.Texts(), (Strings{"Wrong password", "No more attempts"}));
  EXPECT_FALSE(rig.InputEffects().back());  // left unblocked for the end of the run

  // The firmware stays locked: the next run is refused at the query.
  rig.ui.boxes.clear();
  rig.ui.prompts.clear();
  const auto again = rig.Run();
  EXPECT_EQ(again.error, kErrPasswordRetryExceeded);
  EXPECT_TRUE(again.messageShown);
  EXPECT_TRUE(rig.ui.prompts.empty());
  EXPECT_EQ(rig.ui.Texts(), Strings{"No more attempts"});
}

TEST(FirmwarePassword, LockedWithoutATextOrCancelledLeavesTheMessageToTheSession) {
  FirmwarePasswordRig rig(FirmwarePassword(1, false));
  rig.ui.passwords = {"wrong"};
  const auto result = rig.Run();
  EXPECT_EQ(result.error, kErrPasswordRetryExceeded);
  EXPECT_FALSE(result.messageShown);
  EXPECT_TRUE(rig.ui.boxes.empty());
  EXPECT_EQ(rig.ui.prompts, Strings{"Password"});  // no firmware prompt
  EXPECT_EQ(rig.console, " - Password: ");
  // Nothing of the firmware's overwrote the password here: the block must have been cleared.
  EXPECT_FALSE(rig.SharedBlockHolds("wrong"));

  FirmwarePasswordRig cancelled(FirmwarePassword(3));
  const auto none = cancelled.Run();
  EXPECT_EQ(none.error, kErrPasswordRetryExceeded);
  EXPECT_FALSE(none.messageShown);
  EXPECT_EQ(cancelled.PasswordExchanges(), 1u);
}

}  // namespace
}  // namespace nox::policy::test

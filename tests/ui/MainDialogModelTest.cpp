#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "ui/MainDialogModel.h"

namespace nox::ui {
namespace {

StartFacts Facts(bool packageRom, bool scriptRom, const std::vector<uint32_t>& ids) {
  StartFacts facts;
  facts.packageSuppliedRom = packageRom;
  facts.scriptNamedRom = scriptRom;
  facts.selectedOptionIds = ids;
  return facts;
}

TEST(MainDialogStart, AutoRunNeedsARomAndARegionOption) {
  // "p", "b", "n", "e", "K", "KN[0-7]", "meuf", "me".
  for (uint32_t id : {3u, 4u, 5u, 7u, 8u, 9u, 41u, 42u}) {
    const std::vector<uint32_t> ids{1, id};
    EXPECT_TRUE(DecideAutoRun(Facts(true, false, ids)) && DecideAutoRun(Facts(false, true, ids))) << id;
    EXPECT_FALSE(DecideAutoRun(Facts(false, false, ids))) << id;
  }
  EXPECT_FALSE(DecideAutoRun(Facts(true, true, {0, 1, 2, 6, 10, 40, 43, 57})));
  EXPECT_EQ(MainWindowTitle(std::nullopt), "NOXWINGUI v.1.05");
  EXPECT_EQ(MainWindowTitle("B2"), "NOXWINGUI v.1.05.B2");
}

TEST(MainDialogStart, PagesAndWhatHappensToThePackageRomOnce) {
  struct Case { uint32_t option; bool packageRom; bool autoRun; std::vector<Page> pages; bool release; };
  const std::vector<Page> all{Page::kInformation, Page::kSetup, Page::kProgress};
  for (const Case& c : {Case{3, true, true, {Page::kProgress}, false}, Case{6, true, false, all, true},
                        Case{6, false, false, all, false}}) {
    const std::vector<uint32_t> ids{c.option};
    MainDialogModel model;
    const std::optional<StartPlan> plan = model.Start(Facts(c.packageRom, false, ids));
    ASSERT_TRUE(plan);
    EXPECT_EQ(std::tie(plan->autoRun, plan->pages, plan->releasePackageRom), std::tie(c.autoRun, c.pages, c.release));
    EXPECT_EQ(plan->clearOptionSelection, !c.autoRun);
    EXPECT_FALSE(plan->flashEnabled);
    EXPECT_FALSE(model.Start(Facts(false, false, {}))) << "a second start changes nothing";
    EXPECT_EQ(model.AutoRun(), c.autoRun);
  }
}

TEST(MainDialogTimer, PermissionMessageCollectsUntilPermitted) {
  MainDialogModel model;
  model.OnPermissionCheck(false, "Update ");
  model.OnPermissionCheck(false, "locked.");
  EXPECT_EQ(model.PermissionMessage(), "Update locked.");
  model.OnPermissionCheck(true, "ignored");
  EXPECT_EQ(model.PermissionMessage(), "");
}

TEST(MainDialogTimer, StartsOnceWhenTheSizesMatchWithinTheRetries) {
  // The flash sizes the firmware answers in turn; calls: "f" for a first read, "r" for a re-read.
  struct Case { bool autoRun; std::vector<uint32_t> sizes; uint32_t retries; bool starts; std::string calls; };
  for (const Case& c : {Case{true, {0x800000}, 5, true, "f"}, Case{true, {0x400000, 0x400000, 0x800000}, 5, true, "frr"},
                        Case{true, {0x400000}, 5, false, "frrrrr"}, Case{true, {0x400000, 0x800000}, 0, false, "f"},
                        Case{true, {0x400000, 0x400000, 0x800000}, 2, true, "frr"},
                        Case{true, {0x400000, 0x400000, 0x400000, 0x800000}, 2, false, "frr"},
                        Case{false, {0x800000}, 5, false, ""}}) {
    SCOPED_TRACE(c.calls);
    const std::vector<uint32_t> ids{c.autoRun ? 4u : 6u};
    MainDialogModel model;
    model.Start(Facts(true, false, ids));
    std::string calls;
    const auto flashSize = [&](bool reread) {
      calls += reread ? 'r' : 'f';
      return c.sizes[std::min(calls.size(), c.sizes.size()) - 1];
    };
    const TickPlan plan = model.Tick(0x800000, flashSize, c.retries);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(plan.postFlash, c.starts);
    EXPECT_EQ(plan.stopTimer && plan.disableOpenAndSave && model.Started(), c.autoRun);
    const bool refused = c.autoRun && !c.starts;
    EXPECT_EQ(plan.message, refused ? std::optional<std::string>("Firmware file size does not match existing Firmware size.")
                                    : std::nullopt);
    EXPECT_EQ(plan.endSessionId, refused ? std::optional<uint32_t>(48) : std::nullopt);
    const TickPlan again = model.Tick(0x800000, flashSize, c.retries);
    EXPECT_FALSE(again.postFlash || again.stopTimer || again.message);
    EXPECT_EQ(calls, c.calls);
  }
}

}  // namespace
}  // namespace nox::ui

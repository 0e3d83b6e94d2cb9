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
  for (uint32_t id : kAutoRunOptionIds) {
    const std::vector<uint32_t> ids{1, id};
    EXPECT_TRUE(DecideAutoRun(Facts(true, false, ids))) << id;
    EXPECT_TRUE(DecideAutoRun(Facts(false, true, ids))) << id;
    EXPECT_FALSE(DecideAutoRun(Facts(false, false, ids))) << id;
  }
  const std::vector<uint32_t> others{0, 1, 2, 6, 10, 40, 43, 57};
  EXPECT_FALSE(DecideAutoRun(Facts(true, true, others)));
  EXPECT_FALSE(DecideAutoRun(Facts(true, true, {})));
}

TEST(MainDialogStart, TitleWithAndWithoutSuffix) {
  EXPECT_EQ(MainWindowTitle(std::nullopt), "NOXWINGUI v.1.05");
  EXPECT_EQ(MainWindowTitle("B2"), "NOXWINGUI v.1.05.B2");
}

TEST(MainDialogStart, PagesAndWhatHappensToThePackageRom) {
  struct Case { uint32_t option; bool packageRom; bool autoRun; std::vector<Page> pages; bool release; };
  const std::vector<Page> all{Page::kInformation, Page::kSetup, Page::kProgress};
  for (const Case& c : {Case{3, true, true, {Page::kProgress}, false}, Case{6, true, false, all, true},
                        Case{6, false, false, all, false}}) {
    SCOPED_TRACE(c.option);
    const std::vector<uint32_t> ids{c.option};
    MainDialogModel model;
    const std::optional<StartPlan> plan = model.Start(Facts(c.packageRom, false, ids));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->autoRun, c.autoRun);
    EXPECT_EQ(plan->pages, c.pages);
    EXPECT_EQ(plan->releasePackageRom, c.release);
    EXPECT_EQ(plan->clearOptionSelection, !c.autoRun);
    EXPECT_FALSE(plan->flashEnabled);
  }
}

TEST(MainDialogStart, SecondStartDoesNothing) {
  const std::vector<uint32_t> ids{3};
  MainDialogModel model;
  ASSERT_TRUE(model.Start(Facts(true, false, ids)));
  EXPECT_FALSE(model.Start(Facts(false, false, {})));
  EXPECT_TRUE(model.AutoRun());
}

TEST(MainDialogTimer, PermissionMessageCollectsUntilPermitted) {
  MainDialogModel model;
  model.OnPermissionCheck(false, "Update ");
  model.OnPermissionCheck(false, "locked.");
  EXPECT_EQ(model.PermissionMessage(), "Update locked.");
  model.OnPermissionCheck(true, "ignored");
  EXPECT_EQ(model.PermissionMessage(), "");
}

// Answers the flash size from a list, counting the re-reads.
struct FlashSizes {
  std::vector<uint32_t> answers;
  int reads = 0;
  int rereads = 0;
  uint32_t operator()(bool reread) {
    rereads += reread ? 1 : 0;
    const size_t i = static_cast<size_t>(reads++);
    return answers[std::min(i, answers.size() - 1)];
  }
};

MainDialogModel AutoRunModel() {
  static const std::vector<uint32_t> ids{4};
  MainDialogModel model;
  model.Start(Facts(true, false, ids));
  return model;
}

TEST(MainDialogTimer, AutomaticStartHappensOnce) {
  MainDialogModel model = AutoRunModel();
  FlashSizes sizes{{0x800000}};
  const TickPlan first = model.Tick(0x800000, std::ref(sizes), 5);
  EXPECT_TRUE(first.stopTimer);
  EXPECT_TRUE(first.disableOpenAndSave);
  EXPECT_TRUE(first.postFlash);
  EXPECT_FALSE(first.endSessionId);
  EXPECT_FALSE(first.message);
  EXPECT_TRUE(model.Started());
  const TickPlan second = model.Tick(0x800000, std::ref(sizes), 5);
  EXPECT_FALSE(second.postFlash);
  EXPECT_FALSE(second.stopTimer);
  EXPECT_EQ(sizes.reads, 1);
}

TEST(MainDialogTimer, WithoutAutoRunTheTickOnlyChecksPermission) {
  const std::vector<uint32_t> ids{6};
  MainDialogModel model;
  model.Start(Facts(true, false, ids));
  FlashSizes sizes{{0x800000}};
  const TickPlan plan = model.Tick(0x800000, std::ref(sizes), 5);
  EXPECT_FALSE(plan.postFlash);
  EXPECT_FALSE(plan.stopTimer);
  EXPECT_FALSE(model.Started());
  EXPECT_EQ(sizes.reads, 0);
}

TEST(MainDialogTimer, SizeCheckRetriesByRereading) {
  struct Case { std::vector<uint32_t> answers; uint32_t retries; bool starts; int rereads; };
  for (const Case& c : {Case{{0x400000, 0x400000, 0x800000}, 5, true, 2},
                        Case{{0x400000}, 5, false, 5},
                        Case{{0x400000, 0x800000}, 0, false, 0},
                        Case{{0x400000, 0x400000, 0x800000}, 2, true, 2},
                        Case{{0x400000, 0x400000, 0x400000, 0x800000}, 2, false, 2}}) {
    SCOPED_TRACE(c.retries);
    MainDialogModel model = AutoRunModel();
    FlashSizes sizes{c.answers};
    const TickPlan plan = model.Tick(0x800000, std::ref(sizes), c.retries);
    EXPECT_EQ(plan.postFlash, c.starts);
    EXPECT_EQ(sizes.rereads, c.rereads);
    EXPECT_TRUE(plan.stopTimer);
    if (c.starts) {
      EXPECT_FALSE(plan.endSessionId);
    } else {
      EXPECT_EQ(plan.message, "Firmware file size does not match existing Firmware size.");
      EXPECT_EQ(plan.endSessionId, 48u);
    }
  }
}

}  // namespace
}  // namespace nox::ui

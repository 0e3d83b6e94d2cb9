#include <gtest/gtest.h>

#include <string>

#include "core/Progress.h"
#include "ui/ProgressPageModel.h"

namespace nox::ui {
namespace {

ProgressPageModel BuiltPage() {
  ProgressPageModel page;
  EXPECT_TRUE(page.Build({0x400000, false, 0}, 48 * 128));
  return page;
}

TEST(ProgressPage, StartsWithTheTemplateTexts) {
  const ProgressPageModel page;
  EXPECT_EQ(page.StageText(), "None");
  EXPECT_EQ(page.ValueLabel(), "Address:");
  EXPECT_EQ(page.ValueText(), "0");
}

TEST(ProgressPage, EachCallbackNamesItsOperationAndRegion) {
  using Callback = CallbackEffect (ProgressPageModel::*)(uint32_t, uint32_t, uint32_t);
  struct Case { Callback callback; const char* stage; bool pumps; ColorRef colour; };
  for (const Case& c : {Case{&ProgressPageModel::OnReading, "Reading Main Bios.", false, 0xFFDCBE},
                        Case{&ProgressPageModel::OnErasing, "Erasing Main Bios.", true, 0xFFFFFF},
                        Case{&ProgressPageModel::OnProgramming, "Programming Main Bios.", true, 0x0000FF},
                        Case{&ProgressPageModel::OnVerifying, "Verifying Main Bios.", true, 0x00FF00}}) {
    SCOPED_TRACE(c.stage);
    ProgressPageModel page = BuiltPage();
    page.SetRegionLabel("Main Bios.");
    const CallbackEffect first = (page.*c.callback)(core::kProgressStart, 0, 0);
    EXPECT_TRUE(first.stageChanged);
    EXPECT_EQ(first.pumpMessages, c.pumps);
    EXPECT_EQ(page.StageText(), c.stage);
    EXPECT_EQ(page.ValueText(), "FFC00000h");
    const CallbackEffect second = (page.*c.callback)(0x4000, 0x400000, 0x4000);
    EXPECT_FALSE(second.stageChanged);
    EXPECT_EQ(page.ValueText(), "FFC04000h");
    EXPECT_TRUE(page.Map().Bars()[0].IsMarked(1));
    EXPECT_EQ(page.Map().Bars()[0].SegmentColour(1), c.colour);
  }
}

TEST(ProgressPage, ANewRegionChangesTheStage) {
  ProgressPageModel page = BuiltPage();
  page.SetRegionLabel("BB.");
  page.OnProgramming(core::kProgressStart, 0, 0);
  page.SetRegionLabel("NVRAM.");
  EXPECT_TRUE(page.OnProgramming(0x1000, 0x400000, 0x1000).stageChanged);
  EXPECT_EQ(page.StageText(), "Programming NVRAM.");
}

TEST(ProgressPage, EndMarkerShowsAllOnes) {
  ProgressPageModel page = BuiltPage();
  page.OnVerifying(core::kProgressEnd, 0x400000, 0);
  EXPECT_EQ(page.ValueText(), "FFFFFFFFh");
}

TEST(ProgressPage, EcProgressShowsPercent) {
  ProgressPageModel page = BuiltPage();
  EXPECT_EQ(page.EcBarMaximum(), 48);
  EXPECT_EQ(page.EcBarStep(), 32);
  const CallbackEffect effect = page.OnEcProgress(24, 48);
  EXPECT_TRUE(effect.stageChanged);
  EXPECT_TRUE(effect.pumpMessages);
  EXPECT_EQ(page.StageText(), "Programming EC.");
  EXPECT_EQ(page.ValueLabel(), "Percent:");
  EXPECT_EQ(page.ValueText(), "50%");
  EXPECT_EQ(page.EcBarPosition(), 24);
  // A later flash pass shows addresses under their own label again.
  page.OnProgramming(0x1000, 0x400000, 0x1000);
  EXPECT_EQ(page.ValueLabel(), "Address:");
}

TEST(ProgressPage, EcBarStaysInItsRange) {
  ProgressPageModel page = BuiltPage();
  page.OnEcProgress(60, 48);
  EXPECT_EQ(page.EcBarPosition(), 48);
  EXPECT_EQ(page.ValueText(), "100%");
}

TEST(ProgressPage, EcPercentOfDoneBlocks) {
  struct Case { uint16_t done; uint16_t total; int percent; };
  for (const Case& c : {Case{24, 48, 50}, Case{0, 48, 0}, Case{48, 48, 100}, Case{1, 3, 33}, Case{2, 3, 66},
                        Case{0, 0, 0}, Case{5, 0, 0}, Case{60, 48, 100}, Case{65535, 65535, 100},
                        Case{65534, 65535, 99}}) {
    EXPECT_EQ(EcPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
  }
}

TEST(ProgressPage, CallbacksBeforeTheMapExistStillShowTheAddress) {
  ProgressPageModel page;
  EXPECT_FALSE(page.Build({0, false, 0}, 0));
  page.OnProgramming(core::kProgressStart, 0, 0);
  page.OnProgramming(0x1000, 0, 0x1000);
  EXPECT_TRUE(page.Map().Bars().empty());
  EXPECT_EQ(page.ValueText(), "FFF01000h");
}

}  // namespace
}  // namespace nox::ui

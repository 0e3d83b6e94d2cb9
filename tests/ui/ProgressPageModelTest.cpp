#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "core/Progress.h"
#include "ui/ProgressPageModel.h"

namespace nox::ui {
namespace {

ProgressPageModel BuiltPage() {
  ProgressPageModel page;
  EXPECT_TRUE(page.Build({0x400000, false, 0}, 48 * 128));
  return page;
}

TEST(ProgressPage, EachCallbackNamesItsOperationAndRegion) {
  const ProgressPageModel blank;
  EXPECT_EQ(std::make_tuple(blank.StageText(), blank.ValueLabel(), blank.ValueText()),
            std::make_tuple("None", "Address:", "0"));
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
    EXPECT_EQ(std::make_tuple(first.stageChanged, first.pumpMessages, page.StageText(), page.ValueText()),
              std::make_tuple(true, c.pumps, c.stage, "FFC00000h"));
    EXPECT_FALSE((page.*c.callback)(0x4000, 0x400000, 0x4000).stageChanged);
    EXPECT_EQ(page.ValueText(), "FFC04000h");
    EXPECT_TRUE(page.Map().Bars()[0].IsMarked(1));
    EXPECT_EQ(page.Map().Bars()[0].SegmentColour(1), c.colour);
    // A new region changes the stage without a new start marker.
    page.SetRegionLabel("NVRAM.");
    EXPECT_TRUE((page.*c.callback)(0x8000, 0x400000, 0x4000).stageChanged);
  }
}

TEST(ProgressPage, EcProgressShowsPercentInItsOwnBar) {
  ProgressPageModel page = BuiltPage();
  EXPECT_EQ(std::make_pair(page.EcBarMaximum(), page.EcBarStep()), std::make_pair(48, 32));
  const CallbackEffect effect = page.OnEcProgress(24, 48);
  EXPECT_TRUE(effect.stageChanged && effect.pumpMessages);
  EXPECT_EQ(std::make_tuple(page.StageText(), page.ValueLabel(), page.ValueText(), page.EcBarPosition()),
            std::make_tuple("Programming EC.", "Percent:", "50%", 24));
  page.OnEcProgress(60, 48);
  EXPECT_EQ(std::make_pair(page.ValueText(), page.EcBarPosition()), std::make_pair(std::string("100%"), 48));
  // A later flash pass shows addresses under their own label again.
  page.OnProgramming(0x1000, 0x400000, 0x1000);
  EXPECT_EQ(page.ValueLabel(), "Address:");
  struct Case { uint16_t done, total; int percent; };
  for (const Case& c : {Case{0, 48, 0}, Case{48, 48, 100}, Case{1, 3, 33}, Case{2, 3, 66}, Case{0, 0, 0}, Case{5, 0, 0},
                        Case{65535, 65535, 100}, Case{65534, 65535, 99}}) {
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

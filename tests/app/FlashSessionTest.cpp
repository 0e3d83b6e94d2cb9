#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/FlashSession.h"
#include "app/Startup.h"
#include "config/OptionParser.h"

namespace nox::app {
namespace {

FlashSession Apply(std::vector<std::string> words, bool packageImage = true) {
  config::ConfigStore store;
  config::ParseContext context;
  context.commandScriptHeld = true;
  words.insert(words.begin(), "prog");
  EXPECT_EQ(config::ParseOptions(store, words, context), 0u);
  FlashSession session;
  EXPECT_EQ(ApplyOptionsToSession(store, packageImage, session), 1);
  return session;
}

TEST(ApplyOptionsToSession, DefaultsWithoutOptions) {
  const FlashSession s = Apply({});
  EXPECT_TRUE(s.romFileGiven) << "a package image counts as a ROM file";
  EXPECT_TRUE(s.skipSmbiosPreservation);
  EXPECT_TRUE(s.checkRomId);
  EXPECT_EQ(s.retryCount, 5u);
  EXPECT_FALSE(s.programMainBios || s.programBootBlock || s.programNcbs);
  EXPECT_FALSE(Apply({}, false).romFileGiven);
}

TEST(ApplyOptionsToSession, RegionsNcbsAndSwitches) {
  const FlashSession s = Apply({"/p", "/b", "/n", "/e", "/k2", "/k5", "/x", "/r", "/ecuf", "/retry:9", "/caf"});
  EXPECT_TRUE(s.programMainBios && s.programBootBlock && s.programNvram && s.programEc);
  EXPECT_TRUE(s.programNcbs);
  EXPECT_FALSE(s.allNcbs);
  EXPECT_EQ(s.ncbMask, 0x24u);
  EXPECT_FALSE(s.checkRomId);
  EXPECT_FALSE(s.skipSmbiosPreservation);
  EXPECT_TRUE(s.ecOnlyIfNewer);
  EXPECT_EQ(s.retryCount, 9u);
  EXPECT_TRUE(s.compareAndSkipEqual);
  const FlashSession all = Apply({"/k"});
  EXPECT_TRUE(all.programNcbs && all.allNcbs);
  EXPECT_EQ(all.ncbMask, 0u);
}

TEST(ApplyOptionsToSession, VendorToolWinsOverTheEntireMeUpdate) {
  EXPECT_TRUE(Apply({"/me"}).meEntireUpdate);
  const FlashSession s = Apply({"/me", "/mefwupdlcl"});
  EXPECT_TRUE(s.vendorMeTool);
  EXPECT_FALSE(s.meEntireUpdate);
}

TEST(OemSmiValue, ReadsHexFromTheEndAndCountsEveryCharacter) {
  struct Case {
    const char* text;
    uint32_t value;
  };
  for (const Case c : {Case{"1F", 0x1F}, Case{"1f", 0x1F}, Case{"", 0}, Case{"G1", 0x01},
                       Case{"1G", 0x10}, Case{"ABCDEF012", 0xBCDEF012}}) {
    EXPECT_EQ(OemSmiValue(c.text), c.value) << c.text;
  }
}

TEST(NcbSelection, MaskMustNameOnlyExistingNcbs) {
  for (uint32_t mask = 0; mask < 8; ++mask) EXPECT_TRUE(NcbSelectionValid(3, mask)) << mask;
  EXPECT_FALSE(NcbSelectionValid(3, 8));
  EXPECT_FALSE(NcbSelectionValid(3, 0x80));
  EXPECT_TRUE(NcbSelectionValid(0, 0xFF)) << "start-up checks nothing without NCBs";
  EXPECT_TRUE(NcbSelectionValid(8, 0xFF));
}

}  // namespace
}  // namespace nox::app

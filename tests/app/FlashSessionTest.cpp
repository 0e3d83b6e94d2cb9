#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/FlashSession.h"
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

TEST(ApplyOptionsToSession, DefaultsRegionsNcbsAndSwitches) {
  const FlashSession d = Apply({});
  // A package image counts as a ROM file.
  EXPECT_EQ(std::tuple(d.romFileGiven, Apply({}, false).romFileGiven, d.skipSmbiosPreservation, d.checkRomId),
            std::tuple(true, false, true, true));
  EXPECT_EQ(d.retryCount, 5u);
  EXPECT_FALSE(d.programMainBios || d.programBootBlock || d.programNcbs);
  const FlashSession s = Apply({"/p", "/b", "/n", "/e", "/k2", "/k5", "/x", "/r", "/ecuf", "/retry:9", "/caf"});
  EXPECT_TRUE(s.programMainBios && s.programBootBlock && s.programNvram && s.programEc && s.programNcbs);
  EXPECT_TRUE(s.ecOnlyIfNewer && s.compareAndSkipEqual);
  EXPECT_FALSE(s.allNcbs || s.checkRomId || s.skipSmbiosPreservation);
  EXPECT_EQ(std::make_pair(s.ncbMask, s.retryCount), std::make_pair(0x24u, 9u));
  const FlashSession all = Apply({"/k"});
  EXPECT_EQ(std::make_tuple(all.programNcbs, all.allNcbs, all.ncbMask), std::make_tuple(true, true, 0u));
  // The vendor tool wins over the entire ME update.
  EXPECT_TRUE(Apply({"/me"}).meEntireUpdate);
  const FlashSession me = Apply({"/me", "/mefwupdlcl"});
  EXPECT_TRUE(me.vendorMeTool && !me.meEntireUpdate);
}

TEST(OemSmiValue, ReadsHexFromTheEndAndCountsEveryCharacter) {
  for (const auto& [text, value] : {std::pair{"1F", 0x1Fu}, {"1f", 0x1F}, {"", 0}, {"G1", 0x01}, {"1G", 0x10},
                                    {"ABCDEF012", 0xBCDEF012}}) {
    EXPECT_EQ(OemSmiValue(text), value) << text;
  }
}

}  // namespace
}  // namespace nox::app

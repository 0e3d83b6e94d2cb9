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

// The regions, the NCB numbers and compare-first are proven by the whole runs of the program.
TEST(ApplyOptionsToSession, DefaultsNcbsAndSwitches) {
  const FlashSession d = Apply({});
  // A package image counts as a ROM file.
  const bool fromFile = Apply({}, false).romFileGiven;
  EXPECT_EQ(std::tuple(d.romFileGiven, fromFile, d.skipSmbiosPreservation, d.checkRomId, d.retryCount),
            std::tuple(true, false, true, true, 5u));
  const FlashSession s = Apply({"/k2", "/x", "/r", "/ecuf", "/retry:9"});
  EXPECT_EQ(std::tuple(s.programNcbs, s.allNcbs, s.ncbMask, s.checkRomId, s.skipSmbiosPreservation, s.ecOnlyIfNewer,
                       s.retryCount),
            std::tuple(true, false, 0x4u, false, false, true, 9u));
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

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/ConfigStore.h"
#include "config/OptionParser.h"

namespace nox::config {
namespace {

std::vector<std::string> Args(std::initializer_list<const char*> words) {
  std::vector<std::string> args{"NOXWINGUI.exe"};
  for (const char* w : words) args.emplace_back(w);
  return args;
}

std::set<uint32_t> Selected(const ConfigStore& store) {
  std::set<uint32_t> ids;
  for (const CommandRecord& r : store.Records()) {
    if (r.Selected()) ids.insert(r.id);
  }
  return ids;
}

struct Parsed {
  ConfigStore store;
  ParseContext context;
  uint32_t result = 0;
};

// A parse as the first pass runs it; the package held a command script, so the default
// region rule stays out of the way unless a case asks for it.
std::unique_ptr<Parsed> Parse(std::initializer_list<const char*> words, bool scriptHeld = true) {
  auto p = std::make_unique<Parsed>();
  p->context.commandScriptHeld = scriptHeld;
  p->context.canOpenForReading = [](const std::string& path) { return path == "exists.rom"; };
  p->result = ParseOptions(p->store, Args(words), p->context);
  return p;
}

// --- matching ----------------------------------------------------------------------------

struct MatchCase {
  const char* argument;
  uint32_t id;
  std::optional<std::string> value;  // option's first value, if checked
  uint32_t number = 0;
};

class Matching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Matching, SelectsTheExpectedCommand) {
  const MatchCase& c = GetParam();
  auto p = Parse({c.argument});
  ASSERT_EQ(p->result, 0u) << c.argument;
  EXPECT_EQ(Selected(p->store), std::set<uint32_t>{c.id}) << c.argument;
  EXPECT_EQ(p->store.GetValue(c.id), c.value) << c.argument;
  EXPECT_EQ(p->store.GetNumber(c.id), c.number) << c.argument;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Matching,
    ::testing::Values(MatchCase{"/P", 3, std::nullopt}, MatchCase{"-reboot", 11, std::nullopt},
                      MatchCase{"/x", 12, std::nullopt}, MatchCase{"/x:8", 13, "8"},
                      MatchCase{"/retry:3", 21, "3"}, MatchCase{"/RETRY:3", 21, "3"},
                      MatchCase{"/r17", 18, "17"}, MatchCase{"/r", 18, std::nullopt},
                      MatchCase{"/k", 8, std::nullopt}, MatchCase{"/K", 8, std::nullopt},
                      MatchCase{"/k3", 9, std::nullopt, 0x08}, MatchCase{"/k12", 9, std::nullopt, 0x02},
                      MatchCase{"/k9", 9, std::nullopt, 0x200}, MatchCase{"/?", 25, std::nullopt},
                      MatchCase{"/h", 25, std::nullopt}, MatchCase{"/chgver:AbC", 20, "AbC"},
                      MatchCase{"/CHGVER:AbC", 20, "AbC"}, MatchCase{"/ifile.ROM", 1, "file.rom"},
                      MatchCase{"/cfgbhv:1", 30, "1"}, MatchCase{"/notaver=1.2", 51, "1.2"},
                      MatchCase{"/sw", 29, std::nullopt}, MatchCase{"/mefwupdlcl", 57, std::nullopt}));

TEST(Matching, UnavailableCommandsNeverMatchAndFailTheWholeParse) {
  for (const char* word : {"/mai", "/c", "/makedrv", "/gendrv", "/m1234", "/l0", "/kx", "/kn", "p", "", "/",
                           "-", "+p", "/pp", "/h|?"}) {
    auto p = Parse({"/b", "/reboot", word}, /*scriptHeld=*/false);
    EXPECT_EQ(p->result, 1u) << word;
    EXPECT_TRUE(Selected(p->store).empty()) << word;
    // The rebuilt table has dropped the SMBIOS-type command for good.
    EXPECT_EQ(p->store.Find(option::kPreserveSmbiosType), nullptr) << word;
  }
}

TEST(Matching, SmbiosTypeCommandIsNeverTakenByLetterDigitMatching) {
  auto p = Parse({"/R17"});
  ASSERT_EQ(p->result, 0u);
  EXPECT_EQ(Selected(p->store), std::set<uint32_t>{18});
  EXPECT_FALSE(p->store.IsSelected(option::kPreserveSmbiosType));
}

TEST(Matching, RepeatedValuesStackMostRecentFirst) {
  auto p = Parse({"/r3", "/r5"});
  ASSERT_EQ(p->result, 0u);
  EXPECT_EQ(p->store.GetValue(18, 0), "5");
  EXPECT_EQ(p->store.GetValue(18, 1), "3");
  auto cleared = Parse({"/r3", "/r"});
  EXPECT_FALSE(cleared->store.GetValue(18, 0));  // an empty rest removes earlier values
}

TEST(Matching, AValueTooLongForTheValueBufferIsNotAccepted) {
  const std::string huge = "/i" + std::string(1100, 'a');
  ConfigStore store;
  ParseContext context;
  const std::vector<std::string> args{"prog", huge};
  EXPECT_EQ(ParseOptions(store, args, context), 1u);
  EXPECT_FALSE(store.IsSelected(option::kRomFile));
}

// --- consistency rules -------------------------------------------------------------------

struct RuleCase {
  const char* name;
  std::vector<const char*> words;
  bool scriptHeld;
  uint32_t result;
  std::set<uint32_t> selected;
};

class Rules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rules, GiveTheirResultAndSelections) {
  const RuleCase& c = GetParam();
  auto p = std::make_unique<Parsed>();
  p->context.commandScriptHeld = c.scriptHeld;
  p->context.canOpenForReading = [](const std::string& path) { return path == "exists.rom"; };
  std::vector<std::string> args{"prog"};
  for (const char* w : c.words) args.emplace_back(w);
  EXPECT_EQ(ParseOptions(p->store, args, p->context), c.result);
  EXPECT_EQ(Selected(p->store), c.selected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Rules,
    ::testing::Values(
        RuleCase{"NoArgumentsSelectNothing", {}, false, 0, {}},
        RuleCase{"DefaultRegionIsMainBios", {"/q", "/reboot"}, false, 0, {3, 10, 11}},
        RuleCase{"NoDefaultWithScript", {"/q", "/reboot"}, true, 0, {10, 11}},
        RuleCase{"NoDefaultWithRegion", {"/b"}, false, 0, {4}},
        RuleCase{"NoDefaultWithNcb", {"/k2"}, false, 0, {9}},
        RuleCase{"NoDefaultWithMe", {"/meuf"}, false, 0, {41}},
        RuleCase{"NoDefaultWithEcIfNewer", {"/ecuf"}, false, 0, {34}},
        RuleCase{"HoleNeedsCompanionsAtFour", {"/iexists.rom", "/hole:RomH1", "/x"}, true, 1, {1, 12, 37}},
        RuleCase{"HoleWithSilent", {"/iexists.rom", "/hole:RomH1", "/q"}, false, 0, {1, 10, 37}},
        RuleCase{"HoleWithoutValue", {"/iexists.rom", "/hole:"}, true, 1, {1, 37}},
        RuleCase{"HoleWithoutRomFile", {"/hole:RomH1", "/b"}, true, 1, {4, 37}},
        RuleCase{"HoleFileMissing", {"/imissing.rom", "/hole:h1"}, true, 146, {1, 37}},
        RuleCase{"HoleDeselectsRegions", {"/iexists.rom", "/hole:h1", "/b", "/p", "/n", "/e", "/k"},
                 true, 0, {1, 37}},
        RuleCase{"SaveAloneIsTooFewWords", {"/o"}, true, 1, {2}},
        RuleCase{"SaveWithOneMoreWord", {"/o", "/x"}, false, 0, {2, 12}},
        RuleCase{"SaveWithSilentAtFour", {"/o", "/q", "/x"}, false, 0, {2, 10, 12}},
        RuleCase{"SaveAtFourNeedsSilent", {"/o", "/b", "/x"}, false, 1, {2, 4, 12}},
        RuleCase{"ShowFileIdSelectsRomFile", {"/u", "/x"}, false, 0, {1, 12, 14}},
        RuleCase{"RetryZero", {"/retry:0"}, true, 150, {21}},
        RuleCase{"RetryNotDigits", {"/retry:3a"}, true, 150, {21}},
        RuleCase{"RetryMissing", {"/retry:"}, true, 150, {21}},
        RuleCase{"RetryGood", {"/retry:003"}, true, 0, {21}},
        RuleCase{"SmbiosNotANumber", {"/rabc"}, true, 1, {18}},
        RuleCase{"SmbiosZeroWritten", {"/r0", "/r00"}, true, 0, {18}},
        RuleCase{"SmbiosOneBadValueOfMany", {"/r3", "/rx", "/r5"}, true, 1, {18}},
        RuleCase{"RomIdLengthNoValue", {"/x:"}, true, 151, {13}},
        RuleCase{"RomIdLengthNine", {"/x:9"}, true, 151, {13}},
        RuleCase{"RomIdLengthOne", {"/x:1"}, true, 0, {13}},
        RuleCase{"OemSmiAtThreeNeedsSilent", {"/oemsmi:1F", "/b"}, true, 1, {4, 35}},
        RuleCase{"OemSmiAlone", {"/oemsmi:1F"}, true, 0, {35}},
        RuleCase{"OemSmiNotHex", {"/oemsmi:1G"}, true, 152, {35}},
        RuleCase{"OemSmiNoValue", {"/oemsmi:"}, true, 152, {35}},
        RuleCase{"MeEntireWinsOverIgnition", {"/meuf", "/me"}, true, 0, {42}},
        RuleCase{"VerifyOnlyDeselects", {"/d", "/p", "/b", "/x"}, true, 0, {28}},
        RuleCase{"VerifyOnlyWithDefault", {"/d"}, false, 0, {28}},
        RuleCase{"EcFlashTypeAloneIsTooFewWords", {"/ec"}, true, 1, {40}},
        RuleCase{"EcFlashTypeSwitchesToShutdown", {"/ec", "/x"}, true, 0, {36, 40}},
        RuleCase{"EcFlashTypeWithSilent", {"/ec", "/q", "/x"}, false, 0, {10, 36, 40}},
        RuleCase{"EcFlashTypeCountWrong", {"/ec", "/reboot", "/x"}, true, 1, {11, 12, 40}}),
    [](const ::testing::TestParamInfo<RuleCase>& p) { return std::string(p.param.name); });

TEST(Rules, SaveGetsTheFirstArgumentAsItsValue) {
  auto p = Parse({"/o", "/q", "/x"});
  ASSERT_EQ(p->result, 0u);
  EXPECT_EQ(p->store.GetValue(option::kSaveFile), "/o");
  EXPECT_FALSE(p->store.IsSelected(option::kRomFile));
}

TEST(Rules, EcFlashTypeClearsTheFlashInterfaceFlag) {
  auto p = Parse({"/ec", "/x"});
  ASSERT_EQ(p->result, 0u);
  EXPECT_FALSE(p->context.prepareFlashInterface);
  auto other = Parse({"/p"});
  EXPECT_TRUE(other->context.prepareFlashInterface);
}

TEST(Rules, SilentIsReportedToTheCaller) {
  EXPECT_TRUE(Parse({"/q"})->context.silenced);
  EXPECT_FALSE(Parse({"/p"})->context.silenced);
}

TEST(Rules, SecondPassKeepsAFileValueSetByTheFirst) {
  ConfigStore store;
  ParseContext context;
  ASSERT_EQ(ParseOptions(store, Args({"/o", "/x"}), context), 0u);
  EXPECT_EQ(store.GetValue(option::kSaveFile), "/o");
  context.secondPass = true;
  // The script's own words would fail the count rule if the save mode were checked again.
  ASSERT_EQ(ParseOptions(store, Args({"/b", "/reboot", "/x"}), context), 0u);
  EXPECT_EQ(store.GetValue(option::kSaveFile), "/o");
  EXPECT_TRUE(store.IsSelected(option::kBootBlock));
}

TEST(Rules, AFailedSecondPassDropsEverySelection) {
  ConfigStore store;
  ParseContext context;
  ASSERT_EQ(ParseOptions(store, Args({"/p", "/reboot"}), context), 0u);
  context.secondPass = true;
  EXPECT_EQ(ParseOptions(store, Args({"/b", "/bogus"}), context), 1u);
  EXPECT_TRUE(Selected(store).empty());
}

TEST(Rules, HoleChecksTheRomFileOnDisk) {
  // The real file check, with no test double: a file that exists and one that does not.
  const auto dir = std::filesystem::temp_directory_path() / "nox_hole_check";
  std::filesystem::create_directories(dir);
  const auto present = (dir / "present.rom").string();
  std::ofstream(present) << "x";
  for (const auto& [file, expected] : {std::pair{present, 0u}, std::pair{(dir / "absent.rom").string(), 146u}}) {
    ConfigStore store;
    ParseContext context;
    const std::vector<std::string> args{"prog", "/i" + file, "/hole:h1"};
    EXPECT_EQ(ParseOptions(store, args, context), expected) << file;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace nox::config

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "config/CommandScript.h"
#include "config/ConfigStore.h"
#include "config/DefaultOptionMask.h"
#include "config/OptionParser.h"

namespace nox::config {
namespace {

std::set<uint32_t> Selected(const ConfigStore& store) {
  std::set<uint32_t> ids;
  for (const CommandRecord& r : store.Records()) {
    if (r.Selected()) ids.insert(r.id);
  }
  return ids;
}

// ---- the command table -----------------------------------------------------------------------

TEST(ConfigStore, AvailableRecordsAreSelectedDisabledOnesFreezeAndValuesStackInTheirBuffer) {
  ConfigStore store;
  for (const uint32_t id : {3u, 6u, 47u, 1000u}) store.SelectCommand(id, true);  // 6: not available; 47, 1000: no record
  EXPECT_EQ(Selected(store), std::set<uint32_t>{3});
  EXPECT_EQ(std::make_tuple(store.GetNumber(47), store.GetValue(47), store.SetValue(47, "x"), store.Find(1000)),
            std::make_tuple(0u, std::optional<std::string>{}, false, nullptr));
  store.SelectCommand(11, true);
  store.DisableCommand(11);
  store.SelectCommand(11, false);
  EXPECT_TRUE(store.IsSelected(11));  // frozen as it was
  store.BuildCommandTable();
  EXPECT_EQ(store.Find(11), nullptr);
  // Values stack most recent first within the value buffer; an empty value clears them.
  ASSERT_TRUE(store.SetValue(18, "3") && store.SetValue(18, "5"));
  EXPECT_EQ((std::vector{store.GetValue(18, 0), store.GetValue(18, 1), store.GetValue(18, 2)}),
            (std::vector<std::optional<std::string>>{"5", "3", std::nullopt}));
  ASSERT_TRUE(store.SetValue(18, ""));
  EXPECT_FALSE(store.GetValue(18, 0));
  ASSERT_TRUE(store.SetValue(1, std::string(1023, 'a')));  // exactly fills the buffer with its zero
  EXPECT_FALSE(store.SetValue(1, "b"));                    // "b<aaa..." would need 1026 bytes
  EXPECT_EQ(store.GetValue(1)->size(), 1023u);
  EXPECT_FALSE(store.SetValue(2, std::string(1024, 'a')) || store.GetValue(2));
  ASSERT_TRUE(store.SetValue(2, std::string(511, 'a')) && store.SetValue(2, std::string(511, 'b')));  // 1023 bytes
  EXPECT_FALSE(store.SetValue(2, "c"));
}

TEST(ErrorTable, KnownIdsExitWithTheirIdOthersAreUndefined) {
  const ConfigStore store;
  for (uint32_t id : {1u, 10u, 16u, 69u, 173u}) EXPECT_EQ(store.ExitCodeOf(id), id);
  for (uint32_t id : {11u, 15u, 42u, 174u, 175u, 400u, ~0u}) {
    EXPECT_EQ(std::make_pair(std::string(store.ErrorMessage(id)), store.ExitCodeOf(id)),
              std::make_pair(std::string("Undefined Error ID\n"), 0u)) << id;
  }
  EXPECT_EQ(std::make_pair(std::string(store.ErrorMessage(0)), store.ExitCodeOf(0)), std::make_pair(std::string(), 0u));
  EXPECT_STREQ(store.ErrorMessage(173), "Error: EC does not permit BIOS update");
}

// ---- the firmware's default options ----------------------------------------------------------

// What the firmware switches on and off together, and an NCB option alone, are proven with
// the firmware's exchange (tests/firmware).
TEST(MaskBit, EachBitNamesItsOptionBothWays) {
  for (const auto& [bit, option] : {std::pair{0x0001u, 3u}, {0x0002u, 4u}, {0x0004u, 5u}, {0x0010u, 7u}, {0x0020u, 10u},
                                    {0x0040u, 11u}, {0x0080u, 12u}, {0x0100u, 15u}, {0x0200u, 34u}, {0x0400u, 36u},
                                    {0x1000u, 37u}, {0x0008u, option::kAllNcb}}) {
    ConfigStore on;
    ApplyDefaultOptionAnswer(on, bit, 0);
    EXPECT_EQ(std::pair(Selected(on), DefaultOptionMask(on)), std::pair(std::set<uint32_t>{option}, bit));
    ConfigStore off;
    for (uint32_t id = 0; id < ConfigStore::kEnableBytes; ++id) off.SelectCommand(id, true);
    std::set<uint32_t> expected = Selected(off);
    expected.erase(option);
    if (option == option::kAllNcb) expected.erase(option::kNcbN);  // the bit stands for every NCB option
    ApplyDefaultOptionAnswer(off, 0, bit);
    EXPECT_EQ(Selected(off), expected) << bit;
  }
  ConfigStore none;  // the undeclared bits name no option
  ApplyDefaultOptionAnswer(none, 0xFFFF0000u | 0x8000 | 0x4000 | 0x2000 | 0x0800, 0);
  EXPECT_TRUE(Selected(none).empty());
}

// ---- the option parser ----------------------------------------------------------------------

const std::string kProgram = "c:\\nox\\noxwingui.exe";

// The program path, then `words`.
std::vector<std::string> Args(std::vector<std::string> words) {
  words.insert(words.begin(), kProgram);
  return words;
}

// A parse as the first pass runs it; the package held a command script, so the default
// region rule stays out of the way unless a case asks for it.
struct Parse {
  explicit Parse(const std::vector<std::string>& words, bool scriptHeld = true) {
    context.commandScriptHeld = scriptHeld;
    result = ParseOptions(store, Args(words), context);
  }
  ConfigStore store;
  ParseContext context;
  uint32_t result = 0;
};

// --- matching ----------------------------------------------------------------------------

TEST(Matching, SelectsTheExpectedCommandWithItsValueOrNumber) {
  struct Case { const char* argument; uint32_t id; std::optional<std::string> value; uint32_t number = 0; };
  const Case cases[] = {
      {"/P", 3, {}}, {"-reboot", 11, {}}, {"/x", 12, {}}, {"/x:8", 13, "8"}, {"/retry:3", 21, "3"},
      {"/RETRY:3", 21, "3"}, {"/r17", 18, "17"}, {"/R17", 18, "17"}, {"/r", 18, {}}, {"/k", 8, {}}, {"/K", 8, {}},
      {"/k3", 9, {}, 0x08}, {"/k12", 9, {}, 0x02}, {"/k9", 9, {}, 0x200}, {"/?", 25, {}}, {"/h", 25, {}},
      {"/chgver:AbC", 20, "AbC"}, {"/CHGVER:AbC", 20, "AbC"}, {"/ifile.ROM", 1, "file.rom"}, {"/cfgbhv:1", 30, "1"},
      {"/notaver=1.2", 51, "1.2"}, {"/sw", 29, {}}, {"/mefwupdlcl", 57, {}}};
  for (const Case& c : cases) {
    const Parse p({c.argument});
    EXPECT_EQ(std::tuple(p.result, Selected(p.store), p.store.GetValue(c.id), p.store.GetNumber(c.id)),
              std::tuple(0u, std::set<uint32_t>{c.id}, c.value, c.number)) << c.argument;
  }
}

TEST(Matching, UnavailableCommandsNeverMatchAndFailTheWholeParse) {
  const std::string tooLong = "/i" + std::string(1100, 'a');  // a value too long for the value buffer
  for (const char* word : {"/mai", "/c", "/makedrv", "/gendrv", "/m1234", "/l0", "/kx", "/kn", "p", "", "/",
                           "-", "+p", "/pp", "/h|?", tooLong.c_str()}) {
    const Parse p({"/b", "/reboot", word}, /*scriptHeld=*/false);
    // The rebuilt table has dropped the SMBIOS-type command for good.
    EXPECT_EQ(std::tuple(p.result, Selected(p.store), p.store.Find(option::kPreserveSmbiosType)),
              std::tuple(1u, std::set<uint32_t>{}, nullptr)) << word;
  }
}

// --- consistency rules -------------------------------------------------------------------

TEST(Rules, GiveTheirResultAndSelections) {
  const std::string kExists = "/i/proc/self/exe";
  struct Case { std::vector<std::string> words; bool scriptHeld; uint32_t result; std::set<uint32_t> selected; };
  const Case cases[] = {
      {{}, false, 0, {}},
      // The main BIOS is the default region, unless a script, a region, an NCB or an ME or EC option chose.
      {{"/q", "/reboot"}, false, 0, {3, 10, 11}}, {{"/q", "/reboot"}, true, 0, {10, 11}}, {{"/b"}, false, 0, {4}},
      {{"/k2"}, false, 0, {9}}, {{"/meuf"}, false, 0, {41}}, {{"/ecuf"}, false, 0, {34}},
      // A ROM hole needs its value, the ROM file on disk (the real file check) and no companions
      // but "q" at four words.
      {{kExists, "/hole:RomH1", "/x"}, true, 1, {1, 12, 37}}, {{kExists, "/hole:RomH1", "/q"}, false, 0, {1, 10, 37}},
      {{kExists, "/hole:"}, true, 1, {1, 37}}, {{"/hole:RomH1", "/b"}, true, 1, {4, 37}},
      {{"/i/proc/self/absent.rom", "/hole:h1"}, true, 146, {1, 37}},
      {{kExists, "/hole:h1", "/b", "/p", "/n", "/e", "/k"}, true, 0, {1, 37}},
      // Saving needs one more word, and "q" at four.
      {{"/o"}, true, 1, {2}}, {{"/o", "/x"}, false, 0, {2, 12}}, {{"/o", "/q", "/x"}, false, 0, {2, 10, 12}},
      {{"/o", "/b", "/x"}, false, 1, {2, 4, 12}}, {{"/u", "/x"}, false, 0, {1, 12, 14}},
      {{"/retry:0"}, true, 150, {21}}, {{"/retry:3a"}, true, 150, {21}}, {{"/retry:"}, true, 150, {21}},
      {{"/retry:003"}, true, 0, {21}}, {{"/rabc"}, true, 1, {18}}, {{"/r0", "/r00"}, true, 0, {18}},
      {{"/r3", "/rx", "/r5"}, true, 1, {18}}, {{"/x:"}, true, 151, {13}}, {{"/x:9"}, true, 151, {13}},
      {{"/x:1"}, true, 0, {13}}, {{"/oemsmi:1F", "/b"}, true, 1, {4, 35}}, {{"/oemsmi:1F"}, true, 0, {35}},
      {{"/oemsmi:1G"}, true, 152, {35}}, {{"/oemsmi:"}, true, 152, {35}},
      {{"/meuf", "/me"}, true, 0, {42}},  // the entire ME wins over its ignition part
      {{"/d", "/p", "/b", "/x"}, true, 0, {28}}, {{"/d"}, false, 0, {28}},  // verifying deselects
      // The EC flash type needs one more word, switches to shutdown, and takes "q" at four.
      {{"/ec"}, true, 1, {40}}, {{"/ec", "/x"}, true, 0, {36, 40}}, {{"/ec", "/q", "/x"}, false, 0, {10, 36, 40}},
      {{"/ec", "/reboot", "/x"}, true, 1, {11, 12, 40}}};
  for (const Case& c : cases) {
    const Parse p(c.words, c.scriptHeld);
    EXPECT_EQ(std::pair(p.result, Selected(p.store)), std::pair(c.result, c.selected)) << ::testing::PrintToString(c.words);
  }
}

TEST(Rules, WhatTheCallerIsToldAndWhatASecondPassKeeps) {
  Parse save({"/o", "/q", "/x"});
  ASSERT_EQ(save.result, 0u);
  EXPECT_EQ(save.store.GetValue(option::kSaveFile), "/o");  // the first argument is its value
  EXPECT_FALSE(save.store.IsSelected(option::kRomFile));
  EXPECT_TRUE(save.context.silenced && save.context.prepareFlashInterface);
  const Parse ec({"/ec", "/x"});  // the EC flash type needs no flash interface
  EXPECT_EQ(std::tuple(ec.result, ec.context.prepareFlashInterface, ec.context.silenced), std::tuple(0u, false, false));
  // The script's own words would fail the count rule if the save mode were checked again.
  save.context.secondPass = true;
  ASSERT_EQ(ParseOptions(save.store, Args({"/b", "/reboot", "/x"}), save.context), 0u);
  EXPECT_EQ(save.store.GetValue(option::kSaveFile), "/o");
  EXPECT_TRUE(save.store.IsSelected(option::kBootBlock));
  // A failed second pass drops every selection.
  EXPECT_EQ(ParseOptions(save.store, Args({"/b", "/bogus"}), save.context), 1u);
  EXPECT_TRUE(Selected(save.store).empty());
}

// --- the command script -----------------------------------------------------------------------

std::string Words(size_t count, const char* word) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += std::string(word) + " ";
  return text;
}

// --- splitting and the capsule check ----------------------------------------------------------

TEST(ScriptWords, SplitAtAnyBlankEndAtAZeroByteAndNameTheCapsuleWithinTheFirst58Words) {
  using namespace std::string_literals;
  EXPECT_EQ(SplitScriptWords("  /p\t/b\r\n/caf  "), (std::vector<std::string>{"/p", "/b", "/caf"}));
  EXPECT_EQ(SplitScriptWords("/p /b\0/n"s), (std::vector<std::string>{"/p", "/b"}));
  EXPECT_TRUE(SplitScriptWords(" \r\n").empty());
  // The capsule word counts when it starts the capsule's name.
  for (const auto& [script, counts] : {std::pair{"/p /capsule", true}, {"/CAPSULE", true}, {"/caps", true}, {"-cap", true},
                                       {"/c", true}, {"/", true}, {"x", true}, {"/capsulex", false},
                                       {"/caf /recovery", false}, {"capsule", false}, {"", false}}) {
    EXPECT_EQ(ScriptNamesCapsule(ConfigStore{}, script), counts) << script;
  }
  EXPECT_TRUE(ScriptNamesCapsule(ConfigStore{}, Words(57, "/p") + "/capsule"));
  EXPECT_FALSE(ScriptNamesCapsule(ConfigStore{}, Words(58, "/p") + "/capsule"));
}

// --- the script list --------------------------------------------------------------------------

using enum CommandScript::State;

TEST(ScriptList, TakesTheFirstCfgbhvWordOut) {
  struct Case { const char* script; int32_t behaviour; std::vector<std::string> list; bool option30; };
  const Case cases[] = {
      {"/p /b", -1, {"/p", "/b"}, false}, {"/p /cfgbhv:1 /b", 1, {"/p", "/b"}, true},
      {"/CFGBHV:0 /n", 0, {"/n"}, true}, {"-cfgbhv:1 /n", 1, {"/n"}, true}, {"/cfgbhv:2 /p", -1, {"/p"}, false},
      // Only the first such word decides; a second one stays for the parser.
      {"/cfgbhv:0 /cfgbhv:1", 0, {"/cfgbhv:1"}, true}, {"/cfgbhv: /p", -1, {"/p"}, false},
      // A word the command does not take as its argument is an ordinary word.
      {"cfgbhv:0 /p", -1, {"cfgbhv:0", "/p"}, false},
      // Nothing but the word leaves no list.
      {"/cfgbhv:0", -1, {}, true}, {"/cfgbhv:7", -1, {}, false}, {"", -1, {}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ConfigStore store;
    CommandScript script;
    const auto state = script.Build(store, kProgram, Args({"/reboot", "/x"}), c.script);
    const bool option30 = store.IsSelected(option::kDefaultBehaviour);
    EXPECT_EQ(std::tuple(state, script.ConfigBehaviour(), script.Arguments(), option30),
              std::tuple(c.list.empty() ? kNone : kHeld, c.behaviour, c.list.empty() ? c.list : Args(c.list), c.option30));
  }
}

TEST(ScriptList, LongWordsAndTooManyEntriesAreRefusedAndFailTheSecondPassLeavingTheOptions) {
  struct Case { size_t internalWords; std::string script; CommandScript::State state; };  // words after the program path
  const Case cases[] = {
      {0, "/p /notaver=1.2.34", kHeld}, {0, "/cfgbhv:0 /p /notaver=1.2.345", kRefused},
      {6, Words(51, "/caf"), kHeld}, {6, Words(52, "/caf"), kRefused},
      {0, Words(57, "/caf"), kHeld}, {0, Words(58, "/caf"), kRefused}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script.size());
    ConfigStore store;
    store.SelectCommand(option::kMainBios, true);
    CommandScript script;
    EXPECT_EQ(script.Build(store, kProgram, Args(std::vector<std::string>(c.internalWords, "/p")), c.script), c.state);
    EXPECT_EQ(std::pair(script.SecondPassDue(), script.Arguments().empty()), std::pair(true, c.state == kRefused));
    if (c.state == kRefused) {
      ParseContext context;
      EXPECT_EQ(script.SecondPass(store, context), parse_error::kUnknownCommand);
      // Nor did the refused script's "cfgbhv:" select anything.
      EXPECT_EQ(std::pair(Selected(store), script.SecondPassDue()),
                std::pair(std::set<uint32_t>{option::kMainBios}, false));
    }
  }
}

// --- both passes --------------------------------------------------------------------------------

TEST(BothPasses, ScriptAddsToOrReplacesTheUsersOptions) {
  struct Case { std::vector<std::string> internal; const char* script; uint32_t second; std::set<uint32_t> selected;
                int32_t behaviour; };  // internal: the words after the program path
  const std::vector<std::string> user{"/p", "/b", "/n", "/k0", "/reboot", "/x"};
  for (const Case& c : {Case{user, "/p /b /caf /sysext /mefwupdlcl", 0, {3, 4, 5, 9, 11, 12, 46, 56, 57}, -1},
                        Case{user, "/cfgbhv:0 /n /caf", 0, {5, 46}, 0},  // behaviour 0 replaces
                        Case{{"/h", "/x"}, "/cfgbhv:0 /n", 0, {5, 12, 25, 30}, 0},  // help keeps the user's options
                        // Without a held script the first pass chose the main BIOS itself.
                        Case{{"/reboot", "/x"}, "/cfgbhv:0", 0, {3, 11, 12, 30}, -1},
                        Case{{"/reboot", "/x"}, "/p /flashall", parse_error::kUnknownCommand, {}, -1}}) {
    SCOPED_TRACE(c.script);
    ConfigStore store;
    ParseContext context;
    CommandScript script;
    const auto internal = Args(c.internal);
    script.Build(store, kProgram, internal, c.script);
    const bool held = context.commandScriptHeld = script.Held();
    ASSERT_EQ(ParseOptions(store, internal, context), 0u);
    EXPECT_EQ(script.SecondPassDue() ? script.SecondPass(store, context) : 0u, c.second);
    EXPECT_EQ(std::tuple(Selected(store), script.ConfigBehaviour(), context.secondPass, script.SecondPassDue()),
              std::tuple(c.selected, c.behaviour, held, false));
    EXPECT_TRUE(c.second != 0 || !held || script.Arguments().empty());
    // The user's "/k0" survives the script.
    EXPECT_TRUE(!store.IsSelected(option::kNcbN) || store.GetNumber(option::kNcbN) == 1u);
  }
}

}  // namespace
}  // namespace nox::config

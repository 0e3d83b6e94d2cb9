#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "config/CommandScript.h"
#include "config/ConfigStore.h"
#include "config/OptionParser.h"

namespace nox::config {
namespace {

const std::string kProgram = "c:\\nox\\noxwingui.exe";

std::set<uint32_t> Selected(const ConfigStore& store) {
  std::set<uint32_t> ids;
  for (const CommandRecord& r : store.Records()) {
    if (r.Selected()) ids.insert(r.id);
  }
  return ids;
}

std::string Words(size_t count, const char* word) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += std::string(word) + " ";
  return text;
}

// --- splitting and the capsule check ----------------------------------------------------------

TEST(ScriptWords, SplitAtAnyBlankAndEndAtAZeroByte) {
  using namespace std::string_literals;
  EXPECT_EQ(SplitScriptWords("  /p\t/b\r\n/caf  "), (std::vector<std::string>{"/p", "/b", "/caf"}));
  EXPECT_EQ(SplitScriptWords("/p /b\0/n"s), (std::vector<std::string>{"/p", "/b"}));
  EXPECT_TRUE(SplitScriptWords(" \r\n").empty());
}

struct CapsuleCase {
  const char* script;
  bool counts;
};

class CapsuleWord : public ::testing::TestWithParam<CapsuleCase> {};

TEST_P(CapsuleWord, CountsWhenItStartsTheCapsuleName) {
  ConfigStore store;
  EXPECT_EQ(ScriptNamesCapsule(store, GetParam().script), GetParam().counts) << GetParam().script;
}

INSTANTIATE_TEST_SUITE_P(
    Words, CapsuleWord,
    ::testing::Values(CapsuleCase{"/p /capsule", true}, CapsuleCase{"/CAPSULE", true}, CapsuleCase{"/caps", true},
                      CapsuleCase{"-cap", true}, CapsuleCase{"/c", true}, CapsuleCase{"/", true},
                      CapsuleCase{"x", true}, CapsuleCase{"/capsulex", false}, CapsuleCase{"/caf /recovery", false},
                      CapsuleCase{"capsule", false}, CapsuleCase{"", false}));

TEST(CapsuleWord, OnlyTheFirst58WordsAreLookedAt) {
  ConfigStore store;
  EXPECT_TRUE(ScriptNamesCapsule(store, Words(57, "/p") + "/capsule"));
  EXPECT_FALSE(ScriptNamesCapsule(store, Words(58, "/p") + "/capsule"));
}

// --- the script list --------------------------------------------------------------------------

struct BehaviourCase {
  const char* script;
  CommandScript::State state;
  int32_t behaviour;
  std::vector<std::string> list;  // after the program path
  bool option30;
};

class ScriptList : public ::testing::TestWithParam<BehaviourCase> {};

TEST_P(ScriptList, TakesTheFirstCfgbhvWordOut) {
  const BehaviourCase& c = GetParam();
  ConfigStore store;
  CommandScript script;
  EXPECT_EQ(script.Build(store, kProgram, std::vector<std::string>{kProgram, "/reboot", "/x"}, c.script), c.state);
  EXPECT_EQ(script.ConfigBehaviour(), c.behaviour);
  std::vector<std::string> expected;
  if (!c.list.empty()) {
    expected.push_back(kProgram);
    expected.insert(expected.end(), c.list.begin(), c.list.end());
  }
  EXPECT_EQ(script.Arguments(), expected);
  EXPECT_EQ(store.IsSelected(option::kDefaultBehaviour), c.option30);
  EXPECT_EQ(script.Held(), c.state == CommandScript::State::kHeld);
}

using State = CommandScript::State;
INSTANTIATE_TEST_SUITE_P(
    Scripts, ScriptList,
    ::testing::Values(BehaviourCase{"/p /b", State::kHeld, -1, {"/p", "/b"}, false},
                      BehaviourCase{"/p /cfgbhv:1 /b", State::kHeld, 1, {"/p", "/b"}, true},
                      BehaviourCase{"/CFGBHV:0 /n", State::kHeld, 0, {"/n"}, true},
                      BehaviourCase{"-cfgbhv:1 /n", State::kHeld, 1, {"/n"}, true},
                      // Only the first such word decides; a second one stays for the parser.
                      BehaviourCase{"/cfgbhv:0 /cfgbhv:1", State::kHeld, 0, {"/cfgbhv:1"}, true},
                      BehaviourCase{"/cfgbhv:2 /p", State::kHeld, -1, {"/p"}, false},
                      BehaviourCase{"/cfgbhv: /p", State::kHeld, -1, {"/p"}, false},
                      // A word the command does not take as its argument is an ordinary word.
                      BehaviourCase{"cfgbhv:0 /p", State::kHeld, -1, {"cfgbhv:0", "/p"}, false},
                      BehaviourCase{"/cfgbhv:0", State::kNone, -1, {}, true},
                      BehaviourCase{"/cfgbhv:7", State::kNone, -1, {}, false},
                      BehaviourCase{"", State::kNone, -1, {}, false}));

struct LimitCase {
  size_t internalWords;  // words of the internal list after the program path
  std::string script;
  State state;
};

class ScriptLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ScriptLimits, LongWordsAndTooManyEntriesAreRefused) {
  const LimitCase& c = GetParam();
  std::vector<std::string> internal{kProgram};
  internal.insert(internal.end(), c.internalWords, "/p");
  ConfigStore store;
  CommandScript script;
  EXPECT_EQ(script.Build(store, kProgram, internal, c.script), c.state);
  EXPECT_EQ(script.SecondPassDue(), c.state != State::kNone);
  if (c.state == State::kRefused) {
    EXPECT_TRUE(script.Arguments().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ScriptLimits,
    ::testing::Values(LimitCase{0, "/p /notaver=1.2.34", State::kHeld}, LimitCase{0, "/p /notaver=1.2.345", State::kRefused},
                      LimitCase{6, Words(51, "/caf"), State::kHeld}, LimitCase{6, Words(52, "/caf"), State::kRefused},
                      LimitCase{0, Words(57, "/caf"), State::kHeld}, LimitCase{0, Words(58, "/caf"), State::kRefused}));

TEST(ScriptList, ARefusedScriptFailsTheSecondPassAndLeavesTheOptions) {
  ConfigStore store;
  store.SelectCommand(option::kMainBios, true);
  CommandScript script;
  script.Build(store, kProgram, {}, "/cfgbhv:0 /averyveryverylongword");
  EXPECT_FALSE(store.IsSelected(option::kDefaultBehaviour));
  ParseContext context;
  EXPECT_EQ(script.SecondPass(store, context), parse_error::kUnknownCommand);
  EXPECT_EQ(Selected(store), std::set<uint32_t>{option::kMainBios});
  EXPECT_FALSE(script.SecondPassDue());
}

// --- both passes --------------------------------------------------------------------------------

struct Passes {
  ConfigStore store;
  ParseContext context;
  CommandScript script;
  uint32_t first = 0;
  uint32_t second = 0;
};

std::unique_ptr<Passes> RunBothPasses(const std::vector<std::string>& internal, const char* scriptText) {
  auto p = std::make_unique<Passes>();
  p->script.Build(p->store, kProgram, internal, scriptText);
  p->context.commandScriptHeld = p->script.Held();
  p->first = ParseOptions(p->store, internal, p->context);
  if (p->script.SecondPassDue()) p->second = p->script.SecondPass(p->store, p->context);
  return p;
}

TEST(SecondPass, ScriptAddsToTheUsersOptions) {
  auto p = RunBothPasses({kProgram, "/p", "/b", "/n", "/k0", "/reboot", "/x"}, "/p /b /caf /sysext /mefwupdlcl");
  ASSERT_EQ(p->first, 0u);
  ASSERT_EQ(p->second, 0u);
  EXPECT_EQ(Selected(p->store), (std::set<uint32_t>{3, 4, 5, 9, 11, 12, 46, 56, 57}));
  EXPECT_EQ(p->store.GetNumber(option::kNcbN), 1u);
  EXPECT_TRUE(p->context.secondPass);
  EXPECT_TRUE(p->script.Arguments().empty());
  EXPECT_FALSE(p->script.SecondPassDue());
}

TEST(SecondPass, BehaviourZeroReplacesTheUsersOptions) {
  auto p = RunBothPasses({kProgram, "/p", "/b", "/n", "/k0", "/reboot", "/x"}, "/cfgbhv:0 /n /caf");
  ASSERT_EQ(p->second, 0u);
  EXPECT_EQ(Selected(p->store), (std::set<uint32_t>{5, 46}));
  EXPECT_EQ(p->script.ConfigBehaviour(), 0);
}

TEST(SecondPass, HelpKeepsTheUsersOptionsUnderBehaviourZero) {
  auto help = RunBothPasses({kProgram, "/h", "/x"}, "/cfgbhv:0 /n");
  EXPECT_EQ(Selected(help->store), (std::set<uint32_t>{5, 12, 25, 30}));
}

TEST(SecondPass, AScriptOfOnlyCfgbhvLeavesTheUsersOptionsAndTheDefaultRegion) {
  auto p = RunBothPasses({kProgram, "/reboot", "/x"}, "/cfgbhv:0");
  EXPECT_EQ(p->script.ConfigBehaviour(), -1);
  EXPECT_FALSE(p->context.secondPass);
  // Without a held script the first pass chose the main BIOS itself.
  EXPECT_EQ(Selected(p->store), (std::set<uint32_t>{3, 11, 12, 30}));
}

TEST(SecondPass, AnUnknownScriptWordFailsThePass) {
  auto p = RunBothPasses({kProgram, "/reboot", "/x"}, "/p /flashall");
  EXPECT_EQ(p->second, parse_error::kUnknownCommand);
  EXPECT_FALSE(p->script.SecondPassDue());
}

}  // namespace
}  // namespace nox::config

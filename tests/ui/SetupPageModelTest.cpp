#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ui/SetupPageModel.h"

namespace nox::ui {
namespace {

// Records every change the page makes, in order: "+3"/"-3" options, "main+" session fields,
// "b2+" NCB mask bits, "v0,10" the values of option 18.
struct FakeBinding : SetupBinding {
  std::set<uint32_t> unavailable, selected;
  uint32_t number = 0, mask = 0;
  std::vector<std::string> types;
  std::string log;

  void Note(const std::string& change) { log += change + " "; }
  bool OptionAvailable(uint32_t id) const override { return !unavailable.contains(id); }
  bool OptionSelected(uint32_t id) const override { return selected.contains(id); }
  void SelectOption(uint32_t id, bool on) override {
    on ? (void)selected.insert(id) : (void)selected.erase(id);
    Note((on ? "+" : "-") + std::to_string(id));
  }
  uint32_t OptionNumber(uint32_t id) const override { return id == 9 ? number : 0; }
  std::vector<std::string> OptionValues(uint32_t id) const override { return id == 18 ? types : std::vector<std::string>{}; }
  void SetOptionValues(uint32_t id, const std::vector<std::string>& values) override {
    std::string joined = "v" + std::to_string(id) + "=";
    for (const std::string& v : values) joined += v + (&v == &values.back() ? "" : ",");
    Note(joined);
  }
  void SetSessionField(SessionField field, bool on) override {
    static const char* const kNames[] = {"main", "bb", "nvram", "ec", "ign", "entire", "allncb", "romid", "restart",
                                         "skip", "ecnewer"};
    Note(kNames[static_cast<int>(field)] + std::string(on ? "+" : "-"));
  }
  void SetNcbMaskBit(int bit, bool on) override {
    mask = on ? mask | 1u << bit : mask & ~(1u << bit);
    Note("b" + std::to_string(bit) + (on ? "+" : "-"));
  }
  uint32_t NcbMask() const override { return mask; }
};

enum Lack : unsigned { kNoEc = 1, kNoMe = 2, kNoImageCheck = 4, kNoIgnition = 8, kNoEntire = 16, kNoPreserve = 32 };

struct PageSetup {
  int behaviour = -1;
  unsigned lacks = 0;
  std::set<uint32_t> selected, unavailable;
  uint32_t number = 0;
  std::vector<std::string> types;
  size_t ncbs = 0;  // a ROM file with this many NCBs is opened after the page starts
};

struct Page {
  FakeBinding binding;
  SetupPageModel model{binding};

  explicit Page(const PageSetup& s) {
    binding.selected = s.selected;
    binding.unavailable = s.unavailable;
    binding.number = binding.mask = s.number;  // the session's mask starts as the option's number
    binding.types = s.types;
    model.InitSetup({s.behaviour, !(s.lacks & kNoEc), !(s.lacks & kNoMe), !(s.lacks & kNoImageCheck),
                     !(s.lacks & kNoIgnition), !(s.lacks & kNoEntire), !(s.lacks & kNoPreserve)});
    if (s.ncbs) model.EnableNcbBoxes(s.ncbs);
  }
  // Per control: checked x/., enabled e/-, visible v/h.
  std::string States(const std::vector<int>& ids) const {
    std::string out;
    for (int id : ids) {
      const ControlState& s = model.State(id);
      out += std::string{s.checked ? 'x' : '.', s.enabled ? 'e' : '-', s.visible ? 'v' : 'h', ' '};
    }
    return out;
  }
};

TEST(SetupControls, InPageOrderWithTheirKindsAndOptions) {
  std::string rows;
  for (const SetupControl& c : SetupControls())
    rows += std::to_string(c.id) + "cel"[static_cast<int>(c.kind)] + (c.optionId ? std::to_string(*c.optionId) : "") + " ";
  EXPECT_EQ(rows, "1007c 1008c3 1009c4 1010c5 1011c7 11065c41 11066c42 1012c8 1013c9 1014c9 1015c9 1016c9 1017c9 "
                  "1018c9 1019c9 1020c9 1026c12 1025c 1029c11 11052c39 1028l18 1027e18 ");
  EXPECT_STREQ(FindSetupControl(1020)->toolTip, "If system has Non-Critical-Block 8, check this to program it.");
  EXPECT_EQ(FindSetupControl(1021), nullptr);
}

TEST(SetupInit, ChecksSelectedOptionsByBehaviourWithinWhatTheMachineAllows) {
  struct Case { const char* name; PageSetup setup; std::vector<int> ids; const char* states; const char* log; const char* edit; };
  const std::vector<int> blocks{1008, 1009, 1012, 1026, 1029, 1027, 1028};
  const Case cases[] = {
      {"NCB number 5 is boxes 1 and 3", {.selected = {9}, .number = 0x105}, {1012, 1013, 1014, 1015, 1020},
       ".-v xev .-v xev .-v ", "b0+ b2+ ", ""},
      {"behaviour 0 locks", {.behaviour = 0, .selected = {3, 4, 8, 12, 11, 18}}, blocks,
       "x-v x-v x-v x-v x-v xev x-v ", "main+ bb+ allncb+ romid- restart+ skip- ", "All"},
      {"behaviour 1 leaves them free", {.behaviour = 1, .selected = {3, 18}}, blocks,
       "xev .ev .-v .ev .ev x-v xev ", "main+ skip- ", "All"},
      {"other behaviours leave boxes alone", {.behaviour = 2, .selected = {3}}, {1008},
       ".ev ", "main+ ", ""},
      {"command-line types shown", {.selected = {18}, .types = {"3", "17"}}, {1027}, "x-v ", "skip- ", "3 17"},
      {"unavailable hidden", {.selected = {4}, .unavailable = {3, 9, 18}}, {1008, 1013, 1020, 1027, 1028},
       ".-h .-h .-h .eh .-h ", "bb+ ", ""},
      {"no EC region", {.lacks = kNoEc, .selected = {7}}, {1011, 1025}, ".-v .-v ", "ec+ ", ""},
      {"EC region", {.selected = {7}}, {1011, 1025}, "xev .-v ", "ec+ ", ""},
      {"no ME", {.lacks = kNoMe, .selected = {41, 42}}, {11065, 11066}, ".-v .-v ", "ign+ entire+ -41 -42 ", ""},
      {"ME image check failed", {.lacks = kNoImageCheck}, {11065, 11066}, ".-v .-v ", "-41 -42 ", ""},
      {"no ignition", {.lacks = kNoIgnition, .selected = {42}}, {11065, 11066}, ".-v xev ", "entire+ -41 ", ""},
      {"no entire", {.lacks = kNoEntire}, {11065, 11066}, ".ev .-v ", "-42 ", ""},
      {"no setup preserve", {.lacks = kNoPreserve, .selected = {39}}, {11052}, ".-v ", "", ""},
      {"setup preserve", {.selected = {39}}, {11052}, "xev ", "", ""},
  };
  for (const Case& c : cases) {
    Page page(c.setup);
    EXPECT_EQ(page.States(c.ids) + "| " + page.binding.log + "| " + page.model.EditText(),
              std::string(c.states) + "| " + c.log + "| " + c.edit)
        << c.name;
  }
}

TEST(SetupClicks, ChangeOptionsSessionAndDependentBoxes) {
  struct Case { const char* name; PageSetup setup; std::vector<int> clicks; std::vector<int> ids; const char* states; const char* log; };
  const std::vector<int> blocks{1008, 1009, 1010, 1011, 1012};
  const Case cases[] = {
      {"program all: enabled boxes not yet checked", {.selected = {4}}, {1007}, blocks, "xev xev xev xev .-v ",
       "+3 main+ +5 nvram+ +7 ec+ "},
      {"program all off again", {.lacks = kNoEc}, {1007, 1007}, blocks, ".ev .ev .ev .-v .-v ",
       "+3 main+ +4 bb+ +5 nvram+ -3 main- -4 bb- -5 nvram- "},
      {"program all reaches the NCBs", {.ncbs = 2}, {1007}, {1012, 1013, 1014, 1015}, "xev xev xev .-v ",
       "+3 main+ +4 bb+ +5 nvram+ +7 ec+ +8 b0+ +9 b1+ +9 "},
      {"NCB option follows the low byte of the mask", {.selected = {9}, .number = 0x101}, {1013}, {1013}, ".ev ",
       "b0- -9 "},
      {"more NCBs than boxes", {.ncbs = 12}, {1020}, {1012, 1020}, ".ev xev ", "b7+ +9 "},
      {"EC block governs Check EC Version", {}, {1025, 1011, 1025, 1011}, {1011, 1025}, ".ev .-v ",
       "no1025 +7 ec+ ecnewer+ -7 ec- ecnewer- "},
      {"Entire locks Ignition", {}, {11066, 11065, 11066}, {11065, 11066}, ".ev .ev ",
       "+42 entire+ -41 no11065 -42 entire- "},
      {"Entire without ignition updates", {.lacks = kNoIgnition}, {11066, 11066}, {11065}, ".-v ",
       "+42 entire+ -42 entire- "},
      {"Ignition deselects Entire", {}, {11065}, {11065, 11066}, "xev .ev ", "+41 ign+ -42 "},
      {"options with inverted or no session fields", {}, {1026, 1029, 11052, 1026}, {1026, 1029}, ".ev xev ",
       "+12 romid- +11 +39 -12 romid+ "},
      {"boot block enables the types edit", {.selected = {18}}, {1009}, {1027}, "xev ", "+4 bb+ "},
      {"not while the label is locked", {.behaviour = 0, .selected = {18}}, {1009}, {1027}, "x-v ", "+4 bb+ "},
      {"clicks the page does not take", {.selected = {3}, .unavailable = {3}}, {1008, 1013, 1027, 1028, 1030},
       {1008}, "xeh ", "no1008 no1013 no1027 no1028 no1030 "},
  };
  for (const Case& c : cases) {
    Page page(c.setup);
    page.binding.log.clear();
    for (int id : c.clicks) {
      if (!page.model.Click(id)) page.binding.Note("no" + std::to_string(id));
    }
    EXPECT_EQ(page.States(c.ids) + "| " + page.binding.log, std::string(c.states) + "| " + c.log) << c.name;
  }
}

TEST(SetupSmbiosEdit, FiltersTypingAndRestoresTheLastAcceptedText) {
  struct Step { std::string typed; size_t caret; std::string shown; size_t from, to; bool beep; };
  const std::string full(kSmbiosEditLimit, '1');
  const Step steps[] = {
      {"7x", 2, "7", 1, 1, true},  // the types from the command line are the text to go back to
      {"", 0, "", 0, 0, false},       {" ", 1, "", 0, 0, true},        {"0", 1, "0", 1, 1, false},
      {"0 ", 2, "0 ", 2, 2, false},   {"0 1", 3, "0 1", 3, 3, false},  {"0 10", 4, "0 10", 4, 4, false},
      {"0 10 ", 5, "0 10 ", 5, 5, false}, {"0 10  ", 6, "0 10 ", 5, 5, true}, {"0 1b0 ", 4, "0 10 ", 3, 3, true},
      {"0 10 A", 6, "ALL", 0, 3, false}, {"#ALL", 1, "ALL", 0, 3, true}, {"all", 3, "all", 0, 3, false},
      {full, 64, full, 64, 64, false},    {full + "1", 65, full, 64, 64, true},
  };
  Page page({.selected = {4, 18}, .types = {"7"}});
  for (const Step& s : steps) {
    const EditOutcome out = page.model.OnEditChanged(s.typed, s.caret);
    EXPECT_EQ(std::make_tuple(out.text, out.accepted, out.beep, out.selectionStart, out.selectionEnd, page.model.EditText()),
              std::make_tuple(s.shown, !s.beep, s.beep, s.from, s.to, s.shown))
        << s.typed;
  }
}

TEST(SetupSmbiosEdit, AppliedBeforeAFlash) {
  struct Case { PageSetup setup; const char* typed; const char* log; };
  const Case cases[] = {
      {{}, "0 10", "-18 v18= skip+ "},  // the edit is disabled without the boot block
      {{.selected = {4}}, "", "-18 v18= skip+ "},
      {{.selected = {4}}, "All", "-18 v18= skip+ skip- +18 "},
      {{.selected = {4}}, "a", "-18 v18= skip+ skip- +18 "},
      {{.selected = {4}}, "0 10 ", "-18 v18= skip+ skip- +18 v18=0,10 "},
      {{.selected = {4, 18}, .types = {"3", "17"}}, nullptr, "-18 v18= skip+ skip- +18 v18=3,17 "},
  };
  for (const Case& c : cases) {
    Page page(c.setup);
    if (c.typed) page.model.OnEditChanged(c.typed, 0);
    page.binding.log.clear();
    page.model.ApplySmbiosTypes();
    EXPECT_EQ(page.binding.log, c.log) << (c.typed ? c.typed : "");
  }
}

}  // namespace
}  // namespace nox::ui

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ui/SetupPageModel.h"

namespace nox::ui {
namespace {

enum Lack : unsigned { kNoEc = 1, kNoMe = 2, kNoImageCheck = 4, kNoIgnition = 8, kNoEntire = 16, kNoPreserve = 32 };

struct PageSetup {
  int behaviour = -1;
  unsigned lacks = 0;
  std::set<uint32_t> selected, unavailable;
  uint32_t mask = 0;  // option 9's number, which the session's NCB mask starts from
  std::vector<std::string> types;
  size_t ncbs = 0;  // a ROM file with this many NCBs is opened after the page starts
};

constexpr const char* kFields[] = {"main", "bb", "nvram", "ec", "ign", "entire", "allncb", "romid", "restart", "skip",
                                   "ecnewer"};

// The option store and the session, noting every change in order: "o3+"/"o3-" options, "main+"
// session fields, "b2+" NCB mask bits, "types=0,10," the values of option 18.
struct Page : SetupBinding {
  PageSetup s;
  std::string log;
  SetupPageModel model{*this};

  explicit Page(PageSetup setup) : s(std::move(setup)) {
    model.InitSetup({s.behaviour, !(s.lacks & kNoEc), !(s.lacks & kNoMe), !(s.lacks & kNoImageCheck),
                     !(s.lacks & kNoIgnition), !(s.lacks & kNoEntire), !(s.lacks & kNoPreserve)});
    if (s.ncbs) model.EnableNcbBoxes(s.ncbs);
  }
  void Note(const std::string& change, bool on) { log += change + (on ? "+ " : "- "); }
  bool OptionAvailable(uint32_t id) const override { return !s.unavailable.contains(id); }
  bool OptionSelected(uint32_t id) const override { return s.selected.contains(id); }
  void SelectOption(uint32_t id, bool on) override {
    on ? (void)s.selected.insert(id) : (void)s.selected.erase(id);
    Note("o" + std::to_string(id), on);
  }
  uint32_t OptionNumber(uint32_t id) const override { return id == 9 ? s.mask : 0; }
  std::vector<std::string> OptionValues(uint32_t id) const override {
    return id == 18 ? s.types : std::vector<std::string>{};
  }
  void SetOptionValues(uint32_t, const std::vector<std::string>& values) override {
    for (log += "types="; const std::string& v : values) log += v + ",";
    log += " ";
  }
  void SetSessionField(SessionField field, bool on) override { Note(kFields[static_cast<int>(field)], on); }
  void SetNcbMaskBit(int bit, bool on) override {
    s.mask = on ? s.mask | 1u << bit : s.mask & ~(1u << bit);
    Note("b" + std::to_string(bit), on);
  }
  uint32_t NcbMask() const override { return s.mask; }
};

// The page's controls with their kinds and options: a control whose option the command table lacks is hidden.
TEST(SetupControls, InPageOrderWithTheirKindsAndOptions) {
  std::string rows;
  for (const SetupControl& c : SetupControls())
    rows += std::to_string(c.id) + "cel"[int(c.kind)] + (c.optionId ? std::to_string(*c.optionId) : "") + " ";
  EXPECT_EQ(rows, "1007c 1008c3 1009c4 1010c5 1011c7 11065c41 11066c42 1012c8 1013c9 1014c9 1015c9 1016c9 1017c9 "
                  "1018c9 1019c9 1020c9 1026c12 1025c 1029c11 11052c39 1028l18 1027e18 ");
}

TEST(SetupPage, StartAndClicksSetBoxesOptionsAndSession) {
  // A negative id: the view checks the box itself and sends the click. Refused clicks note "no<id>".
  struct Case { PageSetup setup; std::vector<int> clicks, ids; const char* states; const char* log; };
  const std::vector<int> locks{1008, 1009, 1012, 1026, 1029, 1027, 1028}, blocks{1008, 1009, 1010, 1011, 1012};
  const Case cases[] = {
      {{.selected = {9}, .mask = 0x105}, {}, {1012, 1013, 1014, 1015, 1020}, ".-v xev .-v xev .-v ", "b0+ b2+ "},
      {{.behaviour = 0, .selected = {3, 4, 8, 12, 11, 18}}, {}, locks, "x-v x-v x-v x-v x-v xev x-v ",
       "main+ bb+ allncb+ romid- restart+ skip- "},
      {{.behaviour = 2, .selected = {3}}, {}, {1008}, ".ev ", "main+ "},
      {{.selected = {4}, .unavailable = {3, 9, 18}}, {}, {1008, 1013, 1020, 1027, 1028}, ".-h .-h .-h .eh .-h ", "bb+ "},
      {{.lacks = kNoEc, .selected = {7}}, {}, {1011, 1025}, ".-v .-v ", "ec+ "},
      {{.lacks = kNoMe, .selected = {41, 42}}, {}, {11065, 11066}, ".-v .-v ", "ign+ entire+ o41- o42- "},
      {{.lacks = kNoImageCheck}, {}, {11065, 11066}, ".-v .-v ", "o41- o42- "},
      {{.lacks = kNoIgnition, .selected = {42}}, {}, {11065, 11066}, ".-v xev ", "entire+ o41- "},
      {{.lacks = kNoEntire}, {}, {11065, 11066}, ".ev .-v ", "o42- "},
      {{.lacks = kNoPreserve, .selected = {39}}, {}, {11052}, ".-v ", ""},
      {{.selected = {4}}, {1007}, blocks, "xev xev xev xev .-v ", "bb+ o3+ main+ o5+ nvram+ o7+ ec+ "},
      {{.lacks = kNoEc}, {1007, 1007}, blocks, ".ev .ev .ev .-v .-v ",
       "o3+ main+ o4+ bb+ o5+ nvram+ o3- main- o4- bb- o5- nvram- "},
      {{.ncbs = 2}, {1007}, {1012, 1013, 1014, 1015}, "xev xev xev .-v ",
       "o3+ main+ o4+ bb+ o5+ nvram+ o7+ ec+ o8+ b0+ o9+ b1+ o9+ "},
      {{.selected = {9}, .mask = 0x101}, {1013}, {1013}, ".ev ", "b0+ b0- o9- "},
      {{.ncbs = 12}, {1020}, {1012, 1020}, ".ev xev ", "b7+ o9+ "},
      {{}, {1025, 1011, 1025, 1011}, {1011, 1025}, ".ev .-v ", "no1025 o7+ ec+ ecnewer+ o7- ec- ecnewer- "},
      {{}, {11066, 11065, 11066}, {11065, 11066}, ".ev .ev ", "o42+ entire+ o41- no11065 o42- entire- "},
      {{.lacks = kNoIgnition}, {11066, 11066}, {11065}, ".-v ", "o41- o42+ entire+ o42- entire- "},
      {{}, {11065}, {11065, 11066}, "xev .ev ", "o41+ ign+ o42- "},
      {{}, {1026, 1029, 11052, 1026}, {1026, 1029}, ".ev xev ", "o12+ romid- o11+ o39+ o12- romid+ "},
      {{.behaviour = 1, .selected = {18}}, {1009}, {1027}, "xev ", "skip- o4+ bb+ "},
      {{.behaviour = 0, .selected = {18}}, {1009}, {1027}, "x-v ", "skip- o4+ bb+ "},
      {{}, {-1008, -1027}, {1008, 1027}, "xev .-v ", "o3+ main+ "},
      {{.selected = {3}, .unavailable = {3}}, {1008, 1013, 1027, 1028, 1030}, {1008, 1030}, "xeh .-h ",
       "main+ no1008 no1013 no1027 no1028 no1030 "},
  };
  for (const Case& c : cases) {
    Page page(c.setup);
    for (int id : c.clicks) {
      if (id < 0) page.model.SetChecked(-id, true), page.model.OnClicked(-id);
      else if (!page.model.Click(id)) page.log += "no" + std::to_string(id) + " ";
    }
    std::string states;  // per control: checked x/., enabled e/-, visible v/h
    for (int id : c.ids) {
      const ControlState& s = page.model.State(id);
      states += {s.checked ? 'x' : '.', s.enabled ? 'e' : '-', s.visible ? 'v' : 'h', ' '};
    }
    EXPECT_EQ(states + "| " + page.log, std::string(c.states) + "| " + c.log) << &c - cases;
  }
}

TEST(SetupSmbiosEdit, FiltersTypingRestoresTheLastAcceptedTextAndIsAppliedBeforeAFlash) {
  struct Step { std::string typed; size_t caret; std::string shown; size_t from, to; bool beep; };
  const std::string full(kSmbiosEditLimit, '1');
  // The types given on the command line are the first text to go back to.
  const Step steps[] = {
      {"7x", 2, "7", 1, 1, true},        {"", 0, "", 0, 0, false},          {" ", 1, "", 0, 0, true},
      {" 0", 2, " 0", 2, 2, false},      {"0", 1, "0", 1, 1, false},        {"0 1", 3, "0 1", 3, 3, false},
      {"0 10 ", 5, "0 10 ", 5, 5, false}, {"0 10  ", 6, "0 10 ", 5, 5, true}, {"0 1b0 ", 4, "0 10 ", 3, 3, true},
      {"0 10 A", 6, "ALL", 0, 3, false}, {"#ALL", 1, "ALL", 0, 3, true},    {"all", 3, "all", 0, 3, false},
      {full, 64, full, 64, 64, false},   {full + "1", 65, full, 64, 64, true},
  };
  Page page({.selected = {4, 18}, .types = {"7"}});
  for (const Step& s : steps) {
    const EditOutcome out = page.model.OnEditChanged(s.typed, s.caret);
    EXPECT_EQ(std::tie(out.text, out.accepted, out.beep, out.selectionStart, out.selectionEnd, page.model.EditText()),
              std::make_tuple(s.shown, !s.beep, s.beep, s.from, s.to, s.shown))
        << s.typed;
  }

  // Before a flash the edit is applied: it is disabled without the boot block; "a" makes "ALL", and option 18 without
  // types "All".
  struct Case { PageSetup setup; const char* typed; const char* log; };
  const Case cases[] = {
      {{}, "0 10", ""},  {{.selected = {4}}, "", ""}, {{.selected = {4}}, "a", "skip- o18+ "},
      {{.selected = {4, 18}}, nullptr, "skip- o18+ "}, {{.selected = {4}}, "0 10 ", "skip- o18+ types=0,10, "},
      {{.selected = {4, 18}, .types = {"3", "17"}}, nullptr, "skip- o18+ types=3,17, "},
  };
  for (const Case& c : cases) {
    Page applied(c.setup);
    if (c.typed) applied.model.OnEditChanged(c.typed, 0);
    applied.log.clear();
    applied.model.ApplySmbiosTypes();
    EXPECT_EQ(applied.log, std::string("o18- types= skip+ ") + c.log) << &c - cases;
  }
}

}  // namespace
}  // namespace nox::ui

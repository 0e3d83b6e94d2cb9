#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "config/ConfigStore.h"
#include "config/DefaultOptionMask.h"

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

TEST(ConfigStore, OnlyAvailableRecordsAreSelectedAndDisabledOnesFreezeThenVanish) {
  ConfigStore store;
  store.SelectCommand(3, true);
  EXPECT_TRUE(store.IsSelected(3));
  store.SelectCommand(3, false);
  // Declarations without the available bit are stored as zero; the others keep their status.
  store.SelectCommand(6, true);
  store.SelectCommand(47, true);  // no record
  EXPECT_EQ(Selected(store), std::set<uint32_t>{});
  EXPECT_EQ(std::make_pair(store.Find(6)->status, store.Find(18)->status), std::make_pair(uint8_t{0}, uint8_t{0x0B}));
  EXPECT_EQ(std::make_tuple(store.GetNumber(47), store.GetValue(47), store.SetValue(47, "x")),
            std::make_tuple(0u, std::optional<std::string>{}, false));
  EXPECT_EQ(store.CommandName(25), "h|?");
  EXPECT_EQ(store.Find(1000), nullptr);
  store.SelectCommand(11, true);
  store.DisableCommand(11);
  store.SelectCommand(11, false);
  EXPECT_TRUE(store.IsSelected(11));  // frozen as it was
  store.BuildCommandTable();
  EXPECT_EQ(store.Find(11), nullptr);
}

TEST(ConfigStore, ValuesStackMostRecentFirstWithinTheValueBuffer) {
  ConfigStore store;
  ASSERT_TRUE(store.SetValue(18, "3"));
  ASSERT_TRUE(store.SetValue(18, "5"));
  EXPECT_EQ(std::make_tuple(store.GetValue(18, 0), store.GetValue(18, 1), store.GetValue(18, 2)),
            std::make_tuple(std::optional<std::string>("5"), std::optional<std::string>("3"), std::optional<std::string>()));
  ASSERT_TRUE(store.SetValue(18, ""));
  EXPECT_FALSE(store.GetValue(18, 0));
  ASSERT_TRUE(store.SetValue(1, std::string(1023, 'a')));  // exactly fills the buffer with its zero
  EXPECT_FALSE(store.SetValue(1, "b"));                    // "b<aaa..." would need 1026 bytes
  EXPECT_EQ(store.GetValue(1)->size(), 1023u);
  EXPECT_FALSE(store.SetValue(2, std::string(1024, 'a')));
  EXPECT_FALSE(store.GetValue(2));
  ASSERT_TRUE(store.SetValue(2, std::string(511, 'a')));
  ASSERT_TRUE(store.SetValue(2, std::string(511, 'b')));  // 511 + 1 + 511 = 1023
  EXPECT_FALSE(store.SetValue(2, "c"));
}

// ---- the error table -------------------------------------------------------------------------

TEST(ErrorTable, HoldsTheBuiltInIdsWithExitCodeEqualToIdAndNothingElse) {
  const ConfigStore store;
  const std::pair<uint32_t, uint32_t> gaps[] = {{11, 15},   {42, 47},   {52, 63},   {74, 79},  {81, 95},
                                                {98, 111}, {113, 127}, {131, 143}, {174, 400}};
  for (uint32_t id = 1; id <= 400; ++id) {
    const bool held = std::none_of(std::begin(gaps), std::end(gaps), [&](auto g) { return id >= g.first && id <= g.second; });
    EXPECT_EQ(store.ExitCodeOf(id), held ? id : 0u) << id;
    EXPECT_EQ(std::string(store.ErrorMessage(id)) == "Undefined Error ID\n", !held) << id;
  }
  EXPECT_EQ(std::make_pair(std::string(store.ErrorMessage(0)), store.ExitCodeOf(0)), std::make_pair(std::string(), 0u));
  EXPECT_EQ(std::make_pair(std::string(store.ErrorMessage(~0u)), store.ExitCodeOf(~0u)),
            std::make_pair(std::string("Undefined Error ID\n"), 0u));
  EXPECT_STREQ(store.ErrorMessage(173), "Error: EC does not permit BIOS update");
  ErrorTable rebuilt;  // building twice gives the same table
  rebuilt.BuildErrorTable();
  rebuilt.BuildErrorTable();
  EXPECT_EQ(rebuilt.Records().size(), store.Errors().Records().size());
}

// ---- the firmware's default options ----------------------------------------------------------

struct BitCase {
  uint32_t bit;
  uint32_t option;
};

class MaskBit : public ::testing::TestWithParam<BitCase> {};

TEST_P(MaskBit, NamesItsOptionBothWays) {
  const BitCase& c = GetParam();
  ConfigStore store;
  store.SelectCommand(c.option, true);
  EXPECT_EQ(DefaultOptionMask(store), c.bit);

  ConfigStore on;
  ApplyDefaultOptionAnswer(on, c.bit, 0);
  EXPECT_EQ(Selected(on), std::set<uint32_t>{c.option});

  ConfigStore off;
  for (uint32_t id = 0; id < ConfigStore::kEnableBytes; ++id) off.SelectCommand(id, true);
  std::set<uint32_t> expected = Selected(off);
  expected.erase(c.option);
  ApplyDefaultOptionAnswer(off, 0, c.bit);
  EXPECT_EQ(Selected(off), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MaskBit,
                         ::testing::Values(BitCase{0x0001, 3}, BitCase{0x0002, 4}, BitCase{0x0004, 5}, BitCase{0x0010, 7},
                                           BitCase{0x0020, 10}, BitCase{0x0040, 11}, BitCase{0x0080, 12},
                                           BitCase{0x0100, 15}, BitCase{0x0200, 34}, BitCase{0x0400, 36},
                                           BitCase{0x1000, 37}));

TEST(MaskBit, NcbBitReportsAllBlocksAndSwitchesOffEveryNcbOption) {
  ConfigStore one;
  one.SelectCommand(option::kNcbN, true);
  EXPECT_EQ(DefaultOptionMask(one), 0u);
  one.SelectCommand(option::kAllNcb, true);
  EXPECT_EQ(DefaultOptionMask(one), 0x0008u);
  ApplyDefaultOptionAnswer(one, 0, 0x0008);
  EXPECT_TRUE(Selected(one).empty());

  ConfigStore on;
  ApplyDefaultOptionAnswer(on, 0x0008, 0);
  EXPECT_EQ(Selected(on), std::set<uint32_t>{option::kAllNcb});
}

TEST(MaskBit, UndeclaredBitsChangeNothingAndSwitchingOffWins) {
  constexpr uint32_t kUndeclared = 0x4000 | 0x0800 | 0x2000 | 0x8000 | 0xFFFF0000u;
  ConfigStore store;
  ApplyDefaultOptionAnswer(store, kUndeclared, 0);
  EXPECT_TRUE(Selected(store).empty());
  store.SelectCommand(option::kReboot, true);
  ApplyDefaultOptionAnswer(store, 0x0001 | 0x0002, 0x0002 | 0x0040 | kUndeclared);
  EXPECT_EQ(Selected(store), std::set<uint32_t>{option::kMainBios});

  ConfigStore all;
  ApplyDefaultOptionAnswer(all, 0xFFFFFFFFu, 0);
  EXPECT_EQ(DefaultOptionMask(all), default_mask::kDeclared);
  EXPECT_EQ(Selected(all), (std::set<uint32_t>{3, 4, 5, 7, 8, 10, 11, 12, 15, 34, 36, 37}));
}

}  // namespace
}  // namespace nox::config

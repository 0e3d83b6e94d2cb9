#include <gtest/gtest.h>

#include <set>

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
  const std::set<uint32_t> before = Selected(off);
  ApplyDefaultOptionAnswer(off, 0, c.bit);
  std::set<uint32_t> expected = before;
  expected.erase(c.option);
  EXPECT_EQ(Selected(off), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskBit,
    ::testing::Values(BitCase{0x0001, 3}, BitCase{0x0002, 4}, BitCase{0x0004, 5}, BitCase{0x0010, 7},
                      BitCase{0x0020, 10}, BitCase{0x0040, 11}, BitCase{0x0080, 12}, BitCase{0x0100, 15},
                      BitCase{0x0200, 34}, BitCase{0x0400, 36}, BitCase{0x1000, 37}));

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

TEST(MaskBit, BitsWithoutARecordOrWithoutAnOptionChangeNothing) {
  ConfigStore store;
  ApplyDefaultOptionAnswer(store, 0x4000 | 0x0800 | 0x2000 | 0x8000 | 0xFFFF0000u, 0);
  EXPECT_TRUE(Selected(store).empty());
  store.SelectCommand(option::kMainBios, true);
  ApplyDefaultOptionAnswer(store, 0, 0x4000 | 0x0800 | 0x2000 | 0x8000 | 0xFFFF0000u);
  EXPECT_EQ(Selected(store), std::set<uint32_t>{option::kMainBios});
}

TEST(MaskBit, SwitchingOffWinsOverSwitchingOn) {
  ConfigStore store;
  store.SelectCommand(option::kReboot, true);
  ApplyDefaultOptionAnswer(store, 0x0001 | 0x0002, 0x0002 | 0x0040);
  EXPECT_EQ(Selected(store), std::set<uint32_t>{option::kMainBios});
}

TEST(MaskBit, EveryDeclaredOptionTogether) {
  ConfigStore store;
  ApplyDefaultOptionAnswer(store, 0xFFFFFFFFu, 0);
  EXPECT_EQ(DefaultOptionMask(store), default_mask::kDeclared);
  EXPECT_EQ(Selected(store), (std::set<uint32_t>{3, 4, 5, 7, 8, 10, 11, 12, 15, 34, 36, 37}));
}

}  // namespace
}  // namespace nox::config

#include <gtest/gtest.h>

#include <string>

#include "config/ConfigStore.h"

namespace nox::config {
namespace {

TEST(ConfigStore, BuildsTheCommandTableInDeclarationOrder) {
  const ConfigStore store;
  ASSERT_EQ(store.Records().size(), 44u);
  EXPECT_EQ(store.Records().front().id, 3u);
  EXPECT_EQ(store.Records().back().id, 57u);
  EXPECT_EQ(store.CommandName(25), "h|?");
  EXPECT_EQ(store.CommandName(9), "KN[0-7]");
  EXPECT_EQ(store.Find(13)->help,
            "ROM ID check with user defined length.+X:n [n=1-N]+Example: /X:8 - indicates flash utility will "
            "check ROM ID+with 8 ascii characters in length.");
  for (uint32_t id : {0u, 22u, 23u, 24u, 26u, 27u, 38u, 43u, 44u, 45u, 47u, 48u, 49u, 50u, 58u, 59u, 1000u}) {
    EXPECT_EQ(store.Find(id), nullptr) << id;
    EXPECT_FALSE(store.CommandName(id)) << id;
  }
}

TEST(ConfigStore, DeclarationsWithoutTheAvailableBitAreStoredAsZero) {
  const ConfigStore store;
  for (uint32_t id : {6u, 16u, 17u, 31u, 32u, 33u}) EXPECT_EQ(store.Find(id)->status, 0) << id;
  EXPECT_EQ(store.Find(20)->status, 0x29);
  EXPECT_EQ(store.Find(18)->status, 0x0B);
}

TEST(ConfigStore, SelectionOnlyTouchesAvailableRecords) {
  ConfigStore store;
  store.SelectCommand(3, true);
  EXPECT_TRUE(store.IsSelected(3));
  store.SelectCommand(3, false);
  EXPECT_FALSE(store.IsSelected(3));
  store.SelectCommand(6, true);  // unavailable
  EXPECT_FALSE(store.IsSelected(6));
  store.SelectCommand(47, true);  // no record
  EXPECT_FALSE(store.IsSelected(47));
  EXPECT_EQ(store.GetNumber(47), 0u);
  EXPECT_FALSE(store.GetValue(47));
  EXPECT_FALSE(store.SetValue(47, "x"));
}

TEST(ConfigStore, DisabledCommandsCannotChangeAndVanishOnRebuild) {
  ConfigStore store;
  store.SelectCommand(11, true);
  store.DisableCommand(11);
  store.SelectCommand(11, false);
  EXPECT_TRUE(store.IsSelected(11));  // frozen as it was
  store.BuildCommandTable();
  EXPECT_EQ(store.Find(11), nullptr);
  EXPECT_FALSE(store.IsSelected(11));
  EXPECT_EQ(store.Records().size(), 43u);
}

TEST(ConfigStore, ValuesStackMostRecentFirst) {
  ConfigStore store;
  EXPECT_FALSE(store.GetValue(18, 0));
  ASSERT_TRUE(store.SetValue(18, "3"));
  ASSERT_TRUE(store.SetValue(18, "5"));
  EXPECT_EQ(store.GetValue(18, 0), "5");
  EXPECT_EQ(store.GetValue(18, 1), "3");
  EXPECT_FALSE(store.GetValue(18, 2));
  EXPECT_EQ(store.Find(18)->values, "5<3");
  ASSERT_TRUE(store.SetValue(18, ""));
  EXPECT_FALSE(store.GetValue(18, 0));
}

TEST(ConfigStore, RefusesValuesThatWouldOverflowTheValueBuffer) {
  ConfigStore store;
  ASSERT_TRUE(store.SetValue(1, std::string(1023, 'a')));  // exactly fills the buffer with its zero
  EXPECT_FALSE(store.SetValue(1, "b"));                    // "b<aaa..." would need 1026 bytes
  EXPECT_EQ(store.GetValue(1)->size(), 1023u);
  EXPECT_FALSE(store.SetValue(2, std::string(1024, 'a')));
  EXPECT_FALSE(store.GetValue(2));
  ASSERT_TRUE(store.SetValue(2, std::string(511, 'a')));
  ASSERT_TRUE(store.SetValue(2, std::string(511, 'b')));  // 511 + 1 + 511 = 1023
  EXPECT_FALSE(store.SetValue(2, "c"));
}

TEST(ConfigStore, StartsWithEmptyModuleSlots) {
  const ConfigStore store;
  for (const ModuleSlot& slot : store.Modules().slots) EXPECT_TRUE(slot.Empty());
  EXPECT_EQ(store.Modules().driverMask, 0);
}

}  // namespace
}  // namespace nox::config

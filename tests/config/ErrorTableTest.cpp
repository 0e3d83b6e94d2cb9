#include <gtest/gtest.h>

#include <set>
#include <string>

#include "config/ConfigStore.h"

namespace nox::config {
namespace {

struct Lookup {
  uint32_t id;
  const char* message;
  uint32_t exitCode;
};

class ErrorLookup : public ::testing::TestWithParam<Lookup> {};

TEST_P(ErrorLookup, GivesMessageAndExitCode) {
  const ConfigStore store;
  EXPECT_STREQ(store.ErrorMessage(GetParam().id), GetParam().message);
  EXPECT_EQ(store.ExitCodeOf(GetParam().id), GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, ErrorLookup,
    ::testing::Values(Lookup{0, "", 0}, Lookup{1, "Error: Unknown command", 1},
                      Lookup{12, "Undefined Error ID\n", 0},
                      Lookup{30, "Error: Reserved for Secure Flash.", 30},
                      Lookup{31, "Error: Reserved for Secure Flash.", 31},
                      Lookup{39, "Problem freeing unmapping BIOS", 39},
                      Lookup{72, "Error: Power cord not connected.  Plug in power cord to flash", 72},
                      Lookup{156, "Error: BIOS donn't support SETUP preserve funtion.", 156},
                      Lookup{173, "Error: EC does not permit BIOS update", 173},
                      Lookup{174, "Undefined Error ID\n", 0}, Lookup{175, "Undefined Error ID\n", 0},
                      Lookup{0xFFFFFFFF, "Undefined Error ID\n", 0}));

TEST(ErrorTable, HoldsExactlyTheBuiltInIdsWithExitCodeEqualToId) {
  const ConfigStore store;
  const std::set<uint32_t> gaps = [] {
    std::set<uint32_t> s;
    auto range = [&](uint32_t a, uint32_t b) { for (uint32_t i = a; i <= b; ++i) s.insert(i); };
    range(11, 15); range(42, 47); range(52, 63); range(74, 79); range(81, 95);
    range(98, 111); range(113, 127); range(131, 143); s.insert(174);
    return s;
  }();
  size_t withRecord = 0;
  for (uint32_t id = 0; id < 175; ++id) {
    const bool expected = !gaps.contains(id);
    EXPECT_EQ(store.Errors().HasRecord(id), expected) << id;
    if (expected) {
      ++withRecord;
      EXPECT_EQ(store.ExitCodeOf(id), id);
      if (id != 0) {
        EXPECT_STRNE(store.ErrorMessage(id), "") << id;
      }
    }
  }
  EXPECT_EQ(withRecord, 88u);
  EXPECT_EQ(store.Errors().Records().size(), 88u);
}

TEST(ErrorTable, RebuildingGivesTheSameTable) {
  ErrorTable table;
  table.BuildErrorTable();
  table.BuildErrorTable();
  EXPECT_EQ(table.Records().size(), 88u);
  EXPECT_STREQ(table.ErrorMessage(97), "Error: Program already running");
}

}  // namespace
}  // namespace nox::config

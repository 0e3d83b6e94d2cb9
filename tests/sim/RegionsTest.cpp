#include <gtest/gtest.h>

#include "platform/sim/Regions.h"

namespace nox::sim {

void PrintTo(const RegionActivity& a, std::ostream* os) {
  *os << RegionName(a.region.type) << " erase " << a.erase.requests << "/" << a.erase.bytes << " write "
      << a.write.requests << "/" << a.write.bytes << " read " << a.read.requests << "/" << a.read.bytes
      << " not carried out " << a.notCarriedOut;
}

namespace {

using nlohmann::json;

// Listed as a firmware may list them: the main BIOS's upper half first.
const std::vector<BlockEntry> kBlocks = {
    {0x8000, 0x4000, 1}, {0x0000, 0x4000, 0x80}, {0x4000, 0x4000, 1}, {0xC000, 0x4000, 0}};

TEST(Regions, NamedByTypeInTheTablesOrderWithAbuttingEntriesMerged) {
  struct Case { uint8_t type; const char* name; };
  for (const Case& c : {Case{0, "boot block"}, Case{1, "main BIOS"}, Case{2, "NVRAM"}, Case{3, "EC"},
                        Case{4, "type 4"}, Case{0x7F, "type 127"}, Case{0x80, "NCB 0x80"}, Case{0xFF, "NCB 0xFF"}}) {
    EXPECT_EQ(RegionName(c.type), c.name);
  }
  EXPECT_EQ(RegionsOf(kBlocks), (std::vector<Region>{{1, 0x4000, 0x8000}, {0x80, 0, 0x4000}, {0, 0xC000, 0x4000}}));
  // Entries of one type apart from each other stay apart.
  const std::vector<BlockEntry> apart = {{0, 0x1000, 0x81}, {0x1000, 0x1000, 1}, {0x2000, 0x1000, 0x81}};
  EXPECT_EQ(RegionsOf(apart), (std::vector<Region>{{0x81, 0, 0x1000}, {1, 0x1000, 0x1000}, {0x81, 0x2000, 0x1000}}));
}

TEST(Regions, RequestsOfTheLastRunTalliedPerRegion) {
  const std::vector<json> journal = {
      {{"event", "create"}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0}, {"len", 1024}, {"status", 0}},
      {{"event", "os-init"}},
      {{"smi", 34}, {"op", "erase"}, {"addr", 0x4000}, {"len", 0x8000}, {"status", 0}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0xBC00}, {"len", 0x800}, {"status", 0}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0xC400}, {"len", 1024}, {"status", 255}, {"fault", "status left at 255"}},
      {{"smi", 33}, {"op", "read"}, {"addr", 0x4000}, {"len", 1024}, {"status", 0}, {"misuse", "no signature"}},
      {{"smi", 33}, {"op", "read"}, {"addr", "0x4000"}, {"len", 1024}, {"status", 0}},
      {{"smi", 32}, {"op", "enable"}, {"addr", 0x4000}, {"len", 0}},
      {{"event", "input"}, {"addr", 0x4000}, {"len", 1024}},
  };
  ASSERT_EQ(LastRunStart(journal), 2u);
  EXPECT_EQ(LastRunStart(std::span(journal).first(2)), std::nullopt);
  const Region main{1, 0x4000, 0x8000}, ncb{0x80, 0, 0x4000}, boot{0, 0xC000, 0x4000};
  // Region, erase, write, read (requests, bytes), requests not carried out.
  const std::vector<RegionActivity> lastRun = {
      {main, {1, 0x8000}, {1, 0x400}, {1, 0}, 1}, {ncb, {}, {}, {}, 0}, {boot, {}, {2, 0x400}, {}, 1}};
  EXPECT_EQ(SummariseActivity(kBlocks, 0, std::span(journal).subspan(2)), lastRun);
  std::vector<RegionActivity> all = lastRun;
  all[1].write = {1, 1024};
  EXPECT_EQ(SummariseActivity(kBlocks, 0, journal), all);
  // A firmware that answers success with another status: status 0 is then a failure.
  EXPECT_EQ(SummariseActivity(kBlocks, 7, std::span(journal).subspan(2))[0],
            (RegionActivity{main, {1, 0}, {1, 0}, {1, 0}, 3}));
}

}  // namespace
}  // namespace nox::sim

// The block engine against the simulated machine: the flash part and the journal prove
// what was erased, written and left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "firmware/SimRig.h"
#include "image/BlockEngine.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using nox::testing::SimRig;

// A layout that selects blocks by type, with hand-placed holes.
class TestLayout : public EngineLayout {
 public:
  std::vector<FlashBlockEntry> blocks;
  std::vector<HoleSpan> mainHoles;
  std::vector<HoleSpan> bootHoles;
  std::vector<RegionKind> selected = {RegionKind::kMainBios};

  std::span<const FlashBlockEntry> Blocks() const override { return blocks; }
  uint32_t RomSize() const override {
    return std::accumulate(blocks.begin(), blocks.end(), 0u, [](uint32_t s, const auto& b) { return s + b.size; });
  }
  bool BlockInRegion(size_t index, RegionKind kind) const override {
    if (std::find(selected.begin(), selected.end(), kind) == selected.end()) return false;
    const uint8_t type = blocks[index].type;
    switch (kind) {
      case RegionKind::kBootBlock: return type == 0;
      case RegionKind::kMainBios: return type == 1;
      case RegionKind::kNvram: return type == 2;
      case RegionKind::kEc: return type == 3;
      case RegionKind::kNcb: return type >= 0x80;
    }
    return false;
  }
  std::vector<HoleSpan> HolesOfKind(uint8_t type) const override {
    return type == 1 ? mainHoles : type == 0 ? bootHoles : std::vector<HoleSpan>{};
  }
};

// A machine whose flash is one 0x30000 main BIOS entry, two more main BIOS entries and a boot
// block, filled with a recognisable old image; the new image differs everywhere.
struct EngineRig {
  explicit EngineRig(const std::function<void(sim::Profile&)>& tweak = {})
      : rig("minimal-1m", [&](sim::Profile& p) {
          p.flash.blocks = {{0x00000, 0x30000, 1}, {0x30000, 0x10000, 1}, {0x40000, 0xA0000, 1}, {0xE0000, 0x20000, 0}};
          if (tweak) tweak(p);
        }) {
    rig.Open();
    layout.blocks = rig.smi->Info()->Entries();
    old.resize(0x100000);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    rig.machine->Flash().Load(old);
    image.resize(0x100000);
    std::mt19937 random(42);
    for (auto& b : image) b = static_cast<uint8_t>(random());
  }
  BlockEngine Engine(EngineSettings settings = {}) {
    return BlockEngine(*rig.smi, *rig.os, layout, image, settings, [this](const std::string& l) { log += l; });
  }
  std::vector<uint8_t> Flash(uint32_t address, uint32_t length) {
    std::vector<uint8_t> out(length);
    rig.machine->Flash().Read(address, out);
    return out;
  }
  std::vector<std::pair<int, int>> Erases(size_t mark) {
    std::vector<std::pair<int, int>> out;
    for (const auto& s : rig.Smis(mark)) {
      if (s.value("smi", 0) == 34) out.emplace_back(s.value("addr", 0), s.value("len", 0));
    }
    return out;
  }
  size_t Count(size_t mark, int command) {
    const auto smis = rig.Smis(mark);
    return static_cast<size_t>(std::count_if(smis.begin(), smis.end(), [&](const auto& s) { return s.value("smi", 0) == command; }));
  }

  SimRig rig;
  TestLayout layout;
  std::vector<uint8_t> old;
  std::vector<uint8_t> image;
  std::string log;
};

template <typename It>
bool Equal(const std::vector<uint8_t>& a, It b) {
  return std::equal(a.begin(), a.end(), b);
}

TEST(BlockEngine, ErasesProgramsAndVerifiesAroundAnUnselectedHole) {
  EngineRig e;
  e.layout.mainHoles = {{0x8000, 0x4000, false}};
  // The image's hole carries what the machine holds, as the NCB preparation leaves it.
  std::copy(e.old.begin() + 0x8000, e.old.begin() + 0xC000, e.image.begin() + 0x8000);
  auto engine = e.Engine();
  const size_t mark = e.rig.Mark();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kMainBios));
  const auto erases = e.Erases(mark);
  ASSERT_GE(erases.size(), 4u);
  const std::vector<std::pair<int, int>> firstEntry(erases.begin(), erases.begin() + 4);
  EXPECT_EQ(firstEntry, (std::vector<std::pair<int, int>>{{0, 0x8000}, {0xC000, 0xC000}, {0x18000, 0x10000},
                                                          {0x28000, 0x8000}}));
  EXPECT_TRUE(Equal(e.Flash(0x8000, 0x4000), e.old.begin() + 0x8000)) << "the hole survives the erase";
  ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kMainBios));
  ASSERT_TRUE(engine.VerifyRegion({}, RegionKind::kMainBios));
  EXPECT_TRUE(Equal(e.Flash(0, 0xE0000), e.image.begin()));
  EXPECT_TRUE(Equal(e.Flash(0xE0000, 0x20000), e.old.begin() + 0xE0000)) << "the boot block was not selected";
}

TEST(BlockEngine, KeepsEveryHoleOfAnEntryNotOnlyTheFirst) {
  EngineRig e;
  e.layout.mainHoles = {{0x8000, 0x1000, false}, {0x20000, 0x2000, false}};
  auto engine = e.Engine();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kMainBios));
  ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kMainBios));
  EXPECT_TRUE(Equal(e.Flash(0x8000, 0x1000), e.old.begin() + 0x8000));
  EXPECT_TRUE(Equal(e.Flash(0x20000, 0x2000), e.old.begin() + 0x20000));
  EXPECT_TRUE(Equal(e.Flash(0x9000, 0x17000), e.image.begin() + 0x9000));
}

TEST(BlockEngine, AHoleCoveringAnEntrySendsNothingForIt) {
  EngineRig e;
  e.layout.mainHoles = {{0x30000, 0x10000, false}};
  auto engine = e.Engine();
  const size_t mark = e.rig.Mark();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kMainBios));
  ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kMainBios));
  for (const auto& s : e.rig.Smis(mark)) {
    const int addr = s.value("addr", 0);
    EXPECT_FALSE(addr >= 0x30000 && addr < 0x40000) << s.dump();
  }
  EXPECT_TRUE(Equal(e.Flash(0x30000, 0x10000), e.old.begin() + 0x30000));
}

TEST(BlockEngine, SelectedHolesAndAllNcbsAreWritten) {
  for (const bool allNcbs : {true, false}) {
    EngineRig e;
    e.layout.mainHoles = {{0x8000, 0x4000, !allNcbs}};
    auto engine = e.Engine({5, allNcbs});
    ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kMainBios));
    ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kMainBios));
    EXPECT_TRUE(Equal(e.Flash(0, 0x30000), e.image.begin())) << allNcbs;
  }
}

TEST(BlockEngine, WritesTheLogLinesOncePerEntryAndPerChunk) {
  EngineRig e;
  e.layout.selected = {RegionKind::kBootBlock};
  auto engine = e.Engine();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kBootBlock));
  ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kBootBlock));
  EXPECT_EQ(e.log,
            " [Erase]  Addr : 0x000E0000, Size : 0x00020000\r\n"
            " [Update] Addr : 0x000E0000, Size : 0x00020000\r\n"
            " [Update] Addr : 0x000E0000, Size : 0x00020000\r\n");
}

TEST(BlockEngine, ProgressHasStartAndEndMarkersAndEndsWithThePause) {
  EngineRig e;
  e.layout.selected = {RegionKind::kBootBlock};
  std::vector<std::array<uint32_t, 3>> calls;
  auto engine = e.Engine();
  const uint64_t before = e.rig.machine->Now();
  ASSERT_TRUE(engine.EraseRegion([&](uint32_t a, uint32_t b, uint32_t c) { calls.push_back({a, b, c}); },
                                 RegionKind::kBootBlock));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls.front(), (std::array<uint32_t, 3>{0xFFFFFFFE, 0, 0}));
  EXPECT_EQ(calls[1], (std::array<uint32_t, 3>{0xE0000, 0x100000, 0x10000}));
  EXPECT_EQ(calls.back(), (std::array<uint32_t, 3>{0xFFFFFFFF, 0x100000, 0}));
  EXPECT_EQ(e.rig.machine->Now(), before + BlockEngine::kTrailingDelayMs);
}

TEST(BlockEngine, VerifyThatNeverMatchesRepairsFiveTimesThenFails) {
  EngineRig e([](sim::Profile& p) { p.faults.bitFlips.push_back({0xE0000, 0x10000, 1000, 0x01}); });
  e.layout.selected = {RegionKind::kBootBlock};
  auto engine = e.Engine();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kBootBlock));
  ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kBootBlock));
  const size_t mark = e.rig.Mark();
  EXPECT_FALSE(engine.VerifyRegion({}, RegionKind::kBootBlock));
  EXPECT_EQ(e.Count(mark, 34), 5u) << "five repairs";
  EXPECT_EQ(e.Count(mark, 35), 5u * 64u);
}

TEST(BlockEngine, FaultsWithinTheBudgetAreRecovered) {
  EngineRig e([](sim::Profile& p) {
    p.faults.bitFlips.push_back({0xE0000, 0x400, 2, 0x80});  // the first two writes of a piece go bad
    p.faults.stuck.push_back({0, 0xE4000u, 4});               // and one piece needs four repeats
  });
  e.layout.selected = {RegionKind::kBootBlock};
  auto engine = e.Engine();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kBootBlock));
  ASSERT_TRUE(engine.ProgramRegion({}, RegionKind::kBootBlock));
  ASSERT_TRUE(engine.VerifyRegion({}, RegionKind::kBootBlock));
  EXPECT_TRUE(Equal(e.Flash(0xE0000, 0x20000), e.image.begin() + 0xE0000));
}

TEST(BlockEngine, AWriteThatAlwaysFailsExhaustsTheBudget) {
  EngineRig e([](sim::Profile& p) { p.faults.fail.push_back({sim::FlashOp::Write, 0xE8000, 0x400}); });
  e.layout.selected = {RegionKind::kBootBlock};
  auto engine = e.Engine({3, false});
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kBootBlock));
  const size_t mark = e.rig.Mark();
  EXPECT_FALSE(engine.ProgramRegion({}, RegionKind::kBootBlock));
  EXPECT_EQ(e.Count(mark, 34), 3u * 1u) << "one repair erase per failed cycle";
}

TEST(BlockEngine, CompareOnAnEqualImageOnlyReads) {
  EngineRig e;
  e.image = e.old;
  auto engine = e.Engine();
  const size_t mark = e.rig.Mark();
  ASSERT_TRUE(engine.CompareRegion({}, {}, {}, RegionKind::kMainBios));
  EXPECT_EQ(e.Count(mark, 34) + e.Count(mark, 35), 0u);
  EXPECT_EQ(e.Count(mark, 33), 0xE0000u / 1024);
  EXPECT_TRUE(e.log.empty());
}

TEST(BlockEngine, CompareBlanksTheLastEntryWhenTheFirstChangedAndRewritesItInOrder) {
  EngineRig e;
  e.image = e.old;
  e.image[0x100] ^= 0xFF;  // one byte in the first main BIOS entry
  e.image[0x45000] ^= 0xFF;  // and one in the last
  auto engine = e.Engine();
  std::vector<uint8_t> lastDuringWalk;
  bool checked = false;
  auto onVerify = [&](uint32_t address, uint32_t, uint32_t) {
    // Looked at while the walk is in the middle entry: the last entry must be blank.
    if (!checked && address == 0x30000) {
      lastDuringWalk = e.Flash(0x40000, 0x10000);
      checked = true;
    }
  };
  const size_t mark = e.rig.Mark();
  ASSERT_TRUE(engine.CompareRegion(onVerify, {}, {}, RegionKind::kMainBios));
  ASSERT_TRUE(checked);
  EXPECT_TRUE(std::all_of(lastDuringWalk.begin(), lastDuringWalk.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(Equal(e.Flash(0, 0xE0000), e.image.begin()));
  EXPECT_NE(e.log.find(" [Erase]  Addr : 0x00000000, Size : 0x00010000\r\n"), std::string::npos);
  EXPECT_EQ(e.Count(mark, 35) % 64, 0u);
}

TEST(BlockEngine, AnImageShorterThanTheFlashFailsInsteadOfReadingPastIt) {
  EngineRig e;
  e.image.resize(0x20000);
  auto engine = e.Engine();
  ASSERT_TRUE(engine.EraseRegion({}, RegionKind::kMainBios));
  EXPECT_FALSE(engine.ProgramRegion({}, RegionKind::kMainBios));
  EXPECT_FALSE(engine.VerifyRegion({}, RegionKind::kMainBios));
}

}  // namespace
}  // namespace nox::image

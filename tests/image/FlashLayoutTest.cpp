#include <gtest/gtest.h>

#include <numeric>

#include "image/FlashLayout.h"
#include "image/ImageBuilder.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileSpec;
using testing::HoleName;
using testing::ImageBuilder;
using testing::PlainName;

// Blocks laid end to end from address 0.
std::vector<FlashBlockEntry> Contiguous(std::initializer_list<std::pair<uint8_t, uint32_t>> typesAndSizes) {
  std::vector<FlashBlockEntry> blocks;
  uint32_t at = 0;
  for (const auto& [type, size] : typesAndSizes) {
    blocks.push_back({at, size, type});
    at += size;
  }
  return blocks;
}

// ---------------------------------------------------------------------------------------
// Region bounds and NCB groups

TEST(RegionBounds, EachKindSpansItsLowestStartToItsHighestEnd) {
  // Out of address order on purpose: the table is taken as the firmware gives it.
  const std::vector<FlashBlockEntry> blocks = {
      {0x20000, 0x10000, 1}, {0x10000, 0x10000, 1}, {0x30000, 0x8000, 2}, {0x38000, 0x8000, 3},
      {0x40000, 0x20000, 0}, {0x60000, 0x1000, 7},
  };
  const RegionBounds b = RegionBounds::Compute(blocks);
  EXPECT_EQ(b.romSize, 0x51000u);
  EXPECT_EQ(b.mainBios.low, 0x10000u);
  EXPECT_EQ(b.mainBios.end, 0x30000u);
  EXPECT_EQ(b.mainBios.size, 0x20000u);
  EXPECT_EQ(b.nvram.low, 0x30000u);
  EXPECT_EQ(b.nvram.end, 0x38000u);
  EXPECT_EQ(b.bootBlock.low, 0x40000u);
  EXPECT_EQ(b.bootBlock.end, 0x60000u);
  EXPECT_EQ(b.bootBlock.size, 0x20000u);
  EXPECT_EQ(b.ec.low, 0x38000u);
  EXPECT_EQ(b.ec.end, 0x40000u);
  EXPECT_TRUE(b.ecPresent);
  EXPECT_EQ(b.ncb[0].low, RegionBounds::kNoLow);
}

struct NcbGroupCase {
  const char* what;
  std::vector<FlashBlockEntry> blocks;
  std::vector<uint8_t> types;
  std::vector<std::pair<uint32_t, uint32_t>> groups;  // low, end
};

class NcbGroups : public ::testing::TestWithParam<NcbGroupCase> {};

TEST_P(NcbGroups, TypeListAndGroupBounds) {
  const auto& c = GetParam();
  FlashLayout layout;
  layout.SetBlockTable(c.blocks);
  ASSERT_EQ(layout.AnalyseImage({}), 0u);
  const auto types = layout.NcbTypes();
  EXPECT_EQ(std::vector<uint8_t>(types.begin(), types.end()), c.types);
  for (size_t g = 0; g < RegionBounds::kNcbGroups; ++g) {
    const auto& span = layout.Bounds().ncb[g];
    if (g < c.groups.size()) {
      EXPECT_EQ(span.low, c.groups[g].first) << g;
      EXPECT_EQ(span.end, c.groups[g].second) << g;
    } else {
      EXPECT_EQ(span.low, RegionBounds::kNoLow) << g;
      EXPECT_EQ(span.end, 0u) << g;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, NcbGroups,
    ::testing::Values(
        NcbGroupCase{"alternating types", Contiguous({{0x80, 0x1000}, {0x81, 0x1000}, {0x80, 0x1000}}),
                     {0x80, 0x81, 0x80}, {{0x0, 0x1000}, {0x1000, 0x2000}, {0x2000, 0x3000}}},
        NcbGroupCase{"same type around main BIOS", Contiguous({{0x80, 0x1000}, {1, 0x1000}, {0x80, 0x1000}}), {0x80},
                     {{0x0, 0x3000}}},
        NcbGroupCase{"one run of several blocks", Contiguous({{1, 0x1000}, {0xFF, 0x1000}, {0xFF, 0x2000}}), {0xFF},
                     {{0x1000, 0x4000}}},
        NcbGroupCase{"no NCB", Contiguous({{0, 0x1000}, {1, 0x1000}, {4, 0x1000}, {127, 0x1000}}), {}, {}}),
    [](const auto& p) { return std::to_string(p.index); });

TEST(RegionBounds, MoreGroupsThanKeptDoNotSpillOver) {
  std::vector<FlashBlockEntry> blocks;
  for (uint32_t i = 0; i < 20; ++i) blocks.push_back({i * 0x1000, 0x1000, static_cast<uint8_t>(0x80 + (i & 1))});
  const RegionBounds b = RegionBounds::Compute(blocks);
  EXPECT_EQ(b.romSize, 20u * 0x1000);
  // The last group kept is the 16th run, untouched by the four after it.
  EXPECT_EQ(b.ncb[15].low, 15u * 0x1000);
  EXPECT_EQ(b.ncb[15].end, 16u * 0x1000);
  EXPECT_EQ(b.ncb[15].size, 0x1000u);
}

// ---------------------------------------------------------------------------------------
// Image analysis: NCB types and ROM holes

// Main BIOS at 0..0x20000 (two blocks, holes 0 and 1, the second in the second block),
// NVRAM, boot block at 0x30000 (hole 2), then the NCB blocks asked for.
struct SampleImage {
  std::vector<FlashBlockEntry> blocks;
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> mainFiles;
  std::vector<uint64_t> bootFiles;
};

SampleImage MakeSample(std::vector<uint8_t> ncbTypes = {0x80, 0x81}) {
  SampleImage s;
  s.blocks = Contiguous({{1, 0x10000}, {1, 0x10000}, {2, 0x10000}, {0, 0x10000}});
  for (uint8_t type : ncbTypes) s.blocks.push_back({s.blocks.back().start + s.blocks.back().size, 0x1000, type});
  ImageBuilder image(s.blocks.back().start + s.blocks.back().size);
  s.mainFiles = image.AddVolume(0, {testing::kFfs2, 0x20000},
                                {{PlainName(0), 0x40}, {HoleName(0), 0x100}, {PlainName(1), 0x10000}, {HoleName(1), 0x80}});
  s.bootFiles = image.AddVolume(0x30000, {testing::kFfs2, 0x10000}, {{HoleName(5), 0x200}, {testing::kIdentity, 0x60}});
  s.bytes = image.Bytes();
  return s;
}

TEST(ImageAnalysis, HolesOfMainBiosComeFirstThenThoseOfTheBootBlock) {
  const SampleImage s = MakeSample();
  FlashLayout layout;
  layout.SetBlockTable(s.blocks);
  ASSERT_EQ(layout.AnalyseImage(s.bytes), 0u);
  const HoleTable& holes = layout.Holes();
  ASSERT_EQ(holes.Count(), 3u);
  EXPECT_EQ(holes.MainCount(), 2u);
  EXPECT_EQ(holes.BootBlockCount(), 1u);
  EXPECT_EQ(holes[0].imageOffset, s.mainFiles[1]);
  EXPECT_EQ(holes[1].imageOffset, s.mainFiles[3]);
  EXPECT_GE(holes[1].imageOffset, 0x10000u);  // in the second main BIOS block
  EXPECT_EQ(holes[2].name, HoleName(5));
  EXPECT_EQ(holes[2].imageOffset, s.bootFiles[0]);
  EXPECT_EQ(layout.NcbCount(), 5u);
  EXPECT_EQ(layout.IdentityFile().imageOffset, s.bootFiles[1]);
}

TEST(ImageAnalysis, MainBiosSplitByNvramIsScannedAsTwoRunsInTableOrder) {
  ImageBuilder image(0x30000);
  const auto second = image.AddVolume(0x20000, {}, {{HoleName(3), 0x40}});
  const auto first = image.AddVolume(0x0, {}, {{HoleName(7), 0x40}});
  FlashLayout layout;
  layout.SetBlockTable(Contiguous({{1, 0x10000}, {2, 0x10000}, {1, 0x10000}}));
  ASSERT_EQ(layout.AnalyseImage(image.Bytes()), 0u);
  ASSERT_EQ(layout.Holes().MainCount(), 2u);
  EXPECT_EQ(layout.Holes()[0].imageOffset, first[0]);
  EXPECT_EQ(layout.Holes()[1].imageOffset, second[0]);
}

struct NcbLimitCase {
  size_t types;
  uint32_t mainHoles;
  uint32_t bootHoles;
  uint32_t expected;
};

class NcbLimit : public ::testing::TestWithParam<NcbLimitCase> {};

TEST_P(NcbLimit, MoreThanEightNcbsEndTheSessionWithError6) {
  const auto& c = GetParam();
  std::vector<FlashBlockEntry> blocks = Contiguous({{1, 0x10000}, {0, 0x10000}});
  for (size_t i = 0; i < c.types; ++i) blocks.push_back({0x20000 + static_cast<uint32_t>(i) * 0x100, 0x100, static_cast<uint8_t>(0x80 + i)});
  ImageBuilder image(0x20000 + c.types * 0x100);
  std::vector<FileSpec> main, boot;
  for (uint32_t n = 0; n < c.mainHoles; ++n) main.push_back({HoleName(n), 0x40});
  for (uint32_t n = 0; n < c.bootHoles; ++n) boot.push_back({HoleName(15 - n), 0x40});
  image.AddVolume(0, {}, main);
  image.AddVolume(0x10000, {}, boot);
  FlashLayout layout;
  layout.SetBlockTable(blocks);
  EXPECT_EQ(layout.AnalyseImage(image.Bytes()), c.expected);
  if (c.expected == 0) {
    EXPECT_EQ(layout.NcbCount(), c.types + c.mainHoles + c.bootHoles);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, NcbLimit,
                         ::testing::Values(NcbLimitCase{9, 0, 0, 6}, NcbLimitCase{8, 0, 0, 0},
                                           NcbLimitCase{2, 7, 0, 6}, NcbLimitCase{2, 6, 0, 0},
                                           NcbLimitCase{2, 4, 3, 6}, NcbLimitCase{2, 3, 3, 0},
                                           NcbLimitCase{0, 16, 0, 6}, NcbLimitCase{8, 0, 1, 6}));

// ---------------------------------------------------------------------------------------
// Which blocks a pass touches

// The sample image analysed, with the holes' flash offsets filled the way the NCB
// preparation does it (here the machine's flash holds the same image).
class BlockSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    sample_ = MakeSample();
    layout_.SetBlockTable(sample_.blocks);
    ASSERT_EQ(layout_.AnalyseImage(sample_.bytes), 0u);
    size_t cursor = 0;
    ASSERT_TRUE(layout_.Holes().MatchFlashRange(sample_.bytes, 0, 0x20000, cursor, layout_.Holes().MainCount()));
    ASSERT_TRUE(layout_.Holes().MatchFlashRange(sample_.bytes, 0x30000, 0x10000, cursor, layout_.Holes().Count()));
  }

  std::vector<bool> NcbBlocks(const RegionSelection& selection) const {
    std::vector<bool> in;
    for (size_t i = 0; i < layout_.Blocks().size(); ++i) in.push_back(layout_.BlockInRegion(i, RegionKind::kNcb, selection));
    return in;
  }

  SampleImage sample_;
  FlashLayout layout_;
};

// Blocks: 0 main (hole 0), 1 main (hole 1), 2 NVRAM, 3 boot (hole 2), 4 type 0x80, 5 type 0x81.
// NCB bits: 0 -> 0x80, 1 -> 0x81, 2 -> hole 0, 3 -> hole 1, 4 -> hole 2.
TEST_F(BlockSelection, MaskBitsFollowTheNcbNumbering) {
  const std::vector<std::pair<uint32_t, std::vector<bool>>> cases = {
      {0b00001, {false, false, false, false, true, false}},
      {0b00010, {false, false, false, false, false, true}},
      {0b00100, {true, false, false, false, false, false}},
      {0b01000, {false, true, false, false, false, false}},
      {0b10000, {false, false, false, true, false, false}},
      {0b11111, {true, true, false, true, true, true}},
      {0b100000, {false, false, false, false, false, false}},
  };
  for (const auto& [mask, expected] : cases) {
    RegionSelection selection;
    selection.programNcbs = true;
    selection.ncbMask = mask;
    EXPECT_EQ(NcbBlocks(selection), expected) << mask;
  }
}

TEST_F(BlockSelection, ProgrammedRegionsNeverCountForNcb) {
  RegionSelection selection;
  selection.programNcbs = selection.allNcbs = true;
  selection.programMainBios = true;
  EXPECT_EQ(NcbBlocks(selection), (std::vector<bool>{false, false, false, true, true, true}));
  selection.programBootBlock = true;
  EXPECT_EQ(NcbBlocks(selection), (std::vector<bool>{false, false, false, false, true, true}));
}

struct RegionCase {
  uint8_t type;
  RegionKind region;
  RegionSelection selection;
  bool expected;
};

class BlockInRegion : public ::testing::TestWithParam<RegionCase> {};

RegionSelection Program(bool RegionSelection::*field) {
  RegionSelection s;
  s.*field = true;
  return s;
}

TEST_P(BlockInRegion, BlockTypeAgainstRegionAndSelection) {
  const auto& c = GetParam();
  FlashLayout layout;
  layout.SetBlockTable(Contiguous({{c.type, 0x1000}}));
  EXPECT_EQ(layout.BlockInRegion(0, c.region, c.selection), c.expected);
  EXPECT_FALSE(layout.BlockInRegion(1, c.region, c.selection));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BlockInRegion,
    ::testing::Values(
        RegionCase{0, RegionKind::kBootBlock, Program(&RegionSelection::programBootBlock), true},
        RegionCase{0, RegionKind::kBootBlock, Program(&RegionSelection::programMainBios), false},
        RegionCase{1, RegionKind::kMainBios, Program(&RegionSelection::programMainBios), true},
        RegionCase{1, RegionKind::kBootBlock, Program(&RegionSelection::programBootBlock), false},
        RegionCase{2, RegionKind::kNvram, Program(&RegionSelection::programNvram), true},
        RegionCase{2, RegionKind::kEc, Program(&RegionSelection::programEc), false},
        RegionCase{3, RegionKind::kEc, Program(&RegionSelection::programEc), true},
        RegionCase{3, RegionKind::kNvram, Program(&RegionSelection::programNvram), false},
        // Without the EC-newer flag, "only if newer" alone writes nothing.
        RegionCase{3, RegionKind::kEc, Program(&RegionSelection::ecOnlyIfNewer), false},
        RegionCase{4, RegionKind::kMainBios, Program(&RegionSelection::programMainBios), false}));

// ---------------------------------------------------------------------------------------
// EC version check

class EcCheck : public ::testing::Test {
 protected:
  static constexpr uint32_t kEcStart = 0x10000;
  static constexpr uint32_t kVersionOffset = 0x10;

  void Setup(uint32_t ecSize, uint32_t versionOffset, uint32_t mask) {
    blocks_ = Contiguous({{1, kEcStart}, {3, ecSize}});
    layout_.SetBlockTable(blocks_, versionOffset, mask);
    image_.assign(kEcStart + ecSize, 0x11);
    flash_ = image_;
  }

  void Versions(uint32_t flashVersion, uint32_t imageVersion, uint32_t offset = kVersionOffset) {
    core::StoreLe32(&flash_[kEcStart + offset], flashVersion);
    core::StoreLe32(&image_[kEcStart + offset], imageVersion);
  }

  uint32_t Check(const std::optional<EcBlockRecord>& ecb = std::nullopt) {
    return layout_.CheckEcNewer(image_, ecb, std::span(scratch_).first(kScratch), [&](uint32_t address, std::span<uint8_t> to) {
      reads_.push_back({address, static_cast<uint32_t>(to.size())});
      if (failReads_ || !core::InRange(flash_.size(), address, to.size())) return false;
      std::copy_n(flash_.begin() + address, to.size(), to.begin());
      return true;
    });
  }

  static constexpr size_t kScratch = 0x10000;
  std::vector<FlashBlockEntry> blocks_;
  FlashLayout layout_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> flash_;
  std::vector<uint8_t> scratch_ = std::vector<uint8_t>(kScratch + 64, 0xCD);  // 64 guard bytes
  std::vector<std::pair<uint32_t, uint32_t>> reads_;
  bool failReads_ = false;
};

TEST_F(EcCheck, OnlyAHigherMaskedImageVersionSetsTheFlag) {
  struct Case {
    uint32_t flash, image, mask;
    bool newer;
  };
  for (const Case c : {Case{0x0102, 0x0102, 0xFFFFFFFF, false}, Case{0x0102, 0x0103, 0xFFFFFFFF, true},
                       Case{0x0103, 0x0102, 0xFFFFFFFF, false}, Case{0x01020000, 0x0102FFFF, 0xFFFF0000, false},
                       Case{0x00FF0000, 0x01000000, 0xFFFF0000, true}}) {
    EcCheck::SetUp();
    layout_ = FlashLayout{};
    Setup(0x1000, kVersionOffset, c.mask);
    Versions(c.flash, c.image);
    EXPECT_EQ(Check(), 0u);
    EXPECT_EQ(layout_.EcNewer(), c.newer) << std::hex << c.flash << " " << c.image;
    EXPECT_TRUE(layout_.EcPresent());
    EXPECT_EQ(reads_.back(), (std::pair<uint32_t, uint32_t>{kEcStart, 0x1000}));
  }
}

TEST_F(EcCheck, NoEcBlockAnswersAtOnce) {
  layout_.SetBlockTable(Contiguous({{1, 0x1000}}), 0, 0xFFFFFFFF);
  image_.assign(0x1000, 0);
  EXPECT_EQ(Check(), 0u);
  EXPECT_TRUE(reads_.empty());
  EXPECT_FALSE(layout_.EcPresent());
  EXPECT_FALSE(layout_.EcNewer());
  EXPECT_EQ(layout_.Bounds().ec.low, 255u);
  EXPECT_EQ(layout_.Bounds().ec.end, 0u);
}

TEST_F(EcCheck, UnreadableFlashAnswers66) {
  Setup(0x1000, kVersionOffset, 0xFFFFFFFF);
  Versions(1, 2);
  failReads_ = true;
  EXPECT_EQ(Check(), layout_error::kFlashReadFailed);
  EXPECT_FALSE(layout_.EcNewer());
}

TEST_F(EcCheck, EcbRecordOverridesTheTableAndCanSwitchTheCheckOff) {
  Setup(0x1000, kVersionOffset, 0);  // the table's mask would hide every difference
  const EcBlockRecord ecb{EcBlockRecord::kCompareVersions, kEcStart + 0x800, 0x800, 0x24, 0x0000FFFF};
  Versions(0x7, 0x8, 0x800 + 0x24);
  EcBlockRecord off = ecb;
  off.flags = 0xFE;
  EXPECT_EQ(Check(off), 0u);
  EXPECT_TRUE(reads_.empty());
  EXPECT_FALSE(layout_.EcNewer());
  EXPECT_EQ(Check(ecb), 0u);
  EXPECT_EQ(reads_, (std::vector<std::pair<uint32_t, uint32_t>>{{kEcStart + 0x800, 0x800}}));
  EXPECT_TRUE(layout_.EcNewer());
}

TEST_F(EcCheck, EcBlockLargerThanTheWorkBufferIsReadThroughAWindow) {
  for (const uint32_t offset : {0x10u, 0xFFFCu, 0xFFFEu, 0x28000u, 0x2FFFCu}) {
    layout_ = FlashLayout{};
    reads_.clear();
    Setup(0x30000, offset, 0xFFFFFFFF);
    Versions(0x100, 0x101, offset);
    ASSERT_EQ(Check(), 0u) << offset;
    EXPECT_TRUE(layout_.EcNewer()) << offset;
    ASSERT_EQ(reads_.size(), 1u);
    EXPECT_EQ(reads_[0].second, kScratch);
    EXPECT_LE(reads_[0].first, kEcStart + offset);
    EXPECT_GE(reads_[0].first + reads_[0].second, kEcStart + offset + 4);
    EXPECT_TRUE(std::all_of(scratch_.begin() + kScratch, scratch_.end(), [](uint8_t b) { return b == 0xCD; }));
  }
}

TEST_F(EcCheck, VersionWordOutsideTheBlockOrImageIsNotNewer) {
  Setup(0x1000, 0xFFE, 0xFFFFFFFF);  // the word would straddle the end of the block
  EXPECT_EQ(Check(), 0u);
  EXPECT_FALSE(layout_.EcNewer());
  EXPECT_TRUE(reads_.empty());
  // The image ends before the EC block: nothing to compare with.
  layout_ = FlashLayout{};
  Setup(0x1000, kVersionOffset, 0xFFFFFFFF);
  Versions(1, 2);
  image_.resize(kEcStart);
  EXPECT_EQ(Check(), 0u);
  EXPECT_FALSE(layout_.EcNewer());
}

}  // namespace
}  // namespace nox::image

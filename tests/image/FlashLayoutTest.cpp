#include <gtest/gtest.h>

#include "image/FlashLayout.h"
#include "image/ImageBuilder.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileDef;
using testing::HoleName;
using testing::ImageBuilder;
using testing::PlainName;
using Range = std::pair<uint32_t, uint32_t>;  // low, end

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

// Each kind spans from its lowest start to its highest end, also when the table is out of
// address order; each run of one NCB type is a group, and the NCB type list takes a type
// again after another NCB type, but not after a block of another kind.
TEST(RegionBounds, KindsSpanTheirBlocksAndNcbRunsFormGroupsNoMoreThanKept) {
  const Range none{RegionBounds::kNoLow, 0};
  // The blocks; the spans of main BIOS, NVRAM, EC, boot block, then the NCB groups; the NCB types.
  const std::tuple<std::vector<FlashBlockEntry>, std::vector<Range>, std::vector<uint8_t>> cases[] = {
      {{{0x20000, 0x10000, 1}, {0x10000, 0x10000, 1}, {0x30000, 0x8000, 2}, {0x38000, 0x8000, 3}, {0x40000, 0x20000, 0}, {0x60000, 0x1000, 7}},
       {{0x10000, 0x30000}, {0x30000, 0x38000}, {0x38000, 0x40000}, {0x40000, 0x60000}}, {}},
      {Contiguous({{0x80, 0x1000}, {0x81, 0x1000}, {0x80, 0x1000}}),
       {none, none, none, none, {0x0, 0x1000}, {0x1000, 0x2000}, {0x2000, 0x3000}}, {0x80, 0x81, 0x80}},
      {Contiguous({{0x80, 0x1000}, {1, 0x1000}, {0x80, 0x1000}}), {{0x1000, 0x2000}, none, none, none, {0x0, 0x3000}}, {0x80}},
      {Contiguous({{1, 0x1000}, {0xFF, 0x1000}, {0xFF, 0x2000}}), {{0x0, 0x1000}, none, none, none, {0x1000, 0x4000}}, {0xFF}},
      {Contiguous({{0, 0x1000}, {4, 0x1000}, {127, 0x1000}}), {none, none, none, {0x0, 0x1000}}, {}}};
  for (const auto& [blocks, spans, types] : cases) {
    FlashLayout layout;
    layout.SetBlockTable(blocks);
    ASSERT_EQ(layout.AnalyseImage({}), 0u);
    const RegionBounds& b = layout.Bounds();
    std::vector<Range> got;
    for (const auto& s : {b.mainBios, b.nvram, b.ec, b.bootBlock}) got.emplace_back(s.low, s.end);
    for (const auto& s : b.ncb) got.emplace_back(s.low, s.end);
    std::vector<Range> expected = spans;
    expected.resize(got.size(), none);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(std::vector<uint8_t>(layout.NcbTypes().begin(), layout.NcbTypes().end()), types);
  }
  // More groups than are kept: the last one kept is the 16th run, untouched by the four after it.
  std::vector<FlashBlockEntry> blocks;
  for (uint32_t i = 0; i < 20; ++i) blocks.push_back({i * 0x1000, 0x1000, static_cast<uint8_t>(0x80 + (i & 1))});
  const auto last = RegionBounds::Compute(blocks).ncb[15];
  EXPECT_EQ(Range(last.low, last.end), Range(0xF000, 0x10000));
}

// NCB types and main BIOS and boot block holes count together.
TEST(ImageAnalysis, MoreThanEightNcbsEndTheSessionWithError6) {
  const std::array<uint32_t, 4> cases[] = {{9, 0, 0, 6}, {8, 0, 0, 0}, {2, 7, 0, 6}, {2, 6, 0, 0},
                                           {2, 4, 3, 6}, {2, 3, 3, 0}, {0, 16, 0, 6}, {8, 0, 1, 6}};
  for (const auto& [types, mainHoles, bootHoles, error] : cases) {
    std::vector<FlashBlockEntry> blocks = Contiguous({{1, 0x10000}, {0, 0x10000}});
    for (uint32_t i = 0; i < types; ++i) blocks.push_back({0x20000 + i * 0x100, 0x100, static_cast<uint8_t>(0x80 + i)});
    ImageBuilder image(0x20000 + types * 0x100);
    std::vector<FileDef> holes;
    for (uint32_t n = 0; n < mainHoles + bootHoles; ++n) holes.push_back({HoleName(n), 0x40});
    image.AddVolume(0, {}, {holes.begin(), holes.begin() + mainHoles});
    image.AddVolume(0x10000, {}, {holes.begin() + mainHoles, holes.end()});
    FlashLayout layout;
    layout.SetBlockTable(blocks);
    EXPECT_EQ(layout.AnalyseImage(image.bytes), error) << types << " " << mainHoles << " " << bootHoles;
    EXPECT_TRUE(error != 0 || layout.NcbCount() == types + mainHoles + bootHoles);
  }
}

// Blocks: 0 main (hole 0), 1 main (hole 1), 2 NVRAM, 3 boot (hole 2), 4 type 0x80, 5 type 0x81,
// 6 EC, 7 no region. The holes' flash offsets are filled as the NCB preparation fills them,
// from a machine holding the image.
TEST(ImageAnalysis, EachRegionTakesItsOwnBlocksOnlyWhenSelectedAndNcbsFollowTheirNumbering) {
  ImageBuilder image(0x44000);
  const auto main = image.AddVolume(0, {testing::kFfs2, 0x20000},
                                    {{PlainName(0), 0x40}, {HoleName(0), 0x100}, {PlainName(1), 0x10000}, {HoleName(1), 0x80},
                                     {testing::kIdentity, 0x123}, {testing::kIdentity, 0x40}});
  const auto boot = image.AddVolume(0x30000, {}, {{HoleName(5), 0x200}, {testing::kIdentity, 0x60}});
  FlashLayout layout;
  layout.SetBlockTable(Contiguous(
      {{1, 0x10000}, {1, 0x10000}, {2, 0x10000}, {0, 0x10000}, {0x80, 0x1000}, {0x81, 0x1000}, {3, 0x1000}, {4, 0x1000}}));
  ASSERT_EQ(layout.AnalyseImage(image.bytes), 0u);
  size_t cursor = 0;
  ASSERT_TRUE(layout.Holes().MatchFlashRange(image.bytes, 0, 0x40000, cursor, layout.Holes().Count()));
  // Per block whether a pass over `kind` takes it; the ninth lies past the table.
  auto in = [&](RegionKind kind, const RegionSelection& selection) {
    std::string out;
    for (size_t i = 0; i <= layout.Blocks().size(); ++i) out += layout.BlockInRegion(i, kind, selection) ? '1' : '0';
    return out;
  };
  using enum RegionKind;
  const std::tuple<RegionKind, RegionSelection, const char*> cases[] = {
      {kMainBios, {.programMainBios = true}, "110000000"}, {kBootBlock, {.programBootBlock = true}, "000100000"},
      {kNvram, {.programNvram = true}, "001000000"},       {kEc, {.programEc = true}, "000000100"}};
  for (const auto& [kind, selection, expected] : cases) {
    EXPECT_EQ(in(kind, selection), expected) << static_cast<int>(kind);
    // With every flag but its own a region takes nothing; "only if newer" alone neither,
    // without the EC-newer flag.
    const RegionSelection others{!selection.programBootBlock, !selection.programMainBios, !selection.programNvram,
                                 !selection.programEc, true, true, true, ~0u};
    EXPECT_EQ(in(kind, others), "000000000") << static_cast<int>(kind);
  }
  // NCB bits: 0 -> 0x80, 1 -> 0x81, 2 -> hole 0, 3 -> hole 1, 4 -> hole 2, 5 -> nothing.
  for (uint32_t bit = 0; const char* expected : {"000010000", "000001000", "100000000", "010000000", "000100000", "000000000"}) {
    EXPECT_EQ(in(kNcb, {.programNcbs = true, .ncbMask = 1u << bit}), expected) << bit;
    ++bit;
  }
  // A region written whole never counts for the NCBs.
  EXPECT_EQ(in(kNcb, {.programMainBios = true, .programNcbs = true, .allNcbs = true}), "000111000");
  EXPECT_EQ(in(kNcb, {.programBootBlock = true, .programMainBios = true, .programNcbs = true, .allNcbs = true}), "000011000");
  // The identity file that counts is the first one in table order, and the next image
  // analysed does not inherit it.
  EXPECT_EQ(std::pair(layout.IdentityFile().imageOffset, layout.IdentityFile().size), std::pair(uint32_t(main[4]), 0x123u));
  layout.SetBlockTable(std::vector<FlashBlockEntry>(layout.Blocks().rbegin(), layout.Blocks().rend()));
  ASSERT_EQ(layout.AnalyseImage(image.bytes), 0u);
  EXPECT_EQ(layout.IdentityFile().imageOffset, boot[1]);
  ASSERT_EQ(layout.AnalyseImage(ImageBuilder(0x44000).bytes), 0u);
  EXPECT_FALSE(layout.IdentityFile().Found());
}

// An EC block after one main BIOS block, read through a work buffer followed by guard
// bytes; flash and image differ only in the version words.
TEST(EcCheck, OnlyAHigherMaskedVersionWordInTheImageSetsTheFlag) {
  constexpr uint32_t kEcStart = 0x10000, kScratch = 0x10000;
  struct Case {
    const char* what;
    uint32_t ecSize = 0x1000, offset = 0x10, mask = ~0u, flash = 0x0102, image = 0x0102;
    std::optional<EcBlockRecord> ecb = std::nullopt;
    size_t imageEnd = ~size_t{0};
    bool failReads = false, newer = false, read = true;
  };
  const EcBlockRecord ecb{EcBlockRecord::kCompareVersions, kEcStart + 0x800, 0x800, 0x24, 0x0000FFFF};
  std::vector<Case> cases = {
      {.what = "equal"},
      {.what = "lower", .flash = 0x0103},
      {.what = "equal under the mask", .mask = 0xFFFF0000, .flash = 0x01020000, .image = 0x0102FFFF},
      {.what = "higher under the mask", .mask = 0xFFFF0000, .flash = 0x00FF0000, .image = 0x01000000, .newer = true},
      {.what = "word straddles the block's end", .offset = 0xFFE, .read = false},
      {.what = "image ends before the EC block", .image = 0x0103, .imageEnd = kEcStart},
      {.what = "unreadable", .image = 0x0103, .failReads = true},
      // The record overrides the table, whose mask would hide every difference.
      {.what = "record", .offset = 0x824, .mask = 0, .flash = 7, .image = 8, .ecb = ecb, .newer = true},
      {.what = "record switches the check off", .offset = 0x824, .mask = 0, .flash = 7, .image = 8,
       .ecb = EcBlockRecord{0xFE, ecb.address, ecb.size, ecb.versionOffset, ecb.versionMask}, .read = false}};
  // An EC block larger than the work buffer is read through a window that holds the word.
  for (const uint32_t offset : {0x10u, 0xFFFCu, 0xFFFEu, 0x28000u, 0x2FFFCu}) {
    cases.push_back({.what = "large block", .ecSize = 0x30000, .offset = offset, .image = 0x0103, .newer = true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.what << " 0x" << std::hex << c.offset);
    FlashLayout layout;
    layout.SetBlockTable(Contiguous({{1, kEcStart}, {3, c.ecSize}}), c.offset, c.mask);
    std::vector<uint8_t> flash(kEcStart + c.ecSize, 0x11), image = flash;
    if (c.offset + 4 <= c.ecSize) {
      core::StoreLe32(&flash[kEcStart + c.offset], c.flash);
      core::StoreLe32(&image[kEcStart + c.offset], c.image);
    }
    image.resize(std::min(image.size(), c.imageEnd));
    std::vector<uint8_t> scratch(kScratch + 64, 0xCD);  // 64 guard bytes
    std::vector<size_t> reads;
    const auto read = [&](uint32_t address, std::span<uint8_t> to) {
      reads.push_back(to.size());
      if (c.failReads || !core::InRange(flash.size(), address, to.size())) return false;
      std::copy_n(flash.begin() + address, to.size(), to.begin());
      return true;
    };
    const uint32_t error = layout.CheckEcNewer(image, c.ecb, std::span(scratch).first(kScratch), read);
    EXPECT_EQ(std::make_pair(error, layout.EcNewer()), std::make_pair(c.failReads ? layout_error::kFlashReadFailed : 0u, c.newer));
    // One read of as much of the EC block as the work buffer holds; a newer answer proves
    // that it held the version word.
    const size_t length = std::min<size_t>(c.ecb ? c.ecb->size : c.ecSize, kScratch);
    EXPECT_EQ(reads, c.read ? std::vector{length} : std::vector<size_t>{});
    EXPECT_EQ(std::count(scratch.begin() + kScratch, scratch.end(), 0xCD), 64);
  }
}

}  // namespace
}  // namespace nox::image

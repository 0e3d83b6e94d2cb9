#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "image/ImageBuilder.h"
#include "image/NcbPreparation.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileSpec;
using testing::HoleName;
using testing::ImageBuilder;
using testing::PlainName;

// Main BIOS split by NVRAM, then a boot block longer than one read piece.
constexpr uint32_t kRomSize = 0x48000;
const std::vector<FlashBlockEntry> kBlocks = {
    {0x00000, 0x10000, 1}, {0x10000, 0x10000, 2}, {0x20000, 0x10000, 1}, {0x30000, 0x18000, 0}};

// The files of the three volumes: first main BIOS run, second main BIOS run, boot block.
struct Side {
  std::vector<FileSpec> main1, main2, boot;
};

const Side kImageSide = {{{PlainName(0), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}},
                         {{HoleName(2), 0x40}},
                         {{HoleName(3), 0x200}}};

// The machine's holes lie elsewhere than the image's, so a copy from the image offset shows.
Side MachineSide() {
  return {{{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x80}},
          {{PlainName(1), 0x20}, {HoleName(2), 0x40}},
          {{HoleName(3), 0x200}}};
}

struct Built {
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> holes;  // file offsets of the holes, in the order found
};

// `fill` != 0 gives each hole body its own byte value, unlike anything the builder writes.
Built Build(const Side& side, uint8_t fill) {
  ImageBuilder builder(kRomSize);
  Built built;
  const std::array<std::pair<size_t, const std::vector<FileSpec>*>, 3> volumes = {
      {{0x00000, &side.main1}, {0x20000, &side.main2}, {0x30000, &side.boot}}};
  for (const auto& [at, files] : volumes) {
    const auto offsets = builder.AddVolume(at, {}, *files);
    for (size_t i = 0; i < files->size(); ++i) {
      if (!HoleTable::IsRomHoleName((*files)[i].name)) continue;
      if (fill != 0) {
        auto body = builder.Bytes().begin() + static_cast<std::ptrdiff_t>(offsets[i]);
        std::fill(body + 24, body + (*files)[i].size, static_cast<uint8_t>(fill + built.holes.size()));
      }
      built.holes.push_back(offsets[i]);
    }
  }
  built.bytes = std::move(builder.Bytes());
  return built;
}

using Call = std::array<uint32_t, 3>;

class NcbPreparationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadImage(kImageSide, kBlocks);
    machine_ = Build(MachineSide(), 0xA0);
  }

  void LoadImage(const Side& side, const std::vector<FlashBlockEntry>& blocks) {
    image_ = Build(side, 0);
    original_ = image_.bytes;
    layout_.SetBlockTable(blocks);
    ASSERT_EQ(layout_.AnalyseImage(image_.bytes), 0u);
  }

  bool Prepare(const RegionSelection& selection, size_t imageLength = kRomSize) {
    const FlashLayout::FlashReader reader = [this](uint32_t address, std::span<uint8_t> to) {
      reads_.push_back({address, static_cast<uint32_t>(to.size())});
      if (failReads_ || !core::InRange(machine_.bytes.size(), address, to.size())) return false;
      std::copy_n(machine_.bytes.begin() + address, to.size(), to.begin());
      return true;
    };
    return PrepareNcbsForWriting(layout_, selection, std::span(image_.bytes).first(imageLength), reader,
                                 [this](uint32_t a, uint32_t b, uint32_t c) { progress_.push_back({a, b, c}); });
  }

  bool HoleEquals(size_t h, const Built& other) const {
    const auto size = layout_.Holes()[h].size;
    return std::equal(image_.bytes.begin() + image_.holes[h], image_.bytes.begin() + image_.holes[h] + size,
                      other.bytes.begin() + other.holes[h]);
  }

  FlashLayout layout_;
  Built image_;
  Built machine_;
  std::vector<uint8_t> original_;
  bool failReads_ = false;
  std::vector<std::pair<uint32_t, uint32_t>> reads_;
  std::vector<Call> progress_;
};

struct KeepCase {
  const char* what;
  RegionSelection selection;
  const char* holes;  // per hole: 'm' ends up with the machine's bytes, 'i' keeps the image's
  bool reads;
};

class HoleContents : public NcbPreparationTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(HoleContents, UnselectedHolesOfNeededKindsGetTheMachineBytes) {
  const auto& c = GetParam();
  ASSERT_TRUE(Prepare(c.selection));
  EXPECT_EQ(!reads_.empty(), c.reads);
  const Built imageAsLoaded{original_, image_.holes};
  for (size_t h = 0; h < 4; ++h) {
    if (c.holes[h] == 'm') {
      EXPECT_TRUE(HoleEquals(h, machine_)) << h;
      EXPECT_EQ(layout_.Holes()[h].flashOffset, machine_.holes[h]) << h;
    } else {
      EXPECT_TRUE(HoleEquals(h, imageAsLoaded)) << h;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Selections, HoleContents,
    ::testing::Values(
        KeepCase{"MainBios", {.programMainBios = true}, "mmmi", true},
        KeepCase{"MainBiosAllNcbs", {.programMainBios = true, .programNcbs = true, .allNcbs = true}, "iiii", true},
        KeepCase{"MainBiosFirstHolePicked", {.programMainBios = true, .programNcbs = true, .ncbMask = 1}, "immm",
                 true},
        KeepCase{"MaskIgnoredWithoutNcbs", {.programMainBios = true, .ncbMask = 1}, "mmmi", true},
        KeepCase{"NcbsBootHolePicked", {.programNcbs = true, .ncbMask = 1u << 3}, "mmmi", true},
        KeepCase{"NcbsAll", {.programNcbs = true, .allNcbs = true}, "iiii", true},
        KeepCase{"BootBlock", {.programBootBlock = true}, "iiim", true},
        KeepCase{"Nothing", {}, "iiii", false}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(NcbPreparationTest, MainBiosWithoutHolesReadsNothing) {
  LoadImage({{{PlainName(0), 0x40}}, {}, {{HoleName(3), 0x200}}}, kBlocks);
  EXPECT_TRUE(Prepare({.programMainBios = true}));
  EXPECT_TRUE(reads_.empty());
  EXPECT_TRUE(progress_.empty());
}

TEST_F(NcbPreparationTest, WholeFlashIsReadInPiecesWithProgress) {
  ASSERT_TRUE(Prepare({.programMainBios = true}));
  const std::vector<std::pair<uint32_t, uint32_t>> pieces = {
      {0x00000, 0x10000}, {0x10000, 0x10000}, {0x20000, 0x10000}, {0x30000, 0x10000}, {0x40000, 0x8000}};
  EXPECT_EQ(reads_, pieces);
  std::vector<Call> expected = {{core::kProgressStart, 0, 0}};
  for (const auto& [address, length] : pieces) expected.push_back({address, kRomSize, length});
  expected.push_back({core::kProgressEnd, kRomSize, 0});
  EXPECT_EQ(progress_, expected);
}

TEST_F(NcbPreparationTest, BlockTableReachingPastTheRomSizeIsRefusedUnread) {
  LoadImage(kImageSide, {{0x0, 0x10000, 1}, {0x20000, 0x10000, 1}});
  EXPECT_FALSE(Prepare({.programMainBios = true}));
  EXPECT_TRUE(reads_.empty());
  EXPECT_EQ(image_.bytes, original_);
}

struct FailCase {
  const char* what;
  Side machine;
  bool failReads = false;
  size_t imageLength = kRomSize;
};

class Refusal : public NcbPreparationTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(Refusal, ImageIsLeftAsLoaded) {
  const auto& c = GetParam();
  machine_ = Build(c.machine, 0xA0);
  failReads_ = c.failReads;
  EXPECT_FALSE(Prepare({.programBootBlock = true, .programMainBios = true}, c.imageLength));
  EXPECT_EQ(image_.bytes, original_);
}

Side With(Side side, std::vector<FileSpec> Side::*part, std::vector<FileSpec> files) {
  side.*part = std::move(files);
  return side;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, Refusal,
    ::testing::Values(
        FailCase{"SecondMainHoleLarger",
                 With(MachineSide(), &Side::main1, {{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x88}})},
        FailCase{"HolesInOtherOrder",
                 With(MachineSide(), &Side::main1, {{HoleName(1), 0x80}, {HoleName(0), 0x100}})},
        FailCase{"ExtraHole",
                 With(MachineSide(), &Side::main1, {{HoleName(4), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}})},
        FailCase{"MissingHole", With(MachineSide(), &Side::main2, {{PlainName(1), 0x20}})},
        FailCase{"BootHoleRenamed", With(MachineSide(), &Side::boot, {{HoleName(5), 0x200}})},
        FailCase{"Unreadable", MachineSide(), true},
        // The image ends inside the third hole.
        FailCase{"ImageShorterThanAHole", MachineSide(), false, 0x20060}),
    [](const auto& p) { return std::string(p.param.what); });

}  // namespace
}  // namespace nox::image

#include <gtest/gtest.h>

#include "image/FirmwareVolumes.h"
#include "image/HoleTable.h"
#include "image/PlatformIdentityFile.h"
#include "image/ImageBuilder.h"

namespace nox::image {
namespace {

using testing::FileSpec;
using testing::HoleName;
using testing::ImageBuilder;
using testing::PlainName;
using testing::VolumeSpec;

struct Seen {
  std::vector<uint64_t> volumes;
  std::vector<uint64_t> files;
  std::vector<core::Guid> names;
};

Seen ScanAll(core::ByteSpan bytes, uint64_t start = 0, uint64_t length = ~uint64_t{0} >> 1) {
  Seen seen;
  FirmwareVolumes::Scan(
      bytes, start, length,
      [&](const FirmwareFile& file) {
        seen.files.push_back(file.offset);
        seen.names.push_back(file.name);
        return WalkControl::kContinue;
      },
      [&](const FirmwareVolume& volume) { seen.volumes.push_back(volume.offset); });
  return seen;
}

TEST(VolumeScan, FindsVolumesAndWalksTheirFilesInOrder) {
  ImageBuilder image(0x30000);
  const auto first = image.AddVolume(0x1000, {}, {{PlainName(1), 0x51}, {PlainName(2), 0x18}, {PlainName(3), 0x200}});
  const auto second = image.AddVolume(0x20000, {testing::kFfs1, 0x10000}, {{PlainName(4), 0x30}});
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.volumes, (std::vector<uint64_t>{0x1000, 0x20000}));
  std::vector<uint64_t> files = first;
  files.insert(files.end(), second.begin(), second.end());
  EXPECT_EQ(seen.files, files);
  // The 0x51-byte file is followed at the next multiple of 8.
  EXPECT_EQ(first[1] - first[0], 0x58u);
}

TEST(VolumeScan, BadChecksumIsSkippedAndALaterVolumeInTheSameWindowIsFound) {
  for (const VolumeSpec bad : {VolumeSpec{testing::kFfs2, 0x1000, 2}, VolumeSpec{testing::kFfs2, 0x1000, 1, true}}) {
    ImageBuilder image(0x10000);
    image.AddVolume(0x0, bad, {{HoleName(0), 0x100}});
    const auto good = image.AddVolume(0x4000, {testing::kFfs2, 0x1000}, {{HoleName(1), 0x100}});
    const Seen seen = ScanAll(image.Bytes());
    EXPECT_EQ(seen.volumes, std::vector<uint64_t>{0x4000});
    EXPECT_EQ(seen.files, good);
  }
}

TEST(VolumeScan, ForeignFileSystemIsSkippedWhole) {
  for (const core::Guid& foreign : {testing::kNvData, PlainName(9)}) {
    ImageBuilder image(0x20000);
    image.AddVolume(0x0, {foreign, 0x10000}, {{HoleName(0), 0x100}});
    // A volume nested inside the foreign one is part of its contents, not a volume of the image.
    image.AddVolume(0x8000, {testing::kFfs2, 0x1000}, {{HoleName(1), 0x100}});
    const auto after = image.AddVolume(0x10000, {testing::kFfs2, 0x1000}, {{HoleName(2), 0x100}});
    HoleTable holes;
    holes.CollectRange(image.Bytes(), 0, image.Bytes().size());
    ASSERT_EQ(holes.Count(), 1u);
    EXPECT_EQ(holes[0].name, HoleName(2));
    EXPECT_EQ(holes[0].imageOffset, after[0]);
    EXPECT_EQ(ScanAll(image.Bytes()).volumes, (std::vector<uint64_t>{0x0, 0x10000}));
  }
}

// Headers whose size field cannot describe a file of the volume end its walk; the files
// before them are kept and the scan goes on with the next volume.
struct BrokenSizeCase {
  const char* what;
  uint32_t size;
};

class BrokenFileSize : public ::testing::TestWithParam<BrokenSizeCase> {};

TEST_P(BrokenFileSize, EndsTheWalkOfItsVolumeOnly) {
  ImageBuilder image(0x20000);
  const auto files = image.AddVolume(0x0, {testing::kFfs2, 0x2000},
                                     {{PlainName(1), 0x40}, {PlainName(2), 0x40}, {PlainName(3), 0x40}});
  image.SetFileSize(files[1], GetParam().size);
  const auto next = image.AddVolume(0x10000, {testing::kFfs2, 0x1000}, {{PlainName(4), 0x40}});
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.files, (std::vector<uint64_t>{files[0], next[0]})) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Sizes, BrokenFileSize,
                         ::testing::Values(BrokenSizeCase{"zero", 0}, BrokenSizeCase{"erased", 0xFFFFFF},
                                           BrokenSizeCase{"shorter than a header", 8},
                                           BrokenSizeCase{"past the volume end", 0x2000}),
                         [](const auto& p) { return std::to_string(p.index); });

TEST(VolumeScan, TruncatedHeaderAtTheImageEndIsNoVolume) {
  // A valid volume whose header the end of the image cuts off, 8 to 60 bytes after its start.
  ImageBuilder full(0x2000);
  const auto files = full.AddVolume(0x1000, {testing::kFfs2, 0x1000}, {{PlainName(1), 0x60}});
  ASSERT_EQ(ScanAll(full.Bytes()).volumes.size(), 1u);
  for (size_t kept : {44u, 50u, 63u}) {
    const core::ByteSpan cut(full.Bytes().data(), 0x1000 + kept);
    EXPECT_TRUE(ScanAll(cut).volumes.empty()) << kept;
  }
  // One whose header fits but whose second file runs off the end of the image.
  full.AddFile(files[0] + 0x60, {PlainName(2), 0x80});
  const core::ByteSpan cut(full.Bytes().data(), files[0] + 0x60 + 0x20);
  EXPECT_EQ(ScanAll(cut).files.size(), 1u);
}

TEST(VolumeScan, SignatureWithoutRoomForItsHeaderIsSkipped) {
  ImageBuilder image(0x2000);
  image.Put(0x10, "_FVH");
  image.Put(0x27, "_FVH");
  const auto files = image.AddVolume(0x1000, {testing::kFfs2, 0x1000}, {{PlainName(1), 0x40}});
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.volumes, std::vector<uint64_t>{0x1000});
  EXPECT_EQ(seen.files, files);
}

TEST(VolumeScan, VolumeClaimingNoLengthDoesNotStallTheScan) {
  ImageBuilder image(0x20000);
  image.AddVolume(0x100, {testing::kFfs2, 0});
  const auto later = image.AddVolume(0x8000, {testing::kFfs2, 0x1000}, {{PlainName(1), 0x40}});
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.volumes, (std::vector<uint64_t>{0x100, 0x8000}));
  EXPECT_EQ(seen.files, later);
}

TEST(VolumeScan, SignatureAcrossAWindowBoundaryIsFound) {
  ImageBuilder image(0x30000);
  // The signature at 0x10000 - 2 starts in the first window and ends in the second.
  const auto files = image.AddVolume(0x10000 - 42, {testing::kFfs2, 0x1000}, {{PlainName(1), 0x40}});
  EXPECT_EQ(ScanAll(image.Bytes()).files, files);
}

TEST(VolumeScan, StaysInsideTheRangeItWasGiven) {
  ImageBuilder image(0x40000);
  image.AddVolume(0x0, {testing::kFfs2, 0x10000}, {{PlainName(1), 0x40}});
  const auto inside = image.AddVolume(0x10000, {testing::kFfs2, 0x10000}, {{PlainName(2), 0x40}});
  image.AddVolume(0x20000, {testing::kFfs2, 0x10000}, {{PlainName(3), 0x40}});
  EXPECT_EQ(ScanAll(image.Bytes(), 0x10000, 0x10000).files, inside);
  EXPECT_TRUE(ScanAll(image.Bytes(), 0x40000, 0x10000).files.empty());
}

struct HoleNameCase {
  const char* text;
  bool hole;
};

class RomHoleName : public ::testing::TestWithParam<HoleNameCase> {};

TEST_P(RomHoleName, OnlyTheSixteenNamesAreHoles) {
  EXPECT_EQ(HoleTable::IsRomHoleName(core::GuidLiteral(GetParam().text)), GetParam().hole) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Names, RomHoleName,
                         ::testing::Values(HoleNameCase{"05CA01FC-0FC1-11DC-9011-00173153EBA8", true},
                                           HoleNameCase{"05CA0200-0FC1-11DC-9011-00173153EBA8", true},
                                           HoleNameCase{"05CA020B-0FC1-11DC-9011-00173153EBA8", true},
                                           HoleNameCase{"05CA01FB-0FC1-11DC-9011-00173153EBA8", false},
                                           HoleNameCase{"05CA020C-0FC1-11DC-9011-00173153EBA8", false},
                                           HoleNameCase{"05CA0200-0FC1-11DC-9011-00173153EBA9", false},
                                           HoleNameCase{"05CA0200-0FC2-11DC-9011-00173153EBA8", false},
                                           HoleNameCase{"05CA0200-0FC1-11DD-9011-00173153EBA8", false}));

TEST(HoleTable, RecordsEveryHoleOfARangeWithItsOffsetAndSize) {
  ImageBuilder image(0x10000);
  std::vector<FileSpec> files;
  for (uint32_t n = 0; n < 16; ++n) files.push_back({HoleName(n), 0x40 + 8 * n});
  files.push_back({PlainName(0), 0x40});
  const auto offsets = image.AddVolume(0, {testing::kFfs2, 0x10000}, files);
  HoleTable holes;
  holes.CollectRange(image.Bytes(), 0, 0x10000);
  ASSERT_EQ(holes.Count(), 16u);
  for (uint32_t n = 0; n < 16; ++n) {
    EXPECT_EQ(holes[n].name, HoleName(n));
    EXPECT_EQ(holes[n].imageOffset, offsets[n]);
    EXPECT_EQ(holes[n].size, files[n].size);
    EXPECT_EQ(holes[n].flashOffset, 0u);
  }
}

class FlashMatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageBuilder image(0x20000);
    imageOffsets_ = image.AddVolume(0, {}, {{HoleName(0), 0x100}, {PlainName(0), 0x40}, {HoleName(1), 0x80}});
    image_ = image.Bytes();
    holes_.CollectRange(image_, 0, image_.size());
    ASSERT_EQ(holes_.Count(), 2u);
  }

  // The machine's flash: the same holes, placed elsewhere.
  ImageBuilder Machine(std::vector<FileSpec> files) {
    ImageBuilder flash(0x20000);
    flashOffsets_ = flash.AddVolume(0x10000, {testing::kFfs2, 0x8000}, files);
    return flash;
  }

  std::vector<uint8_t> image_;
  std::vector<uint64_t> imageOffsets_;
  std::vector<uint64_t> flashOffsets_;
  HoleTable holes_;
};

TEST_F(FlashMatch, SameHolesGetTheirFlashOffsets) {
  auto flash = Machine({{PlainName(5), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x80}});
  size_t cursor = 0;
  ASSERT_TRUE(holes_.MatchFlashRange(flash.Bytes(), 0, 0x20000, cursor, 2));
  EXPECT_EQ(cursor, 2u);
  EXPECT_EQ(holes_[0].flashOffset, flashOffsets_[1]);
  EXPECT_EQ(holes_[1].flashOffset, flashOffsets_[2]);
  EXPECT_EQ(holes_[0].imageOffset, imageOffsets_[0]);
}

TEST_F(FlashMatch, DifferentNameSizeOrOrderFails) {
  const std::vector<std::vector<FileSpec>> machines = {
      {{HoleName(0), 0x100}, {HoleName(1), 0x88}},  // second hole larger
      {{HoleName(1), 0x80}, {HoleName(0), 0x100}},  // swapped
      {{HoleName(0), 0x100}, {HoleName(2), 0x80}},  // other name
  };
  for (const auto& files : machines) {
    auto flash = Machine(files);
    size_t cursor = 0;
    EXPECT_FALSE(holes_.MatchFlashRange(flash.Bytes(), 0, 0x20000, cursor, 2));
  }
}

TEST_F(FlashMatch, HolesPastTheLimitCountOnlyInLaterVolumes) {
  auto flash = Machine({{HoleName(0), 0x100}, {HoleName(1), 0x80}, {HoleName(3), 0x80}});
  size_t cursor = 0;
  EXPECT_TRUE(holes_.MatchFlashRange(flash.Bytes(), 0, 0x20000, cursor, 2));
  flash.AddVolume(0x18000, {}, {{HoleName(4), 0x40}});
  cursor = 0;
  EXPECT_FALSE(holes_.MatchFlashRange(flash.Bytes(), 0, 0x20000, cursor, 2));
}

TEST(PlatformIdentity, FirstFileOfTheImageCounts) {
  ImageBuilder image(0x20000);
  const auto first = image.AddVolume(0x0, {}, {{PlainName(0), 0x40}, {testing::kIdentity, 0x123}});
  const auto second = image.AddVolume(0x10000, {}, {{testing::kIdentity, 0x40}});
  PlatformIdentityFile identity;
  identity.ScanRange(image.Bytes(), 0x10000, 0x10000);
  identity.ScanRange(image.Bytes(), 0, 0x10000);
  EXPECT_EQ(identity.imageOffset, second[0]);
  identity.Clear();
  EXPECT_FALSE(identity.Found());
  identity.ScanRange(image.Bytes(), 0, 0x20000);
  EXPECT_EQ(identity.imageOffset, first[1]);
  EXPECT_EQ(identity.size, 0x123u);
}

}  // namespace
}  // namespace nox::image

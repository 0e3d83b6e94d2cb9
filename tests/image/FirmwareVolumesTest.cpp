#include <gtest/gtest.h>

#include "image/FirmwareVolumes.h"
#include "image/HoleTable.h"
#include "image/ImageBuilder.h"

namespace nox::image {
namespace {

using testing::FileDef;
using testing::HoleName;
using testing::ImageBuilder;
using testing::kFfs2;
using testing::PlainName;
using Offsets = std::vector<uint64_t>;

struct Seen {
  Offsets volumes, files;
};

Seen ScanAll(core::ByteSpan bytes) {
  Seen seen;
  FirmwareVolumes::Scan(
      bytes, 0, bytes.size(),
      [&](const FirmwareFile& file) {
        seen.files.push_back(file.offset);
        return WalkControl::kContinue;
      },
      [&](const FirmwareVolume& volume) { seen.volumes.push_back(volume.offset); });
  return seen;
}

TEST(VolumeScan, BadChecksumIsSkippedAndALaterVolumeInTheSameWindowIsFound) {
  for (const testing::VolumeDef bad : {testing::VolumeDef{kFfs2, 0x1000, 2}, testing::VolumeDef{kFfs2, 0x1000, 1, true}}) {
    ImageBuilder image(0x10000);
    image.AddVolume(0x0, bad, {{HoleName(0), 0x100}});
    const auto good = image.AddVolume(0x4000, {kFfs2, 0x1000}, {{HoleName(1), 0x100}});
    const Seen seen = ScanAll(image.Bytes());
    EXPECT_EQ(seen.volumes, Offsets{0x4000});
    EXPECT_EQ(seen.files, good);
  }
}

TEST(VolumeScan, ForeignFileSystemIsSkippedWhole) {
  ImageBuilder image(0x20000);
  image.AddVolume(0x0, {testing::kNvData, 0x10000}, {{HoleName(0), 0x100}});
  // A volume nested inside the foreign one is part of its contents, not a volume of the image.
  image.AddVolume(0x8000, {kFfs2, 0x1000}, {{HoleName(1), 0x100}});
  const auto after = image.AddVolume(0x10000, {kFfs2, 0x1000}, {{HoleName(2), 0x100}});
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.volumes, (Offsets{0x0, 0x10000}));
  EXPECT_EQ(seen.files, after);
}

// Headers whose size field cannot describe a file of the volume end its walk; the files
// before them are kept and the scan goes on with the next volume.
TEST(VolumeScan, BrokenFileSizeEndsTheWalkOfItsVolumeOnly) {
  // Zero, erased, shorter than a header, past the volume end.
  for (const uint32_t size : {0u, 0xFFFFFFu, 8u, 0x2000u}) {
    ImageBuilder image(0x20000);
    const auto files = image.AddVolume(0x0, {kFfs2, 0x2000}, {{PlainName(1), 0x40}, {PlainName(2), 0x40}, {PlainName(3), 0x40}});
    image.SetFileSize(files[1], size);
    const auto next = image.AddVolume(0x10000, {kFfs2, 0x1000}, {{PlainName(4), 0x40}});
    EXPECT_EQ(ScanAll(image.Bytes()).files, (Offsets{files[0], next[0]})) << size;
  }
}

TEST(VolumeScan, TruncatedHeaderOrFileAtTheImageEndIsNotRead) {
  ImageBuilder full(0x2000);
  const auto files = full.AddVolume(0x1000, {kFfs2, 0x1000}, {{PlainName(1), 0x60}});
  ASSERT_EQ(ScanAll(full.Bytes()).volumes.size(), 1u);
  for (size_t kept : {44u, 50u, 63u}) EXPECT_TRUE(ScanAll(core::ByteSpan(full.Bytes().data(), 0x1000 + kept)).volumes.empty()) << kept;
  // A second file running off the end of the image.
  full.AddFile(files[0] + 0x60, {PlainName(2), 0x80});
  EXPECT_EQ(ScanAll(core::ByteSpan(full.Bytes().data(), files[0] + 0x80)).files, files);
}

TEST(VolumeScan, StraySignaturesAndEmptyVolumesDoNotHideLaterVolumes) {
  ImageBuilder image(0x30000);
  image.Put(0x10, "_FVH");  // without room for a header before it
  image.Put(0x27, "_FVH");
  // The signature at 0x10000 - 2 starts in the first window and ends in the second.
  auto files = image.AddVolume(0x10000 - 42, {kFfs2, 0x1000}, {{PlainName(1), 0x40}});
  image.AddVolume(0x20000, {kFfs2, 0});  // claims no length
  // The older of the two firmware file systems is walked as well.
  files.push_back(image.AddVolume(0x28000, {testing::kFfs1, 0x1000}, {{PlainName(2), 0x40}})[0]);
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.volumes, (Offsets{0x10000 - 42, 0x20000, 0x28000}));
  EXPECT_EQ(seen.files, files);
}

TEST(HoleTable, OnlyTheSixteenNamesAreHoles) {
  const std::pair<const char*, bool> names[] = {
      {"05CA01FC-0FC1-11DC-9011-00173153EBA8", true},  {"05CA020B-0FC1-11DC-9011-00173153EBA8", true},
      {"05CA01FB-0FC1-11DC-9011-00173153EBA8", false}, {"05CA020C-0FC1-11DC-9011-00173153EBA8", false},
      {"05CA0200-0FC1-11DC-9011-00173153EBA9", false}, {"05CA0200-0FC2-11DC-9011-00173153EBA8", false},
      {"05CA0200-0FC1-11DD-9011-00173153EBA8", false}};
  for (const auto& [name, hole] : names) EXPECT_EQ(HoleTable::IsRomHoleName(core::GuidLiteral(name)), hole) << name;
}

}  // namespace
}  // namespace nox::image

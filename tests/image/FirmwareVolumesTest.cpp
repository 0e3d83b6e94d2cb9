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

// One image with every kind of damage the scan must step over, each followed by volumes
// that it must still find and walk.
TEST(VolumeScan, DamagedAndForeignVolumesAndStraySignaturesHideNothingBehindThem) {
  ImageBuilder image(0x50000);
  Seen expected;
  auto expect = [&](size_t at, const testing::VolumeDef& volume, const std::vector<FileDef>& files) {
    expected.volumes.push_back(at);
    const auto offsets = image.AddVolume(at, volume, files);
    expected.files.insert(expected.files.end(), offsets.begin(), offsets.end());
    return offsets;
  };
  for (const size_t at : {0x10, 0x27}) std::copy_n("_FVH", 4, image.Bytes().begin() + at);  // no room for a header before
  // Headers whose first 64 bytes do not sum to 0 (two block-map entries, a bad checksum)
  // are no volumes; a later one in the same search window is.
  image.AddVolume(0x1000, {kFfs2, 0x1000, 2}, {{HoleName(0), 0x100}});
  image.AddVolume(0x2000, {kFfs2, 0x1000, 1, true}, {{HoleName(0), 0x100}});
  expect(0x4000, {kFfs2, 0x1000}, {{HoleName(1), 0x100}});
  // Another file system is skipped whole: a volume nested in it is part of its contents.
  image.AddVolume(0x10000, {testing::kNvData, 0x10000}, {{HoleName(0), 0x100}});
  image.AddVolume(0x18000, {kFfs2, 0x1000}, {{HoleName(1), 0x100}});
  expected.volumes.push_back(0x10000);
  // A signature that starts in one search window and ends in the next, in a volume of the
  // older firmware file system; then a volume that claims no length.
  expect(0x30000 - 42, {testing::kFfs1, 0x1000}, {{PlainName(1), 0x40}});
  expect(0x34000, {kFfs2, 0}, {});
  // Sizes that cannot describe a file of the volume end its walk: zero, erased, shorter
  // than a header, past the volume end.
  for (size_t at = 0x40000; const uint32_t size : {0u, 0xFFFFFFu, 8u, 0x2000u}) {
    const auto files = expect(at, {kFfs2, 0x2000}, {{PlainName(1), 0x40}, {PlainName(2), 0x40}, {PlainName(3), 0x40}});
    at += 0x2000;
    image.SetFileSize(files[1], size);
    expected.files.resize(expected.files.size() - 2);
  }
  const Seen seen = ScanAll(image.Bytes());
  EXPECT_EQ(seen.volumes, expected.volumes);
  EXPECT_EQ(seen.files, expected.files);
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

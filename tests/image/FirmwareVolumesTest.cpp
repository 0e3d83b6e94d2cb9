#include <gtest/gtest.h>

#include "image/FirmwareVolumes.h"
#include "image/HoleTable.h"
#include "image/ImageBuilder.h"

namespace nox::image {
namespace {

using testing::FileDef;
using testing::HoleName;
using testing::kFfs2;
using testing::PlainName;

struct Seen {
  std::vector<uint64_t> volumes, files;
};

Seen ScanAll(core::ByteSpan bytes) {
  Seen seen;
  const auto onFile = [&](const FirmwareFile& file) {
    seen.files.push_back(file.offset);
    return WalkControl::kContinue;
  };
  FirmwareVolumes::Scan(bytes, 0, bytes.size(), onFile, [&](const FirmwareVolume& v) { seen.volumes.push_back(v.offset); });
  return seen;
}

// One image with every kind of damage the scan must step over, each followed by volumes
// that it must still find and walk.
TEST(VolumeScan, DamagedAndForeignVolumesAndStraySignaturesHideNothingBehindThem) {
  testing::ImageBuilder image(0x50000);
  Seen expected;
  auto expect = [&](size_t at, const testing::VolumeDef& volume, const std::vector<FileDef>& files) {
    expected.volumes.push_back(at);
    const auto offsets = image.AddVolume(at, volume, files);
    expected.files.insert(expected.files.end(), offsets.begin(), offsets.end());
    return offsets;
  };
  for (const size_t at : {0x10, 0x27}) std::copy_n("_FVH", 4, image.bytes.begin() + at);  // no room for a header before
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
  const Seen seen = ScanAll(image.bytes);
  EXPECT_EQ(std::tie(seen.volumes, seen.files), std::tie(expected.volumes, expected.files));
}

// A header or a file cut off by the image's end is not read.
TEST(VolumeScan, TruncatedHeaderOrFileAtTheImageEndIsNotRead) {
  testing::ImageBuilder full(0x2000);
  const auto files = full.AddVolume(0x1000, {kFfs2, 0x1000}, {{PlainName(1), 0x60}, {PlainName(2), 0x80}});
  ASSERT_EQ(ScanAll(full.bytes).volumes.size(), 1u);
  for (size_t kept : {44u, 50u, 63u}) EXPECT_TRUE(ScanAll(core::ByteSpan(full.bytes.data(), 0x1000 + kept)).volumes.empty()) << kept;
  EXPECT_EQ(ScanAll(core::ByteSpan(full.bytes.data(), files[1] + 0x7F)).files, std::vector{files[0]});
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

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/sim/RomImage.h"
#include "policy/SystemIdentity.h"

namespace nox::policy::test {
namespace {

using Words = std::vector<uint16_t>;

// ---- ID matching ---------------------------------------------------------------------------

TEST(IdMatching, FollowsTheSystemIdByteAndTheExtensionListEndsAtItsFirstZero) {
  for (const auto& [currentId, currentExt, romId, romExt, matches] :
       {std::tuple{0x9A, 0x1111, 0x9A, 0x2222, true},  // same byte, other extended IDs
        {0x9A, 0x1111, 0x9B, 0x1111, false}, {0x9A, 0x1111, 0xFE, 0x1111, false}, {0xFE, 0x2A51, 0xFE, 0x2A51, true},
        {0xFE, 0x2A51, 0xFE, 0x2A52, false}, {0xFE, 0x2A51, 0x9A, 0x2A51, false}}) {
    SystemIdentity id;
    std::tie(id.currentSystemId, id.currentExtendedId, id.rom.systemId, id.rom.extendedId) =
        std::tuple(currentId, currentExt, romId, romExt);
    EXPECT_EQ(IdMatches(id), matches) << currentId << " " << romId << " " << romExt;
  }
  // A machine without an extended ID is not taken for the list's end marker.
  for (const auto& [current, list, holds] : {std::tuple{0x0031, Words{0x0040, 0x0031}, true},
                                             {0x0031, Words{0x0040, 0x0000, 0x0031}, false}, {0, Words{0x0040}, false}}) {
    SystemIdentity id;
    id.currentExtendedId = static_cast<uint16_t>(current);
    std::copy(list.begin(), list.end(), id.rom.extensionList.begin());
    EXPECT_EQ(ExtensionListHolds(id), holds) << current << " in a list of " << list.size();
  }
}

// ---- the image's identity file ----------------------------------------------------------------

sim::RomOptions Options(std::vector<std::string> names, Words list = {}) {
  return {.version = "A07", .systemId = 0x9A, .extendedId = 0x1234, .extensionIds = list, .names = names};
}

SystemIdentity Scan(const std::vector<uint8_t>& region, uint8_t nameIndex = SystemIdentity::kNoNameIndex,
                    RomScanMode mode = RomScanMode::kIdentityFile) {
  SystemIdentity id;
  id.systemNameIndex = nameIndex;
  ReadRomIdentity(id, region, mode, 0, region.size());
  return id;
}

// The list up to and with its terminating zero.
Words List(const SystemIdentity& id) {
  const auto& l = id.rom.extensionList;
  const auto zero = std::find(l.begin(), l.end(), 0);
  return {l.begin(), zero == l.end() ? zero : zero + 1};
}

// Version, system ID, extended ID and name, of the image and of the machine.
using Ids = std::tuple<std::string, int, int, std::string>;
Ids Rom(const SystemIdentity& id) {
  return {VersionText(id.rom.version), id.rom.systemId, id.rom.extendedId, std::string(id.rom.systemName.Text())};
}
Ids Current(const SystemIdentity& id) {
  return {VersionText(id.currentVersion), id.currentSystemId, id.currentExtendedId,
          std::string(id.currentSystemName.Text())};
}

TEST(RomIdentity, NameIndexChoosesTheNameOrFallsBackToTheFirst) {
  const std::vector<std::string> two{"One", "Two"};
  for (const auto& [names, index, chosen] :
       {std::tuple{two, 255, "One"}, {two, 0, "One"}, {two, 1, "One"}, {two, 2, "Two"}, {two, 3, "One"},
        {std::vector<std::string>{"One", "Two", "Three"}, 3, "Three"},
        // The walk passes names longer than 20 characters.
        {std::vector<std::string>{std::string(25, 'x'), "Second"}, 2, "Second"}}) {
    const auto id = Scan(sim::IdentityBlocks(Options(names), 0x100000), static_cast<uint8_t>(index));
    EXPECT_EQ(id.rom.systemName.Text(), chosen) << index;
  }
}

TEST(RomIdentity, FurtherListBlocksContinueTheListAndSurplusIdsAreDropped) {
  // Two "$DI$" blocks of 7 IDs each: the second continues over the first one's zero, and
  // whatever would pass 11 IDs is dropped, so the list stays terminated.
  std::vector<uint8_t> region;
  for (uint16_t first : {0x0101, 0x0201}) {
    region.insert(region.end(), {'$', 'D', 'I', '$'});
    for (uint16_t v = first; v < first + 7; ++v) region.insert(region.end(), {uint8_t(v), uint8_t(v >> 8)});
    region.insert(region.end(), {0, 0, 0, 0});
  }
  EXPECT_EQ(List(Scan(region)), (Words{0x0101, 0x0102, 0x0103, 0x0104, 0x0105, 0x0106, 0x0107, 0x0201, 0x0202, 0x0203,
                                       0x0204, 0}));
}

TEST(RomIdentity, MarkersAtTheRegionEndReadZerosAndARegionOutsideTheImageClearsTheCandidate) {
  // The region ends inside the blocks' fields; the bytes behind it in the image must not be taken.
  std::vector<uint8_t> image(64, 0x77);
  std::memcpy(image.data() + 10, "$KOR\x34\x12", 6);
  SystemIdentity id;
  ReadRomIdentity(id, image, RomScanMode::kIdentityFile, 10, 6);
  EXPECT_EQ(Rom(id), (Ids{"", 0, 0x1234, ""}));
  const std::vector<uint8_t> list = {'$', 'D', 'I', '$', 0x31, 0x00, 0x32};
  ReadRomIdentity(id, list, RomScanMode::kIdentityFile, 0, list.size());
  EXPECT_EQ(List(id), (Words{0x0031, 0x0032, 0}));  // the cut entry's high byte reads as zero

  const auto blocks = sim::IdentityBlocks(Options({"Korv 9A"}, {0x1235}), 0x100000);
  id = Scan(blocks);
  EXPECT_EQ(id.romDeclaredSize, 0u) << "\"$SIZ\" only counts when the whole image is searched";
  ReadRomIdentity(id, blocks, RomScanMode::kIdentityFile, blocks.size() + 100, 4096);
  EXPECT_EQ(std::make_pair(Rom(id), List(id)), std::make_pair(Ids{"", 0, 0, ""}, Words{0}));
}

TEST(RomIdentity, WholeImageModeFindsTheDeclaredSizeAcrossStepBoundaries) {
  // The blocks start 3 bytes before a 64 KiB step so that "$BV#" straddles it; "$SIZ" comes
  // after "$KOR" and must still be found, and the first one counts.
  const auto blocks = sim::IdentityBlocks(Options({"First", "Second"}), 0x00123000);
  std::vector<uint8_t> image(0x30000, 0xFF);
  std::copy(blocks.begin(), blocks.end(), image.begin() + 0x10000 - 16 - 3);
  std::memcpy(image.data() + 0x28000, "$SIZ\x00\x00\x01\x00", 8);
  const auto id = Scan(image, 2, RomScanMode::kWholeImage);
  // Whole-image mode takes the first name whatever the index.
  EXPECT_EQ(std::make_pair(id.romDeclaredSize, Rom(id)), std::make_pair(0x00123000u, Ids{"A07", 0x9A, 0x1234, "First"}));
}

// ---- the running firmware's markers --------------------------------------------------------------

void Put(std::vector<uint8_t>& segment, size_t at, const std::vector<uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), segment.begin() + static_cast<std::ptrdiff_t>(at));
}

const std::vector<uint8_t> kSystemMarker = {'K', 'o', 'r', 'v', ' ', 'S', 'y', 's', 't', 'e', 'm'};

TEST(CurrentIdentity, SegmentMarkersSearchIdsFromTheVersionBlockOnAndStopAtTheSegmentEnd) {
  std::vector<uint8_t> segment(65535, 0);
  // The default running identity is A06, 0x9A, 0x1234; a stray "$KOR" before its version block
  // is not the machine's.
  Put(segment, 0x100, {'$', 'K', 'O', 'R', 0x11, 0x11, 0, 0, 0, 0x11});
  Put(segment, 0x400, sim::RunningIdentityBlocks({}));
  Put(segment, 0x800, kSystemMarker);
  Put(segment, 0x800 + kSystemMarker.size() + 1, {'M', '1'});
  SystemIdentity id;
  ReadSegmentMarkers(id, segment, false);
  EXPECT_EQ(Current(id), (Ids{"A06", 0x9A, 0x1234, ""}));  // the name only with the capability block
  ReadSegmentMarkers(id, segment, true);
  EXPECT_TRUE(id.versionFound && id.idsFound && id.nameFound && id.currentSystemName.Text() == "M1");

  // Blocks at the segment's end are read without passing it.
  std::vector<uint8_t> version(65535, 0);
  Put(version, 65531, {'$', 'B', 'V', '#'});
  id = {};
  ReadSegmentMarkers(id, version, true);
  EXPECT_EQ(std::tuple(id.versionFound, id.nameFound, VersionText(id.currentVersion)), std::tuple(true, false, ""));
  std::vector<uint8_t> system(65535, 0);
  Put(system, 65535 - kSystemMarker.size(), kSystemMarker);
  ReadSegmentMarkers(id, system, true);
  EXPECT_TRUE(id.nameFound && id.currentSystemName.Text().empty());
}

TEST(CurrentIdentity, IdentityAreaOnlyFillsWhatIsNotKnownYet) {
  std::vector<uint8_t> area(4096, 0);
  Put(area, 0, sim::RunningIdentityBlocks({.version = "B12", .systemId = 0xFE, .extendedId = 0x2A51}));
  SystemIdentity id{.currentVersion = {'Z', '9', '9'}, .versionFound = true};
  ReadIdentityArea(id, area, std::vector<uint8_t>{'T', 'a', 'b', 0});
  EXPECT_EQ(Current(id), (Ids{"Z99", 0xFE, 0x2A51, "Tab"}));
  id.currentExtendedId = 0x1111;  // everything is known now: a second reading changes nothing
  ReadIdentityArea(id, area, std::vector<uint8_t>{'O', 't', 'h', 0});
  EXPECT_EQ(Current(id), (Ids{"Z99", 0xFE, 0x1111, "Tab"}));
}

}  // namespace
}  // namespace nox::policy::test

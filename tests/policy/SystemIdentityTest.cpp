#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/RomImage.h"
#include "policy/SystemIdentity.h"

namespace nox::policy::test {
namespace {

// ---- ID matching ---------------------------------------------------------------------------

struct IdCase {
  const char* what;
  uint8_t currentId;
  uint16_t currentExt;
  uint8_t romId;
  uint16_t romExt;
  bool matches;
};

class IdMatching : public ::testing::TestWithParam<IdCase> {};

TEST_P(IdMatching, FollowsTheSystemIdByte) {
  const IdCase& c = GetParam();
  SystemIdentity id;
  id.currentSystemId = c.currentId;
  id.currentExtendedId = c.currentExt;
  id.rom.systemId = c.romId;
  id.rom.extendedId = c.romExt;
  EXPECT_EQ(IdMatches(id), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdMatching,
    ::testing::Values(IdCase{"same_byte_other_extended_ids", 0x9A, 0x1111, 0x9A, 0x2222, true},
                      IdCase{"other_byte", 0x9A, 0x1111, 0x9B, 0x1111, false},
                      IdCase{"byte_against_extended_image", 0x9A, 0x1111, 0xFE, 0x1111, false},
                      IdCase{"extended_both_agree", 0xFE, 0x2A51, 0xFE, 0x2A51, true},
                      IdCase{"extended_ids_differ", 0xFE, 0x2A51, 0xFE, 0x2A52, false},
                      IdCase{"extended_machine_byte_image", 0xFE, 0x2A51, 0x9A, 0x2A51, false}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(ExtensionList, EndsAtTheFirstZeroEntry) {
  SystemIdentity id;
  id.currentSystemId = 0xFE;
  id.currentExtendedId = 0x0031;
  id.rom.extensionList = {0x0040, 0x0031};
  EXPECT_TRUE(ExtensionListHolds(id));
  id.rom.extensionList = {0x0040, 0x0000, 0x0031};
  EXPECT_FALSE(ExtensionListHolds(id));
  // A machine without an extended ID is not taken for the list's end marker.
  id.currentExtendedId = 0;
  id.rom.extensionList = {0x0040};
  EXPECT_FALSE(ExtensionListHolds(id));
}

// ---- the image's identity file ----------------------------------------------------------------

sim::RomOptions Options(std::vector<std::string> names, std::vector<uint16_t> list = {}) {
  sim::RomOptions o;
  o.version = "A07";
  o.systemId = 0x9A;
  o.extendedId = 0x1234;
  o.names = std::move(names);
  o.extensionIds = std::move(list);
  return o;
}

SystemIdentity Scan(const std::vector<uint8_t>& region, uint8_t nameIndex = SystemIdentity::kNoNameIndex,
                    RomScanMode mode = RomScanMode::kIdentityFile) {
  SystemIdentity id;
  id.systemNameIndex = nameIndex;
  ReadRomIdentity(id, region, mode, 0, region.size());
  return id;
}

// The list up to and with its terminating zero.
std::vector<uint16_t> List(const SystemIdentity& id) {
  const auto& l = id.rom.extensionList;
  const auto zero = std::find(l.begin(), l.end(), 0);
  return {l.begin(), zero == l.end() ? zero : zero + 1};
}

struct NameCase {
  const char* what;
  std::vector<std::string> names;
  uint8_t index;
  const char* chosen;
};

class NameIndex : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameIndex, ChoosesTheNameOrFallsBackToTheFirst) {
  const NameCase& c = GetParam();
  const auto id = Scan(sim::IdentityBlocks(Options(c.names), 0x100000), c.index);
  EXPECT_EQ(id.rom.systemName.Text(), c.chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NameIndex,
    ::testing::Values(NameCase{"no_index", {"One", "Two"}, 255, "One"}, NameCase{"index_0", {"One", "Two"}, 0, "One"},
                      NameCase{"index_1", {"One", "Two"}, 1, "One"}, NameCase{"index_2", {"One", "Two"}, 2, "Two"},
                      NameCase{"index_past_the_list", {"One", "Two"}, 3, "One"},
                      NameCase{"third_of_three", {"One", "Two", "Three"}, 3, "Three"},
                      NameCase{"walk_passes_names_longer_than_20", {std::string(25, 'x'), "Second"}, 2, "Second"}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(RomIdentity, FurtherListBlocksContinueTheListAndSurplusIdsAreDropped) {
  // Two "$DI$" blocks of 7 IDs each: the second continues over the first one's zero, and
  // whatever would pass 11 IDs is dropped, so the list stays terminated.
  std::vector<uint8_t> region;
  auto list = [&](uint16_t first) {
    for (char c : std::string("$DI$")) region.push_back(static_cast<uint8_t>(c));
    for (uint16_t v = first; v < first + 7; ++v) {
      region.push_back(static_cast<uint8_t>(v));
      region.push_back(static_cast<uint8_t>(v >> 8));
    }
    region.insert(region.end(), {0, 0, 0, 0});
  };
  list(0x0101);
  list(0x0201);
  EXPECT_EQ(List(Scan(region)), (std::vector<uint16_t>{0x0101, 0x0102, 0x0103, 0x0104, 0x0105, 0x0106, 0x0107,
                                                       0x0201, 0x0202, 0x0203, 0x0204, 0}));
}

TEST(RomIdentity, MarkersAtTheVeryEndReadZerosInsteadOfWhatFollows) {
  // The region ends inside the blocks' fields; the bytes behind it in the image must not be
  // taken.
  std::vector<uint8_t> image(64, 0x77);
  const char* tail = "$KOR\x34\x12";
  std::memcpy(image.data() + 10, tail, 6);
  SystemIdentity id;
  ReadRomIdentity(id, image, RomScanMode::kIdentityFile, 10, 6);
  EXPECT_EQ(id.rom.extendedId, 0x1234);
  EXPECT_EQ(id.rom.systemId, 0);
  EXPECT_EQ(id.rom.systemName.Text(), "");

  std::vector<uint8_t> list = {'$', 'D', 'I', '$', 0x31, 0x00, 0x32};
  id = {};
  ReadRomIdentity(id, list, RomScanMode::kIdentityFile, 0, list.size());
  EXPECT_EQ(List(id), (std::vector<uint16_t>{0x0031, 0x0032, 0}));  // the cut entry's high byte reads as zero
}

TEST(RomIdentity, RegionOutsideTheImageFindsNothingAndClearsThePreviousCandidate) {
  const auto blocks = sim::IdentityBlocks(Options({"Korv 9A"}, {0x1235}), 0x100000);
  SystemIdentity id = Scan(blocks);
  ReadRomIdentity(id, blocks, RomScanMode::kIdentityFile, blocks.size() + 100, 4096);
  EXPECT_EQ(VersionText(id.rom.version), "");
  EXPECT_EQ(id.rom.systemId, 0);
  EXPECT_EQ(id.rom.extensionList[0], 0);
  EXPECT_EQ(id.rom.systemName.Text(), "");
}

TEST(RomIdentity, WholeImageModeFindsTheDeclaredSizeAcrossStepBoundaries) {
  // The blocks start 3 bytes before a 64 KiB step so that "$BV#" straddles it; "$SIZ" comes
  // after "$KOR" and must still be found, and the first one counts.
  const auto blocks = sim::IdentityBlocks(Options({"First", "Second"}), 0x00123000);
  std::vector<uint8_t> image(0x30000, 0xFF);
  const size_t at = 0x10000 - 16 - 3;
  std::copy(blocks.begin(), blocks.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
  const char later[] = "$SIZ\x00\x00\x01\x00";
  std::memcpy(image.data() + 0x28000, later, 8);
  const auto id = Scan(image, 2, RomScanMode::kWholeImage);
  EXPECT_EQ(id.romDeclaredSize, 0x00123000u);
  EXPECT_EQ(VersionText(id.rom.version), "A07");
  EXPECT_EQ(id.rom.extendedId, 0x1234);
  // Whole-image mode takes the first name whatever the index.
  EXPECT_EQ(id.rom.systemName.Text(), "First");
}

// ---- the running firmware's markers --------------------------------------------------------------

std::vector<uint8_t> Segment() { return std::vector<uint8_t>(65535, 0); }

void Put(std::vector<uint8_t>& segment, size_t at, const std::vector<uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), segment.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(CurrentIdentity, SegmentMarkersSearchIdsFromTheVersionBlockOn) {
  auto segment = Segment();
  sim::IdentityProfile profile;
  profile.version = "A06";
  profile.systemId = 0x9A;
  profile.extendedId = 0x1234;
  // A stray "$KOR" before the version block is not the machine's.
  Put(segment, 0x100, {'$', 'K', 'O', 'R', 0x11, 0x11, 0, 0, 0, 0x11});
  Put(segment, 0x400, sim::RunningIdentityBlocks(profile));
  std::vector<uint8_t> system = {'K', 'o', 'r', 'v', ' ', 'S', 'y', 's', 't', 'e', 'm', 0, 'M', '1'};
  Put(segment, 0x800, system);
  SystemIdentity id;
  ReadSegmentMarkers(id, segment, false);
  EXPECT_EQ(VersionText(id.currentVersion), "A06");
  EXPECT_EQ(id.currentSystemId, 0x9A);
  EXPECT_EQ(id.currentExtendedId, 0x1234);
  EXPECT_EQ(id.currentSystemName.Text(), "");  // only looked for with the capability block
  ReadSegmentMarkers(id, segment, true);
  EXPECT_EQ(id.currentSystemName.Text(), "M1");
  EXPECT_TRUE(id.versionFound && id.idsFound && id.nameFound);
}

TEST(CurrentIdentity, BlocksAtTheSegmentEndAreReadWithoutPassingIt) {
  auto version = Segment();
  Put(version, 65531, {'$', 'B', 'V', '#'});
  SystemIdentity id;
  ReadSegmentMarkers(id, version, true);
  EXPECT_TRUE(id.versionFound);
  EXPECT_EQ(VersionText(id.currentVersion), "");
  EXPECT_FALSE(id.nameFound);

  auto system = Segment();
  Put(system, 65535 - 11, {'K', 'o', 'r', 'v', ' ', 'S', 'y', 's', 't', 'e', 'm'});
  ReadSegmentMarkers(id, system, true);
  EXPECT_TRUE(id.nameFound);
  EXPECT_EQ(id.currentSystemName.Text(), "");
}

TEST(CurrentIdentity, IdentityAreaOnlyFillsWhatIsNotKnownYet) {
  sim::IdentityProfile profile;
  profile.version = "B12";
  profile.systemId = 0xFE;
  profile.extendedId = 0x2A51;
  std::vector<uint8_t> area(4096, 0);
  Put(area, 0, sim::RunningIdentityBlocks(profile));
  const std::vector<uint8_t> name = {'T', 'a', 'b', 0};
  SystemIdentity id;
  id.currentVersion = {'Z', '9', '9'};
  id.versionFound = true;
  ReadIdentityArea(id, area, name);
  EXPECT_EQ(VersionText(id.currentVersion), "Z99");
  EXPECT_EQ(id.currentExtendedId, 0x2A51);
  EXPECT_EQ(id.currentSystemId, 0xFE);
  EXPECT_EQ(id.currentSystemName.Text(), "Tab");
  const std::vector<uint8_t> other = {'O', 't', 'h', 0};
  ReadIdentityArea(id, area, other);
  EXPECT_EQ(id.currentSystemName.Text(), "Tab");
}

}  // namespace
}  // namespace nox::policy::test

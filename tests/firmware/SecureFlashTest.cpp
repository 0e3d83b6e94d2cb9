// Secure flash: where a capsule header is taken to be, the flash policy as it goes over the
// wire, and the exchanges with a machine whose firmware programs the flash itself.
#include <gtest/gtest.h>

#include <vector>

#include "SimRig.h"
#include "app/SecureFlashStart.h"
#include "core/Bytes.h"
#include "firmware/SecureFlash.h"
#include "platform/sim/Capsule.h"

namespace nox::firmware {
namespace {

using secure::CapsuleGuid;
using secure::MarkerGuid;

void PutGuid(std::vector<uint8_t>& image, size_t at, const core::Guid& guid) {
  const auto bytes = guid.ToBytes();
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(at));
}

void PutHeader(std::vector<uint8_t>& image, size_t at, uint16_t length) {
  PutGuid(image, at, CapsuleGuid());
  core::StoreLe16(&image[at + 28], length);
}

// `marker`, `header`: where a marker and a header of `length` go (-1: none); `more`: a second
// marker (and a header of 96 bytes 100 bytes behind it) or a second header of 64 bytes.
TEST(CapsuleHeader, IsFoundAtTheStartOrBehindTheMarkerOnly) {
  constexpr long kSize = 40000, kWindow = 100 + 16;  // the first place a capsule GUID may follow the marker
  struct Case { const char* what; long marker, header; uint16_t length; long more; long leading, embedded; };
  const Case cases[] = {
      {"header at the start", -1, 0, 64, -1, 0, -1},
      {"too short for its own length field", -1, 0, 29, -1, -1, -1},
      {"longer than the image", -1, 0, 0xFFFF, kSize - 64, -1, -1},
      {"last place in the marker's window", 100, kWindow + 10239, 64, -1, -1, kWindow + 10239},
      {"one byte past the window", 100, kWindow + 10240, 64, -1, -1, -1},
      {"capsule GUID without a marker", -1, 5000, 64, -1, -1, -1},
      {"a later marker has the header", 100, -1, 0, 30000, -1, 30100},
      {"a broken header behind the marker, a good one after it", 100, 200, 4, 300, -1, 300},
      {"marker at the very end", kSize - 16, -1, 0, -1, -1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image(kSize, 0xFF);
    if (c.marker >= 0) PutGuid(image, c.marker, MarkerGuid());
    if (c.header >= 0) PutHeader(image, c.header, c.length);
    if (c.more >= 0 && c.marker >= 0 && c.header < 0) {
      PutGuid(image, c.more, MarkerGuid());
      PutHeader(image, c.more + 100, 96);
    } else if (c.more >= 0) {
      PutHeader(image, c.more, 64);
    }
    const auto leading = LeadingCapsuleHeader(image);
    const auto embedded = EmbeddedCapsuleHeader(image);
    EXPECT_EQ(std::make_pair(leading ? long(leading->offset) : -1, embedded ? long(embedded->offset) : -1),
              std::make_pair(c.leading, c.embedded));
  }
}

TEST(FlashPolicy, KeepsTheLowestTypeAndEveryRegionAndGoesOutAsWritten) {
  FlashPolicy policy;
  const std::array<uint8_t, 3> name{'a', 'b', 'c'};
  policy.Request(secure::kRuntime, secure::kMainBiosBit, std::nullopt, 100);
  policy.Request(secure::kCapsule, secure::kEcBit, std::span<const uint8_t>(name), 0x01020304);
  policy.Request(secure::kRuntime, secure::kBootBlockBit, std::nullopt, 0x01020304);
  std::array<uint8_t, secure::kPolicySize> expected{2, 0x0B, 0, 0, 0, 'a', 'b', 'c'};
  core::StoreLe32(&expected[21], 0x01020304);
  EXPECT_EQ(policy.Bytes(), expected);
}

TEST(RecoveryName, IsTheHeaderFileNameOrItsFileNameWhenThePathIsTooLong) {
  const auto text = [](const std::array<uint8_t, 16>& bytes) {
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
  };
  EXPECT_EQ(text(app::RecoveryName("./noxwingui.hdr")), "./noxwingui.hdr");
  EXPECT_EQ(text(app::RecoveryName("C:\\FLASH\\TOOLS\\NOXWINGUI.hdr")), "NOXWINGUI.hdr");
  EXPECT_EQ(text(app::RecoveryName("/srv/a/very_long_program.hdr")), "very_long_progra");
}

// The pieces as the machine saw them: (offset in its memory, length), in order.
std::vector<std::pair<uint32_t, uint32_t>> Pieces(const nox::testing::SimRig& rig, size_t from) {
  std::vector<std::pair<uint32_t, uint32_t>> pieces;
  for (const auto& j : rig.Smis(from)) {
    if (j.value("request", "") == "piece") pieces.emplace_back(j.at("offset"), j.at("length"));
  }
  return pieces;
}

// `header`: where a header of `length` goes, behind a marker 40 bytes ahead unless at the start.
TEST(SecureFlashExchange, EveryPieceGoesWhereTheFirmwareExpectsIt) {
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  struct Case { const char* what; size_t size; long header; uint16_t length; Pairs pieces; };
  const Case cases[] = {
      {"65536 bytes: two whole pieces", 65536, -1, 0, {{0, 32768}, {32768, 32768}}},
      {"70000 bytes: a last piece of 4464", 70000, -1, 0, {{0, 32768}, {32768, 32768}, {65536, 4464}}},
      {"a header at the start goes with the image", 40000, 0, 64, {{0, 32768}, {32768, 7232}}},
      {"a header inside goes ahead, the image behind it", 40000, 1040, 80, {{0, 80}, {80, 32768}, {32848, 7232}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nox::testing::SimRig rig("secure-16m");
    rig.Open();
    ASSERT_TRUE(rig.secure->Capable());
    std::vector<uint8_t> image(c.size, 0x5A);
    if (c.header > 0) PutGuid(image, c.header - 40, MarkerGuid());
    if (c.header >= 0) PutHeader(image, c.header, c.length);
    // The progress goes by the image as the user chose it, and ends with a call of zeros.
    std::vector<std::array<uint32_t, 3>> progress, expected;
    for (uint32_t at = 0; at < c.size; at += 32768) expected.push_back({uint32_t(c.size), at, 1});
    expected.push_back({0, 0, 0});
    const size_t mark = rig.Mark();
    const core::ProgressCallback record = [&](uint32_t a, uint32_t b, uint32_t l) { progress.push_back({a, b, l}); };
    ASSERT_TRUE(rig.secure->LoadImageToFirmware(image, 0, record));
    EXPECT_EQ(std::make_pair(Pieces(rig, mark), progress), std::make_pair(c.pieces, expected));
    // Once across, the image is not sent again.
    const size_t again = rig.Mark();
    EXPECT_TRUE(rig.secure->LoadImageToFirmware(image, 0, record));
    EXPECT_TRUE(Pieces(rig, again).empty());
  }
}

TEST(SecureFlashExchange, TheSessionStartsOnceAndOnlyAfterTheFirmwareClearedItsStatus) {
  nox::testing::SimRig plain("uefi-16m");
  plain.Open();
  EXPECT_FALSE(plain.secure->Capable());

  nox::testing::SimRig rig("secure-16m");
  rig.Open();
  ASSERT_TRUE(rig.secure->Capable());
  const auto sessions = [&](size_t from) {
    return std::ranges::count_if(rig.Smis(from), [](const auto& j) { return j.value("request", "") == "session"; });
  };
  // Nothing in the firmware's memory yet: the firmware leaves its status, and a later
  // request is sent again.
  rig.secure->RequestSecureRegion(secure::kRuntime, secure::kMainBiosBit, std::nullopt, 16u << 20);
  EXPECT_EQ(rig.secure->StartSecureFlashSession(), sim::capsule::kIncomplete);
  const sim::RomResult capsule =
      sim::BuildCapsuleImage(rig.machine->GetProfile(), sim::RunningRomOptions(rig.machine->GetProfile()), {});
  ASSERT_TRUE(capsule.error.empty()) << capsule.error;
  rig.secure->RequestSecureRegion(secure::kRuntime, secure::kMainBiosBit, std::nullopt,
                                  static_cast<uint32_t>(capsule.image.size()));
  ASSERT_TRUE(rig.secure->LoadImageToFirmware(capsule.image, 0, {}));
  const size_t mark = rig.Mark();
  EXPECT_EQ(rig.secure->StartSecureFlashSession(), 0);
  EXPECT_EQ(rig.secure->StartSecureFlashSession(), 0);
  EXPECT_EQ(sessions(mark), 1);
  EXPECT_TRUE(rig.secure->SessionStarted());
}

}  // namespace
}  // namespace nox::firmware

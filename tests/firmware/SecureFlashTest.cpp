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

TEST(CapsuleHeader, IsFoundAtTheStartOrBehindTheMarkerOnly) {
  constexpr size_t kSize = 40000;
  constexpr size_t kMarker = 100;
  constexpr size_t kWindow = kMarker + 16;  // the first place a capsule GUID may follow
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> build;
    std::optional<size_t> leading, embedded;
  };
  const Case cases[] = {
      {"header at the start", [](auto& i) { PutHeader(i, 0, 64); }, 0, std::nullopt},
      {"too short for its own length field", [](auto& i) { PutHeader(i, 0, 29); }, std::nullopt, std::nullopt},
      {"longer than the image", [](auto& i) { PutHeader(i, 0, 0xFFFF); PutHeader(i, kSize - 64, 64); },
       std::nullopt, std::nullopt},
      {"last place in the marker's window",
       [](auto& i) { PutGuid(i, kMarker, MarkerGuid()); PutHeader(i, kWindow + 10239, 64); }, std::nullopt,
       kWindow + 10239},
      {"one byte past the window",
       [](auto& i) { PutGuid(i, kMarker, MarkerGuid()); PutHeader(i, kWindow + 10240, 64); }, std::nullopt,
       std::nullopt},
      {"capsule GUID without a marker", [](auto& i) { PutHeader(i, 5000, 64); }, std::nullopt, std::nullopt},
      {"a later marker has the header",
       [](auto& i) {
         PutGuid(i, kMarker, MarkerGuid());
         PutGuid(i, 30000, MarkerGuid());
         PutHeader(i, 30100, 96);
       },
       std::nullopt, 30100},
      {"a broken header behind the marker, a good one after it",
       [](auto& i) {
         PutGuid(i, kMarker, MarkerGuid());
         PutHeader(i, 200, 4);
         PutHeader(i, 300, 64);
       },
       std::nullopt, 300},
      {"marker at the very end", [](auto& i) { PutGuid(i, kSize - 16, MarkerGuid()); }, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image(kSize, 0xFF);
    c.build(image);
    const auto leading = LeadingCapsuleHeader(image);
    const auto embedded = EmbeddedCapsuleHeader(image);
    EXPECT_EQ(leading ? std::optional(leading->offset) : std::nullopt, c.leading);
    EXPECT_EQ(embedded ? std::optional(embedded->offset) : std::nullopt, c.embedded);
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

TEST(SecureFlashExchange, EveryPieceGoesWhereTheFirmwareExpectsIt) {
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  struct Case {
    const char* what;
    size_t size;
    std::function<void(std::vector<uint8_t>&)> build;
    Pairs pieces;
    std::vector<std::array<uint32_t, 3>> progress;
  };
  const Case cases[] = {
      {"65536 bytes: two whole pieces", 65536, {}, {{0, 32768}, {32768, 32768}},
       {{65536, 0, 1}, {65536, 32768, 1}, {0, 0, 0}}},
      {"70000 bytes: a last piece of 4464", 70000, {}, {{0, 32768}, {32768, 32768}, {65536, 4464}},
       {{70000, 0, 1}, {70000, 32768, 1}, {70000, 65536, 1}, {0, 0, 0}}},
      {"a header at the start goes with the image", 40000, [](auto& i) { PutHeader(i, 0, 64); },
       {{0, 32768}, {32768, 7232}}, {{40000, 0, 1}, {40000, 32768, 1}, {0, 0, 0}}},
      {"a header inside goes ahead, the image behind it", 40000,
       [](auto& i) {
         PutGuid(i, 1000, MarkerGuid());
         PutHeader(i, 1040, 80);
       },
       {{0, 80}, {80, 32768}, {32848, 7232}}, {{40000, 0, 1}, {40000, 32768, 1}, {0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nox::testing::SimRig rig("secure-16m");
    rig.Open();
    ASSERT_TRUE(rig.secure->Capable());
    std::vector<uint8_t> image(c.size, 0x5A);
    if (c.build) c.build(image);
    std::vector<std::array<uint32_t, 3>> progress;
    const size_t mark = rig.Mark();
    const core::ProgressCallback record = [&](uint32_t a, uint32_t b, uint32_t l) { progress.push_back({a, b, l}); };
    ASSERT_TRUE(rig.secure->LoadImageToFirmware(image, 0, record));
    EXPECT_EQ(Pieces(rig, mark), c.pieces);
    EXPECT_EQ(progress, c.progress);
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

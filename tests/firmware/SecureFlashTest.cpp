// Secure flash: where a capsule header is taken to be, the flash policy as it goes over the
// wire, and the exchanges with a machine whose firmware programs the flash itself.
#include <gtest/gtest.h>

#include <vector>

#include "app/SecureFlashStart.h"
#include "core/Bytes.h"
#include "firmware/SecureFlash.h"

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

}  // namespace
}  // namespace nox::firmware

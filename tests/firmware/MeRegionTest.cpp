// The ME data check of an image against the firmware's answers: which images are a bare ME
// region, which are full-flash images narrowed to their firmware region, and which are bad.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "firmware/MeRegion.h"

namespace nox::firmware {
namespace {

constexpr uint32_t kMeSize = 0x3000;
constexpr uint32_t kSpan = 0x8000;
constexpr uint32_t kRegion = 0x10000;
constexpr uint32_t kBios = 0x10000;  // the flash size the block table gives

std::vector<uint8_t> Image(size_t size, std::optional<size_t> signatureAt, std::optional<size_t> fidAt) {
  std::vector<uint8_t> image(size, 0xFF);
  const uint8_t signature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  if (signatureAt) std::memcpy(&image[*signatureAt], signature, 4);
  if (fidAt) std::memcpy(&image[*fidAt], "$FID", 4);
  return image;
}

TEST(MeImageCheck, TellsBareRegionsFullImagesAndBadOnes) {
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    bool ignition, entire;
    uint32_t error;
    bool ignitionImage, narrowed;
    const char* said;
  };
  const size_t full = kSpan + kRegion;
  const Case cases[] = {
      {"bare region of the ME size", Image(kMeSize, {}, {}), true, false, 0, true, false,
       " - ME Data Size checking . ok\n"},
      {"bare region of another size", Image(kMeSize + 1024, {}, {}), true, false, 3, false, false,
       " - ME Data Size checking . bad\n"},
      {"entire update without a descriptor", Image(kMeSize, {}, {}), false, true, 3, false, false,
       " - ME Data Size checking . bad\n"},
      {"a plain image, nothing asked", Image(kBios, {}, {}), false, false, 0, false, false, ""},
      {"descriptor and the flash size", Image(kBios, 16, {}), true, false, 0, false, false,
       " - ME Data Size checking . "},
      {"full image narrowed to its region", Image(full, 16, full - 2000), false, true, 0, false, true,
       " - ME Data Size checking . ok\n"},
      {"signature at the last offset looked at", Image(full, 27, full - 2000), false, false, 0, false, true, ""},
      {"signature one byte further is none", Image(full, 28, full - 2000), false, false, 0, false, false, ""},
      {"no \"$FID\"", Image(full, 16, {}), false, true, 159, false, false, " - ME Data Size checking . bad\n"},
      {"\"$FID\" only in the ME part", Image(full, 16, kSpan - 100), false, false, 159, false, false, ""},
      {"\"$FID\" past the last offset of the last window", Image(full, 16, full - 130), false, false, 159, false,
       false, ""},
      {"\"$FID\" at the last offset of the last window", Image(full, 16, full - 131), false, false, 0, false, true,
       ""},
      {"too small for its region", Image(full - 1, 16, {}), false, false, 3, false, false, ""},
      {"too small for its region, ME asked", Image(full - 1, 16, {}), false, true, 160, false, false,
       " - ME Data Size checking . bad\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string said;
    const MeCheckInput input{c.ignition, c.entire, {0x1000, kMeSize, kSpan, kRegion}, kBios};
    const MeCheckResult r = CheckMeImage(c.image, input, [&](const char* text) { said += text; });
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.ignitionImage, c.ignitionImage);
    EXPECT_EQ(r.regionFromFull, c.narrowed);
    if (c.narrowed) {
      EXPECT_EQ(std::pair(r.offset, r.size), std::pair(size_t{kSpan}, size_t{kRegion}));
    }
    EXPECT_EQ(said, c.said);
  }
}

}  // namespace
}  // namespace nox::firmware

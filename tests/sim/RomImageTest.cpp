#include <gtest/gtest.h>

#include <cstring>

#include "core/Bytes.h"
#include "core/CText.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

using core::Guid;

RomResult Build(const char* preset, unsigned holes = 2, uint64_t seed = 1) {
  Profile p = *MakePreset(preset);
  RomOptions o = RunningRomOptions(p);
  o.holes = holes;
  o.seed = seed;
  return BuildRomImage(p, o);
}

std::vector<const RomFile*> FilesNamed(const RomResult& r, const Guid& name) {
  std::vector<const RomFile*> out;
  for (const RomFile& f : r.files) if (f.name == name) out.push_back(&f);
  return out;
}

TEST(RomImage, EveryVolumeHeaderSumsToZeroAndFilesSitInsideTheirVolume) {
  for (const std::string& preset : PresetNames()) {
    const RomResult r = Build(preset.c_str());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_FALSE(r.volumes.empty());
    for (const RomVolume& v : r.volumes) {
      const uint8_t* h = r.image.data() + v.offset;
      EXPECT_EQ(VolumeHeaderSum({h, 64}), 0) << preset << " @" << v.offset;
      EXPECT_EQ(std::memcmp(h + 40, "_FVH", 4), 0);
      EXPECT_EQ(core::LoadLe64(h + 32), v.length);
      EXPECT_EQ(*Guid::FromBytes({h + 16, 16}), v.fileSystem);
    }
    for (const RomFile& f : r.files) {
      const uint8_t* h = r.image.data() + f.offset;
      EXPECT_EQ(f.offset % 8, 0u);
      EXPECT_EQ(*Guid::FromBytes({h, 16}), f.name);
      EXPECT_EQ(h[20] | (h[21] << 8) | (h[22] << 16), static_cast<int>(f.size));
      // The header checksum byte makes the header (state and file checksum taken as 0) sum to 0.
      std::array<uint8_t, 24> header;
      std::memcpy(header.data(), h, 24);
      header[17] = 0;
      header[23] = 0;
      EXPECT_EQ(core::Sum8(header), 0);
    }
  }
}

TEST(RomImage, IdentityFileCarriesTheMarkerBlocks) {
  Profile p = *MakePreset("legacy-8m");
  RomOptions o = RunningRomOptions(p);
  o.version = "A07";
  o.systemId = 0xFE;
  o.extendedId = 0xBEEF;
  o.extensionIds = {0x1111, 0x2222};
  o.names = {"First", "Second"};
  const RomResult r = BuildRomImage(p, o);
  ASSERT_TRUE(r.error.empty());
  const auto ids = FilesNamed(r, IdentityFileGuid());
  ASSERT_EQ(ids.size(), 1u);
  std::span<const uint8_t> body(r.image.data() + ids[0]->offset + 24, ids[0]->size - 24);
  auto find = [&](const char* tag) {
    for (size_t i = 0; i + 4 <= body.size(); ++i) if (std::memcmp(body.data() + i, tag, 4) == 0) return i;
    return body.size();
  };
  ASSERT_LT(find("KORV"), body.size());
  const size_t bv = find("$BV#"), di = find("$DI$"), kor = find("$KOR"), siz = find("$SIZ");
  ASSERT_LT(std::max({bv, di, kor, siz}), body.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + bv + 7), 3), "A07");
  EXPECT_EQ(core::LoadLe16(body.data() + di + 4), 0x1111);
  EXPECT_EQ(core::LoadLe16(body.data() + di + 6), 0x2222);
  EXPECT_EQ(core::LoadLe16(body.data() + di + 8), 0);
  EXPECT_EQ(core::LoadLe16(body.data() + kor + 4), 0xBEEF);
  EXPECT_EQ(body[kor + 9], 0xFE);
  EXPECT_EQ(core::BoundedCString(body, kor + 12), "First");
  EXPECT_EQ(core::BoundedCString(body, kor + 18), "Second");
  EXPECT_EQ(core::BoundedCString(body, kor + 25), "");  // the list ends with an empty name
  EXPECT_EQ(core::LoadLe32(body.data() + siz + 4), p.flash.size);
  // The identity file sits in the main BIOS.
  EXPECT_GE(ids[0]->offset, 0x60000u);
  EXPECT_LT(ids[0]->offset, 0x7E0000u);
}

struct HoleCase {
  const char* preset;
  unsigned holes;
  unsigned inMain;
};

class RomHoles : public ::testing::TestWithParam<HoleCase> {};

TEST_P(RomHoles, NamedInOrderMainBiosFirstThenBootBlock) {
  const RomResult r = Build(GetParam().preset, GetParam().holes);
  ASSERT_TRUE(r.error.empty()) << r.error;
  const Profile p = *MakePreset(GetParam().preset);
  uint32_t bootStart = 0;
  for (const BlockEntry& b : p.flash.blocks) if (b.type == 0) bootStart = b.start;
  unsigned main = 0;
  for (unsigned i = 0; i < GetParam().holes; ++i) {
    const auto found = FilesNamed(r, RomHoleName(i));
    ASSERT_EQ(found.size(), 1u) << i;
    const bool inBoot = found[0]->offset >= bootStart;
    EXPECT_EQ(inBoot, i >= GetParam().inMain) << i;
    main += inBoot ? 0 : 1;
  }
  EXPECT_EQ(main, GetParam().inMain);
  EXPECT_TRUE(FilesNamed(r, RomHoleName(GetParam().holes)).empty());
}

INSTANTIATE_TEST_SUITE_P(Counts, RomHoles,
                         ::testing::Values(HoleCase{"legacy-8m", 0, 0}, HoleCase{"legacy-8m", 1, 1},
                                           HoleCase{"legacy-8m", 3, 2}, HoleCase{"uefi-16m", 16, 8},
                                           HoleCase{"minimal-1m", 2, 1}),
                         [](const auto& param) {
                           std::string n = param.param.preset;
                           for (char& c : n) if (c == '-') c = '_';
                           return n + "_" + std::to_string(param.param.holes) + "_holes";
                         });

TEST(RomHoleNames, RunFrom05CA01FCTo05CA020B) {
  EXPECT_EQ(RomHoleName(0), core::GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_EQ(RomHoleName(4), core::GuidLiteral("05CA0200-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_EQ(RomHoleName(15), core::GuidLiteral("05CA020B-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_FALSE(Build("legacy-8m", 17).error.empty());
}

TEST(RomImage, BootBlockHoldsTheSmbiosAreaAndEcBlockTheVersionWord) {
  Profile p = *MakePreset("legacy-8m");
  RomOptions o = RunningRomOptions(p);
  o.ecVersion = 0x00010203;
  const RomResult r = BuildRomImage(p, o);
  std::span<const uint8_t> boot(r.image.data() + 0x7E0000, 0x20000);
  size_t at = boot.size();
  for (size_t i = 0; i + 4 <= boot.size(); ++i) if (std::memcmp(boot.data() + i, "BSA_", 4) == 0) { at = i; break; }
  ASSERT_LT(at, boot.size());
  const uint32_t length = core::LoadLe32(boot.data() + at + 4);
  // Walk the entries: type, -, length n, -, then n bytes; they fill L exactly.
  uint32_t walked = 0;
  int entries = 0;
  while (walked < length) {
    walked += boot[at + 8 + walked + 2] + 4;
    ++entries;
  }
  EXPECT_EQ(walked, length);
  EXPECT_EQ(entries, 3);
  EXPECT_EQ(core::LoadLe32(r.image.data() + 0x40000 + 0x100), 0x00010203u);
}

TEST(RomImage, SameSeedSameImageOtherSeedOtherFiller) {
  EXPECT_EQ(Build("minimal-1m").image, Build("minimal-1m").image);
  const RomResult a = Build("minimal-1m", 2, 1), b = Build("minimal-1m", 2, 2);
  EXPECT_NE(a.image, b.image);
  // The identity file does not depend on the seed.
  const RomFile* fa = FilesNamed(a, IdentityFileGuid())[0];
  const RomFile* fb = FilesNamed(b, IdentityFileGuid())[0];
  EXPECT_TRUE(std::equal(a.image.begin() + fa->offset, a.image.begin() + fa->offset + fa->size,
                         b.image.begin() + fb->offset));
}

TEST(RomImage, NewMachineFlashHoldsItsRunningImage) {
  const Profile p = *MakePreset("legacy-8m");
  std::string error;
  auto m = Machine::InMemory(p, error);
  ASSERT_TRUE(m) << error;
  const RomResult running = BuildRomImage(p, RunningRomOptions(p));
  EXPECT_TRUE(std::equal(running.image.begin(), running.image.end(), m->Flash().Bytes().begin()));
}

struct VersionCase {
  const char* from;
  const char* to;  // "" for none
};
TEST(NextVersion, CountsUpTheTwoDigits) {
  for (const VersionCase& c : {VersionCase{"A06", "A07"}, VersionCase{"A09", "A10"}, VersionCase{"X98", "X99"},
                               VersionCase{"A99", ""}, VersionCase{"AB1", ""}, VersionCase{"A1", ""}}) {
    const auto next = NextVersion(c.from);
    EXPECT_EQ(next.value_or(""), c.to) << c.from;
  }
}

}  // namespace
}  // namespace nox::sim

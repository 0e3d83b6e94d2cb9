// The images the simulated machine builds: the identity file and the volume named after the
// machine, the ROM holes, the SMBIOS area and the EC version word, and images of two seeds
// that differ in every piece.
#include <gtest/gtest.h>

#include <functional>

#include "SimRig.h"
#include "core/CText.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

using core::Guid;
using test::FindTag;

RomResult Build(const char* preset, unsigned holes = 2, uint64_t seed = 1,
                const std::function<void(RomOptions&)>& change = {}) {
  Profile p = *MakePreset(preset);
  RomOptions o = RunningRomOptions(p);
  o.holes = holes;
  o.seed = seed;
  if (change) change(o);
  return BuildRomImage(p, o);
}

std::vector<const RomFile*> FilesNamed(const RomResult& r, const Guid& name) {
  std::vector<const RomFile*> out;
  for (const RomFile& f : r.files) if (f.name == name) out.push_back(&f);
  return out;
}

// The identity file in the main BIOS carries the marker blocks, the volume that holds it (and
// no other) is named after the machine; the boot block holds the SMBIOS area and the EC block
// the version word.
TEST(RomImage, IdentityFileSmbiosAreaAndEcVersionWord) {
  const RomResult r = Build("legacy-8m", 2, 1, [](RomOptions& o) {
    o.version = "A07";
    o.systemId = 0xFE;
    o.extendedId = 0xBEEF;
    o.extensionIds = {0x1111, 0x2222};
    o.names = {"First", "Second"};
    o.ecVersion = 0x00010203;
  });
  const auto ids = FilesNamed(r, IdentityFileGuid());
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_TRUE(ids[0]->offset >= 0x60000u && ids[0]->offset < 0x7E0000u) << ids[0]->offset;
  std::span<const uint8_t> body(r.image.data() + ids[0]->offset + 24, ids[0]->size - 24);
  const long bv = FindTag(body, "$BV#"), di = FindTag(body, "$DI$"), kor = FindTag(body, "$KOR"),
             siz = FindTag(body, "$SIZ");
  ASSERT_GE(std::min({bv, di, kor, siz, FindTag(body, "KORV")}), 0);
  const auto u16 = [&](long at) { return int{core::LoadLe16(body.data() + at)}; };
  EXPECT_EQ(std::make_tuple(std::string(body.begin() + bv + 7, body.begin() + bv + 10), u16(di + 4), u16(di + 6),
                            u16(di + 8), u16(kor + 4), int{body[kor + 9]}),
            std::make_tuple("A07", 0x1111, 0x2222, 0, 0xBEEF, 0xFE));
  // The list of names ends with an empty one.
  EXPECT_EQ(std::make_tuple(core::BoundedCString(body, kor + 12), core::BoundedCString(body, kor + 18),
                            core::BoundedCString(body, kor + 25), core::LoadLe32(body.data() + siz + 4)),
            std::make_tuple("First", "Second", "", 0x800000u));
  const Guid named = MachineVolumeName(0xFE, 0xBEEF);
  for (const RomVolume& v : r.volumes) {
    const bool holds = v.offset <= ids[0]->offset && ids[0]->offset - v.offset < v.length;
    EXPECT_EQ(v.name, holds ? std::optional(named) : std::nullopt) << v.offset;
  }
  for (const auto& [system, extended] : {std::pair<uint8_t, uint16_t>{0xFF, 0xBEEF}, {0xFE, 0xBFEF}, {0xFE, 0xBEEE}}) {
    EXPECT_NE(MachineVolumeName(system, extended), named);
  }
  // The SMBIOS entries (type, -, length n, -, then n bytes) fill the area's length exactly.
  std::span<const uint8_t> boot(r.image.data() + 0x7E0000, 0x20000);
  const long at = FindTag(boot, "BSA_");
  ASSERT_GE(at, 0);
  const uint32_t length = core::LoadLe32(boot.data() + at + 4);
  uint32_t walked = 0, entries = 0;
  for (; walked < length; ++entries) walked += boot[at + 8 + walked + 2] + 4;
  EXPECT_EQ(std::make_tuple(walked, entries, core::LoadLe32(r.image.data() + 0x40000 + 0x100)),
            std::make_tuple(length, 3u, 0x00010203u));
}

TEST(RomImage, HolesAreNamedInOrderMainBiosFirstThenBootBlock) {
  struct Case { const char* preset; unsigned holes, inMain; };
  for (const Case& c : {Case{"legacy-8m", 0, 0}, Case{"legacy-8m", 1, 1}, Case{"legacy-8m", 3, 2},
                        Case{"uefi-16m", 16, 8}, Case{"minimal-1m", 2, 1}}) {
    SCOPED_TRACE(testing::Message() << c.preset << " " << c.holes);
    const RomResult r = Build(c.preset, c.holes);
    ASSERT_TRUE(r.error.empty()) << r.error;
    const uint32_t bootStart = std::ranges::find(MakePreset(c.preset)->flash.blocks, 0, &BlockEntry::type)->start;
    std::vector<std::pair<uint32_t, uint32_t>> placed, found;
    for (unsigned i = 0; i < c.holes; ++i) {
      const auto files = FilesNamed(r, RomHoleName(i));
      ASSERT_EQ(files.size(), 1u) << i;
      EXPECT_EQ(files[0]->offset >= bootStart, i >= c.inMain) << i;
      placed.emplace_back(files[0]->offset, files[0]->size);
    }
    for (const RomHole& h : FindRomHoles(r.image)) found.emplace_back(h.start, h.size);
    EXPECT_EQ(found, placed);
    EXPECT_TRUE(FilesNamed(r, RomHoleName(c.holes)).empty());
  }
  EXPECT_EQ(RomHoleName(0), core::GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_EQ(RomHoleName(4), core::GuidLiteral("05CA0200-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_EQ(RomHoleName(15), core::GuidLiteral("05CA020B-0FC1-11DC-9011-00173153EBA8"));
  EXPECT_FALSE(Build("legacy-8m", 17).error.empty());
  // A hole's name in the last sector counts only with a size that ends within the image.
  for (const uint32_t size : {4096u, 4097u}) {
    RomResult r = Build("minimal-1m");
    uint8_t* last = r.image.data() + r.image.size() - 4096;
    RomHoleName(2).WriteTo(std::span<uint8_t, 16>(last, 16));
    core::StoreLe32(last + 20, size);  // the state byte above the size is not read
    EXPECT_EQ(FindRomHoles(r.image).size(), size == 4096 ? 3u : 2u) << size;
  }
}

// An update proven by comparing the part with the image before and after proves nothing
// about the stretches where the two images coincide.
TEST(RomImage, AnotherSeedChangesEveryPieceOutsideTheNvram) {
  for (const std::string& preset : PresetNames()) {
    const RomResult a = Build(preset.c_str(), 2, 1), b = Build(preset.c_str(), 2, 2);
    ASSERT_EQ(a.error + b.error, "");
    std::vector<uint32_t> same;
    const Profile p = *MakePreset(preset);
    for (const BlockEntry& block : p.flash.blocks) {
      if (block.type == 2) continue;  // an empty variable store whatever the seed
      for (uint32_t at = block.start; at < block.start + block.size; at += 1024) {
        if (std::equal(a.image.begin() + at, a.image.begin() + at + 1024, b.image.begin() + at)) same.push_back(at);
      }
    }
    EXPECT_EQ(same, std::vector<uint32_t>{}) << preset;
  }
}

// "" for none.
TEST(NextVersion, CountsUpTheTwoDigits) {
  for (const auto& [from, to] : {std::pair{"A06", "A07"}, {"A09", "A10"}, {"X98", "X99"}, {"A99", ""}, {"AB1", ""},
                                 {"A1", ""}}) {
    EXPECT_EQ(NextVersion(from).value_or(""), to) << from;
  }
}

}  // namespace
}  // namespace nox::sim

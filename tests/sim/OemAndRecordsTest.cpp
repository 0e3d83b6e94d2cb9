#include <gtest/gtest.h>

#include "SimRig.h"
#include "core/CText.h"

namespace nox::sim::test {
namespace {

using core::BoundedCString;
using core::LoadLe16;
using core::LoadLe32;

// The 36-byte call record: class, select, inputs 0..3 at 4..16, outputs 0..3 at 20..32.
struct Call {
  uint16_t cls;
  uint16_t select;
  std::array<uint32_t, 4> in{};
  std::array<uint32_t, 4> preset{};
};

std::array<uint32_t, 4> Send(Rig& rig, const Call& c) {
  std::memset(rig.block.data(), 0, 36);
  rig.Put16(0, c.cls);
  rig.Put16(2, c.select);
  for (int i = 0; i < 4; ++i) rig.Put32(4 + 4 * i, c.in[i]);
  for (int i = 0; i < 4; ++i) rig.Put32(20 + 4 * i, c.preset[i]);
  rig.Raise(13);
  return {rig.U32(20), rig.U32(24), rig.U32(28), rig.U32(32)};
}

TEST(OemCalls, AnswerAsTheProfileSays) {
  Profile p = Preset("uefi-16m");
  p.ecb1.flags = 0x0180;
  p.oem.updatePermission = 0x10;
  p.oem.nameIndex = 2;
  p.oem.protectedVersions = {"B03"};
  p.oem.password = "secret";
  p.oem.passwordMaxLength = 12;
  Rig rig(p);
  std::memcpy(rig.block.data() + 1024, "secret", 7);
  constexpr uint32_t X = 0xDDDDDDDD;  // an output that is not checked
  struct Case { const char* what; Call call; std::array<uint32_t, 4> expected; };
  const Case cases[] = {
      {"flags and permission", {99, 17, {1024, 2048}, {1}}, {0, 0x0180, 0x10, X}},
      {"name index", {99, 31, {}, {255, 255}}, {0, 2, X, X}},
      {"protected version", {99, 40, {0x2A51, 'B', '0', '3'}}, {1, X, X, X}},
      {"unprotected version", {99, 40, {0x2A51, 'B', '1', '3'}}, {0, X, X, X}},
      {"password set", {10, 0, {1024, 2048}, {1}}, {0, X, X, X}},
      {"password length", {10, 3, {1024, 2048}, {1}}, {0, 12u << 8, X, X}},
      {"password accepted", {10, 4, {1024, 2048}, {1}}, {0, X, X, X}},
      {"unknown call keeps presets", {1, 0, {0x8005, 1}, {7, 8, 9, 10}}, {7, 8, 9, 10}}};
  for (const Case& c : cases) {
    Call call = c.call;
    for (auto& v : call.in) {
      if (v == 1024 || v == 2048) v += rig.physical;  // the data areas by physical address
    }
    const auto out = Send(rig, call);
    for (int i = 0; i < 4; ++i) {
      if (c.expected[i] != X) { EXPECT_EQ(out[i], c.expected[i]) << c.what << ", output " << i; }
    }
  }
}

TEST(OemCalls, IdentityAreaAndNameLandWhereTheInputsPoint) {
  Rig rig(Preset("uefi-16m"));
  ASSERT_EQ(Send(rig, {99, 15, {rig.physical + 1024, rig.physical + 2048}, {1}})[0], 0u);
  const auto area = rig.block.subspan(1024, 1024);
  const long bv = FindTag(area, "$BV#"), kor = FindTag(area, "$KOR");
  ASSERT_GE(bv, 0);
  ASSERT_GT(kor, bv);
  EXPECT_EQ(Text(area, bv + 7, 3), "B12");
  EXPECT_EQ(LoadLe16(area.data() + kor + 4), 0x2A51);
  EXPECT_EQ(area[kor + 9], 0xFE);
  EXPECT_EQ(BoundedCString(area, kor + 12), "Korv Tablet 16");
  EXPECT_EQ(BoundedCString(rig.block, 2048, 20), "Korv Tablet 16");
}

TEST(OemCalls, AddressesOutsideTheBlockAreRefused) {
  Rig rig(Preset("uefi-16m"), 5120);
  // 4 KiB from +2048 does not fit a 5120-byte block.
  EXPECT_EQ(Send(rig, {99, 15, {rig.physical + 2048, rig.physical + 1024}, {1}})[0], 1u);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
  EXPECT_EQ(Send(rig, {99, 15, {rig.physical - 4096, rig.physical + 1024}, {1}})[0], 1u);
}

TEST(OemCalls, LegacyMachineLeavesEveryPresetInPlace) {
  Rig rig(Preset("minimal-1m"));
  for (const Call& c : {Call{99, 15, {}, {1}}, Call{99, 17, {}, {1}}, Call{99, 31, {}, {255, 255}},
                        Call{99, 40, {}, {0}}, Call{10, 0, {}, {1}}}) {
    EXPECT_EQ(Send(rig, c), c.preset) << c.cls << "/" << c.select;
    EXPECT_EQ(rig.LastSmi()["answered"], false);
  }
}

// --- records the firmware leaves in the legacy segments -------------------------------

TEST(SegmentRecords, AsfEcbAndStatusRecordCarryTheProfileFields) {
  Profile p = Preset("legacy-8m");
  p.ecb.flags = 0x51;
  p.ecb.messages[1] = "";  // an empty refusal text leaves its offset zero
  Rig rig(p);
  auto f = rig.machine->FSegment();
  auto e = rig.machine->ESegment();
  const long asf = FindTag(f, "$ASF");
  ASSERT_EQ(asf, 0x120);
  EXPECT_EQ(f[asf + 4], 16);
  EXPECT_EQ(LoadLe16(f.data() + asf + 12), 0xB2);
  const long ecb = FindTag(e, "$ECB");
  ASSERT_EQ(ecb, 0x200);
  EXPECT_EQ(e[ecb + 4], 0x51);
  EXPECT_EQ(LoadLe32(e.data() + ecb + 5), 0x40000u);
  EXPECT_EQ(LoadLe32(e.data() + ecb + 9), 0x20000u);
  EXPECT_EQ(LoadLe16(e.data() + ecb + 17), 0x100);
  EXPECT_EQ(LoadLe32(e.data() + ecb + 19), 0x00FFFFFFu);
  for (int bit = 0; bit < 4; ++bit) {
    const uint16_t at = LoadLe16(e.data() + ecb + 23 + 2 * bit);
    EXPECT_EQ(at == 0, bit == 1) << bit;
    if (at) { EXPECT_EQ(BoundedCString(e, at), p.ecb.messages[bit]); }
  }
  EXPECT_EQ(FindTag(e, "ECB1"), 0x300);
}

TEST(SegmentRecords, RunningIdentityMarkersSitInTheFSegment) {
  Rig rig(Preset("legacy-8m"));
  auto f = rig.machine->FSegment();
  const long bv = FindTag(f, "$BV#"), kor = FindTag(f, "$KOR"), sys = FindTag(f, "Korv System", 11);
  ASSERT_GE(bv, 0);
  ASSERT_GT(kor, bv);
  ASSERT_GE(sys, 0);
  EXPECT_EQ(Text(f, bv + 7, 3), "A06");
  EXPECT_EQ(LoadLe16(f.data() + kor + 4), 0x1234);
  EXPECT_EQ(f[kor + 9], 0x9A);
  EXPECT_EQ(BoundedCString(f, kor + 12), "Korv 9A");
  EXPECT_EQ(BoundedCString(f, kor + 12 + 8), "Korv 9A Pro");
  EXPECT_EQ(BoundedCString(f, sys + 12, 20), "Korv 9A");
  // On a machine that reports its identity through OEM calls, the segment holds none.
  EXPECT_EQ(FindTag(Rig(Preset("uefi-16m")).machine->FSegment(), "$BV#"), -1);
}

TEST(Fadt, TableNamesTheSmiPortAndChecksumsToZero) {
  Profile p = Preset("uefi-16m");
  p.fadt.smiCmd = 0xB0;
  const auto t = Rig(p).machine->FadtTable();
  ASSERT_GE(t.size(), 52u);
  EXPECT_EQ(std::string(t.begin(), t.begin() + 4), "FACP");
  EXPECT_EQ(LoadLe16(t.data() + 48), 0xB0);
  EXPECT_EQ(core::Sum8(t), 0);
  p.fadt.present = false;
  EXPECT_TRUE(Rig(p).machine->FadtTable().empty());
}

}  // namespace
}  // namespace nox::sim::test

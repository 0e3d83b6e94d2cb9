#include <gtest/gtest.h>

#include "SimRig.h"
#include "core/Bytes.h"
#include "core/CText.h"

namespace nox::sim::test {
namespace {

using core::LoadLe16;
using core::LoadLe32;

// The 36-byte call record: class, select, inputs 0..3 at 4..16, outputs 0..3 at 20..32.
struct Call {
  uint16_t cls;
  uint16_t select;
  std::array<uint32_t, 4> in{};
  std::array<uint32_t, 4> preset{};
};

std::array<uint32_t, 4> Issue(Rig& rig, const Call& c) {
  uint8_t* b = rig.block.data();
  std::memset(b, 0, 36);
  core::StoreLe16(b, c.cls);
  core::StoreLe16(b + 2, c.select);
  for (int i = 0; i < 4; ++i) core::StoreLe32(b + 4 + 4 * i, c.in[i]);
  for (int i = 0; i < 4; ++i) core::StoreLe32(b + 20 + 4 * i, c.preset[i]);
  rig.Raise(13);
  return {LoadLe32(b + 20), LoadLe32(b + 24), LoadLe32(b + 28), LoadLe32(b + 32)};
}

struct OemCase {
  const char* what;
  Call call;
  std::array<uint32_t, 4> expected;  // outputs, with 0xDDDDDDDD for "don't care"
};

class OemCalls : public ::testing::TestWithParam<OemCase> {};

TEST_P(OemCalls, AnswerAsTheProfileSays) {
  Profile p = Preset("uefi-16m");
  p.ecb1.flags = 0x0180;
  p.oem.updatePermission = 0x10;
  p.oem.nameIndex = 2;
  p.oem.protectedVersions = {"B03"};
  p.oem.password = "secret";
  p.oem.passwordMaxLength = 12;
  Rig rig(p);
  std::memcpy(rig.block.data() + 1024, "secret", 7);
  Call call = GetParam().call;
  for (auto& v : call.in) {
    if (v == 1024 || v == 2048) v += rig.physical;  // the data areas by physical address
  }
  const auto out = Issue(rig, call);
  for (int i = 0; i < 4; ++i) {
    if (GetParam().expected[i] != 0xDDDDDDDD) {
      EXPECT_EQ(out[i], GetParam().expected[i]) << "output " << i;
    }
  }
}

constexpr uint32_t X = 0xDDDDDDDD;
INSTANTIATE_TEST_SUITE_P(
    Calls, OemCalls,
    ::testing::Values(
        OemCase{"flags_and_permission", {99, 17, {1024, 2048}, {1}}, {0, 0x0180, 0x10, X}},
        OemCase{"name_index", {99, 31, {}, {255, 255}}, {0, 2, X, X}},
        OemCase{"protected_version", {99, 40, {0x2A51, 'B', '0', '3'}}, {1, X, X, X}},
        OemCase{"unprotected_version", {99, 40, {0x2A51, 'B', '1', '3'}}, {0, X, X, X}},
        OemCase{"password_set", {10, 0, {1024, 2048}, {1}}, {0, X, X, X}},
        OemCase{"password_length", {10, 3, {1024, 2048}, {1}}, {0, 12u << 8, X, X}},
        OemCase{"password_accepted", {10, 4, {1024, 2048}, {1}}, {0, X, X, X}},
        OemCase{"unknown_call_keeps_presets", {1, 0, {0x8005, 1}, {7, 8, 9, 10}}, {7, 8, 9, 10}}),
    [](const auto& param) { return std::string(param.param.what); });

TEST(OemIdentity, IdentityAreaAndNameLandWhereTheInputsPoint) {
  Rig rig(Preset("uefi-16m"));
  const auto out = Issue(rig, {99, 15, {rig.physical + 1024, rig.physical + 2048}, {1}});
  ASSERT_EQ(out[0], 0u);
  const auto area = rig.block.subspan(1024, 1024);
  auto find = [&](const char* tag) {
    for (size_t i = 0; i + 4 <= area.size(); ++i) {
      if (std::memcmp(area.data() + i, tag, 4) == 0) return static_cast<long>(i);
    }
    return -1L;
  };
  const long bv = find("$BV#");
  const long kor = find("$KOR");
  ASSERT_GE(bv, 0);
  ASSERT_GT(kor, bv);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(area.data() + bv + 7), 3), "B12");
  EXPECT_EQ(LoadLe16(area.data() + kor + 4), 0x2A51);
  EXPECT_EQ(area[kor + 9], 0xFE);
  EXPECT_EQ(core::BoundedCString(area, kor + 12), "Korv Tablet 16");
  EXPECT_EQ(core::BoundedCString(rig.block, 2048, 20), "Korv Tablet 16");
}

TEST(OemIdentity, AddressesOutsideTheBlockAreRefused) {
  Rig rig(Preset("uefi-16m"), 5120);
  // 4 KiB from +2048 does not fit a 5120-byte block.
  const auto out = Issue(rig, {99, 15, {rig.physical + 2048, rig.physical + 1024}, {1}});
  EXPECT_EQ(out[0], 1u);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
  const auto low = Issue(rig, {99, 15, {rig.physical - 4096, rig.physical + 1024}, {1}});
  EXPECT_EQ(low[0], 1u);
}

TEST(OemCallsDisabled, LegacyMachineLeavesEveryPresetInPlace) {
  Rig rig(Preset("minimal-1m"));
  for (const Call& c : {Call{99, 15, {}, {1}}, Call{99, 17, {}, {1}}, Call{99, 31, {}, {255, 255}},
                        Call{99, 40, {}, {0}}, Call{10, 0, {}, {1}}}) {
    const auto out = Issue(rig, c);
    EXPECT_EQ(out, c.preset) << c.cls << "/" << c.select;
    EXPECT_EQ(rig.LastSmi()["answered"], false);
  }
}

// --- records the firmware leaves in the legacy segments -------------------------------

long Find(std::span<const uint8_t> segment, const char* tag, size_t n = 4) {
  for (size_t i = 0; i + n <= segment.size(); ++i) {
    if (std::memcmp(segment.data() + i, tag, n) == 0) return static_cast<long>(i);
  }
  return -1;
}

TEST(SegmentRecords, AsfEcbAndStatusRecordCarryTheProfileFields) {
  Profile p = Preset("legacy-8m");
  p.ecb.flags = 0x51;
  Rig rig(p);
  auto f = rig.machine->FSegment();
  auto e = rig.machine->ESegment();
  const long asf = Find(f, "$ASF");
  ASSERT_EQ(asf, 0x120);
  EXPECT_EQ(f[asf + 4], 16);
  EXPECT_EQ(LoadLe16(f.data() + asf + 12), 0xB2);
  const long ecb = Find(e, "$ECB");
  ASSERT_EQ(ecb, 0x200);
  EXPECT_EQ(e[ecb + 4], 0x51);
  EXPECT_EQ(LoadLe32(e.data() + ecb + 5), 0x40000u);
  EXPECT_EQ(LoadLe32(e.data() + ecb + 9), 0x20000u);
  EXPECT_EQ(LoadLe16(e.data() + ecb + 17), 0x100);
  EXPECT_EQ(LoadLe32(e.data() + ecb + 19), 0x00FFFFFFu);
  for (int bit = 0; bit < 4; ++bit) {
    const uint16_t at = LoadLe16(e.data() + ecb + 23 + 2 * bit);
    EXPECT_EQ(core::BoundedCString(e, at), p.ecb.messages[bit]);
  }
  EXPECT_EQ(Find(e, "ECB1"), 0x300);
}

TEST(SegmentRecords, EmptyRefusalTextLeavesItsOffsetZero) {
  Profile p = Preset("legacy-8m");
  p.ecb.messages[1] = "";
  Rig rig(p);
  auto e = rig.machine->ESegment();
  EXPECT_EQ(LoadLe16(e.data() + 0x200 + 25), 0);
  EXPECT_NE(LoadLe16(e.data() + 0x200 + 23), 0);
}

TEST(SegmentRecords, RunningIdentityMarkersSitInTheFSegment) {
  Rig rig(Preset("legacy-8m"));
  auto f = rig.machine->FSegment();
  const long bv = Find(f, "$BV#");
  const long kor = Find(f, "$KOR");
  const long sys = Find(f, "Korv System", 11);
  ASSERT_GE(bv, 0);
  ASSERT_GT(kor, bv);
  ASSERT_GE(sys, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data() + bv + 7), 3), "A06");
  EXPECT_EQ(LoadLe16(f.data() + kor + 4), 0x1234);
  EXPECT_EQ(f[kor + 9], 0x9A);
  EXPECT_EQ(core::BoundedCString(f, kor + 12), "Korv 9A");
  EXPECT_EQ(core::BoundedCString(f, kor + 12 + 8), "Korv 9A Pro");
  EXPECT_EQ(core::BoundedCString(f, sys + 12, 20), "Korv 9A");
  // On a machine that reports its identity through OEM calls, the segment holds none.
  Rig uefi(Preset("uefi-16m"));
  EXPECT_EQ(Find(uefi.machine->FSegment(), "$BV#"), -1);
}

TEST(SegmentRecords, RecordAtTheLastOffsetsIsPresentButCut) {
  Profile p = Preset("legacy-8m");
  p.asf.offset = 65531;
  Rig rig(p);
  auto f = rig.machine->FSegment();
  // A searcher that stops at 65530 must miss it; one that reads past 65535 would see it.
  EXPECT_EQ(Find(f.first(65535), "$ASF"), 65531);
  EXPECT_EQ(f[65535], 16);  // the slot distance, the last byte of the segment
}

TEST(SegmentRecords, MappedViewsReachTheSameBytes) {
  Rig rig(Preset("legacy-8m"));
  std::array<uint8_t, 24> rec{};
  core::StoreLe32(rec.data() + 8, 65535);
  core::StoreLe32(rec.data() + 12, 0xF0000);
  uint32_t got = 0;
  ASSERT_TRUE(rig.machine->Driver().Control(0xFA002EE8, rec, got));
  EXPECT_EQ(got, 24u);
  auto view = rig.machine->Driver().Memory(core::LoadLe64(rec.data() + 16), 65535);
  ASSERT_EQ(view.size(), 65535u);
  EXPECT_EQ(Find(view, "$ASF"), 0x120);
  EXPECT_TRUE(rig.machine->Driver().Memory(core::LoadLe64(rec.data() + 16), 65536).empty());
}

TEST(Fadt, TableNamesTheSmiPortAndChecksumsToZero) {
  Profile p = Preset("uefi-16m");
  p.fadt.smiCmd = 0xB0;
  Rig rig(p);
  const auto t = rig.machine->FadtTable();
  ASSERT_GE(t.size(), 52u);
  EXPECT_EQ(std::string(t.begin(), t.begin() + 4), "FACP");
  EXPECT_EQ(LoadLe16(t.data() + 48), 0xB0);
  EXPECT_EQ(core::Sum8(t), 0);
  EXPECT_TRUE(rig.machine->IsUefi());
  p.fadt.present = false;
  Rig none(p);
  EXPECT_TRUE(none.machine->FadtTable().empty());
}

}  // namespace
}  // namespace nox::sim::test

#include <gtest/gtest.h>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

struct RecordCase {
  uint32_t code;
  size_t rightLength;
};

class RecordLength : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordLength, OnlyTheExactRecordLengthIsServed) {
  Rig rig(Preset("legacy-8m"));
  for (size_t length : {GetParam().rightLength - 1, GetParam().rightLength + 1, size_t{0}}) {
    std::vector<uint8_t> rec(length, 0);
    uint32_t got = 99;
    EXPECT_FALSE(rig.machine->Driver().Control(GetParam().code, rec, got)) << length;
    EXPECT_EQ(got, 0u);
  }
  EXPECT_EQ(rig.machine->GetJournal().Entries().back()["event"], "driver");
}

INSTANTIATE_TEST_SUITE_P(Requests, RecordLength,
                         ::testing::Values(RecordCase{0xFA002EE0, 20}, RecordCase{0xFA002EE4, 8},
                                           RecordCase{0xFA002EE8, 24}, RecordCase{0xFA002EFC, 22}),
                         [](const auto& param) { return "record" + std::to_string(param.param.rightLength); });

TEST(DriverEnd, UnknownControlCodesAreRefused) {
  Rig rig(Preset("legacy-8m"));
  std::vector<uint8_t> rec(22, 0);
  uint32_t got = 0;
  // The 9x codes and a neighbour of the NT ones.
  for (uint32_t code : {1u, 3u, 7u, 0xFA002EECu}) EXPECT_FALSE(rig.machine->Driver().Control(code, rec, got));
}

TEST(DriverEnd, BlockAddressSurvivesSignExtensionOnlyWhenSignExtended) {
  Rig rig(Preset("legacy-8m"));
  std::array<uint8_t, 8> release{};
  uint32_t got = 0;
  ASSERT_TRUE(rig.machine->Driver().Control(0xFA002EE4, release, got));
  std::array<uint8_t, 20> rec{};
  core::StoreLe32(rec.data(), 5120);
  ASSERT_TRUE(rig.machine->Driver().Control(0xFA002EE0, rec, got));
  EXPECT_EQ(got, 20u);
  const uint32_t program = core::LoadLe32(rec.data() + 4);
  const uint32_t physical = core::LoadLe32(rec.data() + 8);
  EXPECT_EQ(physical, rig.physical);  // a stable address, below 4 GiB
  const uint64_t signExtended = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(program)));
  EXPECT_EQ(rig.machine->Driver().Memory(signExtended, 5120).size(), 5120u);
  EXPECT_TRUE(rig.machine->Driver().Memory(uint64_t{program}, 16).empty());
  EXPECT_TRUE(rig.machine->Driver().Memory(signExtended + 5000, 121).empty());
  // Fresh memory is not zeroed for the caller.
  EXPECT_EQ(rig.machine->Driver().Memory(signExtended, 1)[0], 0xCC);
}

TEST(DriverEnd, OneBlockAtATime) {
  Rig rig(Preset("legacy-8m"));
  std::array<uint8_t, 20> rec{};
  core::StoreLe32(rec.data(), 65536);
  uint32_t got = 0;
  EXPECT_FALSE(rig.machine->Driver().Control(0xFA002EE0, rec, got));
  core::StoreLe32(rec.data(), 65537);
  std::array<uint8_t, 8> release{};
  ASSERT_TRUE(rig.machine->Driver().Control(0xFA002EE4, release, got));
  EXPECT_FALSE(rig.machine->Driver().Control(0xFA002EE0, rec, got));
  // After the release the old program address no longer reaches anything.
  EXPECT_TRUE(rig.machine->Driver().Memory(DriverEnd::kBlockProgram, 1).empty());
}

TEST(DriverEnd, MapsOnlyTheFirmwareSegments) {
  Rig rig(Preset("legacy-8m"));
  struct { uint32_t physical, length; bool ok; } cases[] = {
      {0xE0000, 65535, true}, {0xF0000, 65535, true}, {0xF0000, 65537, false},
      {0xD0000, 16, false},   {0x7FF00000, 4096, false}, {0xE0000, 0, false}};
  for (const auto& c : cases) {
    std::array<uint8_t, 24> rec{};
    core::StoreLe32(rec.data() + 8, c.length);
    core::StoreLe32(rec.data() + 12, c.physical);
    uint32_t got = 0;
    EXPECT_EQ(rig.machine->Driver().Control(0xFA002EE8, rec, got), c.ok) << std::hex << c.physical;
  }
  // Only what was mapped resolves.
  EXPECT_TRUE(rig.machine->Driver().Memory(DriverEnd::kMapBase + 0xD0000, 1).empty());
}

TEST(DriverEnd, PortWriteRecordFieldsAreChecked) {
  Rig rig(Preset("legacy-8m"));
  auto send = [&](uint32_t space, uint32_t zero, uint32_t port) {
    std::array<uint8_t, 22> rec{};
    core::StoreLe32(rec.data(), port);
    core::StoreLe32(rec.data() + 4, space);
    core::StoreLe32(rec.data() + 8, zero);
    rec[12] = 0x24;
    core::StoreLe32(rec.data() + 16, rig.physical);
    uint32_t got = 0;
    return rig.machine->Driver().Control(0xFA002EFC, rec, got);
  };
  EXPECT_FALSE(send(0, 0, 0xB2));
  EXPECT_FALSE(send(1, 1, 0xB2));
  EXPECT_FALSE(send(1, 0, 0x100B2));
  EXPECT_EQ(rig.machine->State().smiCount, 0u);
  EXPECT_TRUE(send(1, 0, 0xB2));
  EXPECT_EQ(rig.machine->State().smiCount, 1u);
}

TEST(DriverEnd, StaleAddressSlotIsReportedButEbxDecides) {
  Rig rig(Preset("legacy-8m"));
  uint8_t* slot = rig.machine->FSegment().data() + 0x120 + 16;
  // A slot never written (the port came from the FADT) is no misuse.
  size_t before = rig.machine->GetJournal().Entries().size();
  rig.Read(0);
  EXPECT_EQ(rig.machine->GetJournal().Entries().size(), before + 1);
  // A slot that holds another address is reported; EBX still decides.
  core::StoreLe32(slot, rig.physical + 0x1000);
  rig.Read(0);
  auto entries = rig.machine->GetJournal().Entries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2]["event"], "address-slot");
  EXPECT_EQ(rig.Status(), 0);
  // With the slot written as the utility must, no report.
  core::StoreLe32(slot, rig.physical);
  before = rig.machine->GetJournal().Entries().size();
  rig.Read(0);
  EXPECT_EQ(rig.machine->GetJournal().Entries().size(), before + 1);
}

}  // namespace
}  // namespace nox::sim::test

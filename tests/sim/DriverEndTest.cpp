#include <gtest/gtest.h>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

TEST(DriverEnd, OnlyKnownCodesWithTheExactRecordLengthAreServed) {
  Rig rig(Preset("legacy-8m"));
  struct Case { uint32_t code; size_t length; };
  for (const Case& c : {Case{0xFA002EE0, 20}, Case{0xFA002EE4, 8}, Case{0xFA002EE8, 24}, Case{0xFA002EFC, 22}}) {
    for (size_t length : {c.length - 1, c.length + 1, size_t{0}}) {
      std::vector<uint8_t> rec(length, 0);
      uint32_t got = 99;
      EXPECT_FALSE(rig.machine->Driver().Control(c.code, rec, got)) << std::hex << c.code << " " << length;
      EXPECT_EQ(got, 0u);
    }
  }
  EXPECT_EQ(rig.Entries().back()["event"], "driver");
  std::vector<uint8_t> rec(22, 0);
  // The 9x codes and a neighbour of the NT ones.
  for (uint32_t code : {1u, 3u, 7u, 0xFA002EECu}) EXPECT_FALSE(rig.Control(code, rec)) << code;
}

TEST(DriverEnd, OneBlockAtATimeReachableOnlyThroughTheSignExtendedAddress) {
  Rig rig(Preset("legacy-8m"));
  std::array<uint8_t, 20> rec{};
  core::StoreLe32(rec.data(), 65536);
  EXPECT_FALSE(rig.Control(0xFA002EE0, rec));  // one is allocated already
  std::array<uint8_t, 8> release{};
  ASSERT_TRUE(rig.Control(0xFA002EE4, release));
  EXPECT_TRUE(rig.machine->Driver().Memory(DriverEnd::kBlockProgram, 1).empty());
  core::StoreLe32(rec.data(), 65537);
  EXPECT_FALSE(rig.Control(0xFA002EE0, rec));
  core::StoreLe32(rec.data(), 5120);
  uint32_t got = 0;
  ASSERT_TRUE(rig.machine->Driver().Control(0xFA002EE0, rec, got));
  EXPECT_EQ(got, 20u);
  const uint32_t program = core::LoadLe32(rec.data() + 4);
  EXPECT_EQ(core::LoadLe32(rec.data() + 8), rig.physical);  // a stable address, below 4 GiB
  const uint64_t extended = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(program)));
  auto& driver = rig.machine->Driver();
  EXPECT_EQ(driver.Memory(extended, 5120).size(), 5120u);
  EXPECT_TRUE(driver.Memory(uint64_t{program}, 16).empty());
  EXPECT_TRUE(driver.Memory(extended + 5000, 121).empty());
  EXPECT_EQ(driver.Memory(extended, 1)[0], 0xCC);  // fresh memory is not zeroed for the caller
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
    if (!c.ok) continue;
    EXPECT_EQ(got, 24u);
    // The view reaches the segment's bytes, and no further.
    const uint64_t program = core::LoadLe64(rec.data() + 16);
    const auto view = rig.machine->Driver().Memory(program, c.length);
    EXPECT_TRUE(std::equal(view.begin(), view.end(), rig.machine->Segments().begin() + (c.physical - 0xE0000)));
    EXPECT_TRUE(rig.machine->Driver().Memory(program, c.length + 1).empty());
  }
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
    return rig.Control(0xFA002EFC, rec);
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
  // A slot never written (the port came from the FADT) or written as the utility must is no
  // misuse; one that holds another address is reported, and EBX still decides.
  for (uint32_t value : {0u, rig.physical + 0x1000, rig.physical}) {
    if (value) core::StoreLe32(slot, value);
    const size_t before = rig.Entries().size();
    EXPECT_EQ(rig.Read(0), 0);
    const auto entries = rig.Entries();
    const bool stale = value == rig.physical + 0x1000;
    ASSERT_EQ(entries.size(), before + (stale ? 2 : 1)) << value;
    EXPECT_EQ(entries[before].value("event", "") == "address-slot", stale);
  }
}

}  // namespace
}  // namespace nox::sim::test

// Driver records that the utility's correct code never sends, and the driver's own rules
// the utility must live with: one block at a time, each at addresses of its own that only
// sign extension reaches, views of the firmware segments and nothing else.
#include <gtest/gtest.h>

#include <set>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

uint64_t SignExtended(uint32_t program) { return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(program))); }

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

TEST(DriverEnd, EveryAllocationHasAddressesOfItsOwnReachedOnlyBySignExtension) {
  Rig rig(Preset("legacy-8m"));
  auto& driver = rig.machine->Driver();
  std::array<uint8_t, 20> rec{};
  core::StoreLe32(rec.data(), 65536);
  EXPECT_FALSE(rig.Control(0xFA002EE0, rec));  // one is allocated already
  std::set<uint32_t> physicals{rig.physical}, programs{rig.program32};
  for (int i = 0; i < 3; ++i) {
    const uint64_t released = SignExtended(rig.program32);
    rig.Reallocate(5120);
    EXPECT_TRUE(physicals.insert(rig.physical).second && programs.insert(rig.program32).second) << "reused at once";
    EXPECT_TRUE(driver.Memory(released, 1).empty()) << "a released block is gone";
    EXPECT_NE(rig.program32 & 0x80000000u, 0u);
    EXPECT_TRUE(driver.Memory(uint64_t{rig.program32}, 16).empty()) << "reached without sign extension";
    EXPECT_TRUE(driver.Memory(SignExtended(rig.program32) + 5000, 121).empty());
  }
  std::array<uint8_t, 8> release{};
  ASSERT_TRUE(rig.Control(0xFA002EE4, release));
  core::StoreLe32(rec.data(), 65537);
  EXPECT_FALSE(rig.Control(0xFA002EE0, rec));
  core::StoreLe32(rec.data(), 4096);
  ASSERT_TRUE(rig.Control(0xFA002EE0, rec));
  EXPECT_EQ(driver.Memory(SignExtended(core::LoadLe32(rec.data() + 4)), 1)[0], 0xCC)
      << "fresh memory is not zeroed for the caller";
}

// The view of a mapped segment reaches the segment's bytes, and no further.
TEST(DriverEnd, MapsOnlyTheFirmwareSegments) {
  Rig rig(Preset("legacy-8m"));
  auto& driver = rig.machine->Driver();
  struct { uint32_t physical, length; bool ok; } cases[] = {
      {0xE0000, 65535, true}, {0xF0000, 65535, true}, {0xF0000, 65537, false},
      {0xD0000, 16, false},   {0x7FF00000, 4096, false}, {0xE0000, 0, false}};
  for (const auto& c : cases) {
    std::array<uint8_t, 24> rec{};
    core::StoreLe32(rec.data() + 8, c.length);
    core::StoreLe32(rec.data() + 12, c.physical);
    uint32_t got = 0;
    EXPECT_EQ(driver.Control(0xFA002EE8, rec, got), c.ok) << std::hex << c.physical;
    if (!c.ok) continue;
    EXPECT_EQ(got, 24u);
    const uint64_t program = core::LoadLe64(rec.data() + 16);
    const auto view = driver.Memory(program, c.length);
    EXPECT_TRUE(std::equal(view.begin(), view.end(), rig.machine->Segments().begin() + (c.physical - 0xE0000)));
    EXPECT_TRUE(driver.Memory(program, c.length + 1).empty());
  }
  EXPECT_TRUE(driver.Memory(DriverEnd::kMapBase + 0xD0000, 1).empty());
}

// Each record as the utility must build it, then one field spoiled: reserved bytes are
// zero, the port record's fixed fields hold their values, and release is not read at all.
TEST(DriverEnd, RecordFieldsAndReservedBytesAreChecked) {
  struct Case { const char* what; uint32_t code; size_t at; uint32_t value; bool word, served; };
  const Case cases[] = {
      {"allocate byte 12", 0xFA002EE0, 12, 1, false, false}, {"allocate byte 19", 0xFA002EE0, 19, 0x80, false, false},
      {"map byte 0", 0xFA002EE8, 0, 1, false, false},        {"map byte 7", 0xFA002EE8, 7, 1, false, false},
      {"port byte 13", 0xFA002EFC, 13, 1, false, false},     {"port byte 15", 0xFA002EFC, 15, 1, false, false},
      {"port space 0", 0xFA002EFC, 4, 0, true, false},       {"port offset 8", 0xFA002EFC, 8, 1, true, false},
      {"port 0x100B2", 0xFA002EFC, 0, 0x100B2, true, false}, {"release of anything", 0xFA002EE4, 0, 0xFF, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig(Preset("legacy-8m"));
    // allocate: size; map: length and address; port: port, I/O space, command, EBX.
    std::vector<uint8_t> rec(c.code == 0xFA002EE0 ? 20 : c.code == 0xFA002EE8 ? 24 : c.code == 0xFA002EFC ? 22 : 8, 0);
    if (c.code == 0xFA002EE0) {
      rig.machine->ReleaseSharedBlock();
      core::StoreLe32(rec.data(), 4096);
    } else if (c.code == 0xFA002EE8) {
      core::StoreLe32(rec.data() + 8, 65535);
      core::StoreLe32(rec.data() + 12, 0xF0000);
    } else if (c.code == 0xFA002EFC) {
      core::StoreLe32(rec.data(), 0xB2);
      core::StoreLe32(rec.data() + 4, 1);
      rec[12] = 0x24;
      core::StoreLe32(rec.data() + 16, rig.physical);
    }
    if (c.word) {
      core::StoreLe32(rec.data() + c.at, c.value);
    } else {
      rec[c.at] = static_cast<uint8_t>(c.value);
    }
    EXPECT_EQ(rig.Control(c.code, rec), c.served);
    EXPECT_EQ(rig.Entries().back().contains("misuse"), !c.served) << rig.Entries().back().dump();
    EXPECT_EQ(rig.machine->State().smiCount, 0u);
  }
}

// Where the handler finds the shared block: in the "$ASF" slot for the commands the utility
// raises through it, once the utility can know the slot; in EBX for everything else. What
// the utility sends is accepted in the firmware layer's tests; here what it must not send.
TEST(SharedBlockAddress, TheSlotDecidesOnceTheUtilityKnowsItEbxOtherwise) {
  enum Value { kZero, kCurrent, kStale, kOther };
  struct Case {
    const char* what;
    bool fadtPort;  // the FADT names the port, so the probe does not look for "$ASF"
    int maps;       // of the F segment so far
    uint8_t command;
    Value slot, ebx;
    const char* misuse;
  };
  const char* kZeroSlot = "address slot is zero: the shared block's address was not published";
  const Case cases[] = {
      {"opened: the slot decides", true, 2, 33, kCurrent, kOther, ""},
      {"opened: zero slot", true, 2, 33, kZero, kCurrent, kZeroSlot},
      {"opened: released block in the slot", true, 2, 13, kStale, kCurrent,
       "address slot holds a released shared block's address"},
      {"opened: another address in the slot", true, 2, 37, kOther, kCurrent,
       "address slot does not hold the shared block's address"},
      {"no FADT port: known from the first look", false, 1, 36, kZero, kCurrent, kZeroSlot},
      {"secure-flash OFBD goes by the slot", true, 2, 'p', kZero, kCurrent, kZeroSlot},
      {"released block in EBX", true, 2, 32, kCurrent, kStale, "EBX holds a released shared block's address"},
      {"nothing in EBX", false, 0, 33, kZero, kZero, "EBX does not hold the shared block's address"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Profile p = Preset("legacy-8m");
    p.fadt.present = c.fadtPort;
    Rig rig(p);
    const uint32_t stale = rig.physical;
    rig.Reallocate();
    for (int i = 0; i < c.maps; ++i) rig.MapFSegment();
    const auto value = [&](Value v) {
      return v == kZero ? 0 : v == kCurrent ? rig.physical : v == kStale ? stale : rig.physical + 0x1000;
    };
    rig.PutSlot(value(c.slot));
    if (c.command == 'p') {
      PutOfbd(rig, 64, 'p', 2, 4);  // the capability query, with the byte its answer clears
      rig.block[28 + 258] = 1;
    } else {
      rig.PutRequest(0, 1024);
    }
    rig.Raise(c.command == 'p' ? 38 : c.command, 0xB2, value(c.ebx));
    EXPECT_EQ(rig.LastSmi().value("misuse", ""), c.misuse) << rig.LastSmi().dump();
  }
}

}  // namespace
}  // namespace nox::sim::test

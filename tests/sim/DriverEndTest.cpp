#include <gtest/gtest.h>

#include <functional>
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
    EXPECT_TRUE(physicals.insert(rig.physical).second) << "physical address reused at once";
    EXPECT_TRUE(programs.insert(rig.program32).second) << "program address reused at once";
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

// Each record as the utility must build it, then one field spoiled: reserved bytes are
// zero, the port record's fixed fields hold their values, and release is not read at all.
TEST(DriverEnd, RecordFieldsAndReservedBytesAreChecked) {
  struct Case {
    const char* what;
    uint32_t code;
    std::function<void(std::span<uint8_t>)> spoil;
    bool served;
  };
  auto byte = [](size_t at, uint8_t v) { return [=](std::span<uint8_t> r) { r[at] = v; }; };
  auto word = [](size_t at, uint32_t v) { return [=](std::span<uint8_t> r) { core::StoreLe32(r.data() + at, v); }; };
  const Case cases[] = {
      {"allocate byte 12", 0xFA002EE0, byte(12, 1), false}, {"allocate byte 19", 0xFA002EE0, byte(19, 0x80), false},
      {"map byte 0", 0xFA002EE8, byte(0, 1), false},        {"map byte 7", 0xFA002EE8, byte(7, 1), false},
      {"port byte 13", 0xFA002EFC, byte(13, 1), false},     {"port byte 15", 0xFA002EFC, byte(15, 1), false},
      {"port space 0", 0xFA002EFC, word(4, 0), false},      {"port offset 8", 0xFA002EFC, word(8, 1), false},
      {"port 0x100B2", 0xFA002EFC, word(0, 0x100B2), false}, {"release of anything", 0xFA002EE4, byte(0, 0xFF), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig(Preset("legacy-8m"));
    std::vector<uint8_t> rec;
    switch (c.code) {
      case 0xFA002EE0:
        rig.machine->ReleaseSharedBlock();
        rec.assign(20, 0);
        core::StoreLe32(rec.data(), 4096);
        break;
      case 0xFA002EE8:
        rec.assign(24, 0);
        core::StoreLe32(rec.data() + 8, 65535);
        core::StoreLe32(rec.data() + 12, 0xF0000);
        break;
      case 0xFA002EFC:
        rec.assign(22, 0);
        core::StoreLe32(rec.data(), 0xB2);
        core::StoreLe32(rec.data() + 4, 1);
        rec[12] = 0x24;
        core::StoreLe32(rec.data() + 16, rig.physical);
        break;
      default: rec.assign(8, 0);
    }
    c.spoil(rec);
    EXPECT_EQ(rig.Control(c.code, rec), c.served);
    EXPECT_EQ(rig.Entries().back().contains("misuse"), !c.served) << rig.Entries().back().dump();
    EXPECT_EQ(rig.machine->State().smiCount, 0u);
  }
}

// Where the handler finds the shared block: in the "$ASF" slot for the commands the utility
// raises through it, once the utility can know the slot; in EBX for everything else.
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
      {"probe by the FADT's port: slot unknown", true, 1, 39, kZero, kCurrent, ""},
      {"probe by the FADT's port: an old slot is not read", true, 1, 13, kStale, kCurrent, ""},
      {"opened: the slot decides", true, 2, 33, kCurrent, kOther, ""},
      {"opened: zero slot", true, 2, 33, kZero, kCurrent, kZeroSlot},
      {"opened: released block in the slot", true, 2, 13, kStale, kCurrent,
       "address slot holds a released shared block's address"},
      {"opened: another address in the slot", true, 2, 37, kOther, kCurrent,
       "address slot does not hold the shared block's address"},
      {"no FADT port: known from the first look", false, 1, 36, kZero, kCurrent, kZeroSlot},
      {"enable goes by EBX", true, 2, 32, kZero, kCurrent, ""},
      {"OFBD goes by EBX", true, 2, 38, kZero, kCurrent, ""},
      {"secure-flash OFBD goes by the slot", true, 2, 'p', kZero, kCurrent, kZeroSlot},
      {"secure-flash OFBD with the slot", true, 2, 'p', kCurrent, kCurrent, ""},
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
    uint8_t command = c.command;
    if (command == 'p') {
      PutOfbd(rig, 64, 'p', 2, 4);  // the capability query, with the byte its answer clears
      rig.block[28 + 258] = 1;
      command = 38;
    } else if (command == 38) {
      PutOfbd(rig, 0, 0, 0);
    } else {
      rig.PutRequest(0, 1024);
    }
    rig.Raise(command, 0xB2, value(c.ebx));
    EXPECT_EQ(rig.LastSmi().value("misuse", ""), c.misuse) << rig.LastSmi().dump();
  }
}

}  // namespace
}  // namespace nox::sim::test

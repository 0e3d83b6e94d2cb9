// Requests that the utility's correct code never sends, written byte by byte: driver records of
// another layout, shared-block addresses it must not announce, flash commands, OFBD blocks and
// OEM calls with wrong offsets or fields. Each is journaled as misuse and leaves the flash part
// and the block as they were. What the utility does send is proven against the same machine in
// the firmware layer's tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

// Raises `command` on what the block holds now and expects it journaled as `misuse`, with the
// flash part and the block left as they were but for the status byte, which becomes `status`
// where the handler answers one.
void ExpectRefused(Rig& rig, uint8_t command, const std::string& misuse, int status = -1, uint32_t ebx = 0xFFFFFFFF) {
  std::vector<uint8_t> block(rig.block.begin(), rig.block.end());
  const std::vector<uint8_t> flash(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
  if (status >= 0) block[16] = static_cast<uint8_t>(status);
  rig.Raise(command, 0xB2, ebx);
  EXPECT_EQ(rig.LastSmi().value("misuse", ""), misuse) << rig.LastSmi().dump();
  EXPECT_TRUE(std::ranges::equal(block, rig.block) && std::ranges::equal(flash, rig.machine->Flash().Bytes()));
}

// --- driver records ------------------------------------------------------------------------

// Each record as the utility must build it, then one field spoiled: reserved bytes are zero,
// the port record's fixed fields hold their values, only the firmware segments are mapped;
// release is not read at all. Unknown codes and records of another length are refused
// outright.
TEST(DriverEnd, RecordsOfAnotherLayoutAreRefused) {
  // Length and u32 fields (offset, value) of each record: 4096 bytes to allocate, 65535 bytes of
  // the F segment to map, 0x24 written to port 0xB2 in I/O space.
  struct Layout { size_t length; std::vector<std::pair<size_t, uint32_t>> fields; };
  const std::map<uint32_t, Layout> kRecords = {{0xFA002EE0, {20, {{0, 4096}}}}, {0xFA002EE4, {8, {}}},
                                               {0xFA002EE8, {24, {{8, 65535}, {12, 0xF0000}}}},
                                               {0xFA002EFC, {22, {{0, 0xB2}, {4, 1}, {12, 0x24}}}}};
  Rig rig(Preset("legacy-8m"));
  for (const auto& [code, layout] : kRecords) {
    for (size_t wrong : {layout.length - 1, layout.length + 1, size_t{0}}) {
      std::vector<uint8_t> rec(wrong, 0);
      EXPECT_FALSE(rig.Control(code, rec)) << std::hex << code << " " << wrong;
      EXPECT_TRUE(rig.Entries().back().contains("misuse")) << rig.Entries().back().dump();
    }
  }
  std::vector<uint8_t> any(22, 0);
  // The 9x codes and a neighbour of the NT ones.
  for (uint32_t code : {1u, 3u, 7u, 0xFA002EECu}) EXPECT_FALSE(rig.Control(code, any)) << code;
  // One u32 of the record spoiled: `at` and the value it gets.
  struct Case { const char* what; uint32_t code; size_t at; uint32_t value; bool served; };
  const Case cases[] = {
      {"allocate byte 12", 0xFA002EE0, 12, 1, false},         {"allocate byte 19", 0xFA002EE0, 16, 0x80000000, false},
      {"map byte 0", 0xFA002EE8, 0, 1, false},                {"map byte 7", 0xFA002EE8, 4, 0x01000000, false},
      {"map 65537 bytes", 0xFA002EE8, 8, 65537, false},       {"map no bytes", 0xFA002EE8, 8, 0, false},
      {"map 0xD0000", 0xFA002EE8, 12, 0xD0000, false},        {"map 0x7FF00000", 0xFA002EE8, 12, 0x7FF00000, false},
      {"port byte 13", 0xFA002EFC, 12, 0x00000124, false},    {"port byte 15", 0xFA002EFC, 12, 0x01000024, false},
      {"port space 0", 0xFA002EFC, 4, 0, false},              {"port offset 8", 0xFA002EFC, 8, 1, false},
      {"port 0x100B2", 0xFA002EFC, 0, 0x100B2, false},        {"release of anything", 0xFA002EE4, 0, 0xFF, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig fresh(Preset("legacy-8m"));
    if (c.code == 0xFA002EE0) fresh.machine->ReleaseSharedBlock();
    std::vector<uint8_t> rec(kRecords.at(c.code).length, 0);
    for (const auto& [at, value] : kRecords.at(c.code).fields) core::StoreLe32(rec.data() + at, value);
    core::StoreLe32(rec.data() + c.at, c.value);
    EXPECT_EQ(fresh.Control(c.code, rec), c.served);
    EXPECT_EQ(fresh.Entries().back().contains("misuse"), !c.served) << fresh.Entries().back().dump();
    EXPECT_EQ(fresh.machine->State().smiCount, 0u);
  }
}

// Every allocation has addresses of its own, reached only by sign extension; a mapped segment's
// view reaches the segment's bytes, and no further.
TEST(DriverEnd, AllocationsAndMappingsHaveAddressesOfTheirOwnAndViewsNoLargerThanAsked) {
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
  for (const uint32_t physical : {0xE0000u, 0xF0000u}) {
    const uint64_t program = rig.MapSegment(physical);
    const auto view = driver.Memory(program, 65535);
    EXPECT_TRUE(std::equal(view.begin(), view.end(), rig.machine->Segments().begin() + (physical - 0xE0000)));
    EXPECT_TRUE(driver.Memory(program, 65536).empty()) << std::hex << physical;
  }
  EXPECT_TRUE(driver.Memory(DriverEnd::kMapBase + 0xD0000, 1).empty());
}

// Where the handler finds the shared block: in the "$ASF" slot for the commands the utility
// raises through it, once the utility can know the slot (then EBX does not count); in EBX for
// everything else.
TEST(SharedBlockAddress, TheSlotDecidesOnceTheUtilityKnowsItEbxOtherwise) {
  enum Value { kZero, kCurrent, kStale, kOther };
  // `fadtPort`: the FADT names the port, so the probe does not look for "$ASF"; `maps`: of
  // the F segment so far.
  struct Case { const char* what; bool fadtPort; int maps; uint8_t command; Value slot, ebx; const char* misuse; };
  const char* kZeroSlot = "address slot is zero: the shared block's address was not published";
  const Case cases[] = {
      {"opened: the slot decides", true, 2, 33, kCurrent, kOther, ""},
      {"opened: zero slot", true, 2, 33, kZero, kCurrent, kZeroSlot},
      {"opened: stale slot", true, 2, 13, kStale, kCurrent, "address slot holds a released shared block's address"},
      {"opened: other slot", true, 2, 37, kOther, kCurrent, "address slot does not hold the shared block's address"},
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
    for (int i = 0; i < c.maps; ++i) rig.MapSegment();
    const auto value = [&](Value v) {
      return v == kZero ? 0 : v == kCurrent ? rig.physical : v == kStale ? stale : rig.physical + 0x1000;
    };
    const AsfProfile& asf = rig.machine->GetProfile().asf;  // the u32 the "$ASF" record points at
    core::StoreLe32(rig.machine->FSegment().data() + asf.offset + asf.slotDistance, value(c.slot));
    if (c.command == 'p') {
      PutSecure(rig, 4);  // the capability query, with the byte its answer clears
      rig.block[kBehind + 258] = 1;
    } else {
      rig.PutRequest(0, 1024);
    }
    if (*c.misuse) {
      ExpectRefused(rig, c.command == 'p' ? 38 : c.command, c.misuse, -1, value(c.ebx));
    } else {
      rig.Raise(c.command, 0xB2, value(c.ebx));
      EXPECT_FALSE(rig.LastSmi().contains("misuse")) << rig.LastSmi().dump();
    }
  }
}

// --- flash commands ------------------------------------------------------------------------

// On a chip whose block table starts above 0, so that requests below the table are misuse too.
TEST(FlashCommands, MisusedRequestsAndAShortBlockAreJournaledAndNeverAnsweredAsSuccess) {
  const char* kNoSignature = "no \"$NOX\" signature at 1041";
  const char* kOutside = "range outside the flash part";
  const char* kBelow = "range below the block table's first address";
  struct Case { void (*spoil)(Rig&); uint8_t command; const char* misuse; int status; };
  const Case cases[] = {
      {[](Rig& r) { r.block[1041] = '#'; }, 35, kNoSignature, -1},
      {[](Rig& r) { std::memcpy(r.block.data() + 1040, "$NOX", 4); r.block[1044] = 0; }, 34, kNoSignature, -1},
      {[](Rig& r) { core::StoreLe64(r.block.data(), r.physical); }, 35, "data address is not the shared block + 17", -1},
      {[](Rig& r) { r.block[16] = 0; }, 35, "status byte was not 255 on entry", 1},
      {[](Rig& r) { r.Put32(12, 512); }, 35, "length is not 1024", 1},
      {[](Rig& r) { r.Put32(12, 2048); }, 33, "length is not 1024", 1},
      {[](Rig& r) { r.Put32(12, 0x800); }, 34, "erase range is not whole 4 KiB sectors", 1},
      {[](Rig& r) { r.Put32(8, 0x7FFC00 + 0x400); }, 33, kOutside, 1},
      {[](Rig& r) { r.Put32(8, 0xFFFFF000); }, 34, kOutside, 1},  // wraps past 4 GiB
      {[](Rig& r) { r.Put32(8, 0xFC00); }, 33, kBelow, 1},
      {[](Rig& r) { r.Put32(8, 0xF000); r.Put32(12, 0x2000); }, 34, kBelow, 1},  // reaches into the table
      {[](Rig& r) { r.block[1041] = 0; }, 37, kNoSignature, -1}};  // no flash information reply either
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Rig rig(BasedPreset());
    ASSERT_EQ(rig.Enable(), 0);
    rig.PutRequest(0x60000, c.command == 34 ? 0x1000 : 1024);
    c.spoil(rig);
    ExpectRefused(rig, c.command, c.misuse, c.status);
  }
  // The table's first address is served; what lies below it is neither erased flash nor zeros.
  Rig rig(BasedPreset());
  ASSERT_EQ(rig.Enable(), 0);
  const uint8_t read = rig.Request(33, 0x10000), erase = rig.Request(34, 0x10000, 0x1000);
  EXPECT_EQ(read | erase, 0) << rig.LastSmi().dump();
  const auto below = rig.machine->Flash().Bytes().first(0x10000);
  EXPECT_TRUE(std::ranges::none_of(below, [](uint8_t b) { return b == 0 || b == 0xFF; }));
  // A short shared block is never read past its end.
  Rig shortBlock(Preset("legacy-8m"), 32);
  for (uint8_t command : {33, 37, 13, 38}) shortBlock.Raise(command);
  const auto lines = shortBlock.SmiLines();
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& line : lines) EXPECT_EQ(line.value("misuse", ""), "shared block too small") << line.dump();
}

// --- OFBD blocks ---------------------------------------------------------------------------

constexpr uint32_t kMe = 0x04000000, kEc = 0x08000000, kSetup = 0x02000000, kPassword = 0x20000000;

using Put = void (*)(Rig&);
const Put kVersion = [](Rig& r) { PutOfbd(r, 0, 0, 0); };
const Put kMeQuery = [](Rig& r) { PutOfbd(r, kMe, 'U', 18); r.block[23] = 3; };
const Put kEcBegin = [](Rig& r) { PutOfbd(r, kEc, 'T', 11, 1); };
const Put kEcData = [](Rig& r) {
  PutOfbd(r, kEc, 'T', 11, 2);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 60; i += 4) sum += (r.block[1024 + i] = static_cast<uint8_t>(i + 1));
  r.block[1024 + 60] = 0x55;  // a tail of 3 bytes is not summed
  r.Put32(25, ~sum);
  r.Put32(29, 63);
  core::StoreLe64(r.block.data() + 33, uint64_t{r.physical} + 1024);
};
const Put kSecureQuery = [](Rig& r) { PutSecure(r, 4); r.block[kBehind + 258] = 1; };
const Put kSecurePolicy = [](Rig& r) { PutPolicy(r, 4, 0x3, 0x800000); };
const Put kSecurePiece = [](Rig& r) { PutPiece(r, 0, std::vector<uint8_t>(32768)); };
const Put kPasswordQuery = [](Rig& r) { PutOfbd(r, kPassword, 'R', 4); r.block[24] = 1; };
const Put kSetupQuery = [](Rig& r) { PutOfbd(r, kSetup, 'V', 2, 1); };
const Put kUnknownW = [](Rig& r) { PutOfbd(r, 0x01000000, 'W', 12); };

// Each block is checked in full, also for operations the firmware does not serve, and a broken
// one is left untouched. A well-formed one gets the whole flags word, without bit 0 unless the
// firmware served it (this one serves the version query alone); once the firmware has told its
// version, every other block must carry it.
TEST(Ofbd, EveryBlockIsCheckedInFullBeforeItIsAnswered) {
  // Without a spoil the block is well-formed; `told`: the firmware told its version first.
  struct Case { Put put, spoil; const char* misuse; bool told = false; };
  const Case cases[] = {
      {kSecurePolicy, nullptr, nullptr}, {kSecurePiece, nullptr, nullptr}, {kVersion, nullptr, nullptr, true},
      {kVersion, [](Rig& r) { r.block[0] = 'o'; }, "no \"OFBD\" signature"},
      {kMeQuery, [](Rig& r) { r.Put16(4, 0x0210); }, "version is not 0 before the firmware told its own"},
      {kVersion, [](Rig& r) { r.Put16(14, 20); }, "header fields at 14 and 16 are not 18 and 2"},
      {kVersion, [](Rig& r) { r.Put16(16, 0); }, "header fields at 14 and 16 are not 18 and 2"},
      {kPasswordQuery, [](Rig& r) { r.Put32(8, kSetup); }, "class and operation type do not belong together"},
      {kUnknownW, [](Rig& r) { r.Put32(8, 0); }, "class and operation type do not belong together"},
      {kMeQuery, [](Rig& r) { r.block[19] = 2; }, "operation count is not 1"},
      {kMeQuery, [](Rig& r) { r.Put16(20, 16); }, "record size does not belong to the operation type"},
      {kVersion, [](Rig& r) { r.Put16(6, 30); }, "total size is not header, operation, record and end marker"},
      {kSetupQuery, [](Rig& r) { r.Put32(24, 0); }, "no end marker behind the record"},
      {kMeQuery, [](Rig& r) { r.block[23] = 6; }, "ME region selector is above 5"},
      {kEcBegin, [](Rig& r) { r.block[22] = 3; }, "EC transfer sub-function is not 1, 2 or 4"},
      {kEcBegin, [](Rig& r) { r.Put16(23, 1); }, "EC transfer status is not 0 in the request"},
      {kEcBegin, [](Rig& r) { r.Put32(29, 4); }, "EC data comes with the data request (2) and no other"},
      {kEcBegin, [](Rig& r) { r.Put32(25, 1); }, "EC checksum without data is not 0"},
      {kEcData, [](Rig& r) { core::StoreLe64(r.block.data() + 33, uint64_t{r.physical} + 1023); },
       "EC data address is not the shared block + 1024"},
      {kEcData, [](Rig& r) { r.block[1060] ^= 1; }, "EC data checksum does not match"},
      {kEcData, [](Rig& r) { r.Put32(29, 4100); }, "EC data is not 1 to 4096 bytes inside the shared block"},
      {kSetupQuery, [](Rig& r) { r.block[23] = 1; }, "setup-preserve record byte 1 is not 0"},
      {kPasswordQuery, [](Rig& r) { r.block[24] = 3; }, "password record byte 2 is neither 1 (query) nor 2 (submission)"},
      {kPasswordQuery, [](Rig& r) { r.block[24] = 2; r.Put16(6, 26); r.Put16(22, 0xFFFF); }, "password runs past the shared block"},
      {kSecureQuery, [](Rig& r) { r.block[23] = 1; }, "secure-flash record byte 1 is not 0"},
      {kSecureQuery, [](Rig& r) { r.block[22] = 1; }, "secure-flash sub-function is not 2, 4 or 8"},
      {kSecureQuery, [](Rig& r) { r.block[kBehind + 258] = 0; }, "capability query does not set byte 258 of its answer to 1"},
      {kSecurePolicy, [](Rig& r) { r.block[kBehind] = 3; }, "flash policy type is not 1, 2 or 4"},
      {kSecurePolicy, [](Rig& r) { r.block[kBehind + 1] = 0x13; }, "flash policy names regions other than bits 0 to 3"},
      {kSecurePolicy, [](Rig& r) { r.block[kBehind + 5] = 'x'; }, "flash policy carries a file name outside a recovery"},
      {kSecurePolicy, [](Rig& r) { r.block[kBehind + 29] = 0; }, "flash policy status byte 29 is not 1"},
      {kSecurePolicy, [](Rig& r) { r.block[kBehind + 33] = 1; }, "flash policy reserved bytes are not 0"},
      {kSecurePiece, [](Rig& r) { core::StoreLe64(r.block.data() + kBehind, uint64_t{r.physical} + kBehind); },
       "image piece address is not the shared block + 45"},
      {kSecurePiece, [](Rig& r) { r.Put32(kBehind + 12, 32769); }, "image piece is not 1 to 32768 bytes inside the shared block"},
      {kSecurePiece, [](Rig& r) { r.block[kBehind + 16] = 0; }, "image piece status is not 1"},
      {kMeQuery, [](Rig&) {}, "version is not the firmware's OFBD version", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Rig rig(Preset("legacy-8m"));
    if (c.told) {
      kVersion(rig);
      rig.Raise(38);
    }
    c.put(rig);
    rig.Put16(12, 0xFFFF);  // whatever was left there
    if (c.spoil) {
      c.spoil(rig);
      ExpectRefused(rig, 38, c.misuse);
    } else {
      rig.Raise(38);
      const std::pair<int, int> answer{rig.U16(12), rig.U16(4)};
      EXPECT_EQ(answer, c.put == kVersion ? std::pair(1, 0x0210) : std::pair(0, 0));
    }
  }
}

// --- OEM calls -----------------------------------------------------------------------------

TEST(OemCalls, InputsTheCallingConventionFixesAreCheckedAndAWrongOneLeavesThePresets) {
  constexpr uint32_t At = 0x80000000;  // At + n stands for the shared block's physical address + n
  struct Case { uint16_t cls, select; std::array<uint32_t, 4> in; const char* misuse; };
  const char* const kAreas = "inputs 0 and 1 are not the data areas at shared block + 1024 and + 2048";
  const Case cases[] = {{99, 15, {At + 2048, At + 1024}, kAreas}, {10, 4, {At, At + 2048}, kAreas},
                        {99, 17, {At + 1024, At + 2048, 1}, "inputs 2 and 3 are not 0"},
                        {99, 15, {At + 1024, At + 2048}, "shared block too small for the data areas"},
                        {99, 31, {1}, "inputs are not 0"}, {1, 0, {0x8005, 0}, "inputs are not 0x8005 and 1"},
                        {99, 40, {0x12A51, 'B', '1', '3'}, "input 0 is not a 16-bit extended ID"},
                        {99, 40, {0x2A51, 'B', 0x131, '3'}, "inputs 1 to 3 are not one version character each"}};
  Profile p = Preset("uefi-16m");  // answers every one of these calls
  p.oem.password = "secret";
  Rig rig(p, 4096);  // room for both data areas, not for the 4 KiB identity area from +1024
  for (const Case& c : cases) {
    SCOPED_TRACE(c.misuse);
    rig.Put16(0, c.cls);
    rig.Put16(2, c.select);
    for (size_t i = 0; i < 4; ++i) {
      rig.Put32(4 + 4 * i, c.in[i] >= At ? rig.physical + (c.in[i] - At) : c.in[i]);
      rig.Put32(20 + 4 * i, static_cast<uint32_t>(7 + i));  // presets
    }
    ExpectRefused(rig, 13, c.misuse);
  }
}

}  // namespace
}  // namespace nox::sim::test

// The firmware layer against the simulated machine: the machine's handler checks every
// request as strictly as a firmware would, and what went over the wire is read back from its
// journal, not only from the return values. At the end, the bounds of the blocks built and
// read here: an OFBD block never grows past its buffer, an answer's text is read only inside
// the block, and a flash information reply whose table would run past the block is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <set>

#include "SimRig.h"
#include "core/Bytes.h"
#include "firmware/FirmwareDefaults.h"

namespace nox::firmware {
namespace {

using nox::testing::SimRig;
using Tweak = std::function<void(sim::Profile&)>;
using Json = nlohmann::json;
using Triples = std::vector<std::array<uint32_t, 3>>;

size_t CountSmi(const std::vector<Json>& smis, int command) {
  return static_cast<size_t>(std::ranges::count_if(smis, [&](const Json& j) { return j.value("smi", -1) == command; }));
}

::testing::AssertionResult NoMisuse(const SimRig& rig) {
  for (const auto& line : rig.Journal()) {
    if (line.contains("misuse")) return ::testing::AssertionFailure() << line.dump();
  }
  return ::testing::AssertionSuccess();
}

// A rig with the driver loaded and the firmware probed, and opened unless `open` is false.
std::unique_ptr<SimRig> Rig(const std::string& preset, const Tweak& tweak = {}, bool open = true) {
  auto rig = std::make_unique<SimRig>(preset, tweak);
  EXPECT_TRUE(rig->driver->LoadIoDriver());
  EXPECT_EQ(rig->info->ProbeFirmware(), 0u);
  EXPECT_TRUE(!open || rig->info->OpenFirmware(std::nullopt) == 0u);
  return rig;
}

std::vector<uint8_t> FlashBytes(const SimRig& rig, uint32_t at, uint32_t length) {
  const auto flash = rig.machine->Flash().Bytes().subspan(at, length);
  return std::vector<uint8_t>(flash.begin(), flash.end());
}

// The loader opens the device the one way the driver allows: the path of its Windows
// version, read and write access, no sharing, an existing device, normal attributes.
TEST(SimDriver, DeviceOpensOnlyByThePathOfItsWindowsVersionAndTheLoadersParameters) {
  const std::string plain = "\\\\.\\GENERICDRV", global = "\\\\.\\Global\\GENERICDRV";
  // Without a path the loader opens the device itself.
  struct Case { uint32_t major; std::string path; uint32_t access, share, disposition, flags; const char* misuse; };
  const Case cases[] = {
      {4, "", 0, 0, 0, 0, ""}, {5, "", 0, 0, 0, 0, ""}, {10, "", 0, 0, 0, 0, ""},
      {4, global, 0xC0000000, 0, 3, 128, "no such device path on this Windows version"},
      {5, plain, 0xC0000000, 0, 3, 128, "no such device path on this Windows version"},
      {10, global, 0x80000000, 0, 3, 128, "access is not GENERIC_READ | GENERIC_WRITE"},
      {10, global, 0xC0000000, 1, 3, 128, "the device is opened for sharing"},
      {10, global, 0xC0000000, 0, 1, 128, "disposition is not OPEN_EXISTING"},
      {10, global, 0xC0000000, 0, 3, 0, "flags are not FILE_ATTRIBUTE_NORMAL"}};
  for (const Case& c : cases) {
    SimRig rig("minimal-1m", {}, c.major);
    const bool opened = c.path.empty() ? rig.driver->LoadIoDriver()
                                       : rig.port->OpenDevice(c.path, c.access, c.share, c.disposition, c.flags) != 0;
    const auto events = rig.Events("driver");
    EXPECT_EQ(std::make_pair(opened, events.size() == 1 ? events[0].value("misuse", "") : ""),
              std::make_pair(c.path.empty(), std::string(c.misuse))) << c.major;
  }
}

// --- opening the firmware ---------------------------------------------------------------------

// Every reply layout of the flash information (the presets give 11, 12 and 10) ends up as
// the same normalized table; layouts up to 10 carry no EC version fields. `refreshes`: of
// the status record, at the probe.
TEST(OpenFirmware, EachMachineGivesItsRecordsAndBlockTableInEveryReplyLayout) {
  struct Case { const char* preset; uint8_t reply; bool slot; uint16_t ofbdVersion; size_t refreshes; };
  for (const Case& c : {Case{"legacy-8m", 11, true, 0x0210, 1}, Case{"legacy-8m", 13, true, 0x0210, 1},
                        Case{"uefi-16m", 12, false, 0x0220, 0}, Case{"minimal-1m", 10, false, 0, 0},
                        Case{"minimal-1m", 9, false, 0, 0}}) {
    SCOPED_TRACE(::testing::Message() << c.preset << " " << int{c.reply});
    const auto rig = Rig(c.preset, [&](sim::Profile& p) { p.flash.replyVersion = c.reply; });
    const sim::Profile& p = rig->machine->GetProfile();
    EXPECT_EQ(std::make_tuple(rig->smi->SmiPort(), rig->smi->HasAddressSlot(), rig->info->OfbdVersion()),
              std::make_tuple(0xB2, c.slot, c.ofbdVersion));
    EXPECT_TRUE(!c.slot || core::LoadLe32(&rig->machine->FSegment()[p.asf.offset + p.asf.slotDistance]) ==
                               rig->smi->BlockPhysical()) << "published where the firmware reads it";
    EXPECT_EQ(CountSmi(rig->Smis(), 39), c.refreshes);
    ASSERT_TRUE(rig->smi->Info());
    const FlashInfo& info = *rig->smi->Info();
    std::vector<FlashBlockEntry> blocks;
    for (const sim::BlockEntry& b : p.flash.blocks) blocks.push_back({b.start, b.size, b.type});
    const bool ecFields = c.reply > 10;
    EXPECT_EQ(std::make_tuple(info.Version(), info.Entries(), info.Bytes().size(), rig->smi->TotalFlashSize()),
              std::make_tuple(c.reply, blocks, blocks.size() * 9 + 25, p.flash.size));
    EXPECT_EQ(std::make_pair(info.EcVersionOffset(), info.EcVersionMask()),
              std::make_pair(ecFields ? p.flash.ecVersionOffset : 0, ecFields ? p.flash.ecVersionMask : 0));
    EXPECT_EQ(rig->info->EcbPresent(), p.ecb.present || p.uefi);
    if (p.ecb.present) {
      const EcbRecord& e = rig->info->Ecb().value();
      EXPECT_EQ(std::tie(e.flags, e.ecBlockAddress, e.ecBlockSize, e.ecVersionOffset, e.ecVersionMask),
                std::tie(p.ecb.flags, p.ecb.ecBlockStart, p.ecb.ecBlockSize, p.ecb.ecVersionOffset, p.ecb.ecVersionMask));
    }
    if (c.ofbdVersion == 0) {
      const size_t mark = rig->Mark();
      EXPECT_EQ(rig->ofbd->SetupPreserve(2), 156u) << "no OFBD version: unsupported without asking";
      EXPECT_TRUE(rig->Smis(mark).empty());
    }
    EXPECT_TRUE(NoMisuse(*rig));
  }
}

// A record is searched for up to offset 65530 and must lie wholly inside the segment's view;
// no machine profile places one at the end, so the bytes are put in by hand.
TEST(OpenFirmware, RecordsAtTheEndOfTheSegmentsAreNotFound) {
  SimRig rig("minimal-1m");
  std::memcpy(&rig.machine->FSegment()[65531], "$ASF", 4);
  std::memcpy(&rig.machine->ESegment()[65510], "$ECB", 4);  // 31 bytes: 6 past the view
  rig.machine->ESegment()[65514] = 0x10;                     // would refuse the update
  rig.Open();
  EXPECT_EQ(std::make_tuple(rig.smi->SmiPort(), rig.smi->HasAddressSlot(), rig.info->Ecb().has_value()),
            std::make_tuple(0xB2, false, false));
  EXPECT_TRUE(rig.info->CheckUpdatePermission(rig.info->Ecb(), {}));
}

// The probe takes a port the FADT names and leaves "$ASF" alone, else it takes the port and
// slot of "$ASF", else 0xB2; opening takes "$ASF" or 0xB2. The handler listens on the port the
// records name, so without "$ASF" a FADT port other than 0xB2 leaves the utility unheard.
TEST(OpenFirmware, FadtPortServesTheProbeAndTheRecordsOrTheDefaultTheRest) {
  struct Case { bool fadt; uint16_t smiCmd; bool asf; uint16_t probePort; bool probeSlot; uint16_t openPort; bool heard; };
  const Case cases[] = {{true, 0xB4, true, 0xB4, false, 0xB4, true}, {true, 0xB4, false, 0xB4, false, 0xB2, false},
                        {true, 0, false, 0xB2, false, 0xB2, true},   {false, 0, true, 0xB4, true, 0xB4, true},
                        {false, 0, false, 0xB2, false, 0xB2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const auto rig = Rig("uefi-16m", [&](sim::Profile& p) {
      p.fadt = {c.fadt, c.smiCmd};
      p.asf = {c.asf, 0xB4, 16, 0x120};
    }, false);
    EXPECT_EQ(std::make_pair(rig->smi->SmiPort(), rig->smi->HasAddressSlot()), std::make_pair(c.probePort, c.probeSlot));
    EXPECT_TRUE(rig->info->EcbPresent()) << "the status call of the probe was answered";
    const size_t mark = rig->Mark();
    ASSERT_EQ(rig->info->OpenFirmware(std::nullopt), 0u);
    EXPECT_EQ(std::make_pair(rig->smi->SmiPort(), rig->smi->HasAddressSlot()), std::make_pair(c.openPort, c.asf));
    EXPECT_EQ(std::make_tuple(rig->Smis(mark).empty(), rig->Events("port-write", mark).empty(), rig->smi->TotalFlashSize()),
              std::make_tuple(!c.heard, c.heard, c.heard ? 0x1000000u : 0u));
    EXPECT_TRUE(NoMisuse(*rig));
  }
}

// The OEM SMI command is raised once (a code the firmware has nothing behind is no misuse),
// and a run that programs only the EC stops before the table. A block taken in place of the
// first one (as the EC transfer does) lives at another address; every request after it must
// announce the new one, in EBX and in the slot. Closing disables flash writes, gives the block
// back and forgets the table.
TEST(OpenFirmware, OemCommandOnceAndABlockTakenMidSessionIsAnnouncedEverywhereAndGivenBackAtTheClose) {
  const auto rig = Rig("legacy-8m", {}, false);
  ASSERT_EQ(rig->info->OpenFirmware(uint8_t{0x5A}, /*flashInterfaceInUse=*/false), 0u);
  EXPECT_FALSE(rig->smi->Info()) << "no flash information when only the EC is programmed";
  ASSERT_EQ(rig->info->OpenFirmware(uint8_t{0x5A}), 0u);
  EXPECT_EQ(CountSmi(rig->Smis(), 0x5A), 1u);
  const uint32_t first = rig->smi->BlockPhysical();
  rig->smi->ReleaseSmiBuffer();
  ASSERT_TRUE(rig->smi->AllocateSharedBlock(5120));
  EXPECT_NE(rig->smi->BlockPhysical(), first);
  const size_t mark = rig->Mark();
  std::vector<uint8_t> piece(1024);
  EXPECT_TRUE(rig->smi->ReadFlash(0x60000, 1024, piece));
  EXPECT_EQ(rig->smi->LoadFlashInfo(), 0u);
  rig->info->RefreshEcbFlags();
  EXPECT_EQ(rig->ofbd->QueryVersion(), 0x0210);
  EXPECT_EQ(rig->Smis(mark).size(), 4u);
  EXPECT_EQ(rig->info->CloseFirmware(), 0u);
  EXPECT_EQ(CountSmi(rig->Smis(mark), 36), 1u);
  EXPECT_FALSE(rig->smi->HasSharedBlock() || rig->smi->Info());
  EXPECT_TRUE(NoMisuse(*rig));
}

// --- the update permission ---------------------------------------------------------------------

// The first refusal bit of "$ECB" decides and shows its message alone, through the sink or
// on the console; a message that is missing, outside the E segment or unterminated there
// refuses silently. A UEFI machine takes its status word and permission byte from the OEM
// call; bits 4 to 7 of the byte refuse.
TEST(UpdatePermission, FirstRefusalBitShowsOnlyAMessageInsideTheSegmentOrTheOemCallDecides) {
  struct Case { uint8_t flags; std::optional<uint16_t> bit7At; bool sink; std::string shown; };
  const Case cases[] = {{0x01 | 0x10 | 0x40, {}, true, "The battery is too weak to update the firmware."},
                        {0x80, {}, false, "This firmware cannot be updated on this platform.\n"},
                        {0x80, 65530, true, ""}, {0x80, 0xFFFF, false, ""}, {0x80, 0, true, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int{c.flags} << " " << c.bit7At.value_or(1));
    const auto rig = Rig("legacy-8m", [&](sim::Profile& p) { p.ecb.flags = c.flags; });
    auto e = rig->machine->ESegment();
    std::fill(e.begin() + 65530, e.begin() + 65535, 'x');  // to the end of the view, no zero
    e[0] = 'x';  // offset 0 stands for no message
    std::optional<EcbRecord> record = rig->info->Ecb();
    if (c.bit7At) record->messageOffsets[3] = *c.bit7At;
    std::string shown;
    FirmwareInfo::MessageSink sink;
    if (c.sink) sink = [&](const std::string& t) { shown += t; };
    EXPECT_FALSE(rig->info->CheckUpdatePermission(record, sink));
    EXPECT_EQ(std::make_pair(shown + rig->console, rig->info->MessageShown()), std::make_pair(c.shown, !c.shown.empty()));
  }
  for (const uint8_t permission : {0x80, 0x10, 0x00}) {
    const auto rig = Rig("uefi-16m", [&](sim::Profile& p) {
      p.ecb1.flags = 0x0180;
      p.oem.updatePermission = permission;
    });
    EXPECT_EQ(std::make_tuple(rig->info->UefiFirmware(), rig->info->EcbFlags(), rig->info->UpdatePermission(),
                              rig->info->CheckUpdatePermission(std::nullopt, {})),
              std::make_tuple(true, uint16_t{0x0180}, permission, permission == 0)) << int{permission};
  }
}

// --- flash information ----------------------------------------------------------------------

// The enable step's refusals and the flash information's refusal marker. The firmware writes
// the enable status only to refuse, so the status byte must be cleared first: the version
// query just before leaves its header's 2 there, which would read as "no power cord".
// `status`: the enable command wrote one.
TEST(FlashInformation, RefusalsOfTheEnableStepAndTheRefusalMarker) {
  struct Case { uint8_t enable; bool silent, protect; uint8_t reply, marker; uint32_t code; bool writable, status; };
  const Case cases[] = {
      {0, true, false, 11, 0, 0, true, false},   {0, false, false, 11, 0, 0, true, true},
      {1, true, false, 11, 0, 64, false, true},  {2, true, false, 11, 0, 72, false, true},
      {3, false, false, 11, 0, 73, false, true}, {0, true, true, 11, 0, 64, false, true},
      {4, true, false, 11, 0, 0, true, true},    {255, true, false, 11, 0, 0, true, true},
      {0, true, false, 9, 1, 70, true, false},   {0, true, false, 10, 1, 70, true, false},
      {0, true, false, 11, 1, 70, true, false},  {0, true, false, 12, 1, 0, true, false},
      {0, true, false, 13, 1, 70, true, false},  {0, true, false, 11, 2, 0, true, false},
      {0, true, false, 11, 255, 0, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const auto rig = Rig("legacy-8m", [&](sim::Profile& p) {
      std::tie(p.enableAnswer, p.enableSilentOnSuccess, p.faults.writeProtected) = std::tie(c.enable, c.silent, c.protect);
      std::tie(p.flash.replyVersion, p.flash.refusalMarker) = std::tie(c.reply, c.marker);
    }, false);
    ASSERT_EQ(rig->ofbd->QueryVersion(), 0x0210);
    const size_t mark = rig->Mark();
    EXPECT_EQ(rig->smi->LoadFlashInfo(), c.code);
    EXPECT_EQ(rig->Smis(mark).at(0).contains("status"), c.status);
    std::vector<uint8_t> piece(1024);
    EXPECT_TRUE(rig->smi->ReadFlash(0x7E0000, 1024, piece)) << "reading needs no enable";
    EXPECT_EQ(rig->smi->EraseFlash(0x7E0000, 0x1000), c.writable);
    EXPECT_TRUE(!c.writable || NoMisuse(*rig));
  }
}

// --- flash requests ---------------------------------------------------------------------------

// Erase is one request; data moves in whole pieces of 1 KiB, each reported to the progress
// callback with its address, the part's size and the call's length. Writes need the enable,
// raised once; a disable only follows an enable, and pauses. The part is NOR flash (erase sets
// 0xFF, programming only clears bits) answering with any status but 1.
TEST(FlashRequests, PiecesOfOneKibibyteEnableOnceAndNorFlashAnsweringWithAnyStatusButOne) {
  const auto rig = Rig("minimal-1m", [](sim::Profile& p) { p.successStatus = 7; });
  Triples calls, sent;
  auto record = [&](uint32_t a, uint32_t b, uint32_t c) { calls.push_back({a, b, c}); };
  std::vector<uint8_t> data(0x1000, 0x5A);
  size_t mark = rig->Mark();
  ASSERT_TRUE(rig->smi->EraseFlash(0x10000, 0x1000, record));
  ASSERT_TRUE(rig->smi->WriteFlash(0x10000, 0xA00, data, record));  // 2.5 KiB: two whole pieces
  ASSERT_TRUE(rig->smi->VerifyFlash(0x10000, 0x800, data, record));
  for (const Json& s : rig->Smis(mark)) sent.push_back({s.value("smi", 0u), s.value("addr", 0u), s.value("len", 0u)});
  EXPECT_EQ(sent, (Triples{{34, 0x10000, 0x1000}, {35, 0x10000, 1024}, {35, 0x10400, 1024}, {33, 0x10000, 1024},
                           {33, 0x10400, 1024}}));
  const uint32_t rom = 0x100000;
  EXPECT_EQ(calls, (Triples{{0x10000, rom, 0x1000}, {0x10000, rom, 0xA00}, {0x10400, rom, 0xA00}, {0x10000, rom, 0x800},
                            {0x10400, rom, 0x800}}));
  EXPECT_EQ(FlashBytes(*rig, 0x107FF, 2), (std::vector<uint8_t>{0x5A, 0xFF})) << "the remainder is not transferred";
  mark = rig->Mark();
  EXPECT_TRUE(rig->smi->WriteFlash(0x10000, 500, data) && rig->smi->ReadFlash(0x10000, 1023, data));
  EXPECT_TRUE(rig->Smis(mark).empty());
  EXPECT_TRUE(NoMisuse(*rig));
  rig->smi->DisableFlash();  // start-up does this after opening
  const uint64_t before = rig->machine->Now();
  mark = rig->Mark();
  rig->smi->DisableFlash();
  EXPECT_EQ(rig->machine->Now(), before) << "no pause without a disable";
  EXPECT_FALSE(rig->smi->EraseFlash(0, 0x1000));
  EXPECT_EQ(rig->Smis().back().value("misuse", ""), "flash writes are not enabled");
  rig->smi->EnableFlash();
  rig->smi->EnableFlash();
  const std::vector<uint8_t> a(0x1000, 0xF0), b(0x1000, 0x3C);
  ASSERT_TRUE(rig->smi->EraseFlash(0, 0x1000) && rig->smi->WriteFlash(0, 0x1000, a));
  EXPECT_TRUE(rig->smi->VerifyFlash(0, 0x1000, a));
  ASSERT_TRUE(rig->smi->WriteFlash(0, 0x1000, b));  // no erase in between: bits only clear
  EXPECT_FALSE(rig->smi->VerifyFlash(0, 0x1000, b));
  // A verify signs its own requests: nothing an earlier request left in the block is relied on.
  rig->smi->ZeroBlock();
  const size_t zeroed = rig->Mark();
  EXPECT_FALSE(rig->smi->VerifyFlash(0, 0x1000, b));
  for (const Json& s : rig->Smis(zeroed)) EXPECT_FALSE(s.contains("misuse")) << s.dump();
  std::vector<uint8_t> got(0x1000);
  ASSERT_TRUE(rig->smi->ReadFlash(0, 0x1000, got));
  EXPECT_EQ(got, std::vector<uint8_t>(0x1000, 0x30));
  EXPECT_EQ(rig->Smis().back().value("status", 0), 7);
  ASSERT_TRUE(rig->smi->EraseFlash(0xDF000, 0x2000));  // straddles main BIOS and boot block
  EXPECT_EQ(rig->machine->Flash().EraseCounts(), (std::vector<uint32_t>{3, 1}));
  EXPECT_EQ(FlashBytes(*rig, 0xDF000, 0x2000), std::vector<uint8_t>(0x2000, 0xFF));
  rig->smi->DisableFlash();
  EXPECT_EQ(std::make_tuple(CountSmi(rig->Smis(mark), 32), CountSmi(rig->Smis(mark), 36), rig->machine->Now()),
            std::make_tuple(1ul, 1ul, before + 1000));
}

// A request left unprocessed (status 255) is repeated, five times in all for the whole call:
// of four pieces, three repeats on the first leave two. A failing range fails its own
// operation at once, without repeats, and leaves the flash part alone. `stuck` from an SMI
// number or at a piece's address; `fails` at 0x2000..0x23FF.
TEST(FlashRequests, RepeatsAreSharedByTheWholeCallAndAFailureEndsItAtOnce) {
  using sim::FlashOp;
  using Stuck = std::vector<sim::StuckFault>;
  enum Call { kRead, kErase, kWrite };
  struct Case { Stuck stuck; std::optional<FlashOp> fails; Call call; uint32_t at, n; bool ok; size_t smis; };
  const Case cases[] = {{{{0, 0x0u, 6}}, {}, kRead, 0, 0x1000, false, 6},
                        {{{0, 0x0u, 5}}, {}, kRead, 0, 0x1000, true, 9},
                        {{{0, 0x0u, 3}, {0, 0xC00u, 3}}, {}, kRead, 0, 0x1000, false, 4 + 2 + 3},
                        {{{0, 0x0u, 3}, {0, 0xC00u, 2}}, {}, kRead, 0, 0x1000, true, 9},
                        {{{1, std::nullopt, 3}}, {}, kRead, 0, 0x1000, true, 4 + 3},
                        {{}, FlashOp::Write, kWrite, 0, 0x4000, false, 9},  // eight good pieces, then the bad one
                        {{}, FlashOp::Write, kErase, 0x2000, 0x1000, true, 1},
                        {{}, FlashOp::Read, kRead, 0x2000, 0x400, false, 1},
                        {{}, FlashOp::Read, kRead, 0x2400, 0x400, true, 1},
                        {{}, FlashOp::Read, kWrite, 0x2000, 0x400, true, 1},
                        {{}, FlashOp::Erase, kErase, 0x2000, 0x1000, false, 1},
                        {{}, FlashOp::Erase, kErase, 0x3000, 0x1000, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const auto rig = Rig("minimal-1m", [&](sim::Profile& p) {
      p.faults.stuck = c.stuck;
      if (c.fails) p.faults.fail = {{*c.fails, 0x2000, 0x400}};
    });
    const auto before = FlashBytes(*rig, 0x2000, 0x400);
    std::vector<uint8_t> data(c.n, 0);
    const size_t mark = rig->Mark();
    const bool ok = c.call == kRead    ? rig->smi->ReadFlash(c.at, c.n, data)
                    : c.call == kErase ? rig->smi->EraseFlash(c.at, c.n)
                                       : rig->smi->WriteFlash(c.at, c.n, data);
    EXPECT_EQ(std::make_pair(ok, rig->Smis(mark).size()), std::make_pair(c.ok, c.smis));
    EXPECT_TRUE(c.ok || FlashBytes(*rig, 0x2000, 0x400) == before) << "a failure changed the part";
  }
}

// --- OEM calls and OFBD ------------------------------------------------------------------------

// A call the firmware does not answer keeps the preset outputs, which every call reads as
// "no"; the answers of a firmware that has them are proven where the policy checks use them.
TEST(OemCalls, AnUnansweredCallKeepsThePresetsThatMeanNo) {
  const auto rig = Rig("minimal-1m");
  const size_t mark = rig->Mark();
  using Answers = std::tuple<std::optional<uint8_t>, bool, bool, std::optional<uint8_t>, bool, bool>;
  const auto name = rig->oem->ReadSystemNameIndex();
  const bool protectedVersion = rig->oem->VersionProtected(0x2A51, {'B', '1', '0'});
  const bool set = rig->oem->AdministratorPasswordSet();
  const auto length = rig->oem->MaximumPasswordLength();
  const bool accepted = rig->oem->SubmitAdministratorPassword("secret");
  EXPECT_EQ(Answers(name, protectedVersion, set, length, accepted, rig->oem->ReadIdentity().has_value()), Answers());
  EXPECT_EQ(rig->oem->OemCall(99, 31, {}, {7, 8, 9, 10})->outputs, (std::array<uint32_t, 4>{7, 8, 9, 10}));
  rig->oem->SignalSl();
  EXPECT_EQ(CountSmi(rig->Smis(mark), 13), 8u);
  EXPECT_TRUE(NoMisuse(*rig));
}

// Every block the utility builds passes the firmware's checks of the header, the operation,
// the sizes, the end marker and the operation's own record, whether the firmware answers it
// or not; the answers it does not give read as "unsupported", and a password never reaches
// the journal. The query of the password, the setup preservation and the default options are
// proven where the policy checks and the flash runs use them.
TEST(Ofbd, EveryOperationTheUtilityBuildsIsWellFormed) {
  const auto rig = Rig("legacy-8m", [](sim::Profile& p) { p.ofbdPassword = {true, "0123456789", 3, "", "", ""}; });
  const size_t mark = rig->Mark();
  EXPECT_EQ(std::make_pair(rig->ofbd->MeRegionQuery(0), rig->ofbd->MeRegionQuery(5)), std::make_pair(162u, 161u));
  std::vector<uint8_t> data(4095);
  std::iota(data.begin(), data.end(), uint8_t{1});
  EXPECT_EQ(std::make_tuple(rig->ofbd->EcTransfer(1, {}, 0x1234), rig->ofbd->EcTransfer(2, data, std::nullopt),
                            rig->ofbd->EcTransfer(4, {}, std::nullopt)),
            std::make_tuple(173u, 173u, 173u));
  EXPECT_EQ(rig->ofbd->SubmitPassword("0123456789").state, 2) << "the text stands where the end marker stood";
  // Operations nothing sends yet, and one this firmware has never heard of.
  for (const uint8_t type : {'P', 'S', 'W', 'X', 'Z', 'p'}) {
    std::array<uint8_t, 1024> block{};
    const uint32_t opClass = type == 'p' ? ofbd::kClassSecureFlash : 0x01000000;
    ASSERT_TRUE(OfbdBegin(block, opClass, rig->ofbd->Version()) && OfbdAddOperation(block, type, 1) &&
                OfbdCloseOperation(block, type, 1));
    if (type == 'p') {  // the capability query, with the byte its answer clears
      block[ofbd::kRecordOffset] = 4;
      block[28 + 258] = 1;
    }
    ASSERT_TRUE(rig->ofbd->OfbdSend(block));
  }
  EXPECT_EQ(CountSmi(rig->Smis(mark), 38), 12u);
  EXPECT_TRUE(NoMisuse(*rig));
  for (const auto& line : rig->Journal()) EXPECT_EQ(line.dump().find("0123456789"), std::string::npos);
}

// The firmware's default options: what the utility sends is read back from the machine's
// journal, what it answers from the option store. `answers`: the firmware has defaults, it
// switches on `on` and off `off`; `script`: the script's word, -1 for none; `sent`: the
// selected and off masks of the one 'Q' exchange.
TEST(FirmwareDefaults, DecideWhatIsSentAndWhetherTheAnswerCounts) {
  using Outcome = FirmwareDefaults::Outcome;
  using Ids = std::set<uint32_t>;
  using Masks = std::optional<std::pair<uint32_t, uint32_t>>;
  namespace option = config::option;
  struct Case { const char* name; bool answers; uint32_t on, off; Ids selected; int32_t script; Outcome outcome;
                Masks sent; Ids after; };
  // The firmware asks for the boot block (4) and reboot (11), and against the ROM ID skip (12).
  constexpr uint32_t kOn = 0x0002 | 0x0040, kOff = 0x0080;
  const Ids kMainNoRomId = {option::kMainBios, option::kNoRomIdCheck};
  const Case cases[] = {
      {"no script word", true, kOn, kOff, kMainNoRomId, -1, Outcome::kApplied, {{0x0081, 0}}, {3, 4, 11}},
      {"script replaces", true, kOn, kOff, kMainNoRomId, 0, Outcome::kIgnored, {{0x0081, 0x17FF}}, {3, 12}},
      {"script adds", true, kOn, kOff, kMainNoRomId, 1, Outcome::kIgnored, {{0x0081, 0x17FF}}, {3, 12}},
      {"switched on and off ends up off", true, 0x0009, 0x0009, {option::kMainBios, option::kNcbN}, -1,
       Outcome::kApplied, {{0x0001, 0}}, {}},
      {"firmware without defaults", false, 0x0002, 0x0001, {option::kMainBios, option::kReboot}, -1,
       Outcome::kNotHandled, {{0x0041, 0}}, {3, 11}},
      {"saving the firmware asks nothing", true, 0x0001, 0, {option::kSaveFile}, -1, Outcome::kSkipped, {},
       {option::kSaveFile}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimRig rig("legacy-8m", [&](sim::Profile& p) { p.defaults = {c.answers, c.on, c.off}; });
    rig.Open();
    config::ConfigStore store;
    for (uint32_t id : c.selected) store.SelectCommand(id, true);
    const size_t mark = rig.Mark();
    EXPECT_EQ(FirmwareDefaults(*rig.ofbd).Fetch(store, c.script), c.outcome);
    Masks sent;
    for (const Json& s : rig.Smis(mark)) {
      EXPECT_FALSE(sent || s.contains("misuse") || s.value("flags", 0) != (c.answers ? 1 : 0)) << s.dump();
      sent = {s.value("selectedMask", 0xDEADu), s.value("offMask", 0xDEADu)};
    }
    Ids after;
    for (const config::CommandRecord& r : store.Records()) {
      if (r.Selected()) after.insert(r.id);
    }
    EXPECT_EQ(std::make_pair(sent, after), std::make_pair(c.sent, c.after));
  }
}

// --- bounds of the blocks built and read --------------------------------------------------

// An OFBD block is never built past its buffer, and its answer's text must be flagged, not
// empty and terminated inside it. A flash information reply whose table would run past the
// shared block is refused: the last count that fits is 16 + N*9 + 9 <= 65536.
TEST(Bounds, OfbdBlocksAndAnswerTextsStayInsideTheirBufferAndAFlashTableInsideTheSharedBlock) {
  std::array<uint8_t, 40> small{};
  ASSERT_TRUE(OfbdBegin(small, 0, 0) && OfbdAddOperation(small, 'U', 1));
  EXPECT_FALSE(OfbdCloseOperation(small, 'U', 1));  // 22 + 18 + 4 > 40
  EXPECT_EQ(OfbdTotalSize(small), 22);
  std::array<uint8_t, 10> tiny{};
  EXPECT_FALSE(OfbdBegin(tiny, 0, 0));
  std::array<uint8_t, 64> block{};
  ASSERT_TRUE(OfbdBegin(block, 0, 0) && OfbdAddOperation(block, 'R', 1) && OfbdCloseOperation(block, 'R', 1));
  const char text[] = "Enter password";
  std::copy(text, text + sizeof text, block.begin() + 30);
  OfbdAnswer answer{block};
  EXPECT_FALSE(answer.Text()) << "without flag bit 4 there is no text";
  core::StoreLe16(&block[12], 0x11);
  EXPECT_EQ(answer.Text(), "Enter password");
  std::fill(block.begin() + 30, block.end(), 'x');
  EXPECT_FALSE(answer.Text()) << "text running to the end of the block is no text";
  block[30] = 0;
  EXPECT_FALSE(answer.Text()) << "an empty text counts as none";
  core::StoreLe16(&block[6], 200);
  EXPECT_FALSE(answer.Text()) << "a total size past the block";
  std::vector<uint8_t> reply(65536, 0xCC);
  reply[4] = 0;
  reply[5] = 11;
  constexpr uint16_t kLast = (65536 - 25) / 9;
  for (const uint16_t count : {uint16_t{0xFFFF}, kLast, uint16_t(kLast + 1)}) {
    core::StoreLe16(&reply[6], count);
    EXPECT_EQ(FlashInfo::FromReply(reply).has_value(), count == kLast) << count;
  }
}

}  // namespace
}  // namespace nox::firmware

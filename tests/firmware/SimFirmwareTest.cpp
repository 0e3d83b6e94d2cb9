// The firmware layer against the simulated machine: the machine's handler checks every
// request as strictly as a firmware would, and what went over the wire is read back from its
// journal, not only from the return values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "SimRig.h"
#include "core/Bytes.h"

namespace nox::firmware {
namespace {

using nox::testing::SimRig;
using Tweak = std::function<void(sim::Profile&)>;
using Words = std::array<uint32_t, 4>;

size_t CountSmi(const std::vector<nlohmann::json>& smis, int command) {
  return static_cast<size_t>(
      std::count_if(smis.begin(), smis.end(), [&](const nlohmann::json& j) { return j.value("smi", -1) == command; }));
}

::testing::AssertionResult NoMisuse(const SimRig& rig) {
  for (const auto& line : rig.Journal()) {
    if (line.contains("misuse")) return ::testing::AssertionFailure() << line.dump();
  }
  return ::testing::AssertionSuccess();
}

std::unique_ptr<SimRig> Opened(const std::string& preset, const Tweak& tweak = {}) {
  auto rig = std::make_unique<SimRig>(preset, tweak);
  rig->Open();
  return rig;
}

// A rig with the driver loaded and the firmware probed, not yet opened.
std::unique_ptr<SimRig> Probed(const std::string& preset, const Tweak& tweak = {}) {
  auto rig = std::make_unique<SimRig>(preset, tweak);
  EXPECT_TRUE(rig->driver->LoadIoDriver());
  EXPECT_EQ(rig->info->ProbeFirmware(), 0u);
  return rig;
}

// The loader opens the device the one way the driver allows: the path of its Windows
// version, read and write access, no sharing, an existing device, normal attributes.
TEST(SimDriver, DeviceOpensOnlyByThePathOfItsWindowsVersionAndTheLoadersParameters) {
  const std::string plain = "\\\\.\\GENERICDRV", global = "\\\\.\\Global\\GENERICDRV";
  for (uint32_t major : {4u, 5u, 10u}) {
    SimRig rig("minimal-1m", {}, major);
    EXPECT_TRUE(rig.driver->LoadIoDriver()) << major;
    EXPECT_TRUE(rig.Events("driver").empty()) << major;
  }
  struct Case { uint32_t major; std::string path; uint32_t access, share, disposition, flags; const char* misuse; };
  const Case cases[] = {
      {4, global, 0xC0000000, 0, 3, 128, "no such device path on this Windows version"},
      {5, plain, 0xC0000000, 0, 3, 128, "no such device path on this Windows version"},
      {10, global, 0x80000000, 0, 3, 128, "access is not GENERIC_READ | GENERIC_WRITE"},
      {10, global, 0xC0000000, 1, 3, 128, "the device is opened for sharing"},
      {10, global, 0xC0000000, 0, 1, 128, "disposition is not OPEN_EXISTING"},
      {10, global, 0xC0000000, 0, 3, 0, "flags are not FILE_ATTRIBUTE_NORMAL"}};
  for (const Case& c : cases) {
    SimRig rig("minimal-1m", {}, c.major);
    EXPECT_EQ(rig.port->OpenDevice(c.path, c.access, c.share, c.disposition, c.flags), 0u) << c.misuse;
    const auto events = rig.Events("driver");
    ASSERT_EQ(events.size(), 1u) << c.misuse;
    EXPECT_EQ(events[0].value("misuse", ""), c.misuse);
  }
}

std::vector<uint8_t> FlashBytes(const SimRig& rig, uint32_t at, uint32_t length) {
  const auto flash = rig.machine->Flash().Bytes();
  return std::vector<uint8_t>(flash.begin() + at, flash.begin() + at + length);
}

TEST(SimDriver, RequestsFailBeforeTheDriverIsLoaded) {
  SimRig rig("legacy-8m");
  EXPECT_FALSE(rig.driver->AllocSharedBlock(65536));
  EXPECT_TRUE(rig.driver->MapPhysical(0xF0000, 65535).empty());
  EXPECT_FALSE(rig.driver->WritePort(0xB2, 1, 32));
  EXPECT_TRUE(rig.Smis().empty());
}

// --- opening the firmware ---------------------------------------------------------------------

TEST(OpenFirmware, EachMachineGivesItsRecordsAndBlockTableInEveryReplyLayout) {
  struct Case {
    const char* preset;  // flash information versions 11, 12 and 10
    bool slot;
    uint16_t ofbdVersion;
    size_t refreshes;  // of the status record, at the probe
  };
  for (const Case& c : {Case{"legacy-8m", true, 0x0210, 1}, Case{"uefi-16m", false, 0x0220, 0},
                        Case{"minimal-1m", false, 0, 0}}) {
    SCOPED_TRACE(c.preset);
    const auto rig = Opened(c.preset);
    const sim::Profile& p = rig->machine->GetProfile();
    EXPECT_EQ(rig->smi->SmiPort(), 0xB2);
    EXPECT_EQ(rig->smi->HasAddressSlot(), c.slot);
    if (c.slot) {  // published where the firmware reads it
      EXPECT_EQ(core::LoadLe32(&rig->machine->FSegment()[p.asf.offset + p.asf.slotDistance]), rig->smi->BlockPhysical());
    }
    EXPECT_EQ(rig->info->OfbdVersion(), c.ofbdVersion);
    EXPECT_EQ(CountSmi(rig->Smis(), 39), c.refreshes);
    ASSERT_TRUE(rig->smi->Info());
    const FlashInfo& info = *rig->smi->Info();
    std::vector<FlashBlockEntry> blocks;
    for (const sim::BlockEntry& b : p.flash.blocks) blocks.push_back({b.start, b.size, b.type});
    EXPECT_EQ(info.Version(), p.flash.replyVersion);
    EXPECT_EQ(info.Entries(), blocks);
    EXPECT_EQ(info.Bytes().size(), blocks.size() * 9 + 25);
    EXPECT_EQ(info.EcVersionOffset(), p.flash.replyVersion > 10 ? p.flash.ecVersionOffset : 0);
    EXPECT_EQ(info.EcVersionMask(), p.flash.replyVersion > 10 ? p.flash.ecVersionMask : 0);
    EXPECT_EQ(rig->smi->TotalFlashSize(), p.flash.size);
    EXPECT_EQ(rig->info->EcbPresent(), p.ecb.present || p.uefi);
    if (p.ecb.present) {
      ASSERT_TRUE(rig->info->Ecb());
      const EcbRecord& e = *rig->info->Ecb();
      EXPECT_EQ(e.flags, p.ecb.flags);
      EXPECT_EQ(e.ecBlockAddress, p.ecb.ecBlockStart);
      EXPECT_EQ(e.ecBlockSize, p.ecb.ecBlockSize);
      EXPECT_EQ(e.ecVersionOffset, p.ecb.ecVersionOffset);
      EXPECT_EQ(e.ecVersionMask, p.ecb.ecVersionMask);
    }
    if (c.ofbdVersion == 0) {
      const size_t mark = rig->Mark();
      EXPECT_EQ(rig->ofbd->SetupPreserve(2), 156u) << "no OFBD version: unsupported without asking";
      EXPECT_TRUE(rig->Smis(mark).empty());
    }
    EXPECT_TRUE(NoMisuse(*rig));
  }
}

TEST(OpenFirmware, NoMemoryForTheSharedBlockFailsTheProbe) {
  SimRig rig("legacy-8m", [](sim::Profile& p) { p.faults.noSharedBlock = true; });
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  EXPECT_EQ(rig.info->ProbeFirmware(), 36u);
  EXPECT_FALSE(rig.smi->HasSharedBlock());
  EXPECT_TRUE(rig.Smis().empty());
}

// A record whose signature starts past offset 65530 is not found, even with its fields
// inside the segment. No machine profile places one there, so the bytes are put in by hand.
TEST(OpenFirmware, RecordsStartingPastTheSearchLimitAreNotFound) {
  SimRig rig("minimal-1m");
  auto f = rig.machine->FSegment();
  auto e = rig.machine->ESegment();
  std::memcpy(&f[65531], "$ASF", 4);
  f[65535] = 0;
  std::memcpy(&e[65531], "$ECB", 4);
  e[65535] = 0x10;  // would refuse the update
  rig.Open();
  EXPECT_EQ(rig.smi->SmiPort(), 0xB2);
  EXPECT_FALSE(rig.smi->HasAddressSlot());
  EXPECT_FALSE(rig.info->Ecb());
  EXPECT_TRUE(rig.info->CheckUpdatePermission(rig.info->Ecb(), {}));
}

// The probe takes a port the FADT names and leaves "$ASF" alone; opening then takes the port
// and slot of "$ASF", or 0xB2 without a slot when there is no such record.
TEST(OpenFirmware, FadtPortServesTheProbeAndTheRecordsOrTheDefaultTheRest) {
  for (const bool asf : {true, false}) {
    SCOPED_TRACE(asf);
    const auto rig = Probed("uefi-16m", [&](sim::Profile& p) {
      p.fadt.smiCmd = 0xB4;
      p.asf = {asf, 0xB4, 16, 0x120};
    });
    EXPECT_EQ(rig->smi->SmiPort(), 0xB4);
    EXPECT_FALSE(rig->smi->HasAddressSlot());
    EXPECT_TRUE(rig->info->EcbPresent()) << "the status call of the probe was answered";
    const size_t mark = rig->Mark();
    ASSERT_EQ(rig->info->OpenFirmware(std::nullopt), 0u);
    EXPECT_EQ(rig->smi->SmiPort(), asf ? 0xB4 : 0xB2);
    EXPECT_EQ(rig->smi->HasAddressSlot(), asf);
    // Without "$ASF" the handler still listens on the FADT's port: the utility is not heard.
    EXPECT_EQ(rig->Smis(mark).empty(), !asf);
    EXPECT_EQ(rig->Events("port-write", mark).empty(), asf);
    EXPECT_EQ(rig->smi->TotalFlashSize(), asf ? 0x1000000u : 0u);
    for (const auto& line : rig->Journal()) EXPECT_FALSE(line.contains("misuse")) << line.dump();
  }
  // Without the table the probe takes the "$ASF" port and slot at once.
  const auto noFadt = Probed("legacy-8m", [](sim::Profile& p) {
    p.fadt.present = false;
    p.asf.port = 0xB4;
  });
  EXPECT_EQ(noFadt->smi->SmiPort(), 0xB4);
  EXPECT_TRUE(noFadt->smi->HasAddressSlot());
  EXPECT_TRUE(NoMisuse(*noFadt));
}

TEST(OpenFirmware, UefiMachineTakesItsStatusFromTheOemCall) {
  const auto rig = Opened("uefi-16m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0180;
    p.oem.updatePermission = 0x80;
  });
  EXPECT_TRUE(rig->info->UefiFirmware());
  EXPECT_TRUE(rig->info->EcbPresent());
  EXPECT_EQ(rig->info->EcbFlags(), 0x0180);
  EXPECT_EQ(rig->info->UpdatePermission(), 0x80);
  EXPECT_FALSE(rig->info->CheckUpdatePermission(std::nullopt, {})) << "bit 7 of the permission byte refuses";
}

TEST(OpenFirmware, OemSmiCommandIsRaisedOnceAndEcOnlyRunsStopBeforeTheTable) {
  const auto rig = Probed("legacy-8m");
  ASSERT_EQ(rig->info->OpenFirmware(uint8_t{0x5A}, /*flashInterfaceInUse=*/false), 0u);
  EXPECT_FALSE(rig->smi->Info()) << "no flash information when only the EC is programmed";
  ASSERT_EQ(rig->info->OpenFirmware(uint8_t{0x5A}), 0u);
  EXPECT_EQ(CountSmi(rig->Smis(), 0x5A), 1u);
  EXPECT_TRUE(rig->smi->Info());
  EXPECT_TRUE(NoMisuse(*rig)) << "a code the firmware has nothing behind is no misuse";
}

// --- the update permission of the "$ECB" record ----------------------------------------------

TEST(UpdatePermission, FirstRefusalBitDecidesAndShowsOnlyItsMessage) {
  const auto rig = Opened("legacy-8m", [](sim::Profile& p) { p.ecb.flags = 0x01 | 0x10 | 0x40; });
  std::vector<std::string> shown;
  EXPECT_FALSE(rig->info->CheckUpdatePermission(rig->info->Ecb(), [&](const std::string& t) { shown.push_back(t); }));
  EXPECT_EQ(shown, std::vector<std::string>{"The battery is too weak to update the firmware."});
  EXPECT_TRUE(rig->info->MessageShown());
  // Without a sink the text goes to the console.
  const auto plain = Opened("legacy-8m", [](sim::Profile& p) { p.ecb.flags = 0x80; });
  EXPECT_FALSE(plain->info->CheckUpdatePermission(plain->info->Ecb(), {}));
  EXPECT_EQ(plain->console, "This firmware cannot be updated on this platform.\n");
}

TEST(UpdatePermission, MissingOutsideOrUnterminatedMessageIsNoMessage) {
  const auto rig = Opened("legacy-8m", [](sim::Profile& p) { p.ecb.flags = 0x80; });
  // Point the bit-7 message at the very end of the E segment view and fill it without a zero.
  auto e = rig->machine->ESegment();
  std::fill(e.begin() + 65530, e.begin() + 65535, 'x');
  std::optional<EcbRecord> record = rig->info->Ecb();
  record->messageOffsets[3] = 65530;
  bool called = false;
  EXPECT_FALSE(rig->info->CheckUpdatePermission(record, [&](const std::string&) { called = true; }));
  EXPECT_FALSE(called);
  record->messageOffsets[3] = 0xFFFF;
  EXPECT_FALSE(rig->info->CheckUpdatePermission(record, {}));
  EXPECT_TRUE(rig->console.empty());
  EXPECT_FALSE(rig->info->MessageShown());
  // A refusal bit whose message offset the record leaves empty refuses silently too.
  const auto silent = Opened("legacy-8m", [](sim::Profile& p) {
    p.ecb.flags = 0x20;
    p.ecb.messages[1] = "";
  });
  EXPECT_FALSE(silent->info->CheckUpdatePermission(silent->info->Ecb(), [&](const std::string&) { called = true; }));
  EXPECT_FALSE(called);
}

// --- flash information ----------------------------------------------------------------------

// The enable step's refusals and the flash information's refusal marker. The firmware writes
// the enable status only to refuse, so the status byte must be cleared first: the version
// query just before leaves its header's 2 there, which would read as "no power cord".
TEST(FlashInformation, RefusalsOfTheEnableStepAndTheRefusalMarker) {
  struct Case {
    Tweak tweak;
    uint32_t code;
    bool writable;
    bool statusWritten;  // by the enable command
  };
  auto enable = [](uint8_t answer, bool silent) {
    return [=](sim::Profile& p) {
      p.enableAnswer = answer;
      p.enableSilentOnSuccess = silent;
    };
  };
  auto marker = [](uint8_t version) {
    return [=](sim::Profile& p) {
      p.flash.replyVersion = version;
      p.flash.refusalMarker = 1;
    };
  };
  auto otherMarker = [](uint8_t m) { return [m](sim::Profile& p) { p.flash.refusalMarker = m; }; };
  const Case cases[] = {{enable(0, true), 0, true, false},   {enable(0, false), 0, true, true},
                        {enable(1, true), 64, false, true},  {enable(2, true), 72, false, true},
                        {enable(3, false), 73, false, true}, {[](sim::Profile& p) { p.faults.writeProtected = true; }, 64, false, true},
                        {marker(10), 70, true, false},       {marker(11), 70, true, false},
                        {marker(12), 0, true, false},        {marker(9), 70, true, false},
                        {marker(13), 70, true, false},       {enable(4, true), 0, true, true},
                        {enable(255, true), 0, true, true},  {otherMarker(2), 0, true, false},
                        {otherMarker(255), 0, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const auto rig = Probed("legacy-8m", c.tweak);
    ASSERT_EQ(rig->ofbd->QueryVersion(), 0x0210);
    const size_t mark = rig->Mark();
    EXPECT_EQ(rig->smi->LoadFlashInfo(), c.code);
    EXPECT_EQ(rig->Smis(mark).at(0).contains("status"), c.statusWritten);
    std::vector<uint8_t> piece(1024);
    EXPECT_TRUE(rig->smi->ReadFlash(0x7E0000, 1024, piece)) << "reading needs no enable";
    EXPECT_EQ(rig->smi->EraseFlash(0x7E0000, 0x1000), c.writable);
    if (c.writable) { EXPECT_TRUE(NoMisuse(*rig)); }
  }
}

// --- flash requests ---------------------------------------------------------------------------

TEST(FlashRequests, EnableOnceDisableOnlyAfterEnableWithItsPause) {
  const auto rig = Opened("minimal-1m");
  rig->smi->DisableFlash();  // start-up does this after opening
  const uint64_t before = rig->machine->Now();
  const size_t mark = rig->Mark();
  rig->smi->DisableFlash();
  EXPECT_TRUE(rig->Smis(mark).empty());
  EXPECT_EQ(rig->machine->Now(), before) << "no pause without a disable";
  rig->smi->EnableFlash();
  rig->smi->EnableFlash();
  rig->smi->DisableFlash();
  EXPECT_EQ(CountSmi(rig->Smis(mark), 32), 1u);
  EXPECT_EQ(CountSmi(rig->Smis(mark), 36), 1u);
  EXPECT_EQ(rig->machine->Now(), before + 1000);
}

TEST(FlashRequests, PiecesOfOneKibibyteAndEraseAsOneRequest) {
  const auto rig = Opened("minimal-1m");
  std::vector<uint8_t> data(0x1000, 0x5A);
  size_t mark = rig->Mark();
  ASSERT_TRUE(rig->smi->EraseFlash(0x10000, 0x1000));
  auto smis = rig->Smis(mark);
  ASSERT_EQ(smis.size(), 1u);
  EXPECT_EQ(smis[0].value("len", 0), 0x1000);
  mark = rig->Mark();
  ASSERT_TRUE(rig->smi->WriteFlash(0x10000, 0xA00, data));  // 2.5 KiB: two whole pieces
  smis = rig->Smis(mark);
  ASSERT_EQ(CountSmi(smis, 35), 2u);
  EXPECT_EQ(smis[1].value("addr", 0), 0x10400);
  EXPECT_EQ(FlashBytes(*rig, 0x107FF, 2), (std::vector<uint8_t>{0x5A, 0xFF})) << "the remainder is not transferred";
  mark = rig->Mark();
  EXPECT_TRUE(rig->smi->WriteFlash(0x10000, 500, data));
  EXPECT_TRUE(rig->smi->ReadFlash(0x10000, 1023, data));
  EXPECT_TRUE(rig->Smis(mark).empty());
  EXPECT_TRUE(NoMisuse(*rig));
}

TEST(FlashRequests, NorFlashAnsweringWithAnyStatusButOne) {
  const auto rig = Opened("minimal-1m", [](sim::Profile& p) { p.successStatus = 7; });
  rig->smi->DisableFlash();
  EXPECT_FALSE(rig->smi->EraseFlash(0, 0x1000));
  EXPECT_EQ(rig->Smis().back().value("misuse", ""), "flash writes are not enabled");
  rig->smi->EnableFlash();
  const std::vector<uint8_t> a(0x1000, 0xF0), b(0x1000, 0x3C);
  ASSERT_TRUE(rig->smi->EraseFlash(0, 0x1000));
  ASSERT_TRUE(rig->smi->WriteFlash(0, 0x1000, a));
  EXPECT_TRUE(rig->smi->VerifyFlash(0, 0x1000, a));
  ASSERT_TRUE(rig->smi->WriteFlash(0, 0x1000, b));  // no erase in between: bits only clear
  EXPECT_FALSE(rig->smi->VerifyFlash(0, 0x1000, b));
  std::vector<uint8_t> got(0x1000);
  ASSERT_TRUE(rig->smi->ReadFlash(0, 0x1000, got));
  EXPECT_EQ(got, std::vector<uint8_t>(0x1000, 0x30));
  EXPECT_EQ(rig->Smis().back().value("status", 0), 7);
  ASSERT_TRUE(rig->smi->EraseFlash(0xDF000, 0x2000));  // straddles main BIOS and boot block
  EXPECT_EQ(rig->machine->Flash().EraseCounts(), (std::vector<uint32_t>{2, 1}));
  EXPECT_EQ(FlashBytes(*rig, 0xDF000, 0x2000), std::vector<uint8_t>(0x2000, 0xFF));
}

TEST(FlashRequests, RetryAllowanceIsSharedByTheWholeCall) {
  struct Case {
    std::vector<sim::StuckFault> stuck;  // from an SMI number, or at a piece's address
    bool ok;
    size_t smis;
  };
  // Four pieces; five repeats in all are allowed. Three on the first piece leave two.
  const Case cases[] = {{{{0, 0x0u, 6}}, false, 6},
                        {{{0, 0x0u, 5}}, true, 9},
                        {{{0, 0x0u, 3}, {0, 0xC00u, 3}}, false, 4 + 2 + 3},
                        {{{0, 0x0u, 3}, {0, 0xC00u, 2}}, true, 9},
                        {{{1, std::nullopt, 3}}, true, 4 + 3}};
  for (const Case& c : cases) {
    const auto rig = Opened("minimal-1m", [&](sim::Profile& p) { p.faults.stuck = c.stuck; });
    std::vector<uint8_t> buffer(0x1000);
    const size_t mark = rig->Mark();
    EXPECT_EQ(rig->smi->ReadFlash(0, 0x1000, buffer), c.ok) << (&c - cases);
    EXPECT_EQ(rig->Smis(mark).size(), c.smis) << (&c - cases);
  }
}

TEST(FlashRequests, AFailingRangeFailsItsOwnOperationAtOnceAndLeavesTheFlashAlone) {
  enum Call { kRead, kErase, kWrite };
  struct Case {
    sim::FlashOp op;  // fails at 0x2000..0x23FF
    Call call;
    uint32_t address, length;
    bool ok;
    size_t smis;
  };
  const Case cases[] = {{sim::FlashOp::Write, kWrite, 0, 0x4000, false, 9},  // eight good pieces, then the bad one
                        {sim::FlashOp::Write, kErase, 0x2000, 0x1000, true, 1},
                        {sim::FlashOp::Read, kRead, 0x2000, 0x400, false, 1},
                        {sim::FlashOp::Read, kRead, 0x2400, 0x400, true, 1},
                        {sim::FlashOp::Read, kWrite, 0x2000, 0x400, true, 1},
                        {sim::FlashOp::Erase, kErase, 0x2000, 0x1000, false, 1},
                        {sim::FlashOp::Erase, kErase, 0x3000, 0x1000, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const auto rig = Opened("minimal-1m", [&](sim::Profile& p) { p.faults.fail = {{c.op, 0x2000, 0x400}}; });
    const auto before = FlashBytes(*rig, 0x2000, 0x400);
    std::vector<uint8_t> data(c.length, 0);
    const size_t mark = rig->Mark();
    const bool ok = c.call == kRead    ? rig->smi->ReadFlash(c.address, c.length, data)
                    : c.call == kErase ? rig->smi->EraseFlash(c.address, c.length)
                                       : rig->smi->WriteFlash(c.address, c.length, data);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(rig->Smis(mark).size(), c.smis);
    if (!c.ok) { EXPECT_EQ(FlashBytes(*rig, 0x2000, 0x400), before); }
  }
}

TEST(FlashRequests, ProgressCallbacksGetAddressRomSizeAndLength) {
  const auto rig = Opened("minimal-1m");
  std::vector<std::array<uint32_t, 3>> calls;
  auto record = [&](uint32_t a, uint32_t b, uint32_t c) { calls.push_back({a, b, c}); };
  const std::vector<uint8_t> data(0x800, 0);
  ASSERT_TRUE(rig->smi->EraseFlash(0x1000, 0x1000, record));
  ASSERT_TRUE(rig->smi->WriteFlash(0x1000, 0x800, data, record));
  ASSERT_TRUE(rig->smi->VerifyFlash(0x1000, 0x800, data, record));
  const uint32_t rom = 0x100000;
  EXPECT_EQ(calls, (std::vector<std::array<uint32_t, 3>>{
                       {0x1000, rom, 0x1000}, {0x1000, rom, 0x800}, {0x1400, rom, 0x800}, {0x1000, rom, 0x800}, {0x1400, rom, 0x800}}));
}

// --- OEM calls and OFBD ------------------------------------------------------------------------

TEST(OemCalls, AnUnansweredCallKeepsEveryPreset) {
  const auto rig = Opened("minimal-1m");
  EXPECT_FALSE(rig->oem->AdministratorPasswordSet());
  EXPECT_FALSE(rig->oem->ReadIdentity());
  EXPECT_FALSE(rig->oem->ReadSystemNameIndex());
  EXPECT_FALSE(rig->oem->VersionProtected(0x31, {'A', '0', '2'}));
  EXPECT_FALSE(rig->oem->MaximumPasswordLength());
  const auto call = rig->oem->OemCall(99, 31, {}, {7, 8, 9, 10});
  ASSERT_TRUE(call);
  EXPECT_EQ(call->outputs, (Words{7, 8, 9, 10}));
  EXPECT_EQ(CountSmi(rig->Smis(), 13), 6u);
  EXPECT_TRUE(NoMisuse(*rig));
}

TEST(OemCalls, AnsweringFirmwareGivesItsValuesAndJournalsEveryInput) {
  const auto rig = Opened("uefi-16m", [](sim::Profile& p) {
    p.oem.protectedVersions = {"B10"};
    p.oem.password = "secret";
  });
  const size_t mark = rig->Mark();
  EXPECT_EQ(rig->oem->ReadSystemNameIndex(), 1);
  EXPECT_TRUE(rig->oem->VersionProtected(0x2A51, {'B', '1', '0'}));
  EXPECT_FALSE(rig->oem->VersionProtected(0x2A51, {'B', '1', '1'}));
  EXPECT_TRUE(rig->oem->AdministratorPasswordSet());
  EXPECT_EQ(rig->oem->MaximumPasswordLength(), 16);
  EXPECT_FALSE(rig->oem->SubmitAdministratorPassword("wrong"));
  EXPECT_TRUE(rig->oem->SubmitAdministratorPassword("secret"));
  const auto identity = rig->oem->ReadIdentity();
  ASSERT_TRUE(identity);
  ASSERT_EQ(identity->identity.size(), 4096u);
  EXPECT_NE(std::string(identity->identity.begin(), identity->identity.end()).find("$BV#"), std::string::npos);
  EXPECT_STREQ(reinterpret_cast<const char*>(identity->modelName.data()), "Korv Tablet 16");
  rig->oem->SignalSl();
  const auto smis = rig->Smis(mark);
  ASSERT_EQ(smis.size(), 9u);
  const uint32_t area = rig->smi->BlockPhysical() + 1024;
  EXPECT_EQ(smis[1]["in"], nlohmann::json(Words{0x2A51, 'B', '1', '0'}));
  EXPECT_EQ(smis[5]["in"], nlohmann::json(Words{area, area + 1024, 0, 0}));
  EXPECT_EQ(smis[5]["preset"], nlohmann::json(Words{1, 0, 0, 0}));
  EXPECT_EQ(smis[8]["in"], nlohmann::json(Words{0x8005, 1, 0, 0}));
  EXPECT_EQ(smis[8]["answered"], false);
  EXPECT_TRUE(NoMisuse(*rig));
}

// Every block the utility builds passes the firmware's checks of the header, the operation,
// the sizes, the end marker and the operation's own record, whether the firmware answers it
// or not; the answers it does not give read as "unsupported".
TEST(Ofbd, EveryOperationTheUtilityBuildsIsWellFormed) {
  const auto rig = Opened("legacy-8m", [](sim::Profile& p) { p.ofbdPassword = {true, "0123456789", 3, "", "", ""}; });
  const size_t mark = rig->Mark();
  EXPECT_EQ(rig->ofbd->MeRegionQuery(0), 162u);
  EXPECT_EQ(rig->ofbd->MeRegionQuery(5), 161u);
  EXPECT_FALSE(rig->ofbd->CommandLineConfiguration(0, 1));
  EXPECT_EQ(rig->ofbd->SetupPreserve(1), 156u);
  std::vector<uint8_t> data(4095);
  std::iota(data.begin(), data.end(), uint8_t{1});
  EXPECT_EQ(rig->ofbd->EcTransfer(1, {}, 0x1234), 173u);
  EXPECT_EQ(rig->ofbd->EcTransfer(2, data, std::nullopt), 173u);
  EXPECT_EQ(rig->ofbd->EcTransfer(4, {}, std::nullopt), 173u);
  EXPECT_TRUE(rig->ofbd->QueryPassword().valid);
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
  EXPECT_EQ(CountSmi(rig->Smis(mark), 38), 15u);
  EXPECT_TRUE(NoMisuse(*rig));
  for (const auto& line : rig->Journal()) EXPECT_EQ(line.dump().find("0123456789"), std::string::npos);
}

TEST(CloseFirmware, DisablesReleasesAndForgets) {
  const auto rig = Opened("legacy-8m");
  const size_t mark = rig->Mark();
  EXPECT_EQ(rig->info->CloseFirmware(), 0u);
  EXPECT_EQ(CountSmi(rig->Smis(mark), 36), 1u);
  EXPECT_FALSE(rig->smi->HasSharedBlock());
  EXPECT_FALSE(rig->smi->Info());
  EXPECT_TRUE(rig->driver->UnloadIoDriver());
}

// A block taken in place of the first one (as the EC transfer does) lives at another
// address; every request after it must announce the new one, in EBX and in the slot.
TEST(SharedBlock, ABlockTakenMidSessionIsAnnouncedEverywhere) {
  const auto rig = Opened("legacy-8m");
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
  for (const auto& line : rig->Smis(mark)) EXPECT_FALSE(line.contains("misuse")) << line.dump();
}

}  // namespace
}  // namespace nox::firmware

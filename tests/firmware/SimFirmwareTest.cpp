// The firmware layer against the simulated machine: what goes over the wire is checked in
// the machine's journal, not only in the return values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "SimRig.h"
#include "core/Bytes.h"

namespace nox::firmware {
namespace {

using nox::testing::SimRig;
using Tweak = std::function<void(sim::Profile&)>;

size_t CountSmi(const std::vector<nlohmann::json>& smis, int command) {
  return static_cast<size_t>(
      std::count_if(smis.begin(), smis.end(), [&](const nlohmann::json& j) { return j.value("smi", -1) == command; }));
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

TEST(SimDriver, RequestsFailBeforeTheDriverIsLoaded) {
  SimRig rig("legacy-8m");
  EXPECT_FALSE(rig.driver->AllocSharedBlock(65536));
  EXPECT_TRUE(rig.driver->MapPhysical(0xF0000, 65535).empty());
  EXPECT_FALSE(rig.driver->WritePort(0xB2, 1, 32));
  EXPECT_TRUE(rig.Smis().empty());
}

TEST(OpenFirmware, LegacyMachineGivesPortRecordsAndBlockTable) {
  const auto rig = Opened("legacy-8m");
  EXPECT_EQ(rig->smi->SmiPort(), 0xB2);
  EXPECT_TRUE(rig->smi->HasAddressSlot());
  ASSERT_TRUE(rig->info->EcbPresent() && rig->info->Ecb());
  EXPECT_EQ(rig->info->Ecb()->ecBlockAddress, 0x40000u);
  EXPECT_EQ(rig->info->OfbdVersion(), 0x0210);
  ASSERT_TRUE(rig->smi->Info());
  const auto smis = rig->Smis();
  EXPECT_EQ(CountSmi(smis, 39), 1u) << "the status record is refreshed once at the probe";
  EXPECT_EQ(CountSmi(smis, 37), 1u);
  // The machine takes the block's address from the "$ASF" slot once the utility knows it,
  // so a run without misuse shows it published the address before every raised command.
  for (const auto& line : rig->Journal()) EXPECT_FALSE(line.contains("misuse")) << line.dump();
}

TEST(OpenFirmware, NoMemoryForTheSharedBlockFailsTheProbe) {
  SimRig rig("legacy-8m", [](sim::Profile& p) { p.faults.noSharedBlock = true; });
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  EXPECT_EQ(rig.info->ProbeFirmware(), 36u);
  EXPECT_FALSE(rig.smi->HasSharedBlock());
  EXPECT_TRUE(rig.Smis().empty());
}

TEST(OpenFirmware, LegacyMachineWithoutEcbOrOfbdNeverAsksForThem) {
  const auto rig = Opened("minimal-1m");
  EXPECT_FALSE(rig->info->EcbPresent());
  EXPECT_EQ(CountSmi(rig->Smis(), 39), 0u);
  EXPECT_EQ(rig->info->OfbdVersion(), 0);
  EXPECT_TRUE(rig->info->CheckUpdatePermission(rig->info->Ecb(), {}));
  const size_t mark = rig->Mark();
  EXPECT_EQ(rig->ofbd->SetupPreserve(2), 156u) << "no OFBD version: unsupported without asking";
  EXPECT_TRUE(rig->Smis(mark).empty());
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
}

TEST(OpenFirmware, UefiMachineTakesItsStatusFromTheOemCall) {
  const auto rig = Opened("uefi-16m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0180;
    p.oem.updatePermission = 0x80;
  });
  EXPECT_TRUE(rig->info->UefiFirmware());
  EXPECT_TRUE(rig->info->EcbPresent());
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
  core::StoreLe16(&e[rig->info->Ecb()->offset + 29], 65530);
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

TEST(FlashInformation, RefusalsOfTheEnableStepAndTheOldRefusalMarker) {
  struct Case {
    const char* preset;
    Tweak tweak;
    uint32_t code;
  };
  auto marker = [](uint8_t version) {
    return [version](sim::Profile& p) {
      p.flash.replyVersion = version;
      p.flash.refusalMarker = 1;
    };
  };
  auto answer = [](uint8_t a) { return [a](sim::Profile& p) { p.enableAnswer = a; }; };
  auto otherMarker = [](uint8_t m) { return [m](sim::Profile& p) { p.flash.refusalMarker = m; }; };
  const Case cases[] = {{"minimal-1m", answer(1), 64},   {"minimal-1m", answer(2), 72},   {"minimal-1m", answer(3), 73},
                        {"minimal-1m", answer(0), 0},    {"minimal-1m", answer(4), 0},    {"minimal-1m", answer(255), 0},
                        {"legacy-8m", marker(9), 70},    {"legacy-8m", marker(10), 70},   {"legacy-8m", marker(11), 70},
                        {"legacy-8m", marker(12), 0},    {"legacy-8m", marker(13), 70},   {"legacy-8m", otherMarker(2), 0},
                        {"legacy-8m", otherMarker(255), 0}};
  for (const Case& c : cases) EXPECT_EQ(Probed(c.preset, c.tweak)->smi->LoadFlashInfo(), c.code) << (&c - cases);
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
  rig->smi->EnableFlash();
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
  std::vector<uint8_t> flash(0x1000);
  ASSERT_TRUE(rig->smi->ReadFlash(0x10000, 0x1000, flash));
  EXPECT_EQ(flash[0x7FF], 0x5A);
  EXPECT_EQ(flash[0x800], 0xFF) << "the remainder below 1 KiB is not transferred";
  mark = rig->Mark();
  EXPECT_TRUE(rig->smi->WriteFlash(0x10000, 500, data));
  EXPECT_TRUE(rig->smi->ReadFlash(0x10000, 1023, flash));
  EXPECT_TRUE(rig->Smis(mark).empty());
  for (const auto& line : rig->Journal()) EXPECT_FALSE(line.contains("misuse")) << line.dump();
}

TEST(FlashRequests, RetryAllowanceIsSharedByTheWholeCall) {
  struct Case {
    std::vector<std::pair<uint32_t, uint32_t>> stuck;  // piece address, failed attempts there
    bool ok;
    size_t smis;
  };
  // Four pieces; five repeats in all are allowed. Three on the first piece leave two.
  const Case cases[] = {{{{0x0, 6}}, false, 6}, {{{0x0, 5}}, true, 9}, {{{0x0, 3}, {0xC00, 3}}, false, 4 + 2 + 3},
                        {{{0x0, 3}, {0xC00, 2}}, true, 9}};
  for (const Case& c : cases) {
    const auto rig = Opened("minimal-1m", [&](sim::Profile& p) {
      for (const auto& [address, attempts] : c.stuck) p.faults.stuck.push_back({0, address, attempts});
    });
    std::vector<uint8_t> buffer(0x1000);
    const size_t mark = rig->Mark();
    EXPECT_EQ(rig->smi->ReadFlash(0, 0x1000, buffer), c.ok) << (&c - cases);
    EXPECT_EQ(rig->Smis(mark).size(), c.smis) << (&c - cases);
  }
}

TEST(FlashRequests, FailingStatusFailsAtOnce) {
  const auto rig = Opened("minimal-1m", [](sim::Profile& p) {
    p.faults.fail.push_back({sim::FlashOp::Write, 0x2000, 0x400});
  });
  rig->smi->EnableFlash();
  const size_t mark = rig->Mark();
  EXPECT_FALSE(rig->smi->WriteFlash(0, 0x4000, std::vector<uint8_t>(0x4000, 0)));
  EXPECT_EQ(rig->Smis(mark).size(), 9u) << "eight good pieces, then the failing one";
}

TEST(FlashRequests, ProgressCallbacksGetAddressRomSizeAndLength) {
  const auto rig = Opened("minimal-1m");
  rig->smi->EnableFlash();
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

// --- OFBD and OEM calls ----------------------------------------------------------------------

TEST(OemCalls, AnUnansweredCallKeepsItsPresets) {
  const auto rig = Opened("minimal-1m");
  EXPECT_FALSE(rig->oem->AdministratorPasswordSet());
  EXPECT_FALSE(rig->oem->ReadIdentity());
  EXPECT_FALSE(rig->oem->ReadSystemNameIndex());
  EXPECT_FALSE(rig->oem->VersionProtected(0x31, {'A', '0', '2'}));
  EXPECT_FALSE(rig->oem->MaximumPasswordLength());
  EXPECT_EQ(CountSmi(rig->Smis(), 13), 5u);
}

TEST(Ofbd, UnknownOperationsAreNotHandled) {
  const auto rig = Opened("legacy-8m");
  EXPECT_EQ(rig->ofbd->MeRegionQuery(0), 162u);
  EXPECT_EQ(rig->ofbd->MeRegionQuery(3), 161u);
  EXPECT_FALSE(rig->ofbd->QueryPassword().valid);
  EXPECT_FALSE(rig->ofbd->CommandLineConfiguration(0, 1));
  EXPECT_EQ(rig->ofbd->SetupPreserve(1), 156u);
  EXPECT_EQ(rig->ofbd->EcTransfer(1, {}, std::nullopt), 173u);
  EXPECT_GE(CountSmi(rig->Smis(), 38), 7u);
}

TEST(CloseFirmware, DisablesReleasesAndForgets) {
  const auto rig = Opened("legacy-8m");
  rig->smi->EnableFlash();
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

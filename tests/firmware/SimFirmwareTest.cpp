// The firmware layer against the simulated machine: what goes over the wire is checked in
// the machine's journal, not only in the return values.
#include <gtest/gtest.h>

#include <algorithm>

#include "SimRig.h"
#include "core/Bytes.h"

namespace nox::firmware {
namespace {

using nox::testing::SimRig;

size_t CountSmi(const std::vector<nlohmann::json>& smis, int command) {
  return static_cast<size_t>(
      std::count_if(smis.begin(), smis.end(), [&](const nlohmann::json& j) { return j.value("smi", -1) == command; }));
}

bool AnyMisuse(const std::vector<nlohmann::json>& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const nlohmann::json& j) { return j.contains("misuse"); });
}

// --- the driver ------------------------------------------------------------------------------

TEST(SimDriver, LoadsOnceRemovesItsFileAndUnloadsCleanly) {
  SimRig rig("legacy-8m");
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  EXPECT_FALSE(std::filesystem::exists(rig.dir / "orufldrv64.sys")) << "the driver file is gone once it runs";
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  const auto services = rig.Events("driver-service");
  EXPECT_EQ(std::count_if(services.begin(), services.end(),
                          [](const nlohmann::json& j) { return j.value("op", "") == "create"; }),
            1);
  EXPECT_TRUE(rig.driver->UnloadIoDriver());
  const auto after = rig.Events("driver-service");
  EXPECT_EQ(after.back().value("op", ""), "delete");
}

TEST(SimDriver, RequestsFailBeforeTheDriverIsLoaded) {
  SimRig rig("legacy-8m");
  EXPECT_FALSE(rig.driver->AllocSharedBlock(65536));
  EXPECT_TRUE(rig.driver->MapPhysical(0xF0000, 65535).empty());
  EXPECT_FALSE(rig.driver->WritePort(0xB2, 1, 32));
  EXPECT_TRUE(rig.Smis().empty());
}

// --- opening the firmware -----------------------------------------------------------------

TEST(OpenFirmware, LegacyMachineGivesPortRecordsAndBlockTable) {
  SimRig rig("legacy-8m");
  rig.Open();
  EXPECT_EQ(rig.smi->SmiPort(), 0xB2);
  EXPECT_TRUE(rig.smi->HasAddressSlot());
  EXPECT_TRUE(rig.info->EcbPresent());
  ASSERT_TRUE(rig.info->Ecb());
  EXPECT_EQ(rig.info->Ecb()->ecBlockAddress, 0x40000u);
  EXPECT_EQ(rig.info->OfbdVersion(), 0x0210);
  ASSERT_TRUE(rig.smi->Info());
  const auto& blocks = rig.machine->GetProfile().flash.blocks;
  ASSERT_EQ(rig.smi->Info()->BlockCount(), blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(rig.smi->Info()->Entry(i).start, blocks[i].start);
    EXPECT_EQ(rig.smi->Info()->Entry(i).size, blocks[i].size);
    EXPECT_EQ(rig.smi->Info()->Entry(i).type, blocks[i].type);
  }
  EXPECT_EQ(rig.smi->TotalFlashSize(), 0x800000u);
  const auto smis = rig.Smis();
  EXPECT_EQ(CountSmi(smis, 39), 1u) << "the status record is refreshed once at the probe";
  EXPECT_EQ(CountSmi(smis, 37), 1u);
  for (const auto& line : rig.Journal()) EXPECT_FALSE(line.contains("misuse")) << line.dump();
}

TEST(OpenFirmware, NoMemoryForTheSharedBlockFailsTheProbe) {
  SimRig rig("legacy-8m", [](sim::Profile& p) { p.faults.noSharedBlock = true; });
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  EXPECT_EQ(rig.info->ProbeFirmware(), 36u);
  EXPECT_FALSE(rig.smi->HasSharedBlock());
  EXPECT_TRUE(rig.Smis().empty());
}

TEST(OpenFirmware, LegacyMachineWithoutEcbNeverRefreshesIt) {
  SimRig rig("minimal-1m");
  rig.Open();
  EXPECT_FALSE(rig.info->EcbPresent());
  EXPECT_EQ(CountSmi(rig.Smis(), 39), 0u);
  EXPECT_EQ(rig.info->OfbdVersion(), 0);
  EXPECT_TRUE(rig.info->CheckUpdatePermission(rig.info->Ecb(), {}));
}

TEST(OpenFirmware, AsfRecordAtTheEndOfTheSegmentIsNotFound) {
  SimRig rig("legacy-8m", [](sim::Profile& p) {
    p.asf.offset = 65531;
    p.asf.port = 0xB0;
    p.smiPort = 0xB0;
  });
  rig.Open();
  EXPECT_EQ(rig.smi->SmiPort(), 0xB2);
  EXPECT_FALSE(rig.smi->HasAddressSlot());
  // The handler listens on 0xB0; every command the utility raises went to 0xB2 instead.
  EXPECT_TRUE(rig.Smis().empty());
  EXPECT_FALSE(rig.Events("port-write").empty());
}

TEST(OpenFirmware, FadtPortServesTheProbeAndTheAsfPortTheRest) {
  SimRig rig("uefi-16m", [](sim::Profile& p) {
    p.fadt.smiCmd = 0xB4;
    p.asf = {true, 0xB2, 16, 0x120};
  });
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  ASSERT_EQ(rig.info->ProbeFirmware(), 0u);
  EXPECT_EQ(rig.smi->SmiPort(), 0xB4);
  EXPECT_FALSE(rig.smi->HasAddressSlot());
  ASSERT_EQ(rig.info->OpenFirmware(std::nullopt), 0u);
  EXPECT_EQ(rig.smi->SmiPort(), 0xB2);
  EXPECT_TRUE(rig.smi->HasAddressSlot());
}

TEST(OpenFirmware, UefiMachineTakesItsStatusFromTheOemCall) {
  SimRig rig("uefi-16m", [](sim::Profile& p) {
    p.ecb1.flags = 0x0180;
    p.oem.updatePermission = 0x80;
  });
  rig.Open();
  EXPECT_TRUE(rig.info->UefiFirmware());
  EXPECT_TRUE(rig.info->EcbPresent());
  EXPECT_EQ(rig.info->UpdatePermission(), 0x80);
  EXPECT_FALSE(rig.info->CheckUpdatePermission(std::nullopt, {})) << "bit 7 of the permission byte refuses";
}

TEST(OpenFirmware, OemSmiCommandIsRaisedOnceAndEcOnlyRunsStopBeforeTheTable) {
  SimRig rig("legacy-8m");
  ASSERT_TRUE(rig.driver->LoadIoDriver());
  ASSERT_EQ(rig.info->ProbeFirmware(), 0u);
  ASSERT_EQ(rig.info->OpenFirmware(uint8_t{0x5A}, /*flashInterfaceInUse=*/false), 0u);
  EXPECT_FALSE(rig.smi->Info()) << "no flash information when only the EC is programmed";
  ASSERT_EQ(rig.info->OpenFirmware(uint8_t{0x5A}), 0u);
  EXPECT_EQ(CountSmi(rig.Smis(), 0x5A), 1u);
  EXPECT_TRUE(rig.smi->Info());
}

// --- the update permission of the "$ECB" record ----------------------------------------------

TEST(UpdatePermission, FirstRefusalBitDecidesAndShowsOnlyItsMessage) {
  SimRig rig("legacy-8m", [](sim::Profile& p) { p.ecb.flags = 0x01 | 0x10 | 0x40; });
  rig.Open();
  std::vector<std::string> shown;
  EXPECT_FALSE(rig.info->CheckUpdatePermission(rig.info->Ecb(), [&](const std::string& t) { shown.push_back(t); }));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "The battery is too weak to update the firmware.");
  EXPECT_TRUE(rig.info->MessageShown());
}

TEST(UpdatePermission, RefusalWithoutMessageOffsetIsSilent) {
  SimRig rig("legacy-8m", [](sim::Profile& p) {
    p.ecb.flags = 0x20;
    p.ecb.messages[1] = "";
  });
  rig.Open();
  bool called = false;
  EXPECT_FALSE(rig.info->CheckUpdatePermission(rig.info->Ecb(), [&](const std::string&) { called = true; }));
  EXPECT_FALSE(called);
  EXPECT_FALSE(rig.info->MessageShown());
}

TEST(UpdatePermission, MessageOutsideTheSegmentOrUnterminatedIsNoMessage) {
  SimRig rig("legacy-8m", [](sim::Profile& p) { p.ecb.flags = 0x80; });
  rig.Open();
  // Point the bit-7 message at the very end of the E segment view and fill it without a zero.
  auto e = rig.machine->ESegment();
  const size_t at = rig.info->Ecb()->offset;
  core::StoreLe16(&e[at + 29], 65530);
  std::fill(e.begin() + 65530, e.begin() + 65535, 'x');
  std::optional<EcbRecord> record = rig.info->Ecb();
  record->messageOffsets[3] = 65530;
  bool called = false;
  EXPECT_FALSE(rig.info->CheckUpdatePermission(record, [&](const std::string&) { called = true; }));
  EXPECT_FALSE(called);
  record->messageOffsets[3] = 0xFFFF;
  EXPECT_FALSE(rig.info->CheckUpdatePermission(record, {}));
  EXPECT_TRUE(rig.console.empty());
}

TEST(UpdatePermission, WithoutSinkTheTextGoesToTheConsole) {
  SimRig rig("legacy-8m", [](sim::Profile& p) { p.ecb.flags = 0x80; });
  rig.Open();
  EXPECT_FALSE(rig.info->CheckUpdatePermission(rig.info->Ecb(), {}));
  EXPECT_EQ(rig.console, "This firmware cannot be updated on this platform.\n");
}

// --- flash information ----------------------------------------------------------------------

TEST(FlashInformation, RefusalsOfTheEnableStep) {
  struct Case {
    uint8_t answer;
    uint32_t code;
  };
  for (const Case c : {Case{1, 64}, Case{2, 72}, Case{3, 73}, Case{0, 0}}) {
    SimRig rig("minimal-1m", [&](sim::Profile& p) { p.enableAnswer = c.answer; });
    ASSERT_TRUE(rig.driver->LoadIoDriver());
    ASSERT_EQ(rig.info->ProbeFirmware(), 0u);
    EXPECT_EQ(rig.smi->LoadFlashInfo(), c.code) << int(c.answer);
  }
}

TEST(FlashInformation, RefusalMarkerCountsOnlyBeforeVersionTwelve) {
  for (const auto& [version, code] : {std::pair<uint8_t, uint32_t>{11, 70}, {12, 0}, {10, 70}}) {
    SimRig rig("legacy-8m", [&](sim::Profile& p) {
      p.flash.replyVersion = version;
      p.flash.refusalMarker = 1;
    });
    ASSERT_TRUE(rig.driver->LoadIoDriver());
    ASSERT_EQ(rig.info->ProbeFirmware(), 0u);
    EXPECT_EQ(rig.smi->LoadFlashInfo(), code) << int(version);
  }
}

TEST(FlashInformation, VersionTenAndElevenRepliesNormalizeAlike) {
  SimRig v10("minimal-1m");
  SimRig v11("minimal-1m", [](sim::Profile& p) { p.flash.replyVersion = 11; });
  v10.Open();
  v11.Open();
  ASSERT_TRUE(v10.smi->Info() && v11.smi->Info());
  EXPECT_EQ(v10.smi->Info()->Entries(), v11.smi->Info()->Entries());
  EXPECT_EQ(v10.smi->Info()->Version(), 10);
  EXPECT_EQ(v11.smi->Info()->Version(), 11);
  EXPECT_EQ(v10.smi->TotalFlashSize(), 0x100000u);
}

// --- flash requests ---------------------------------------------------------------------------

TEST(FlashRequests, EnableOnceDisableOnlyAfterEnableWithItsPause) {
  SimRig rig("minimal-1m");
  rig.Open();
  rig.smi->DisableFlash();  // start-up does this after opening
  const uint64_t before = rig.machine->Now();
  const size_t mark = rig.Mark();
  rig.smi->DisableFlash();
  EXPECT_TRUE(rig.Smis(mark).empty());
  EXPECT_EQ(rig.machine->Now(), before) << "no pause without a disable";
  rig.smi->EnableFlash();
  rig.smi->EnableFlash();
  rig.smi->DisableFlash();
  const auto smis = rig.Smis(mark);
  EXPECT_EQ(CountSmi(smis, 32), 1u);
  EXPECT_EQ(CountSmi(smis, 36), 1u);
  EXPECT_EQ(rig.machine->Now(), before + 1000);
}

TEST(FlashRequests, PiecesOfOneKibibyteAndEraseAsOneRequest) {
  SimRig rig("minimal-1m");
  rig.Open();
  rig.smi->EnableFlash();
  std::vector<uint8_t> data(0x1000, 0x5A);
  size_t mark = rig.Mark();
  ASSERT_TRUE(rig.smi->EraseFlash(0x10000, 0x1000));
  auto smis = rig.Smis(mark);
  ASSERT_EQ(smis.size(), 1u);
  EXPECT_EQ(smis[0].value("len", 0), 0x1000);

  mark = rig.Mark();
  ASSERT_TRUE(rig.smi->WriteFlash(0x10000, 0xA00, data));  // 2.5 KiB: two whole pieces
  smis = rig.Smis(mark);
  ASSERT_EQ(CountSmi(smis, 35), 2u);
  EXPECT_EQ(smis[1].value("addr", 0), 0x10400);
  std::vector<uint8_t> flash(0x1000);
  ASSERT_TRUE(rig.machine->Flash().Read(0x10000, flash));
  EXPECT_EQ(flash[0x7FF], 0x5A);
  EXPECT_EQ(flash[0x800], 0xFF) << "the remainder below 1 KiB is not transferred";

  mark = rig.Mark();
  EXPECT_TRUE(rig.smi->WriteFlash(0x10000, 500, data));
  EXPECT_TRUE(rig.smi->ReadFlash(0x10000, 1023, flash));
  EXPECT_TRUE(rig.Smis(mark).empty());
  EXPECT_FALSE(AnyMisuse(rig.Journal()));
}

TEST(FlashRequests, ReadAndVerifySeeNorSemantics) {
  SimRig rig("minimal-1m");
  rig.Open();
  rig.smi->EnableFlash();
  std::vector<uint8_t> a(0x1000, 0xF0);
  std::vector<uint8_t> b(0x1000, 0x0F);
  ASSERT_TRUE(rig.smi->EraseFlash(0, 0x1000));
  ASSERT_TRUE(rig.smi->WriteFlash(0, 0x1000, a));
  EXPECT_TRUE(rig.smi->VerifyFlash(0, 0x1000, a));
  ASSERT_TRUE(rig.smi->WriteFlash(0, 0x1000, b));  // no erase in between
  EXPECT_FALSE(rig.smi->VerifyFlash(0, 0x1000, b));
  std::vector<uint8_t> got(0x1000);
  ASSERT_TRUE(rig.smi->ReadFlash(0, 0x1000, got));
  EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t v) { return v == 0x00; }));
}

TEST(FlashRequests, RetryAllowanceIsSharedByTheWholeCall) {
  auto stuckAt = [](std::vector<std::pair<uint32_t, uint32_t>> faults) {
    return [faults](sim::Profile& p) {
      for (const auto& [address, attempts] : faults) p.faults.stuck.push_back({0, address, attempts});
    };
  };
  std::vector<uint8_t> buffer(0x1000);
  {
    SimRig rig("minimal-1m", stuckAt({{0x0, 6}}));
    rig.Open();
    EXPECT_FALSE(rig.smi->ReadFlash(0, 0x1000, buffer)) << "six times 255 on one piece";
  }
  {
    SimRig rig("minimal-1m", stuckAt({{0x0, 5}}));
    rig.Open();
    EXPECT_TRUE(rig.smi->ReadFlash(0, 0x1000, buffer)) << "five repeats are allowed";
  }
  {
    SimRig rig("minimal-1m", stuckAt({{0x0, 3}, {0xC00, 3}}));
    rig.Open();
    const size_t mark = rig.Mark();
    EXPECT_FALSE(rig.smi->ReadFlash(0, 0x1000, buffer)) << "three repeats on the first piece leave two";
    EXPECT_EQ(rig.Smis(mark).size(), 4u + 2u + 3u);
  }
  {
    SimRig rig("minimal-1m", stuckAt({{0x0, 3}, {0xC00, 2}}));
    rig.Open();
    EXPECT_TRUE(rig.smi->ReadFlash(0, 0x1000, buffer));
  }
}

TEST(FlashRequests, FailingStatusFailsAtOnce) {
  SimRig rig("minimal-1m", [](sim::Profile& p) { p.faults.fail.push_back({sim::FlashOp::Write, 0x2000, 0x400}); });
  rig.Open();
  rig.smi->EnableFlash();
  std::vector<uint8_t> data(0x4000, 0);
  const size_t mark = rig.Mark();
  EXPECT_FALSE(rig.smi->WriteFlash(0, 0x4000, data));
  EXPECT_EQ(rig.Smis(mark).size(), 9u) << "eight good pieces, then the failing one";
}

TEST(FlashRequests, ProgressCallbacksGetAddressRomSizeAndLength) {
  SimRig rig("minimal-1m");
  rig.Open();
  rig.smi->EnableFlash();
  std::vector<std::array<uint32_t, 3>> calls;
  auto record = [&](uint32_t a, uint32_t b, uint32_t c) { calls.push_back({a, b, c}); };
  std::vector<uint8_t> data(0x800, 0);
  ASSERT_TRUE(rig.smi->EraseFlash(0x1000, 0x1000, record));
  ASSERT_TRUE(rig.smi->WriteFlash(0x1000, 0x800, data, record));
  ASSERT_TRUE(rig.smi->VerifyFlash(0x1000, 0x800, data, record));
  const std::vector<std::array<uint32_t, 3>> expected = {
      {0x1000, 0x100000, 0x1000}, {0x1000, 0x100000, 0x800}, {0x1400, 0x100000, 0x800},
      {0x1000, 0x100000, 0x800},  {0x1400, 0x100000, 0x800}};
  EXPECT_EQ(calls, expected);
}

// --- OFBD and OEM calls ----------------------------------------------------------------------

TEST(OemCalls, AnUnansweredCallKeepsItsPresets) {
  SimRig rig("minimal-1m");
  rig.Open();
  EXPECT_FALSE(rig.oem->AdministratorPasswordSet());
  EXPECT_FALSE(rig.oem->ReadIdentity());
  EXPECT_FALSE(rig.oem->ReadSystemNameIndex());
  EXPECT_FALSE(rig.oem->VersionProtected(0x31, {'A', '0', '2'}));
  EXPECT_FALSE(rig.oem->MaximumPasswordLength());
  EXPECT_EQ(CountSmi(rig.Smis(), 13), 5u);
}

TEST(OemCalls, AnsweringFirmwareGivesItsValues) {
  SimRig rig("uefi-16m", [](sim::Profile& p) {
    p.oem.protectedVersions = {"B10"};
    p.oem.password = "secret";
  });
  rig.Open();
  EXPECT_EQ(rig.oem->ReadSystemNameIndex(), 1);
  EXPECT_TRUE(rig.oem->VersionProtected(0x2A51, {'B', '1', '0'}));
  EXPECT_FALSE(rig.oem->VersionProtected(0x2A51, {'B', '1', '1'}));
  EXPECT_TRUE(rig.oem->AdministratorPasswordSet());
  EXPECT_EQ(rig.oem->MaximumPasswordLength(), 16);
  EXPECT_FALSE(rig.oem->SubmitAdministratorPassword("wrong"));
  EXPECT_TRUE(rig.oem->SubmitAdministratorPassword("secret"));
  const auto identity = rig.oem->ReadIdentity();
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->identity.size(), 4096u);
  const std::string area(identity->identity.begin(), identity->identity.end());
  EXPECT_NE(area.find("$BV#"), std::string::npos);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(identity->modelName.data())), "Korv Tablet 16");
}

TEST(Ofbd, UnknownOperationsAreNotHandled) {
  SimRig rig("legacy-8m");
  rig.Open();
  EXPECT_EQ(rig.ofbd->MeRegionQuery(0), 162u);
  EXPECT_EQ(rig.ofbd->MeRegionQuery(3), 161u);
  EXPECT_FALSE(rig.ofbd->QueryPassword().valid);
  EXPECT_FALSE(rig.ofbd->CommandLineConfiguration(0, 1));
  EXPECT_EQ(rig.ofbd->SetupPreserve(1), 156u);
  EXPECT_EQ(rig.ofbd->EcTransfer(1, {}, std::nullopt), 173u);
  const auto ofbd = rig.Smis();
  EXPECT_GE(CountSmi(ofbd, 38), 7u);
}

TEST(Ofbd, PasswordSubmissionPlacesTheTextWhereTheEndMarkerStood) {
  SimRig rig("legacy-8m");
  rig.Open();
  rig.ofbd->SubmitPassword("0123456789");
  const auto block = rig.smi->Block();
  EXPECT_EQ(core::LoadLe16(&block[6]), 26);
  EXPECT_EQ(core::LoadLe16(&block[22]), 10);
  EXPECT_EQ(block[24], 2);
  EXPECT_EQ(std::string(block.begin() + 26, block.begin() + 36), "0123456789");
}

TEST(Ofbd, NoOfbdVersionMeansSetupPreserveIsUnsupportedWithoutAsking) {
  SimRig rig("minimal-1m");
  rig.Open();
  const size_t mark = rig.Mark();
  EXPECT_EQ(rig.ofbd->SetupPreserve(2), 156u);
  EXPECT_TRUE(rig.Smis(mark).empty());
}

TEST(CloseFirmware, DisablesReleasesAndForgets) {
  SimRig rig("legacy-8m");
  rig.Open();
  rig.smi->EnableFlash();
  const size_t mark = rig.Mark();
  EXPECT_EQ(rig.info->CloseFirmware(), 0u);
  EXPECT_EQ(CountSmi(rig.Smis(mark), 36), 1u);
  EXPECT_FALSE(rig.smi->HasSharedBlock());
  EXPECT_FALSE(rig.smi->Info());
  EXPECT_TRUE(rig.driver->UnloadIoDriver());
}

}  // namespace
}  // namespace nox::firmware

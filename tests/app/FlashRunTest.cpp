// The flash run as the firmware sees it: which regions are touched and in what order, the
// setup-preserve requests around the NVRAM, what a refusing firmware or a failing part stops,
// and how the run ends. Results are proven on the machine's flash part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppRig.h"

namespace nox::app::test {
namespace {

const nlohmann::json kRestart = {{"event", "restart-requested"}};

std::vector<RunCase> Cases() {
  return {
      Case("SetupKeptAroundTheNvram", "/n /sp",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.setupPreserve.supported = true; };
             c.expect.journalInOrder = {{{"subFunction", 2}, {"answer", 1}},
                                        {{"op", "erase"}, {"addr", 0x20000}},
                                        {{"subFunction", 4}, {"answer", 1}},
                                        kRestart};
             c.expect.touched = "nvram";
             c.expect.nowImage = {"nvram"};
           }),
      Case("SetupStoreRefusedBeforeAnyRegion", "/p /n /sp",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.setupPreserve = {true, true, false}; };
             c.expect.says = {"Error: Store SETUP setting error."};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "";
           }),
      Case("SetupRestoreRefusedAfterTheNvram", "/p /n /sp",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.setupPreserve = {true, false, true}; };
             c.expect.says = {"Error: Restore SETUP setting error."};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "nvram";
           }),
      // The image differs from the part only in the identity file's version, in the first
      // 64 KiB of the main BIOS; the NVRAM is erased, written and read back all the same.
      Case("CompareFirstRewritesOnlyWhatDiffers", "/n /p /caf",
           [](RunCase& c) {
             c.holes = 2;
             c.expect.journalInOrder = {{{"op", "erase"}, {"addr", 0x20000}},
                                        {{"op", "write"}, {"addr", 0x20000}},
                                        {{"op", "read"}, {"addr", 0x20000}}};
             c.expect.erases = {0x60000, 0x420000, 1};
             c.expect.nowImage = {"nvram", "main"};
           }),
      Case("NcbMissingFromTheImage", "/p /k5",
           [](RunCase& c) {
             c.expect.says = {"Error: Requested non-critical block not available in ROM file."};
             c.expect.touched = "";
           }),
      Case("MeUpdateRefused", "/p /me",
           [](RunCase& c) {
             c.expect.says = {"Error: Updating the ME firmware is not supported yet."};
             c.expect.touched = "";
           }),
      Case("PackageEcFirmwareRefused", "/p",
           [](RunCase& c) {
             c.further = {{"@EC0", std::vector<uint8_t>(2048, 0x5A)}};
             c.expect.says = {"Error: Updating the EC firmware of the package is not supported yet."};
             c.expect.touched = "";
           }),
      Case("FailedVerifyLeavesLaterRegionsAlone", "/p /b",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.bitFlips = {{0x100000, 4096, 100000, 1}}; };
             c.expect.says = {"Verify Failed!", "Please call your local KORV service center for assistance."};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "main";
             c.expect.kept = {"bb"};
           }),
      Case("FailedEraseAfterAWrittenRegion", "/p /b",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.fail = {{sim::FlashOp::Erase, 0x7E0000, 0x20000}}; };
             c.expect.says = {"Erase Failed!"};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "main bb";
             c.expect.nowImage = {"main"};
           }),
      Case("ShutdownPowersOff", "/p /shutdown",
           [](RunCase& c) {
             c.words = {"/noreboot"};
             c.expect.journalInOrder = {{{"event", "power-off-requested"}}};
             c.expect.journalLacks = {kRestart};
             c.expect.nowImage = {"main"};
           }),
      Case("WithoutRestartTheRunJustEnds", "/b",
           [](RunCase& c) {
             c.words = {"/noreboot"};
             c.expect.journalLacks = {kRestart, {{"event", "power-off-requested"}}};
             c.expect.nowImage = {"bb"};
           }),
  };
}

class FlashRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(FlashRuns, TouchWhatTheyShould) { RunAndCheck(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Runs, FlashRuns, ::testing::ValuesIn(Cases()), [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace nox::app::test

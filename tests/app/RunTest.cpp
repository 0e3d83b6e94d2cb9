// Whole runs, each ending once and leaving the system as it found it (lock policy, power
// buttons, input, keep-awake, the firmware's flash enable, the driver service). Flash results
// are proven on the machine's flash part.
#include <string>
#include <vector>

#include "AppRig.h"
#include "app/Startup.h"
#include "config/DefaultOptionMask.h"

namespace nox::app::test {
namespace {

using sim::FlashOp;
using Tweak = std::function<void(sim::Profile&)>;

constexpr const char* kWindowTitle = "NOXWINGUI v.1.05";
constexpr const char* kStartBox = "it is highly recommended to close all other programs before continue.";
const Json kRestart = {{"event", "restart-requested"}};
const Json kPowerOff = {{"event", "power-off-requested"}};

// A 4 KiB range at `address` that fails `op`.
Tweak Fails(FlashOp op, uint32_t address) {
  return [=](sim::Profile& p) { p.faults.fail = {{op, address, 0x1000}}; };
}

// Start-up: the start box and "nopause", the options the firmware is told about, the choice
// among the package's images, and the refusals that end a run before the main window.
const RunCase kStartups[] = {
    {.name = "NopauseNeedsTheFirmwaresFlagOrLr", .words = {"/nopause"}, .exitCode = kExitUnknownCommand,
     .says = {kStartBox}, .saysNot = {"Start to flash"}},
    {.name = "NopauseWithLr", .words = {"/lr", "/nopause"}, .says = {kWindowTitle},
     .saysNot = {kStartBox, "Start to flash"}},
    {.name = "NopauseWithTheFirmwaresFlag", .words = {"/nopause"}, .machine = [](auto& p) { p.ecb1.flags = 0x40; },
     .says = {kWindowTitle}, .saysNot = {kStartBox, "Start to flash"}},
    // Main BIOS, boot block, NVRAM, reboot and no-ROM-ID-check are selected when the
    // firmware is asked for its defaults.
    {.name = "WordsAndScriptReachTheFirmware", .script = "/p /b /caf /sysext", .words = {"/wipeall"},
     .roms = {{0, Image::kOther}}, .inOrder = {{{"type", 81}, {"selectedMask", 199}, {"offMask", 0}}}},
    {.name = "Cfgbhv1DeclaresEveryOption", .script = "/cfgbhv:1 /p", .roms = {{0, Image::kOther}},
     .inOrder = {{{"type", 81}, {"offMask", 6143}}}},
    {.name = "VendorMeToolRefused", .script = "/p /mefwupdlcl", .exitCode = 8,
     .says = {"The vendor ME update tool is not supported by this version."}},
    // 0 and 1 are tried and refused, 2 is not in the package, 3 is taken.
    {.name = "OnlyImage3Fits", .roms = {{0, Image::kOther}, {1, Image::kOther2}, {3, Image::kFit}},
     .says = {kWindowTitle}, .inOrder = {{{"select", 31}}, {{"select", 31}}, {{"select", 31}}}},
    {.name = "NoImageFitsShowsTheFirst", .roms = {{0, Image::kOther}, {1, Image::kOther2}, {9, Image::kOther2}},
     .answers = "OK\nOK\n\n",
     .says = {"System:   Zero 5A5A\n  Revision: A07\n  Vendor:   Korv Inc.",
              "System:   Korv 9A 1234\n  Revision: A06\n  Vendor:   Korv Inc."},
     .saysNot = {kWindowTitle}},
    {.name = "FixedNumberThatDoesNotFit", .words = {"/rom=1"}, .roms = {{0, Image::kFit}, {1, Image::kOther}},
     .says = {"Running on an unsupport system."}, .lacks = {{{"op", "write"}}}},
    {.name = "NoImageInThePackage", .roms = {}, .says = {"Can't find the number 00 ROM file ..."},
     .saysNot = {kWindowTitle}},
    {.name = "AdminPasswordFromTheCommandLineInLowerCase", .words = {"/p=SECRET"},
     .machine =
         [](auto& p) {
           p.oem.password = "secret";
           p.oem.passwordMaxLength = 8;
         },
     .says = {kWindowTitle}, .saysNot = {"secret", "Enter Admin Password"}, .preset = "uefi-16m"},
};

// The flash run: which regions are touched and in what order, the setup-preserve requests
// around the NVRAM, what a refusing firmware or a failing part stops, and how the run ends.
const RunCase kFlashRuns[] = {
    {.name = "SetupKeptAroundTheNvram", .script = "/n /sp", .machine = [](auto& p) { p.setupPreserve.supported = true; },
     .inOrder = {{{"subFunction", 2}, {"answer", 1}}, {{"op", "erase"}, {"addr", 0x20000}},
                 {{"subFunction", 4}, {"answer", 1}}, kRestart},
     .touched = "nvram", .nowImage = {"nvram"}},
    {.name = "SetupStoreRefusedBeforeAnyRegion", .script = "/p /n /sp",
     .machine = [](auto& p) { p.setupPreserve = {true, true, false}; }, .says = {"Error: Store SETUP setting error."},
     .lacks = {kRestart}, .touched = ""},
    {.name = "SetupRestoreRefusedAfterTheNvram", .script = "/p /n /sp",
     .machine = [](auto& p) { p.setupPreserve = {true, false, true}; }, .says = {"Error: Restore SETUP setting error."},
     .lacks = {kRestart}, .touched = "nvram"},
    // The image differs from the part only in the identity file's version, in the first
    // 64 KiB of the main BIOS; the NVRAM is erased, written and read back all the same.
    {.name = "CompareFirstRewritesOnlyWhatDiffers", .script = "/n /p /caf",
     .inOrder = {{{"op", "erase"}, {"addr", 0x20000}}, {{"op", "write"}, {"addr", 0x20000}},
                 {{"op", "read"}, {"addr", 0x20000}}},
     .nowImage = {"nvram", "main"}, .holes = 2, .erasesIn = {{0x60000, 0x420000}}},
    {.name = "NcbMissingFromTheImage", .script = "/p /k5",
     .says = {"Error: Requested non-critical block not available in ROM file."}, .touched = ""},
    {.name = "MeUpdateRefused", .script = "/p /me", .says = {"Error: Updating the ME firmware is not supported yet."},
     .touched = ""},
    {.name = "PackageEcFirmwareRefused", .script = "/p",
     .says = {"Error: Updating the EC firmware of the package is not supported yet."}, .touched = "",
     .further = {{"@EC0", std::vector<uint8_t>(2048, 0x5A)}}},
    {.name = "FailedVerifyLeavesLaterRegionsAlone", .script = "/p /b",
     .machine = [](auto& p) { p.faults.bitFlips = {{0x100000, 4096, 100000, 1}}; },
     .says = {"Verify Failed!", "Please call your local KORV service center for assistance."}, .lacks = {kRestart},
     .touched = "main"},
    {.name = "FailedEraseAfterAWrittenRegion", .script = "/p /b",
     .machine = [](auto& p) { p.faults.fail = {{FlashOp::Erase, 0x7E0000, 0x20000}}; }, .says = {"Erase Failed!"},
     .lacks = {kRestart}, .touched = "main bb", .nowImage = {"main"}},
    {.name = "WithoutRestartTheRunJustEnds", .script = "/b", .words = {"/noreboot"}, .lacks = {kRestart, kPowerOff},
     .nowImage = {"bb"}},
};

// Every other way a run ends, failures included; the key wait follows "q".
const RunCase kEnds[] = {
    {.name = "EcBlockUnreadableAtTheStart", .script = "/p", .machine = Fails(FlashOp::Read, 0x40000),
     .says = {"Error: Problem reading flash"}},
    {.name = "SmbiosAreaUnreadable", .script = "/b /r", .machine = Fails(FlashOp::Read, 0x7E0000), .exitCode = 66},
    {.name = "CancelAtTheStartBox", .script = "/p", .answers = "Cancel\nOK\n", .says = {kStartBox}, .touched = ""},
    {.name = "CancelAtTheFlashWarning", .script = "/p", .answers = "OK\nCancel\n",
     .says = {"Press OK to continue or CANCEL to quit."}, .touched = ""},
    // The firmware answers the enable request with "write-protected" and never opens its
    // interface; the last image examined is refused while flash writes are enabled.
    {.name = "WriteProtectedFirmwareAndNoImageFits", .script = "/p", .machine = [](auto& p) { p.enableAnswer = 1; },
     .roms = {{0, Image::kOther}, {9, Image::kOther}}, .answers = "OK\nOK\nCancel\n",
     .says = {"Running on an unsupport system."}},
    {.name = "FirmwareWithoutFlashSupport", .script = "/p", .machine = [](auto& p) { p.faults.noSharedBlock = true; },
     .exitCode = kExitNoFlashSupport, .says = {"Error : Firmware does not have flash (NOXWINGUI) support."}},
    {.name = "AllocationFailsAtABox", .script = "/p", .quirks = {.allocationFailsAtBox = "Start to flash"},
     .exitCode = 34},
    {.name = "AllocationFailsWhileWriting", .script = "/p", .quirks = {.allocationFailsWhileWriting = true},
     .exitCode = 34},
    {.name = "RestartRefused", .script = "/p", .quirks = {.shutdownComesBack = 0}, .inOrder = {kRestart}},
    {.name = "PowerOffRefused", .script = "/p /shutdown", .words = {"/noreboot"}, .quirks = {.shutdownComesBack = 0},
     .inOrder = {kPowerOff}, .lacks = {kRestart}, .nowImage = {"main"}},
    {.name = "UnreadableDirectory", .quirks = {.directoryError = 3}, .says = {"- Get Current Path Failed : 3 .\n"}},
    {.name = "PasswordTooLong", .script = "/p", .words = {"/p=" + std::string(128, 'a')}, .answers = "OK\n",
     .exitCode = kExitUnknownCommand, .says = {"too long"}, .saysNot = {"Unknown command"}},
};

// Erase, write and verify failures in every region of legacy-8m; the EC fault lies past the
// block's version word, which every run reads before it writes anything.
std::vector<RunCase> Failures() {
  std::vector<RunCase> cases;
  for (const auto& [region, option, address] : {std::tuple{"Nvram", "/n", 0x20000}, {"MainBios", "/p", 0x60000},
                                                {"BootBlock", "/b", 0x7E0000}, {"Ncb", "/k0", 0x0}, {"Ec", "/e", 0x50000}}) {
    for (const auto& [op, name, status] : {std::tuple{FlashOp::Erase, "Erase", "Erase Failed!"},
                                           {FlashOp::Write, "Write", "Write Failed!"},
                                           {FlashOp::Read, "Read", "Verify Failed!"}}) {
      cases.push_back({.name = std::string(name) + "FailsIn" + region, .script = option,
                       .machine = Fails(op, static_cast<uint32_t>(address)), .says = {status}});
    }
  }
  return cases;
}

// An NVRAM that cannot be erased ends a run that changed the lock policy and the power
// buttons; putting the buttons back fails with a console line, shown only with the key wait.
std::vector<RunCase> KeyWaits() {
  std::vector<RunCase> cases;
  // The lines were silenced when "q" was parsed, even when the firmware turns "q" off.
  for (const auto& [name, script, firmwareTurnsQOff, windowClosed, shown] :
       {std::tuple{"KeyWaitAfterAFailedFlash", "/n", false, false, true},
        {"SilentAfterAFailedFlash", "/n /q", false, false, false},
        {"SilentWhenTheFirmwareTurnsQOff", "/n /q", true, false, false},
        {"NoKeyWaitAfterTheWindowClosed", "/n", false, true, false}}) {
    const std::vector<std::string> lines = {"<Press Any Key....>\n", "- Restore the Power Button action failure\n"};
    cases.push_back({.name = name, .script = script,
                     .machine = [on = firmwareTurnsQOff](sim::Profile& p) {
                       Fails(FlashOp::Erase, 0x20000)(p);
                       p.defaults.enabled = on;
                       p.defaults.switchOff = config::default_mask::kSilent;
                     },
                     .quirks = {.powerButtonsNotRestored = true, .mainWindowClosedAtOnce = windowClosed},
                     .says = shown ? lines : std::vector<std::string>{},
                     .saysNot = shown ? std::vector<std::string>{} : lines, .keyWaits = shown ? 1 : 0});
  }
  return cases;
}

TEST_P(Runs, EndAsTheyShould) { RunAndCheck(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Startup, Runs, ::testing::ValuesIn(kStartups), CaseName);
INSTANTIATE_TEST_SUITE_P(FlashRun, Runs, ::testing::ValuesIn(kFlashRuns), CaseName);
INSTANTIATE_TEST_SUITE_P(Ends, Runs, ::testing::ValuesIn(kEnds), CaseName);
INSTANTIATE_TEST_SUITE_P(Failures, Runs, ::testing::ValuesIn(Failures()), CaseName);
INSTANTIATE_TEST_SUITE_P(KeyWait, Runs, ::testing::ValuesIn(KeyWaits()), CaseName);

}  // namespace
}  // namespace nox::app::test

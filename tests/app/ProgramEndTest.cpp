// Every way a run ends, failures included: the process ends once, with the outcome's code,
// and leaves the system as it found it (lock policy, power buttons, input, keep-awake, the
// firmware's flash enable, the driver service); the key wait follows "q".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppRig.h"
#include "app/Startup.h"
#include "config/DefaultOptionMask.h"

namespace nox::app::test {
namespace {

using sim::FlashOp;

sim::RangeFault Fails(FlashOp op, uint32_t address) { return {op, address, 0x1000}; }

std::vector<RunCase> Failures() {
  // legacy-8m's regions; the EC fault lies past the block's version word, which every run
  // reads before it writes anything.
  const struct {
    const char* name;
    const char* option;
    uint32_t address;
  } regions[] = {{"Nvram", "/n", 0x20000}, {"MainBios", "/p", 0x60000}, {"BootBlock", "/b", 0x7E0000},
                 {"Ncb", "/k0", 0x0},      {"Ec", "/e", 0x50000}};
  const struct {
    const char* name;
    FlashOp op;
    const char* status;
  } ops[] = {{"Erase", FlashOp::Erase, "Erase Failed!"},
             {"Write", FlashOp::Write, "Write Failed!"},
             {"Read", FlashOp::Read, "Verify Failed!"}};
  std::vector<RunCase> cases;
  for (const auto& r : regions) {
    for (const auto& o : ops) {
      cases.push_back(Case(std::string(o.name) + "FailsIn" + r.name, r.option, [&](RunCase& c) {
        c.machine = [fault = Fails(o.op, r.address)](sim::Profile& p) { p.faults.fail = {fault}; };
        c.expect.says = {o.status};
      }));
    }
  }
  return cases;
}

std::vector<RunCase> OtherEnds() {
  return {
      Case("EcBlockUnreadableAtTheStart", "/p",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.fail = {Fails(FlashOp::Read, 0x40000)}; };
             c.expect.says = {"Error: Problem reading flash"};
           }),
      Case("SmbiosAreaUnreadable", "/b /r",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.fail = {Fails(FlashOp::Read, 0x7E0000)}; };
             c.expect.exitCode = 66;
           }),
      Case("OlderImageRefused", "/p",
           [](RunCase& c) {
             c.roms = {{0, Image::kOlder}};
             c.expect.says = {"older Bios version"};
           }),
      Case("CancelAtTheStartBox", "/p",
           [](RunCase& c) {
             c.answers = "Cancel\nOK\n";  // the flash warning would be answered OK
             c.expect.says = {"it is highly recommended to close all other programs before continue."};
             c.expect.touched = "";
           }),
      Case("CancelAtTheFlashWarning", "/p",
           [](RunCase& c) {
             c.answers = "OK\nCancel\n";
             c.expect.says = {"Press OK to continue or CANCEL to quit."};
             c.expect.touched = "";
           }),
      // The firmware answers the enable request with "write-protected" and never opens its
      // interface; the last image examined is refused while flash writes are enabled.
      Case("WriteProtectedFirmwareAndNoImageFits", "/p",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.enableAnswer = 1; };
             c.roms = {{0, Image::kOther}, {9, Image::kOther}};
             c.answers = "OK\nOK\nCancel\n";
             c.expect.says = {"Running on an unsupport system."};
           }),
      Case("FirmwareWithoutFlashSupport", "/p",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.noSharedBlock = true; };
             c.expect.exitCode = kExitNoFlashSupport;
             c.expect.says = {"Error : Firmware does not have flash (NOXWINGUI) support."};
           }),
      Case("AllocationFailsAtABox", "/p",
           [](RunCase& c) {
             c.quirks.allocationFailsAtBox = "Start to flash";
             c.expect.exitCode = 34;
           }),
      Case("AllocationFailsWhileWriting", "/p",
           [](RunCase& c) {
             c.quirks.allocationFailsWhileWriting = true;
             c.expect.exitCode = 34;
           }),
      Case("RestartRefused", "/p",
           [](RunCase& c) {
             c.quirks.shutdownComesBack = 0;
             c.expect.journalInOrder = {{{"event", "restart-requested"}}};
           }),
      Case("PowerOffRefused", "/p /shutdown",
           [](RunCase& c) {
             c.words = {"/noreboot"};
             c.quirks.shutdownComesBack = 0;
             c.expect.journalInOrder = {{{"event", "power-off-requested"}}};
           }),
      Case("UnreadableDirectory", "",
           [](RunCase& c) {
             c.quirks.directoryError = 3;
             c.expect.says = {"- Get Current Path Failed : 3 .\n"};
           }),
      Case("PasswordTooLong", "/p",
           [](RunCase& c) {
             c.words = {"/p=" + std::string(128, 'a')};
             c.answers = "OK\n";
             c.expect.exitCode = kExitUnknownCommand;
             c.expect.says = {"too long"};
             c.expect.saysNot = {"Unknown command"};
           }),
  };
}

// An NVRAM that cannot be erased ends a run that changed the lock policy and the power
// buttons; putting the buttons back fails with a console line.
std::vector<RunCase> KeyWaits() {
  const auto run = [](const char* name, const char* script, bool firmwareTurnsQOff, bool windowClosed, bool shown) {
    return Case(name, script, [=](RunCase& c) {
      c.machine = [=](sim::Profile& p) {
        p.faults.fail = {Fails(FlashOp::Erase, 0x20000)};
        p.defaults.enabled = firmwareTurnsQOff;
        p.defaults.switchOff = config::default_mask::kSilent;
      };
      c.quirks.powerButtonsNotRestored = true;
      c.quirks.mainWindowClosedAtOnce = windowClosed;
      c.expect.keyWaits = shown ? 1 : 0;
      const std::vector<std::string> lines = {"<Press Any Key....>\n", "- Restore the Power Button action failure\n"};
      (shown ? c.expect.says : c.expect.saysNot) = lines;
    });
  };
  return {
      run("KeyWaitAfterAFailedFlash", "/n", false, false, true),
      run("SilentAfterAFailedFlash", "/n /q", false, false, false),
      // The lines were silenced when "q" was parsed.
      run("SilentWhenTheFirmwareTurnsQOff", "/n /q", true, false, false),
      run("NoKeyWaitAfterTheWindowClosed", "/n", false, true, false),
  };
}

class Ends : public ::testing::TestWithParam<RunCase> {};

TEST_P(Ends, EndOnceAndPutTheSystemBack) { RunAndCheck(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Failures, Ends, ::testing::ValuesIn(Failures()), [](const auto& p) { return p.param.name; });
INSTANTIATE_TEST_SUITE_P(Others, Ends, ::testing::ValuesIn(OtherEnds()), [](const auto& p) { return p.param.name; });
INSTANTIATE_TEST_SUITE_P(KeyWait, Ends, ::testing::ValuesIn(KeyWaits()), [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace nox::app::test

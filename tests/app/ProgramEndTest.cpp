// Every way a run ends, failures included: the process ends once, with the outcome's code,
// and leaves the system as it found it (lock policy, power buttons, input, keep-awake, the
// firmware's flash enable, the driver service).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AppRig.h"
#include "config/DefaultOptionMask.h"

namespace nox::app::test {
namespace {

using sim::FlashOp;

// legacy-8m: NCBs 0x0 and 0x10000, NVRAM 0x20000, EC 0x40000, main BIOS 0x60000, boot block 0x7E0000.
struct Region {
  const char* name;
  const char* option;
  uint32_t address;  // where its fault goes: past the EC block's version window for the EC
};
constexpr Region kRegions[] = {{"Nvram", "/n", 0x20000}, {"MainBios", "/p", 0x60000}, {"BootBlock", "/b", 0x7E0000},
                               {"Ncb", "/k0", 0x0},      {"Ec", "/e", 0x50000}};
struct Op {
  const char* name;
  FlashOp op;
  const char* status;
};
constexpr Op kOps[] = {{"Erase", FlashOp::Erase, "Erase Failed!"},
                       {"Write", FlashOp::Write, "Write Failed!"},
                       {"Read", FlashOp::Read, "Verify Failed!"}};

struct EndCase {
  std::string name;
  std::vector<sim::RangeFault> faults;
  bool noSharedBlock = false;
  uint8_t enableAnswer = 0;       // 1: the firmware keeps its flash interface closed
  std::vector<uint32_t> misfits;  // package these numbers, made for another machine, instead
  std::string script = "/p";
  RunSetup setup;
  std::string romVersion;  // empty: one newer than the machine
  uint32_t exitCode = 0;
  std::string says;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

EndCase Case(std::string name, const std::function<void(EndCase&)>& change) {
  EndCase c;
  c.name = std::move(name);
  c.setup.answers = "OK\nOK\n";  // the start box and the flash warning
  change(c);
  return c;
}

std::vector<EndCase> Cases() {
  std::vector<EndCase> cases;
  for (const Region& r : kRegions) {
    for (const Op& o : kOps) {
      cases.push_back(Case(std::string(o.name) + "FailsIn" + r.name, [&](EndCase& c) {
        c.faults = {{o.op, r.address, 0x1000}};
        c.script = r.option;
        c.says = o.status;
      }));
    }
  }
  cases.insert(cases.end(), {
      Case("EcBlockUnreadableAtTheStart", [](EndCase& c) {
        c.faults = {{FlashOp::Read, 0x40000, 0x1000}};
        c.says = "Error: Problem reading flash";
      }),
      Case("SmbiosAreaUnreadable", [](EndCase& c) {
        c.faults = {{FlashOp::Read, 0x7E0000, 0x1000}};
        c.script = "/b /r";
        c.exitCode = 66;
      }),
      Case("OlderImageRefused", [](EndCase& c) {
        c.romVersion = "A05";
        c.says = "older Bios version";
      }),
      Case("CancelAtTheStartBox", [](EndCase& c) {
        c.setup.answers = "Cancel\n";
        c.says = "it is highly recommended to close all other programs before continue.";
      }),
      Case("CancelAtTheFlashWarning", [](EndCase& c) {
        c.setup.answers = "OK\nCancel\n";
        c.says = "Press OK to continue or CANCEL to quit.";
      }),
      Case("WriteProtectedFirmwareAndNoImageFits", [](EndCase& c) {
        c.enableAnswer = 1;
        c.misfits = {0, 9};
        c.setup.answers = "OK\nOK\nCancel\n";
        c.says = "Running on an unsupport system.";
      }),
      Case("FirmwareWithoutFlashSupport", [](EndCase& c) {
        c.noSharedBlock = true;
        c.exitCode = kExitNoFlashSupport;
        c.says = "Error : Firmware does not have flash (NOXWINGUI) support.";
      }),
      Case("AllocationFailsAtABox", [](EndCase& c) {
        c.setup.allocationFailsAtBox = "Start to flash";
        c.exitCode = 34;
      }),
      Case("AllocationFailsWhileWriting", [](EndCase& c) {
        c.setup.quirks.allocationFailsWhileWriting = true;
        c.exitCode = 34;
      }),
      Case("RestartRefused", [](EndCase& c) { c.setup.quirks.shutdownComesBack = 0; }),
      Case("PowerOffRefused", [](EndCase& c) {
        c.script = "/p /shutdown";
        c.setup.words = {"/noreboot"};
        c.setup.quirks.shutdownComesBack = 0;
      }),
      Case("RestartedAfterTheFlash", [](EndCase&) {}),
  });
  return cases;
}

class EveryEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(EveryEnd, EndsOnceAndPutsTheSystemBack) {
  const EndCase& c = GetParam();
  AppRig rig("legacy-8m", [&](sim::Profile& p) {
    p.faults.fail = c.faults;
    p.faults.noSharedBlock = c.noSharedBlock;
    p.enableAnswer = c.enableAnswer;
  });
  // Without ROM holes nothing reads the whole part before the regions are written.
  std::map<uint32_t, std::vector<uint8_t>> roms{{0, rig.Rom([&](sim::RomOptions& o) {
                                                   o.holes = 0;
                                                   if (!c.romVersion.empty()) o.version = c.romVersion;
                                                 })}};
  for (const uint32_t number : c.misfits) {
    roms[number] = rig.Rom([](sim::RomOptions& o) { o.systemId = 0x55; o.names = {"Other"}; });
  }
  rig.Pack(roms, c.script);
  const RunResult run = rig.Run(c.setup);
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.exits, 1);
  EXPECT_EQ(EffectsLeftChanged(run), std::vector<std::string>{});
  EXPECT_TRUE(run.Says(c.says)) << c.says;
  // A restart or power-off request that comes back leaves nothing more to undo.
  bool requested = false;
  for (const auto& j : run.journal) {
    const std::string event = j.value("event", "");
    if (requested && event != "reboot" && event != "power-off") {
      EXPECT_EQ(j, (nlohmann::json{{"n", j["n"]}, {"t", j["t"]}, {"event", "keep-awake"}, {"on", false},
                                    {"state", "0x80000000"}}));
    }
    requested = requested || event.ends_with("-requested");
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, EveryEnd, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return p.param.name; });

// ---- the key wait and the other lines that "q" silences ------------------------------------------

struct QuietCase {
  const char* name;
  const char* script;
  bool firmwareTurnsQOff;  // the firmware's default options switch "q" off again
  bool mainWindowClosedAtOnce;
  bool shown;
};

void PrintTo(const QuietCase& c, std::ostream* os) { *os << c.name; }

class KeyWait : public ::testing::TestWithParam<QuietCase> {};

TEST_P(KeyWait, FollowsQAndIsNotAskedAfterTheWindowClosed) {
  const QuietCase& c = GetParam();
  AppRig rig("legacy-8m", [&](sim::Profile& p) {
    p.faults.fail = {{FlashOp::Erase, 0x20000, 0x1000}};
    p.defaults.enabled = c.firmwareTurnsQOff;
    p.defaults.switchOff = config::default_mask::kSilent;
  });
  rig.Pack({{0, rig.Rom([](sim::RomOptions& o) { o.holes = 0; })}}, c.script);
  RunSetup setup;
  setup.answers = "OK\nOK\n";
  setup.quirks.powerButtonsNotRestored = true;
  setup.mainWindowClosedAtOnce = c.mainWindowClosedAtOnce;
  const RunResult run = rig.Run(setup);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.Says("<Press Any Key....>\n"), c.shown);
  EXPECT_EQ(run.keyWaits, c.shown ? 1 : 0);
  EXPECT_EQ(EffectsLeftChanged(run), std::vector<std::string>{});
  // Flashing ran (and failed) only with the window open.
  const bool flashed = !c.mainWindowClosedAtOnce;
  EXPECT_EQ(run.Says("- Restore the Power Button action failure\n"), flashed && c.shown);
}

INSTANTIATE_TEST_SUITE_P(Runs, KeyWait,
                         ::testing::Values(QuietCase{"AfterAFailedFlash", "/n", false, false, true},
                                           QuietCase{"SilentAfterAFailedFlash", "/n /q", false, false, false},
                                           // The lines were silenced when "q" was parsed.
                                           QuietCase{"QTurnedOffByTheFirmware", "/n /q", true, false, false},
                                           QuietCase{"WindowClosed", "/n", false, true, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- start-up failures that say why ---------------------------------------------------------------

TEST(StartupRefusal, UnreadableDirectoryGivesTheSystemsOwnCode) {
  AppRig rig;
  RunSetup setup;
  setup.quirks.directoryError = 3;
  setup.programPathKnown = false;
  errno = 0;
  const RunResult run = rig.Run(setup);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.Says("- Get Current Path Failed : 3 .\n")) << run.out;
}

TEST(StartupRefusal, PasswordTooLongIsNamedAsSuch) {
  AppRig rig;
  rig.Pack({{0, rig.Rom()}}, "/p");
  RunSetup setup;
  setup.words = {"/p=" + std::string(128, 'a')};
  setup.answers = "OK\n";
  const RunResult run = rig.Run(setup);
  EXPECT_EQ(run.exitCode, kExitUnknownCommand);
  EXPECT_TRUE(run.Says("too long")) << run.out;
  EXPECT_FALSE(run.Says("Unknown command"));
  EXPECT_EQ(EffectsLeftChanged(run), std::vector<std::string>{});
}

}  // namespace
}  // namespace nox::app::test

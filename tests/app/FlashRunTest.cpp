// The flash run as the firmware sees it: which regions are touched and in what order, what
// the setup-preserve requests, a refusing firmware or a failing part stop, and how the run
// ends. Results are proven on the machine's flash part.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AppRig.h"

namespace nox::app::test {
namespace {

using nlohmann::json;

struct FlashCase {
  std::string name;
  std::function<void(sim::Profile&)> machine = [](sim::Profile&) {};
  std::string script;
  std::vector<std::string> words;
  unsigned holes = 0;
  std::map<std::string, std::vector<uint8_t>> further;  // package modules besides the image
  Expect expect;
  std::vector<std::string> nowImage;  // regions that hold the image afterwards
  std::vector<std::string> kept;      // regions that hold what they held before
  struct {
    uint32_t from = 0, to = 0;  // an empty range checks nothing
    long count = 0;
  } erases;
};

void PrintTo(const FlashCase& c, std::ostream* os) { *os << c.name; }

FlashCase Case(std::string name, std::string script, const std::function<void(FlashCase&)>& change) {
  FlashCase c;
  c.name = std::move(name);
  c.script = std::move(script);
  change(c);
  return c;
}

const json kRestart = {{"event", "restart-requested"}};

std::vector<FlashCase> Cases() {
  return {
      Case("SetupKeptAroundTheNvram", "/n /sp",
           [](FlashCase& c) {
             c.machine = [](sim::Profile& p) { p.setupPreserve.supported = true; };
             c.expect.journalInOrder = {{{"subFunction", 2}, {"answer", 1}},
                                        {{"op", "erase"}, {"addr", 0x20000}},
                                        {{"subFunction", 4}, {"answer", 1}},
                                        kRestart};
             c.expect.touched = "nvram";
             c.nowImage = {"nvram"};
           }),
      Case("SetupStoreRefusedBeforeAnyRegion", "/p /n /sp",
           [](FlashCase& c) {
             c.machine = [](sim::Profile& p) { p.setupPreserve = {true, true, false}; };
             c.expect.says = {"Error: Store SETUP setting error."};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "";
           }),
      Case("SetupRestoreRefusedAfterTheNvram", "/p /n /sp",
           [](FlashCase& c) {
             c.machine = [](sim::Profile& p) { p.setupPreserve = {true, false, true}; };
             c.expect.says = {"Error: Restore SETUP setting error."};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "nvram";
           }),
      // The images differ from the part only in the identity file's version, which sits in
      // the first 64 KiB piece of the main BIOS; the NVRAM is rewritten all the same.
      Case("CompareFirstRewritesOnlyWhatDiffers", "/n /p /caf",
           [](FlashCase& c) {
             c.holes = 2;
             c.expect.journalInOrder = {{{"op", "erase"}, {"addr", 0x20000}},
                                        {{"op", "write"}, {"addr", 0x20000}},
                                        {{"op", "read"}, {"addr", 0x20000}}};
             c.erases = {0x60000, 0x420000, 1};  // the first main BIOS block
             c.nowImage = {"nvram", "main"};
           }),
      Case("NcbMissingFromTheImage", "/p /k5",
           [](FlashCase& c) {
             c.expect.says = {"Error: Requested non-critical block not available in ROM file."};
             c.expect.touched = "";
           }),
      Case("MeUpdateRefused", "/p /me",
           [](FlashCase& c) {
             c.expect.says = {"Error: Updating the ME firmware is not supported yet."};
             c.expect.touched = "";
           }),
      Case("PackageEcFirmwareRefused", "/p",
           [](FlashCase& c) {
             c.further = {{"@EC0", std::vector<uint8_t>(2048, 0x5A)}};
             c.expect.says = {"Error: Updating the EC firmware of the package is not supported yet."};
             c.expect.touched = "";
           }),
      Case("FailedVerifyLeavesLaterRegionsAlone", "/p /b",
           [](FlashCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.bitFlips = {{0x100000, 4096, 100000, 1}}; };
             c.expect.says = {"Verify Failed!", "Please call your local KORV service center for assistance."};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "main";
             c.kept = {"bb"};
           }),
      Case("FailedEraseAfterAWrittenRegion", "/p /b",
           [](FlashCase& c) {
             c.machine = [](sim::Profile& p) { p.faults.fail = {{sim::FlashOp::Erase, 0x7E0000, 0x20000}}; };
             c.expect.says = {"Erase Failed!"};
             c.expect.journalLacks = {kRestart};
             c.expect.touched = "main bb";
             c.nowImage = {"main"};
           }),
      Case("ShutdownPowersOff", "/p /shutdown",
           [](FlashCase& c) {
             c.words = {"/noreboot"};
             c.expect.journalInOrder = {{{"event", "power-off-requested"}}};
             c.expect.journalLacks = {kRestart};
             c.nowImage = {"main"};
           }),
      Case("WithoutRestartTheRunJustEnds", "/b",
           [](FlashCase& c) {
             c.words = {"/noreboot"};
             c.expect.journalLacks = {kRestart, {{"event", "power-off-requested"}}};
             c.nowImage = {"bb"};
           }),
  };
}

class FlashRuns : public ::testing::TestWithParam<FlashCase> {};

TEST_P(FlashRuns, TouchWhatTheyShould) {
  const FlashCase& c = GetParam();
  AppRig rig("legacy-8m", c.machine);
  const std::vector<uint8_t> before(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
  const auto image = rig.Rom([&](sim::RomOptions& o) { o.holes = c.holes; });
  rig.Pack({{0, image}}, c.script, c.further);
  RunSetup setup;
  setup.words = c.words;
  setup.answers = "OK\nOK\n";
  const RunResult run = rig.Run(setup);
  CheckRun(run, c.expect);

  const auto flash = rig.machine->Flash().Bytes();
  const auto holds = [&](const std::vector<uint8_t>& bytes, const std::string& region) {
    for (uint32_t a = 0; a < flash.size(); ++a) {
      if (RegionAt(a) == region && flash[a] != bytes[a]) return false;
    }
    return true;
  };
  for (const std::string& region : c.nowImage) EXPECT_TRUE(holds(image, region)) << region;
  for (const std::string& region : c.kept) EXPECT_TRUE(holds(before, region)) << region;
  const auto erases = run.Events("erase");
  const auto inRange = [&](const json& j) { return j["addr"] >= c.erases.from && j["addr"] < c.erases.to; };
  if (c.erases.to != 0) {
    EXPECT_EQ(std::count_if(erases.begin(), erases.end(), inRange), c.erases.count);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, FlashRuns, ::testing::ValuesIn(Cases()), [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace nox::app::test

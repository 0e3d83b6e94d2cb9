// Start-up as the firmware and the user meet it: the start box and "nopause", the options
// the firmware is told about, the choice among the package's images, and the refusals that
// end a run before the main window.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AppRig.h"

namespace nox::app::test {
namespace {

using nlohmann::json;

constexpr const char* kWindowTitle = "NOXWINGUI v.1.05";
constexpr const char* kStartBox = "it is highly recommended to close all other programs before continue.";

// The images a package may carry, named by whom they are made for.
enum class Image { kFit, kOlder, kOther, kOther2 };

struct StartupCase {
  std::string name;
  std::function<void(sim::Profile&)> machine = [](sim::Profile&) {};
  std::map<uint32_t, Image> roms = {{0, Image::kFit}};
  std::string script;
  std::vector<std::string> words;
  std::string answers = "OK\nOK\n";
  Expect expect;
};

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

StartupCase Case(std::string name, const std::function<void(StartupCase&)>& change) {
  StartupCase c;
  c.name = std::move(name);
  change(c);
  return c;
}

std::vector<StartupCase> Cases() {
  return {
      Case("NopauseNeedsTheFirmwaresFlagOrLr",
           [](StartupCase& c) {
             c.words = {"/nopause"};
             c.expect.exitCode = kExitUnknownCommand;
             c.expect.says = {kStartBox};
             c.expect.saysNot = {"Start to flash"};
           }),
      Case("NopauseWithLr",
           [](StartupCase& c) {
             c.words = {"/lr", "/nopause"};
             c.expect.says = {kWindowTitle};
             c.expect.saysNot = {kStartBox, "Start to flash"};
           }),
      Case("NopauseWithTheFirmwaresFlag",
           [](StartupCase& c) {
             c.machine = [](sim::Profile& p) { p.ecb1.flags = 0x40; };
             c.words = {"/nopause"};
             c.expect.says = {kWindowTitle};
             c.expect.saysNot = {kStartBox, "Start to flash"};
           }),
      Case("FactoryNeedsNoConfirmation",
           [](StartupCase& c) {
             c.words = {"/factory"};
             c.expect.says = {kStartBox, kWindowTitle};
             c.expect.saysNot = {"Start to flash"};
           }),
      // Main BIOS, boot block, NVRAM, reboot and no-ROM-ID-check are selected when the
      // firmware is asked for its defaults.
      Case("WordsAndScriptReachTheFirmware",
           [](StartupCase& c) {
             c.roms = {{0, Image::kOther}};
             c.script = "/p /b /caf /sysext";
             c.words = {"/wipeall"};
             c.expect.journalInOrder = {{{"type", 81}, {"selectedMask", 199}, {"offMask", 0}}};
           }),
      Case("Cfgbhv1DeclaresEveryOption",
           [](StartupCase& c) {
             c.roms = {{0, Image::kOther}};
             c.script = "/cfgbhv:1 /p";
             c.expect.journalInOrder = {{{"type", 81}, {"offMask", 6143}}};
           }),
      Case("Cfgbhv0AloneChangesNothing",
           [](StartupCase& c) {
             c.script = "/cfgbhv:0";
             c.expect.says = {kWindowTitle};
             c.expect.journalInOrder = {{{"type", 81}, {"offMask", 0}}};
           }),
      Case("VendorMeToolRefused",
           [](StartupCase& c) {
             c.script = "/p /mefwupdlcl";
             c.expect.exitCode = 8;
             c.expect.says = {"The vendor ME update tool is not supported by this version."};
           }),
      // 0 and 1 are tried and refused, 2 is not in the package, 3 is taken.
      Case("OnlyImage3Fits",
           [](StartupCase& c) {
             c.roms = {{0, Image::kOther}, {1, Image::kOther2}, {3, Image::kFit}};
             c.expect.says = {kWindowTitle};
             c.expect.journalInOrder = {{{"select", 31}}, {{"select", 31}}, {{"select", 31}}};
           }),
      Case("NoImageFitsShowsTheFirst",
           [](StartupCase& c) {
             c.roms = {{0, Image::kOther}, {1, Image::kOther2}, {9, Image::kOther2}};
             c.answers = "OK\nOK\n\n";
             c.expect.says = {"Zero 5555", "Korv 9A 1234"};
             c.expect.saysNot = {kWindowTitle};
           }),
      Case("FixedNumberThatDoesNotFit",
           [](StartupCase& c) {
             c.roms = {{0, Image::kFit}, {1, Image::kOther}};
             c.words = {"/rom=1"};
             c.expect.says = {"Running on an unsupport system."};
             c.expect.journalLacks = {{{"op", "write"}}};
           }),
      Case("NoImageInThePackage",
           [](StartupCase& c) {
             c.roms = {};
             c.expect.says = {"Can't find the number 00 ROM file ..."};
             c.expect.saysNot = {kWindowTitle};
           }),
      Case("OlderImageForcedWithLr",
           [](StartupCase& c) {
             c.roms = {{0, Image::kOlder}};
             c.words = {"/forceit", "/lr"};
             c.answers = "OK\n";  // "lr" leaves out the start box
             c.expect.says = {kWindowTitle};
             c.expect.saysNot = {"older"};
           }),
  };
}

class Startups : public ::testing::TestWithParam<StartupCase> {};

TEST_P(Startups, EndAsTheyShould) {
  const StartupCase& c = GetParam();
  AppRig rig("legacy-8m", c.machine);
  std::map<uint32_t, std::vector<uint8_t>> roms;
  for (const auto& [number, image] : c.roms) {
    roms[number] = rig.Rom([image](sim::RomOptions& o) {
      if (image == Image::kOlder) o.version = "A05";
      if (image == Image::kOther) {
        o.systemId = 0x55;
        o.extendedId = 0x5555;
        o.names = {"Zero"};
      }
      if (image == Image::kOther2) {
        o.systemId = 0x56;
        o.extendedId = 0x5656;
        o.names = {"Two"};
      }
    });
  }
  rig.Pack(roms, c.script);
  RunSetup setup;
  setup.words = c.words;
  setup.answers = c.answers;
  CheckRun(rig.Run(setup), c.expect);
}

INSTANTIATE_TEST_SUITE_P(Runs, Startups, ::testing::ValuesIn(Cases()), [](const auto& p) { return p.param.name; });

TEST(AdministratorPassword, FromTheCommandLineReachesTheFirmwareInLowerCase) {
  AppRig rig("uefi-16m", [](sim::Profile& p) {
    p.oem.password = "secret";
    p.oem.passwordMaxLength = 8;
  });
  rig.Pack({{0, rig.Rom()}});
  RunSetup setup;
  setup.words = {"/p=SECRET"};
  setup.answers = "OK\nOK\n";
  Expect expect;
  expect.says = {kWindowTitle};
  expect.saysNot = {"secret", "Enter Admin Password"};
  CheckRun(rig.Run(setup), expect);
}

}  // namespace
}  // namespace nox::app::test

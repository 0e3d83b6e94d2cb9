// Start-up as the firmware and the user meet it: the start box and "nopause", the options
// the firmware is told about, the choice among the package's images, and the refusals that
// end a run before the main window.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AppRig.h"
#include "app/Startup.h"

namespace nox::app::test {
namespace {


constexpr const char* kWindowTitle = "NOXWINGUI v.1.05";
constexpr const char* kStartBox = "it is highly recommended to close all other programs before continue.";

std::vector<RunCase> Cases() {
  return {
      Case("NopauseNeedsTheFirmwaresFlagOrLr", "",
           [](RunCase& c) {
             c.words = {"/nopause"};
             c.expect.exitCode = kExitUnknownCommand;
             c.expect.says = {kStartBox};
             c.expect.saysNot = {"Start to flash"};
           }),
      Case("NopauseWithLr", "",
           [](RunCase& c) {
             c.words = {"/lr", "/nopause"};
             c.expect.says = {kWindowTitle};
             c.expect.saysNot = {kStartBox, "Start to flash"};
           }),
      Case("NopauseWithTheFirmwaresFlag", "",
           [](RunCase& c) {
             c.machine = [](sim::Profile& p) { p.ecb1.flags = 0x40; };
             c.words = {"/nopause"};
             c.expect.says = {kWindowTitle};
             c.expect.saysNot = {kStartBox, "Start to flash"};
           }),
      // Main BIOS, boot block, NVRAM, reboot and no-ROM-ID-check are selected when the
      // firmware is asked for its defaults.
      Case("WordsAndScriptReachTheFirmware", "/p /b /caf /sysext",
           [](RunCase& c) {
             c.roms = {{0, Image::kOther}};
             c.words = {"/wipeall"};
             c.expect.journalInOrder = {{{"type", 81}, {"selectedMask", 199}, {"offMask", 0}}};
           }),
      Case("Cfgbhv1DeclaresEveryOption", "/cfgbhv:1 /p",
           [](RunCase& c) {
             c.roms = {{0, Image::kOther}};
             c.expect.journalInOrder = {{{"type", 81}, {"offMask", 6143}}};
           }),
      Case("VendorMeToolRefused", "/p /mefwupdlcl",
           [](RunCase& c) {
             c.expect.exitCode = 8;
             c.expect.says = {"The vendor ME update tool is not supported by this version."};
           }),
      // 0 and 1 are tried and refused, 2 is not in the package, 3 is taken.
      Case("OnlyImage3Fits", "",
           [](RunCase& c) {
             c.roms = {{0, Image::kOther}, {1, Image::kOther2}, {3, Image::kFit}};
             c.expect.says = {kWindowTitle};
             c.expect.journalInOrder = {{{"select", 31}}, {{"select", 31}}, {{"select", 31}}};
           }),
      Case("NoImageFitsShowsTheFirst", "",
           [](RunCase& c) {
             c.roms = {{0, Image::kOther}, {1, Image::kOther2}, {9, Image::kOther2}};
             c.answers = "OK\nOK\n\n";
             c.expect.says = {"System:   Zero 5A5A\n  Revision: A07\n  Vendor:   Korv Inc.",
                              "System:   Korv 9A 1234\n  Revision: A06\n  Vendor:   Korv Inc."};
             c.expect.saysNot = {kWindowTitle};
           }),
      Case("FixedNumberThatDoesNotFit", "",
           [](RunCase& c) {
             c.roms = {{0, Image::kFit}, {1, Image::kOther}};
             c.words = {"/rom=1"};
             c.expect.says = {"Running on an unsupport system."};
             c.expect.journalLacks = {{{"op", "write"}}};
           }),
      Case("NoImageInThePackage", "",
           [](RunCase& c) {
             c.roms = {};
             c.expect.says = {"Can't find the number 00 ROM file ..."};
             c.expect.saysNot = {kWindowTitle};
           }),
      Case("AdminPasswordFromTheCommandLineInLowerCase", "",
           [](RunCase& c) {
             c.preset = "uefi-16m";
             c.machine = [](sim::Profile& p) {
               p.oem.password = "secret";
               p.oem.passwordMaxLength = 8;
             };
             c.words = {"/p=SECRET"};
             c.expect.says = {kWindowTitle};
             c.expect.saysNot = {"secret", "Enter Admin Password"};
           }),
  };
}

class Startups : public ::testing::TestWithParam<RunCase> {};

TEST_P(Startups, EndAsTheyShould) { RunAndCheck(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Runs, Startups, ::testing::ValuesIn(Cases()), [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace nox::app::test

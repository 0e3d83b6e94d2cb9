// Whole runs of the program in this process, against an in-memory simulated machine: the
// program file carries its package, the boxes are answered from a text, the console is
// captured, and the operating system is the simulated machine's (every effect journaled)
// except that the end of the process becomes an exception. Each run must end once and leave
// the system as it found it (lock policy, power buttons, input, keep-awake, the firmware's
// flash enable, the driver service); flash results are proven on the machine's flash part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "app/Session.h"
#include "app/Startup.h"
#include "config/DefaultOptionMask.h"
#include "core/Format.h"
#include "package/PackageWriter.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/RomImage.h"
#include "platform/sim/SimDriverPort.h"
#include "platform/sim/SimOsServices.h"
#include "ui/TextUi.h"

namespace nox::app::test {
namespace {

using Json = nlohmann::json;
using sim::FlashOp;
using Tweak = std::function<void(sim::Profile&)>;
using Strings = std::vector<std::string>;

// The images a package may carry, named by whom they are made for.
enum class Image { kFit, kOther, kOther2 };

// One whole run (the machine, the package, what the user and the system do) and what must
// come out of it. Region names ("ncb", "nvram", "ec", "main", "bb") are those of legacy-8m.
struct RunCase {
  std::string name;
  std::string script;  // the package's option script
  Strings words;
  Tweak machine = [](sim::Profile&) {};
  std::map<uint32_t, Image> roms = {{0, Image::kFit}};
  std::string answers = "OK\nOK\n";  // a line a box (never empty); here the start box and the flash warning
  // What the system or the user does differently from a quiet run.
  std::optional<int> shutdownComesBack;      // restart and power-off answer this and return
  std::optional<uint32_t> directoryError;    // the program's path is unknown, the directory unreadable
  bool allocationFailsWhileWriting = false;  // blocking input before a piece is written throws
  bool powerButtonsNotRestored = false;      // putting the buttons back fails, with its line
  bool mainWindowClosedAtOnce = false;
  std::string allocationFailsAtBox;          // showing a box with this text throws
  // What must come out.
  uint32_t exitCode = 0;
  Strings says, saysNot;
  std::vector<Json> inOrder;  // journal lines holding these fields, one after another
  std::vector<Json> lacks;    // journal lines that must not be there
  std::optional<Strings> touched;  // regions erased, written or verified, in first-touch order
  Strings nowImage;  // regions that hold image 0 afterwards
  std::string preset = "legacy-8m";
  unsigned holes = 0;  // ROM holes make the run read the whole part before it writes
  std::map<std::string, std::vector<uint8_t>> further;  // package modules besides the images
  std::optional<std::pair<uint32_t, uint32_t>> erasesIn;  // this range is erased exactly once
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }
std::string CaseName(const ::testing::TestParamInfo<RunCase>& p) { return p.param.name; }

struct Exited { uint32_t code; };

// The simulated machine's services, but the end of the process is an exception and the
// system's quirks of the case happen.
struct TestOs final : sim::SimOsServices {
  TestOs(sim::Machine& m, const RunCase& run)
      : SimOsServices(m, nullptr, [this](uint32_t code) { ExitProcess(code); }), machine(m), c(run) {}

  void SetFlashProtection(bool on) override {
    if (!on && c.powerButtonsNotRestored && protectedNow) Say("- Restore the Power Button action failure\n");
    protectedNow = on;
    SimOsServices::SetFlashProtection(on);
  }
  void BlockUserInput(bool block) override {
    // The engine blocks input again before every piece it writes: the run's second block.
    if (block && c.allocationFailsWhileWriting && ++blocks == 2) throw std::bad_alloc();
    SimOsServices::BlockUserInput(block);
  }
  int RestartMachine() override { return c.shutdownComesBack ? Refused("restart") : SimOsServices::RestartMachine(); }
  int PowerOffMachine() override { return c.shutdownComesBack ? Refused("power-off") : SimOsServices::PowerOffMachine(); }
  int Refused(const std::string& what) {
    machine.RecordEffect(what + "-requested");
    return *c.shutdownComesBack;
  }
  std::optional<std::string> CurrentDirectory(uint32_t& error) override {
    if (!c.directoryError) return SimOsServices::CurrentDirectory(error);
    error = *c.directoryError;
    return std::nullopt;
  }
  [[noreturn]] void ExitProcess(uint32_t code) override {
    ++exits;
    throw Exited{code};
  }

  sim::Machine& machine;
  const RunCase& c;
  bool protectedNow = false;
  int blocks = 0, exits = 0;
};

// The terminal's boxes and main window, with the user's quirks of the case.
struct RigUi final : ui::TextUi {
  RigUi(std::FILE* in, std::FILE* out, const RunCase& run) : TextUi(in, out), c(run) {}
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    if (!c.allocationFailsAtBox.empty() && text.find(c.allocationFailsAtBox) != std::string::npos) {
      throw std::bad_alloc();
    }
    return TextUi::MessageBox(text, title, style);
  }
  void RunMainDialog(ui::MainDialogHost& host) override {
    if (!c.mainWindowClosedAtOnce) TextUi::RunMainDialog(host);
  }
  const RunCase& c;
};

std::string RegionAt(uint32_t address) {
  if (address < 0x20000) return "ncb";
  if (address < 0x40000) return "nvram";
  if (address < 0x60000) return "ec";
  return address < 0x7E0000 ? "main" : "bb";
}

// True when `line` holds every field of `pattern`.
bool Matches(Json line, const Json& pattern) {
  const Json before = line;
  line.update(pattern);
  return line == before;
}

// A flash request's op (events carry an "op" of their own).
std::string RequestOp(const Json& j) { return j.contains("event") ? "" : j.value("op", ""); }

Strings TouchedRegions(const std::vector<Json>& journal) {
  Strings seen;
  for (const Json& j : journal) {
    const std::string op = RequestOp(j), region = RegionAt(j.value("addr", 0u));
    if ((op == "erase" || op == "write" || op == "verify") && std::ranges::count(seen, region) == 0) seen.push_back(region);
  }
  return seen;
}

// The operating-system effects, the firmware's flash enable and the driver service that the
// run left changed, by name.
std::map<std::string, bool> EffectsLeftChanged(const std::vector<Json>& journal) {
  std::map<std::string, bool> changed;
  const std::map<std::string, std::string> fields = {
      {"lock-workstation", "disabled"}, {"power-buttons", "saved"}, {"input", "blocked"}, {"keep-awake", "on"}};
  for (const Json& j : journal) {
    const std::string event = j.value("event", "");
    if (fields.contains(event)) changed[event] = j.value(fields.at(event), false);
    if (RequestOp(j) == "enable" || RequestOp(j) == "disable") changed["flash enabled"] = RequestOp(j) == "enable";
    if (event == "driver-service") changed["driver service"] = j.value("op", "") != "delete";
  }
  std::erase_if(changed, [](const auto& effect) { return !effect.second; });
  return changed;
}

std::vector<uint8_t> MakeImage(const sim::Profile& profile, Image image, unsigned holes) {
  sim::RomOptions o = sim::RunningRomOptions(profile);
  o.version = *sim::NextVersion(o.version);
  o.holes = holes;
  if (image == Image::kOther) std::tie(o.systemId, o.extendedId, o.names) = std::tuple(0x55, 0x5A5A, Strings{"Zero"});
  if (image == Image::kOther2) std::tie(o.systemId, o.extendedId, o.names) = std::tuple(0x56, 0x5656, Strings{"Two"});
  sim::RomResult result = sim::BuildRomImage(profile, o);
  if (!result.error.empty()) throw std::runtime_error(result.error);
  return result.image;
}

// The program file: a stub with its package behind it.
void WriteProgram(const std::string& path, const std::map<uint32_t, std::vector<uint8_t>>& roms, const RunCase& c) {
  std::vector<std::vector<uint8_t>> modules{*package::BuildModule({"@W64", std::vector<uint8_t>(4096, 'D'), true})};
  for (const auto& [n, image] : roms) modules.push_back(*package::BuildModule({core::Format("@R%02u", n), image}));
  if (!c.script.empty()) modules.push_back(*package::BuildModule({"@CMD", {c.script.begin(), c.script.end()}}));
  for (const auto& [tag, content] : c.further) modules.push_back(*package::BuildModule({tag, content}));
  const auto program = package::AppendPackage(std::vector<uint8_t>(512, 'M'), *package::BuildPackage(modules));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
}

class Runs : public ::testing::TestWithParam<RunCase> {};

// Every run ends once, leaves the system as it found it and does nothing more after a restart
// or power-off request; and it does what its row expects.
TEST_P(Runs, EndAsTheyShould) {
  const RunCase& c = GetParam();
  auto profile = sim::MakePreset(c.preset);
  ASSERT_TRUE(profile);
  c.machine(*profile);
  std::string error;
  const auto machine = sim::Machine::InMemory(*profile, error);
  ASSERT_TRUE(machine) << error;
  const auto dir = std::filesystem::temp_directory_path() / core::Format("nox_app_%d", ::getpid());
  const std::string program = (dir / "NOXWINGUI.exe").string();
  std::filesystem::create_directories(dir);
  std::map<uint32_t, std::vector<uint8_t>> roms;
  for (const auto& [number, image] : c.roms) roms[number] = MakeImage(*profile, image, c.holes);
  WriteProgram(program, roms, c);
  const size_t mark = machine->GetJournal().Entries().size();

  uint32_t exitCode = 0;
  int exits = 0;
  std::FILE* in = fmemopen(const_cast<char*>(c.answers.data()), c.answers.size(), "r");
  char* outText = nullptr;
  size_t outSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  {
    const bool pathKnown = !c.directoryError;
    TestOs os(*machine, c);
    sim::SimDriverPort driver(*machine, program);
    RigUi ui(in, out, c);
    // A key wait shows as "(key)" on the console.
    Platform platform{os, driver, ui, [&] { return pathKnown ? std::optional(program) : std::nullopt; },
                      [&](const std::string& text) { std::fputs(text.c_str(), out); },
                      [&] { std::fputs("(key)", out); }, [] { return std::optional<uint64_t>(uint64_t{1} << 30); }};
    std::vector<std::string> args{pathKnown ? program : "NOXWINGUI"};
    args.insert(args.end(), c.words.begin(), c.words.end());
    try {
      Session session(platform);
      RunProgram(session, args);
    } catch (const Exited& e) {
      exitCode = e.code;
    }
    exits = os.exits;
  }
  std::fclose(out);
  std::fclose(in);
  const std::string console(outText, outSize);  // console and boxes, in order
  std::free(outText);
  std::filesystem::remove_all(dir);
  const auto all = machine->GetJournal().Entries();
  const std::vector<Json> journal(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end());

  SCOPED_TRACE("console:\n" + console.substr(0, 3000));
  EXPECT_EQ(std::make_pair(exitCode, exits), std::make_pair(c.exitCode, 1)) << "exit code, exits";
  EXPECT_EQ(EffectsLeftChanged(journal), (std::map<std::string, bool>{}));
  bool requested = false;
  for (const Json& j : journal) {
    const std::string event = j.value("event", "");
    if (requested && event != "reboot" && event != "power-off") {
      EXPECT_TRUE(Matches(j, {{"event", "keep-awake"}, {"on", false}})) << "after the request: " << j.dump();
    }
    requested = requested || event.ends_with("-requested");
  }
  for (const std::string& text : c.says) EXPECT_NE(console.find(text), std::string::npos) << "missing: " << text;
  for (const std::string& text : c.saysNot) EXPECT_EQ(console.find(text), std::string::npos) << "present: " << text;
  for (const Json& pattern : c.lacks) {
    EXPECT_TRUE(std::ranges::none_of(journal, [&](const Json& j) { return Matches(j, pattern); })) << pattern.dump();
  }
  if (c.touched) {
    EXPECT_EQ(TouchedRegions(journal), *c.touched);
  }
  const auto flash = machine->Flash().Bytes();
  for (const std::string& region : c.nowImage) {
    bool same = true;
    for (uint32_t a = 0; a < flash.size(); ++a) same = same && (RegionAt(a) != region || flash[a] == roms.at(0)[a]);
    EXPECT_TRUE(same) << "not the image: " << region;
  }
  if (c.erasesIn) {
    const auto [from, to] = *c.erasesIn;
    EXPECT_EQ(std::ranges::count_if(journal, [&](const Json& j) {
                return RequestOp(j) == "erase" && j["addr"] >= from && j["addr"] < to;
              }), 1);
  }
  auto at = journal.begin();
  for (const Json& pattern : c.inOrder) {
    at = std::find_if(at, journal.end(), [&](const Json& j) { return Matches(j, pattern); });
    ASSERT_NE(at, journal.end()) << "journal lacks, in order: " << pattern.dump();
    ++at;
  }
}

// ---- the runs ----------------------------------------------------------------------------------

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
    {.name = "UnknownWord", .words = {"/bogus"}, .exitCode = kExitUnknownCommand,
     .says = {kStartBox, "Error : Unknown command."}},
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
     .machine = [](auto& p) { p.oem.password = "secret"; }, .says = {kWindowTitle},
     .saysNot = {"secret", "Enter Admin Password"}, .preset = "uefi-16m"},
};

// The flash run: which regions are touched and in what order, the setup-preserve requests
// around the NVRAM, what a refusing firmware or a failing part stops, and how the run ends.
const RunCase kFlashRuns[] = {
    // Nothing else is touched: the EC and the non-critical blocks keep the machine's contents.
    {.name = "NvramMainBiosBootBlockInThatOrder", .script = "/p /b /n", .inOrder = {kRestart},
     .touched = Strings{"nvram", "main", "bb"}, .nowImage = {"nvram", "main", "bb"}},
    {.name = "SetupKeptAroundTheNvram", .script = "/n /sp", .machine = [](auto& p) { p.setupPreserve.supported = true; },
     .inOrder = {{{"subFunction", 2}, {"answer", 1}}, {{"op", "erase"}, {"addr", 0x20000}},
                 {{"subFunction", 4}, {"answer", 1}}, kRestart},
     .touched = Strings{"nvram"}, .nowImage = {"nvram"}},
    {.name = "SetupStoreRefusedBeforeAnyRegion", .script = "/p /n /sp",
     .machine = [](auto& p) { p.setupPreserve = {true, true, false}; }, .says = {"Error: Store SETUP setting error."},
     .lacks = {kRestart}, .touched = Strings{}},
    {.name = "SetupRestoreRefusedAfterTheNvram", .script = "/p /n /sp",
     .machine = [](auto& p) { p.setupPreserve = {true, false, true}; }, .says = {"Error: Restore SETUP setting error."},
     .lacks = {kRestart}, .touched = Strings{"nvram"}},
    // The image differs from the part only in the identity file's version, in the first
    // 64 KiB of the main BIOS; the NVRAM is erased, written and read back all the same.
    {.name = "CompareFirstRewritesOnlyWhatDiffers", .script = "/n /p /caf",
     .inOrder = {{{"op", "erase"}, {"addr", 0x20000}}, {{"op", "write"}, {"addr", 0x20000}},
                 {{"op", "read"}, {"addr", 0x20000}}},
     .nowImage = {"nvram", "main"}, .holes = 2, .erasesIn = {{0x60000, 0x420000}}},
    {.name = "NcbMissingFromTheImage", .script = "/p /k5",
     .says = {"Error: Requested non-critical block not available in ROM file."}, .touched = Strings{}},
    {.name = "FailedVerifyLeavesLaterRegionsAlone", .script = "/p /b",
     .machine = [](auto& p) { p.faults.bitFlips = {{0x100000, 4096, 100000, 1}}; },
     .says = {"Verify Failed!", "Please call your local KORV service center for assistance."}, .lacks = {kRestart},
     .touched = Strings{"main"}},
    {.name = "FailedEraseAfterAWrittenRegion", .script = "/p /b",
     .machine = [](auto& p) { p.faults.fail = {{FlashOp::Erase, 0x7E0000, 0x20000}}; }, .says = {"Erase Failed!"},
     .lacks = {kRestart}, .touched = Strings{"main", "bb"}, .nowImage = {"main"}},
    {.name = "WithoutRestartTheRunJustEnds", .script = "/b", .words = {"/noreboot"}, .lacks = {kRestart, kPowerOff},
     .nowImage = {"bb"}},
};

// An NVRAM that cannot be erased ends a run that changed the lock policy and the power
// buttons; putting the buttons back fails with a console line, shown only with the key wait.
Tweak NvramFails(bool firmwareTurnsQOff) {
  return [=](sim::Profile& p) {
    Fails(FlashOp::Erase, 0x20000)(p);
    p.defaults.enabled = firmwareTurnsQOff;
    p.defaults.switchOff = config::default_mask::kSilent;
  };
}
const Strings kEndLines = {"<Press Any Key....>\n", "(key)", "- Restore the Power Button action failure\n"};

// Every other way a run ends, failures included; the key wait ("(key)") follows "q".
const RunCase kEnds[] = {
    {.name = "EcBlockUnreadableAtTheStart", .script = "/p", .machine = Fails(FlashOp::Read, 0x40000),
     .says = {"Error: Problem reading flash"}},
    {.name = "SmbiosAreaUnreadable", .script = "/b /r", .machine = Fails(FlashOp::Read, 0x7E0000), .exitCode = 66},
    {.name = "CancelAtTheStartBox", .script = "/p", .answers = "Cancel\nOK\n", .says = {kStartBox}, .touched = Strings{}},
    {.name = "CancelAtTheFlashWarning", .script = "/p", .answers = "OK\nCancel\n",
     .says = {"Press OK to continue or CANCEL to quit."}, .touched = Strings{}},
    // The firmware answers the enable request with "write-protected" and never opens its
    // interface; the last image examined is refused while flash writes are enabled.
    {.name = "WriteProtectedFirmwareAndNoImageFits", .script = "/p", .machine = [](auto& p) { p.enableAnswer = 1; },
     .roms = {{0, Image::kOther}, {9, Image::kOther}}, .answers = "OK\nOK\nCancel\n",
     .says = {"Running on an unsupport system."}},
    {.name = "FirmwareWithoutFlashSupport", .script = "/p", .machine = [](auto& p) { p.faults.noSharedBlock = true; },
     .exitCode = kExitNoFlashSupport, .says = {"Error : Firmware does not have flash (NOXWINGUI) support."}},
    {.name = "AllocationFailsAtABox", .script = "/p", .allocationFailsAtBox = "Start to flash", .exitCode = 34},
    {.name = "AllocationFailsWhileWriting", .script = "/p", .allocationFailsWhileWriting = true, .exitCode = 34},
    // Not on a terminal the window logs a line per stage and per row of the map a pass moves into; the window's
    // template texts and the passes' markers are no progress.
    {.name = "RestartRefused", .script = "/p", .shutdownComesBack = 0,
     .says = {"NOXWINGUI v.1.05\n================\nBIOS Map(Each Block is 32K): 16 rows of 16 cells\nUpdating BIOS "
              "from\nVersion A06 to A07.\nErasing Main Bios.\n  Address: FF860000h\n  Address: FF880000h\n",
              "FFF80000h\nProgramming Main Bios.\n  Address: FF860000h\n", "FFF80000h\nDone.\n"},
     .saysNot = {"FF800000h", "FFFFFFFFh"}, .inOrder = {{{"event", "pause"}, {"ms", 500}}, kRestart}},
    {.name = "PowerOffRefused", .script = "/p /shutdown", .words = {"/noreboot"}, .shutdownComesBack = 0,
     .inOrder = {kPowerOff}, .lacks = {kRestart}, .nowImage = {"main"}},
    {.name = "UnreadableDirectory", .directoryError = 3, .says = {"- Get Current Path Failed : 3 .\n"}},
    {.name = "PasswordTooLong", .script = "/p", .words = {"/p=" + std::string(128, 'a')}, .answers = "OK\n",
     .exitCode = kExitUnknownCommand, .says = {"too long"}, .saysNot = {"Unknown command"}},
    // The lines are silenced when "q" is parsed, even when the firmware turns "q" off.
    {.name = "KeyWaitAfterAFailedFlash", .script = "/n", .machine = NvramFails(false), .powerButtonsNotRestored = true,
     .says = kEndLines},
    {.name = "SilentAfterAFailedFlash", .script = "/n /q", .machine = NvramFails(false), .powerButtonsNotRestored = true,
     .saysNot = kEndLines},
    {.name = "SilentWhenTheFirmwareTurnsQOff", .script = "/n /q", .machine = NvramFails(true),
     .powerButtonsNotRestored = true, .saysNot = kEndLines},
    {.name = "NoKeyWaitAfterTheWindowClosed", .script = "/n", .machine = NvramFails(false),
     .powerButtonsNotRestored = true, .mainWindowClosedAtOnce = true, .saysNot = kEndLines},
};

// A failing part in every region of legacy-8m, each kind of failure at least once: the regions share one
// engine and its failure texts. The EC fault lies past the block's version word, which every run reads before it
// writes anything.
std::vector<RunCase> Failures() {
  std::vector<RunCase> cases;
  for (const auto& [region, option, address, op, status] :
       {std::tuple{"Nvram", "/n", 0x20000, FlashOp::Erase, "Erase Failed!"},
        {"MainBios", "/p", 0x60000, FlashOp::Write, "Write Failed!"},
        {"BootBlock", "/b", 0x7E0000, FlashOp::Read, "Verify Failed!"},
        {"Ncb", "/k0", 0, FlashOp::Read, "Verify Failed!"}, {"Ec", "/e", 0x50000, FlashOp::Write, "Write Failed!"}}) {
    cases.push_back({.name = std::string(region) + "Fails", .script = option,
                     .machine = Fails(op, static_cast<uint32_t>(address)), .says = {status}});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Startup, Runs, ::testing::ValuesIn(kStartups), CaseName);
INSTANTIATE_TEST_SUITE_P(FlashRun, Runs, ::testing::ValuesIn(kFlashRuns), CaseName);
INSTANTIATE_TEST_SUITE_P(Ends, Runs, ::testing::ValuesIn(kEnds), CaseName);
INSTANTIATE_TEST_SUITE_P(Failures, Runs, ::testing::ValuesIn(Failures()), CaseName);

}  // namespace
}  // namespace nox::app::test

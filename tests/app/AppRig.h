// The whole program, run in this process against an in-memory simulated machine: the
// program file carries its package, the boxes are answered from a text, the console is
// captured, and the operating system is the simulated machine's (every effect journaled)
// except that the end of the process becomes an exception the rig catches.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/Session.h"
#include "app/Startup.h"
#include "core/Format.h"
#include "package/PackageWriter.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/RomImage.h"
#include "platform/sim/SimDriverPort.h"
#include "platform/sim/SimOsServices.h"
#include "ui/TextUi.h"

namespace nox::app::test {

struct Exited {
  uint32_t code;
};

// What a run may do differently from a quiet, well-behaved system.
struct SystemQuirks {
  std::optional<int> shutdownComesBack;      // restart and power-off answer this and return
  std::optional<uint32_t> directoryError;    // the current directory cannot be read
  bool allocationFailsWhileWriting = false;  // the input block before a piece is written throws
  bool powerButtonsNotRestored = false;      // putting the buttons back fails, with its line
};

class TestOs final : public os::OsServices {
 public:
  TestOs(sim::Machine& machine, SystemQuirks quirks)
      : machine_(machine), quirks_(quirks), sim_(machine, nullptr, [this](uint32_t code) { ExitProcess(code); }) {}

  bool CreateInstanceMutex(const std::string& name) override { return sim_.CreateInstanceMutex(name); }
  void BringOtherInstanceToFront() override {}
  void BindToFirstProcessor() override {}
  std::optional<std::string> LoadStringResource(uint32_t) override { return std::nullopt; }
  uint32_t InitOsServices() override { return sim_.InitOsServices(); }
  uint32_t OsMajorVersion() override { return sim_.OsMajorVersion(); }
  void SetFlashProtection(bool on) override {
    if (!on && quirks_.powerButtonsNotRestored && protectedNow_) Say("- Restore the Power Button action failure\n");
    protectedNow_ = on;
    sim_.SetFlashProtection(on);
  }
  void KeepAwake(bool on) override { sim_.KeepAwake(on); }
  void BlockUserInput(bool block) override {
    // The engine blocks input again before every piece it writes; the first of those is
    // the second block of the run.
    if (block && quirks_.allocationFailsWhileWriting && ++blocks_ == 2) throw std::bad_alloc();
    sim_.BlockUserInput(block);
  }
  bool RestorePowerButtons() override { return sim_.RestorePowerButtons(); }
  void ReleasePowerLibrary() override { sim_.ReleasePowerLibrary(); }
  int RestartMachine() override { return Shutdown("restart-requested", [&] { return sim_.RestartMachine(); }); }
  int PowerOffMachine() override { return Shutdown("power-off-requested", [&] { return sim_.PowerOffMachine(); }); }
  std::optional<std::string> CurrentDirectory(uint32_t& error) override {
    if (!quirks_.directoryError) return sim_.CurrentDirectory(error);
    error = *quirks_.directoryError;
    return std::nullopt;
  }
  [[noreturn]] void ExitProcess(uint32_t code) override {
    ++exits;
    throw Exited{code};
  }
  void SleepMs(uint32_t ms) override { sim_.SleepMs(ms); }
  uint64_t NowMs() override { return sim_.NowMs(); }
  bool HasTableService() override { return sim_.HasTableService(); }
  uint32_t ReadTable(uint32_t provider, uint32_t id, std::span<uint8_t> buffer) override {
    return sim_.ReadTable(provider, id, buffer);
  }
  bool EnableSystemEnvironmentPrivilege() override { return sim_.EnableSystemEnvironmentPrivilege(); }
  uint32_t ProbeFirmwareVariable() override { return sim_.ProbeFirmwareVariable(); }

  int exits = 0;

 private:
  int Shutdown(const char* event, const std::function<int()>& real) {
    if (!quirks_.shutdownComesBack) return real();
    machine_.RecordEffect(event);
    return *quirks_.shutdownComesBack;
  }

  sim::Machine& machine_;
  SystemQuirks quirks_;
  sim::SimOsServices sim_;
  bool protectedNow_ = false;
  int blocks_ = 0;
};

// The text interface, with two ways to end a run early: the main window closed by the user
// before anything happens, and a box whose showing fails for want of memory.
class RigUi final : public ui::TextUi {
 public:
  using TextUi::TextUi;
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    if (!allocationFailsAtBox.empty() && text.find(allocationFailsAtBox) != std::string::npos) throw std::bad_alloc();
    return TextUi::MessageBox(text, title, style);
  }
  void RunMainDialog(ui::MainDialogHost& host) override {
    if (!mainWindowClosedAtOnce) TextUi::RunMainDialog(host);
  }
  bool mainWindowClosedAtOnce = false;
  std::string allocationFailsAtBox;
};

struct RunSetup {
  std::vector<std::string> words;
  std::string answers = "OK\nOK\n";  // a line each, here the start box and the flash warning
  SystemQuirks quirks;
  bool mainWindowClosedAtOnce = false;
  std::string allocationFailsAtBox;
  bool programPathKnown = true;  // the system can name the running program's file
};

struct RunResult {
  uint32_t exitCode = 0;
  int exits = 0;
  std::string out;  // console and boxes, in order
  int keyWaits = 0;
  std::vector<nlohmann::json> journal;  // what the run added

  bool Says(const std::string& text) const { return out.find(text) != std::string::npos; }
  // Events named `event` (or SMIs whose op is `event`), in order.
  std::vector<nlohmann::json> Events(const std::string& event) const {
    std::vector<nlohmann::json> found;
    for (const auto& j : journal) {
      if (j.value("event", "") == event || (!j.contains("event") && j.value("op", "") == event)) found.push_back(j);
    }
    return found;
  }
};

class AppRig {
 public:
  explicit AppRig(const std::string& preset = "legacy-8m", const std::function<void(sim::Profile&)>& tweak = {}) {
    auto profile = sim::MakePreset(preset);
    if (!profile) throw std::runtime_error("no preset " + preset);
    if (tweak) tweak(*profile);
    std::string error;
    machine = sim::Machine::InMemory(*profile, error);
    if (!machine) throw std::runtime_error(error);
    dir_ = std::filesystem::temp_directory_path() / core::Format("nox_app_%p", static_cast<void*>(this));
    std::filesystem::create_directories(dir_);
  }
  ~AppRig() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // An image for this machine, one version newer unless `change` says otherwise.
  std::vector<uint8_t> Rom(const std::function<void(sim::RomOptions&)>& change = {}) const {
    sim::RomOptions options = sim::RunningRomOptions(machine->GetProfile());
    options.version = *sim::NextVersion(options.version);
    if (change) change(options);
    sim::RomResult result = sim::BuildRomImage(machine->GetProfile(), options);
    if (!result.error.empty()) throw std::runtime_error(result.error);
    return result.image;
  }

  // The program file: a stub with the package behind it: the driver, the ROM images by
  // number, the script and any `further` modules by tag.
  void Pack(const std::map<uint32_t, std::vector<uint8_t>>& roms, const std::string& script,
            const std::map<std::string, std::vector<uint8_t>>& further) {
    std::vector<std::vector<uint8_t>> modules{*package::BuildModule({"@W64", std::vector<uint8_t>(4096, 'D'), true})};
    for (const auto& [number, image] : roms) {
      modules.push_back(*package::BuildModule({core::Format("@R%02u", number), image}));
    }
    if (!script.empty()) modules.push_back(*package::BuildModule({"@CMD", {script.begin(), script.end()}}));
    for (const auto& [tag, content] : further) modules.push_back(*package::BuildModule({tag, content}));
    const std::vector<uint8_t> stub(512, 'M');
    const auto program = package::AppendPackage(stub, *package::BuildPackage(modules));
    std::ofstream(ProgramPath(), std::ios::binary).write(reinterpret_cast<const char*>(program.data()),
                                                        static_cast<std::streamsize>(program.size()));
  }

  RunResult Run(const RunSetup& setup) {
    RunResult result;
    const size_t mark = machine->GetJournal().Entries().size();
    std::FILE* in = setup.answers.empty()
                        ? std::fopen("/dev/null", "r")
                        : fmemopen(const_cast<char*>(setup.answers.data()), setup.answers.size(), "r");
    char* outText = nullptr;
    size_t outSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    {
      TestOs os(*machine, setup.quirks);
      sim::SimDriverPort driver(*machine, ProgramPath());
      RigUi ui(in, out);
      ui.mainWindowClosedAtOnce = setup.mainWindowClosedAtOnce;
      ui.allocationFailsAtBox = setup.allocationFailsAtBox;
      Platform platform{os,
                        driver,
                        ui,
                        [&]() -> std::optional<std::string> {
                          if (!setup.programPathKnown) return std::nullopt;
                          return ProgramPath();
                        },
                        [&](const std::string& text) { std::fputs(text.c_str(), out); },
                        [&] { ++result.keyWaits; },
                        []() -> std::optional<uint64_t> { return uint64_t{1} << 30; }};
      std::vector<std::string> args{setup.programPathKnown ? ProgramPath() : "NOXWINGUI"};
      args.insert(args.end(), setup.words.begin(), setup.words.end());
      try {
        Session session(platform);
        RunProgram(session, args);
      } catch (const Exited& e) {
        result.exitCode = e.code;
      }
      result.exits = os.exits;
    }
    std::fclose(out);
    std::fclose(in);
    result.out.assign(outText, outSize);
    std::free(outText);
    const auto all = machine->GetJournal().Entries();
    result.journal.assign(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end());
    return result;
  }

  std::string ProgramPath() const { return (dir_ / "NOXWINGUI.exe").string(); }

  std::unique_ptr<sim::Machine> machine;

 private:
  std::filesystem::path dir_;
};

// The operating-system effects (and the firmware's flash enable and the driver) that the run
// left changed, by name; empty when every one was put back.
inline std::vector<std::string> EffectsLeftChanged(const RunResult& run) {
  std::vector<std::string> left;
  const auto lastIs = [&](const std::string& event, const char* field, bool changed) {
    const auto events = run.Events(event);
    if (!events.empty() && events.back().value(field, !changed) == changed) left.push_back(event);
  };
  lastIs("lock-workstation", "disabled", true);
  lastIs("power-buttons", "saved", true);
  lastIs("input", "blocked", true);
  lastIs("keep-awake", "on", true);
  std::string flash;
  for (const auto& j : run.journal) {
    const std::string op = j.contains("event") ? "" : j.value("op", "");
    if (op == "enable" || op == "disable") flash = op;
  }
  if (flash == "enable") left.push_back("flash enabled");
  const auto service = run.Events("driver-service");
  if (!service.empty() && service.back().value("op", "") != "delete") left.push_back("driver service");
  return left;
}

// The regions of legacy-8m by flash address.
inline std::string RegionAt(uint32_t address) {
  if (address < 0x20000) return "ncb";
  if (address < 0x40000) return "nvram";
  if (address < 0x60000) return "ec";
  if (address < 0x7E0000) return "main";
  return "bb";
}

// The regions that erase, write or verify requests touched, in first-touch order.
inline std::string TouchedRegions(const RunResult& run) {
  std::vector<std::string> touched;
  for (const auto& j : run.journal) {
    const std::string op = j.contains("event") ? "" : j.value("op", "");
    if (op != "erase" && op != "write" && op != "verify") continue;
    const std::string region = RegionAt(j.value("addr", 0u));
    if (std::find(touched.begin(), touched.end(), region) == touched.end()) touched.push_back(region);
  }
  std::string text;
  for (const std::string& region : touched) text += (text.empty() ? "" : " ") + region;
  return text;
}

// True when every field of `pattern` has the same value in `line`.
inline bool Matches(const nlohmann::json& line, const nlohmann::json& pattern) {
  for (const auto& [key, value] : pattern.items()) {
    if (!line.contains(key) || line[key] != value) return false;
  }
  return true;
}

// The images a package may carry, named by whom they are made for.
enum class Image { kFit, kOlder, kOther, kOther2 };

struct Expect {
  uint32_t exitCode = 0;
  std::vector<std::string> says;
  std::vector<std::string> saysNot;
  std::vector<nlohmann::json> journalInOrder;  // lines matching these, one after another
  std::vector<nlohmann::json> journalLacks;
  std::optional<std::string> touched;          // see TouchedRegions
  std::vector<std::string> nowImage;           // regions that hold image 0 afterwards
  std::vector<std::string> kept;               // regions that hold what they held before
  struct {
    uint32_t from = 0, to = 0;  // an empty range checks nothing
    long count = 0;
  } erases;
  std::optional<int> keyWaits;
};

// One whole run: the machine, the package, what the user and the system do, what must come out.
struct RunCase {
  std::string name;
  std::string preset = "legacy-8m";
  std::function<void(sim::Profile&)> machine = [](sim::Profile&) {};
  std::map<uint32_t, Image> roms = {{0, Image::kFit}};
  unsigned holes = 0;  // ROM holes make the run read the whole part before it writes
  std::string script;
  std::map<std::string, std::vector<uint8_t>> further;  // package modules besides the images
  RunSetup setup;
  Expect expect;
};

inline void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

inline RunCase Case(std::string name, std::string script, const std::function<void(RunCase&)>& change) {
  RunCase c;
  c.name = std::move(name);
  c.script = std::move(script);
  change(c);
  return c;
}

// Runs `c` and checks what every run must do (end once, leave nothing changed, nothing
// more after a restart or power-off request) and what `c` expects.
inline void RunAndCheck(const RunCase& c) {
  AppRig rig(c.preset, c.machine);
  const std::vector<uint8_t> before(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
  std::map<uint32_t, std::vector<uint8_t>> roms;
  for (const auto& [number, image] : c.roms) {
    roms[number] = rig.Rom([&, image = image](sim::RomOptions& o) {
      o.holes = c.holes;
      if (image == Image::kOlder) o.version = "A05";
      if (image == Image::kOther || image == Image::kOther2) {
        const bool other = image == Image::kOther;
        o.systemId = other ? 0x55 : 0x56;
        o.extendedId = other ? 0x5555 : 0x5656;
        o.names = {other ? "Zero" : "Two"};
      }
    });
  }
  rig.Pack(roms, c.script, c.further);
  const RunResult run = rig.Run(c.setup);
  const Expect& e = c.expect;

  EXPECT_EQ(run.exitCode, e.exitCode);
  EXPECT_EQ(run.exits, 1);
  EXPECT_EQ(EffectsLeftChanged(run), std::vector<std::string>{});
  bool requested = false;
  for (const auto& j : run.journal) {
    const std::string event = j.value("event", "");
    if (requested && event != "reboot" && event != "power-off") {
      EXPECT_TRUE(Matches(j, {{"event", "keep-awake"}, {"on", false}})) << "after the request: " << j.dump();
    }
    requested = requested || event.ends_with("-requested");
  }

  for (const std::string& text : e.says) EXPECT_TRUE(run.Says(text)) << "missing: " << text;
  for (const std::string& text : e.saysNot) EXPECT_FALSE(run.Says(text)) << "present: " << text;
  auto at = run.journal.begin();
  for (const nlohmann::json& pattern : e.journalInOrder) {
    at = std::find_if(at, run.journal.end(), [&](const nlohmann::json& j) { return Matches(j, pattern); });
    EXPECT_NE(at, run.journal.end()) << "journal lacks, in order: " << pattern.dump();
    if (at == run.journal.end()) break;
    ++at;
  }
  for (const nlohmann::json& pattern : e.journalLacks) {
    EXPECT_TRUE(std::none_of(run.journal.begin(), run.journal.end(), [&](const auto& j) { return Matches(j, pattern); }))
        << "journal holds: " << pattern.dump();
  }
  if (e.touched) {
    EXPECT_EQ(TouchedRegions(run), *e.touched);
  }
  const auto flash = rig.machine->Flash().Bytes();
  const auto holds = [&](const std::vector<uint8_t>& bytes, const std::string& region) {
    for (uint32_t a = 0; a < flash.size(); ++a) {
      if (RegionAt(a) == region && flash[a] != bytes[a]) return false;
    }
    return true;
  };
  for (const std::string& region : e.nowImage) EXPECT_TRUE(holds(roms.at(0), region)) << "not the image: " << region;
  for (const std::string& region : e.kept) EXPECT_TRUE(holds(before, region)) << "changed: " << region;
  if (e.erases.to != 0) {
    const auto erases = run.Events("erase");
    EXPECT_EQ(std::count_if(erases.begin(), erases.end(),
                            [&](const auto& j) { return j["addr"] >= e.erases.from && j["addr"] < e.erases.to; }),
              e.erases.count);
  }
  if (e.keyWaits) {
    EXPECT_EQ(run.keyWaits, *e.keyWaits);
  }
  if (::testing::Test::HasFailure()) ADD_FAILURE() << "console:\n" << run.out.substr(0, 3000);
}

}  // namespace nox::app::test

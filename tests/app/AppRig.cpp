#include "AppRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include <unistd.h>

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
namespace {

using nlohmann::json;

struct Exited {
  uint32_t code;
};

// The simulated machine's services, but the end of the process is an exception and the
// quirks of the case happen.
class TestOs final : public sim::SimOsServices {
 public:
  TestOs(sim::Machine& machine, const Quirks& quirks)
      : SimOsServices(machine, nullptr, [this](uint32_t code) { ExitProcess(code); }),
        machine_(machine),
        quirks_(quirks) {}

  void SetFlashProtection(bool on) override {
    if (!on && quirks_.powerButtonsNotRestored && protected_) Say("- Restore the Power Button action failure\n");
    protected_ = on;
    SimOsServices::SetFlashProtection(on);
  }
  void BlockUserInput(bool block) override {
    // The engine blocks input again before every piece it writes: the run's second block.
    if (block && quirks_.allocationFailsWhileWriting && ++blocks_ == 2) throw std::bad_alloc();
    SimOsServices::BlockUserInput(block);
  }
  int RestartMachine() override {
    return Shutdown("restart-requested", [&] { return SimOsServices::RestartMachine(); });
  }
  int PowerOffMachine() override {
    return Shutdown("power-off-requested", [&] { return SimOsServices::PowerOffMachine(); });
  }
  std::optional<std::string> CurrentDirectory(uint32_t& error) override {
    if (!quirks_.directoryError) return SimOsServices::CurrentDirectory(error);
    error = *quirks_.directoryError;
    return std::nullopt;
  }
  [[noreturn]] void ExitProcess(uint32_t code) override {
    ++exits;
    throw Exited{code};
  }

  int exits = 0;

 private:
  int Shutdown(const char* event, const std::function<int()>& real) {
    if (!quirks_.shutdownComesBack) return real();
    machine_.RecordEffect(event);
    return *quirks_.shutdownComesBack;
  }

  sim::Machine& machine_;
  const Quirks& quirks_;
  bool protected_ = false;
  int blocks_ = 0;
};

class RigUi final : public ui::TextUi {
 public:
  RigUi(std::FILE* in, std::FILE* out, const Quirks& quirks) : TextUi(in, out), quirks_(quirks) {}
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    const std::string& failing = quirks_.allocationFailsAtBox;
    if (!failing.empty() && text.find(failing) != std::string::npos) throw std::bad_alloc();
    return TextUi::MessageBox(text, title, style);
  }
  void RunMainDialog(ui::MainDialogHost& host) override {
    if (!quirks_.mainWindowClosedAtOnce) TextUi::RunMainDialog(host);
  }

 private:
  const Quirks& quirks_;
};

struct RunResult {
  uint32_t exitCode = 0;
  int exits = 0;
  std::string out;  // console and boxes, in order
  int keyWaits = 0;
  std::vector<json> journal;  // what the run added

  bool Says(const std::string& text) const { return out.find(text) != std::string::npos; }
  // Events named `name`, or requests whose op is `name`, in order.
  std::vector<json> Events(const std::string& name) const {
    std::vector<json> found;
    for (const json& j : journal) {
      if (j.value("event", "") == name || (!j.contains("event") && j.value("op", "") == name)) found.push_back(j);
    }
    return found;
  }
};

std::string RegionAt(uint32_t address) {
  if (address < 0x20000) return "ncb";
  if (address < 0x40000) return "nvram";
  if (address < 0x60000) return "ec";
  if (address < 0x7E0000) return "main";
  return "bb";
}

bool Matches(const json& line, const json& pattern) {
  for (const auto& [key, value] : pattern.items()) {
    if (!line.contains(key) || line[key] != value) return false;
  }
  return true;
}

std::string TouchedRegions(const RunResult& run) {
  std::vector<std::string> touched;
  for (const json& j : run.journal) {
    const std::string op = j.contains("event") ? "" : j.value("op", "");
    if (op != "erase" && op != "write" && op != "verify") continue;
    const std::string region = RegionAt(j.value("addr", 0u));
    if (std::find(touched.begin(), touched.end(), region) == touched.end()) touched.push_back(region);
  }
  std::string text;
  for (const std::string& region : touched) text += (text.empty() ? "" : " ") + region;
  return text;
}

// The operating-system effects, the firmware's flash enable and the driver service that the
// run left changed, by name.
std::vector<std::string> EffectsLeftChanged(const RunResult& run) {
  std::vector<std::string> left;
  for (const auto& [event, field] : {std::pair{"lock-workstation", "disabled"}, {"power-buttons", "saved"},
                                     {"input", "blocked"}, {"keep-awake", "on"}}) {
    const auto events = run.Events(event);
    if (!events.empty() && events.back().value(field, false)) left.push_back(event);
  }
  std::string flash;
  for (const json& j : run.journal) {
    const std::string op = j.contains("event") ? "" : j.value("op", "");
    if (op == "enable" || op == "disable") flash = op;
  }
  if (flash == "enable") left.push_back("flash enabled");
  const auto service = run.Events("driver-service");
  if (!service.empty() && service.back().value("op", "") != "delete") left.push_back("driver service");
  return left;
}

std::vector<uint8_t> MakeImage(const sim::Profile& profile, Image image, unsigned holes) {
  sim::RomOptions o = sim::RunningRomOptions(profile);
  o.version = *sim::NextVersion(o.version);
  o.holes = holes;
  if (image == Image::kOlder) o.version = "A05";
  if (image == Image::kOther || image == Image::kOther2) {
    const bool other = image == Image::kOther;
    o.systemId = other ? 0x55 : 0x56;
    o.extendedId = other ? 0x5A5A : 0x5656;
    o.names = {other ? "Zero" : "Two"};
  }
  sim::RomResult result = sim::BuildRomImage(profile, o);
  if (!result.error.empty()) throw std::runtime_error(result.error);
  return result.image;
}

// The program file: a stub with its package behind it.
void WriteProgram(const std::string& path, const std::map<uint32_t, std::vector<uint8_t>>& roms, const RunCase& c) {
  std::vector<std::vector<uint8_t>> modules{*package::BuildModule({"@W64", std::vector<uint8_t>(4096, 'D'), true})};
  for (const auto& [number, image] : roms) {
    modules.push_back(*package::BuildModule({core::Format("@R%02u", number), image}));
  }
  if (!c.script.empty()) modules.push_back(*package::BuildModule({"@CMD", {c.script.begin(), c.script.end()}}));
  for (const auto& [tag, content] : c.further) modules.push_back(*package::BuildModule({tag, content}));
  const auto program = package::AppendPackage(std::vector<uint8_t>(512, 'M'), *package::BuildPackage(modules));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
}

RunResult Run(sim::Machine& machine, const std::string& programPath, const RunCase& c) {
  RunResult result;
  const size_t mark = machine.GetJournal().Entries().size();
  std::FILE* in = c.answers.empty() ? std::fopen("/dev/null", "r")
                                    : fmemopen(const_cast<char*>(c.answers.data()), c.answers.size(), "r");
  char* outText = nullptr;
  size_t outSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  {
    const bool pathKnown = !c.quirks.directoryError;
    TestOs os(machine, c.quirks);
    sim::SimDriverPort driver(machine, programPath);
    RigUi ui(in, out, c.quirks);
    Platform platform{os,
                      driver,
                      ui,
                      [&] { return pathKnown ? std::optional<std::string>(programPath) : std::nullopt; },
                      [&](const std::string& text) { std::fputs(text.c_str(), out); },
                      [&] { ++result.keyWaits; },
                      []() -> std::optional<uint64_t> { return uint64_t{1} << 30; }};
    std::vector<std::string> args{pathKnown ? programPath : "NOXWINGUI"};
    args.insert(args.end(), c.words.begin(), c.words.end());
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
  const auto all = machine.GetJournal().Entries();
  result.journal.assign(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end());
  return result;
}

}  // namespace

void RunAndCheck(const RunCase& c) {
  auto profile = sim::MakePreset(c.preset);
  ASSERT_TRUE(profile);
  c.machine(*profile);
  std::string error;
  const auto machine = sim::Machine::InMemory(*profile, error);
  ASSERT_TRUE(machine) << error;
  const auto dir = std::filesystem::temp_directory_path() / core::Format("nox_app_%d", ::getpid());
  std::filesystem::create_directories(dir);
  const std::vector<uint8_t> before(machine->Flash().Bytes().begin(), machine->Flash().Bytes().end());
  std::map<uint32_t, std::vector<uint8_t>> roms;
  for (const auto& [number, image] : c.roms) roms[number] = MakeImage(*profile, image, c.holes);
  WriteProgram((dir / "NOXWINGUI.exe").string(), roms, c);
  const RunResult run = Run(*machine, (dir / "NOXWINGUI.exe").string(), c);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  const Expect& e = c.expect;

  EXPECT_EQ(run.exitCode, e.exitCode);
  EXPECT_EQ(run.exits, 1);
  EXPECT_EQ(EffectsLeftChanged(run), std::vector<std::string>{});
  bool requested = false;
  for (const json& j : run.journal) {
    const std::string event = j.value("event", "");
    if (requested && event != "reboot" && event != "power-off") {
      EXPECT_TRUE(Matches(j, {{"event", "keep-awake"}, {"on", false}})) << "after the request: " << j.dump();
    }
    requested = requested || event.ends_with("-requested");
  }

  for (const std::string& text : e.says) EXPECT_TRUE(run.Says(text)) << "missing: " << text;
  for (const std::string& text : e.saysNot) EXPECT_FALSE(run.Says(text)) << "present: " << text;
  auto at = run.journal.begin();
  for (const json& pattern : e.journalInOrder) {
    at = std::find_if(at, run.journal.end(), [&](const json& j) { return Matches(j, pattern); });
    EXPECT_NE(at, run.journal.end()) << "journal lacks, in order: " << pattern.dump();
    if (at == run.journal.end()) break;
    ++at;
  }
  for (const json& pattern : e.journalLacks) {
    const auto match = [&](const json& j) { return Matches(j, pattern); };
    EXPECT_TRUE(std::none_of(run.journal.begin(), run.journal.end(), match))
        << "journal holds: " << pattern.dump();
  }
  if (e.touched) {
    EXPECT_EQ(TouchedRegions(run), *e.touched);
  }
  const auto flash = machine->Flash().Bytes();
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
                            [&](const json& j) { return j["addr"] >= e.erases.from && j["addr"] < e.erases.to; }),
              e.erases.count);
  }
  if (e.keyWaits) {
    EXPECT_EQ(run.keyWaits, *e.keyWaits);
  }
  if (::testing::Test::HasFailure()) ADD_FAILURE() << "console:\n" << run.out.substr(0, 3000);
}

}  // namespace nox::app::test

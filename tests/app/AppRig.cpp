#include "AppRig.h"

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

struct Exited { uint32_t code; };

// The simulated machine's services, but the end of the process is an exception and the
// quirks of the case happen.
class TestOs final : public sim::SimOsServices {
 public:
  TestOs(sim::Machine& machine, const Quirks& quirks)
      : SimOsServices(machine, nullptr, [this](uint32_t code) { ExitProcess(code); }), machine_(machine), q_(quirks) {}

  void SetFlashProtection(bool on) override {
    if (!on && q_.powerButtonsNotRestored && protected_) Say("- Restore the Power Button action failure\n");
    protected_ = on;
    SimOsServices::SetFlashProtection(on);
  }
  void BlockUserInput(bool block) override {
    // The engine blocks input again before every piece it writes: the run's second block.
    if (block && q_.allocationFailsWhileWriting && ++blocks_ == 2) throw std::bad_alloc();
    SimOsServices::BlockUserInput(block);
  }
  int RestartMachine() override {
    return q_.shutdownComesBack ? Refused("restart-requested") : SimOsServices::RestartMachine();
  }
  int PowerOffMachine() override {
    return q_.shutdownComesBack ? Refused("power-off-requested") : SimOsServices::PowerOffMachine();
  }
  std::optional<std::string> CurrentDirectory(uint32_t& error) override {
    if (!q_.directoryError) return SimOsServices::CurrentDirectory(error);
    error = *q_.directoryError;
    return std::nullopt;
  }
  [[noreturn]] void ExitProcess(uint32_t code) override {
    ++exits;
    throw Exited{code};
  }

  int exits = 0;

 private:
  int Refused(const char* event) {
    machine_.RecordEffect(event);
    return *q_.shutdownComesBack;
  }

  sim::Machine& machine_;
  const Quirks& q_;
  bool protected_ = false;
  int blocks_ = 0;
};

class RigUi final : public ui::TextUi {
 public:
  RigUi(std::FILE* in, std::FILE* out, const Quirks& quirks) : TextUi(in, out), q_(quirks) {}
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    if (!q_.allocationFailsAtBox.empty() && text.find(q_.allocationFailsAtBox) != std::string::npos) {
      throw std::bad_alloc();
    }
    return TextUi::MessageBox(text, title, style);
  }
  void RunMainDialog(ui::MainDialogHost& host) override {
    if (!q_.mainWindowClosedAtOnce) TextUi::RunMainDialog(host);
  }

 private:
  const Quirks& q_;
};

std::string RegionAt(uint32_t address) {
  if (address < 0x20000) return "ncb";
  if (address < 0x40000) return "nvram";
  if (address < 0x60000) return "ec";
  return address < 0x7E0000 ? "main" : "bb";
}

bool Matches(const Json& line, const Json& pattern) {
  for (const auto& [key, value] : pattern.items()) {
    if (!line.contains(key) || line[key] != value) return false;
  }
  return true;
}

// A flash request's op (events carry an "op" of their own).
std::string FlashOp(const Json& j) { return j.contains("event") ? "" : j.value("op", ""); }

std::string TouchedRegions(const std::vector<Json>& journal) {
  std::vector<std::string> seen;
  std::string text;
  for (const Json& j : journal) {
    const std::string op = FlashOp(j), region = RegionAt(j.value("addr", 0u));
    if ((op != "erase" && op != "write" && op != "verify") || std::ranges::count(seen, region) != 0) continue;
    seen.push_back(region);
    text += (text.empty() ? "" : " ") + region;
  }
  return text;
}

// The operating-system effects, the firmware's flash enable and the driver service that the
// run left changed, by name.
std::vector<std::string> EffectsLeftChanged(const std::vector<Json>& journal) {
  std::map<std::string, bool> changed;
  const std::map<std::string, std::string> fields = {
      {"lock-workstation", "disabled"}, {"power-buttons", "saved"}, {"input", "blocked"}, {"keep-awake", "on"}};
  for (const Json& j : journal) {
    const std::string event = j.value("event", "");
    if (fields.contains(event)) changed[event] = j.value(fields.at(event), false);
    if (FlashOp(j) == "enable" || FlashOp(j) == "disable") changed["flash enabled"] = FlashOp(j) == "enable";
    if (event == "driver-service") changed["driver service"] = j.value("op", "") != "delete";
  }
  std::vector<std::string> left;
  for (const auto& [name, on] : changed) {
    if (on) left.push_back(name);
  }
  return left;
}

std::vector<uint8_t> MakeImage(const sim::Profile& profile, Image image, unsigned holes) {
  sim::RomOptions o = sim::RunningRomOptions(profile);
  o.version = *sim::NextVersion(o.version);
  o.holes = holes;
  if (image != Image::kFit) {
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
  for (const auto& [number, image] : roms) modules.push_back(*package::BuildModule({core::Format("@R%02u", number), image}));
  if (!c.script.empty()) modules.push_back(*package::BuildModule({"@CMD", {c.script.begin(), c.script.end()}}));
  for (const auto& [tag, content] : c.further) modules.push_back(*package::BuildModule({tag, content}));
  const auto program = package::AppendPackage(std::vector<uint8_t>(512, 'M'), *package::BuildPackage(modules));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
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
  const std::string program = (dir / "NOXWINGUI.exe").string();
  std::filesystem::create_directories(dir);
  std::map<uint32_t, std::vector<uint8_t>> roms;
  for (const auto& [number, image] : c.roms) roms[number] = MakeImage(*profile, image, c.holes);
  WriteProgram(program, roms, c);
  const size_t mark = machine->GetJournal().Entries().size();

  uint32_t exitCode = 0;
  int exits = 0, keyWaits = 0;
  std::FILE* in = c.answers.empty() ? std::fopen("/dev/null", "r")
                                    : fmemopen(const_cast<char*>(c.answers.data()), c.answers.size(), "r");
  char* outText = nullptr;
  size_t outSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  {
    const bool pathKnown = !c.quirks.directoryError;
    TestOs os(*machine, c.quirks);
    sim::SimDriverPort driver(*machine, program);
    RigUi ui(in, out, c.quirks);
    Platform platform{os, driver, ui, [&] { return pathKnown ? std::optional(program) : std::nullopt; },
                      [&](const std::string& text) { std::fputs(text.c_str(), out); }, [&] { ++keyWaits; },
                      [] { return std::optional<uint64_t>(uint64_t{1} << 30); }};
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
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  const auto all = machine->GetJournal().Entries();
  const std::vector<Json> journal(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end());

  SCOPED_TRACE("console:\n" + console.substr(0, 3000));
  EXPECT_EQ(std::make_pair(exitCode, exits), std::make_pair(c.exitCode, 1)) << "exit code, exits";
  EXPECT_EQ(EffectsLeftChanged(journal), std::vector<std::string>{});
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
                return FlashOp(j) == "erase" && j["addr"] >= from && j["addr"] < to;
              }), 1);
  }
  if (c.keyWaits) {
    EXPECT_EQ(keyWaits, *c.keyWaits);
  }
  auto at = journal.begin();
  for (const Json& pattern : c.inOrder) {
    at = std::find_if(at, journal.end(), [&](const Json& j) { return Matches(j, pattern); });
    ASSERT_NE(at, journal.end()) << "journal lacks, in order: " << pattern.dump();
    ++at;
  }
}

}  // namespace nox::app::test

// The vendor ME tool runner against the host's own files and shell (the services of a
// simulated run), with the temporary directory and the command processor chosen per case.
// That cmd.exe and the Windows services hand the same paths on is proven under Wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ecme/MeTool.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/SimOsServices.h"

namespace nox::ecme {
namespace {

namespace fs = std::filesystem;
using config::ModuleSlotId;
using Files = std::map<std::string, std::string>;  // path below the test's directory -> content
using Strings = std::vector<std::string>;

struct TestOs final : sim::SimOsServices {
  explicit TestOs(sim::Machine& m) : SimOsServices(m, nullptr, [](uint32_t) {}) {}
  std::optional<std::string> TempDirectory() override { return temp; }
  os::CommandShell Shell() const override { return shell; }
  // A line for cmd.exe is only written down; one for the shell runs.
  int RunCommand(const std::string& line) override {
    commands.push_back(line);
    return shell == os::CommandShell::kPosixSh ? SimOsServices::RunCommand(line) : 0;
  }
  std::optional<std::string> temp;
  os::CommandShell shell = os::CommandShell::kPosixSh;
  Strings commands;
};

class MeToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    machine_ = sim::Machine::InMemory(*sim::MakePreset("minimal-1m"), error);
    os_ = std::make_unique<TestOs>(*machine_);
    base_ = fs::temp_directory_path() / ("nox_metool_" + std::to_string(getpid()));
    fs::create_directories(base_);
    home_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(base_);
  }

  // A fresh world: the given files, the temporary directory `temp` below the test's
  // directory (none: the system has none), and no modules.
  void Reset(const std::optional<std::string>& temp, const Files& files = {}) {
    for (const auto& e : fs::directory_iterator(base_)) fs::remove_all(e.path());
    fs::create_directories(base_ / "cwd");
    fs::current_path(base_ / "cwd");
    if (temp) fs::create_directories(base_ / *temp);
    os_->temp = temp ? std::optional((base_ / *temp).string() + "/") : std::nullopt;
    os_->commands.clear();
    modules_.ClearAll();
    for (const auto& [path, content] : files) std::ofstream(base_ / path, std::ios::binary) << content;
  }
  Files World() const {
    Files out;
    for (const auto& e : fs::recursive_directory_iterator(base_)) {
      if (!e.is_regular_file()) continue;
      std::ostringstream content;
      content << std::ifstream(e.path(), std::ios::binary).rdbuf();
      out[fs::relative(e.path(), base_).generic_string()] = content.str();
    }
    return out;
  }
  void Put(ModuleSlotId id, const std::string& content, size_t padding = 0) {
    modules_[id].data.assign(content.begin(), content.end());
    modules_[id].data.resize(content.size() + padding, 0);
    modules_[id].size = static_cast<uint32_t>(content.size());
  }

  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<TestOs> os_;
  fs::path base_, home_;
  config::ModuleSlots modules_;
};

// A tool that writes down the arguments it was started with, $0 first.
std::string RecordingTool(const fs::path& record) {
  return "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" >'" + record.string() + "'\n";
}

// For the shell, what the tool received ($0 first); cmd.exe cannot run here, so for it the
// command line it would be given.
TEST_F(MeToolTest, EachPathReachesTheToolAsOneArgumentAndTheArgumentTextAsWritten) {
  using enum os::CommandShell;
  struct Case {
    const char* name;
    os::CommandShell shell;
    std::optional<std::string> temp;
    std::optional<std::string> args;  // the "@MEC" module
    Strings expected;                 // T/ stands for the temporary directory
  };
  const Case cases[] = {
      {"plain", kPosixSh, "tmp", {}, {"T/FWUpd.exe", "-f", "T/UpdTmp.bin"}},
      {"blanks and quotes", kPosixSh, "t m'p \"$HOME\"", {}, {"T/FWUpd.exe", "-f", "T/UpdTmp.bin"}},
      {"argument text", kPosixSh, "tmp", "-k  two", {"T/FWUpd.exe", "-f", "T/UpdTmp.bin", "-k", "two"}},
      // The plain names are files of the current directory, never programs on the PATH.
      {"no temporary directory", kPosixSh, {}, {}, {"./FWUpd.exe", "-f", "UpdTmp.bin"}},
      {"cmd, plain", kCmd, "T", "x  y", {"T/FWUpd.exe -f T/UpdTmp.bin x  y"}},
      {"cmd, what it splits", kCmd, "Local Settings (x86)&", {}, {"\"T/FWUpd.exe\" -f \"T/UpdTmp.bin\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset(c.temp);
    os_->shell = c.shell;
    Put(ModuleSlotId::kMeTool, RecordingTool(base_ / "received"));
    Put(ModuleSlotId::kMe, "ME image");
    if (c.args) Put(ModuleSlotId::kMeToolArgs, *c.args, 16);
    RunMeTool(PrepareMeTool(modules_, *os_), modules_, *os_, [](const std::string& t) { ADD_FAILURE() << t; });
    Strings got = os_->commands;
    if (c.shell == kPosixSh) {
      got.clear();
      std::ifstream in(base_ / "received");
      for (std::string line; std::getline(in, line);) got.push_back(line);
    }
    Strings expected = c.expected;
    for (std::string& e : expected) {
      for (size_t at = 0; os_->temp && (at = e.find("T/", at)) != std::string::npos; at += os_->temp->size()) {
        e.replace(at, 2, *os_->temp);
      }
    }
    EXPECT_EQ(got, expected);
    // The run waits for the tool and then lets the ME settle.
    EXPECT_EQ(os_->commands.size(), 1u);
    EXPECT_EQ(machine_->GetJournal().Entries().back().value("ms", 0), 5000);
  }
}

// A file this run did not write is missing, even when one of the same name lies there.
TEST_F(MeToolTest, AMissingToolOrImageOnlyWarns) {
  struct Case {
    const char* name;
    bool tool, image;   // in the package
    Files lying;        // already in the temporary directory
    std::string gone;   // taken away between start-up and the flash run
    const char* warning;
    const char* fullDisk = "";  // this file cannot be written completely
  };
  const Case cases[] = {
      {"no tool", false, true, {}, "", kMeToolMissing},
      {"no image, a stale one", true, false, {{"tmp/UpdTmp.bin", "old"}}, "", kMeImageMissing},
      {"stale files", false, false, {{"tmp/FWUpd.exe", "old"}, {"tmp/UpdTmp.bin", "old"}}, "", kMeToolMissing},
      {"tool deleted", true, true, {}, "tmp/FWUpd.exe", kMeToolMissing},
      {"image deleted", true, true, {}, "tmp/UpdTmp.bin", kMeImageMissing},
      {"image cut short", true, true, {}, "", kMeImageMissing, "tmp/UpdTmp.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset("tmp", c.lying);
    if (c.tool) Put(ModuleSlotId::kMeTool, "MZ");
    if (c.image) Put(ModuleSlotId::kMe, "ME");
    if (*c.fullDisk != '\0') fs::create_symlink("/dev/full", base_ / c.fullDisk);
    const MeToolFiles files = PrepareMeTool(modules_, *os_);
    if (!c.gone.empty()) fs::remove(base_ / c.gone);
    std::string printed;
    const size_t before = machine_->GetJournal().Entries().size();
    RunMeTool(files, modules_, *os_, [&](const std::string& t) { printed += t; });
    EXPECT_EQ(printed, c.warning);
    EXPECT_EQ(machine_->GetJournal().Entries().size(), before);  // nothing run, no pause
  }
}

// What start-up writes and what the end of the flash run leaves behind.
TEST_F(MeToolTest, FilesWrittenAndClearedAway) {
  struct Case {
    const char* name;
    std::optional<std::string> temp;
    std::map<ModuleSlotId, std::string> modules;
    Files before, prepared, after;
    bool imageClaimsMore = false;  // the image's slot claims more than it holds
  };
  const Files none;
  const std::map<ModuleSlotId, std::string> both = {{ModuleSlotId::kMeTool, "MZ tool"}, {ModuleSlotId::kMe, "ME image"}};
  const Case cases[] = {
      {"the tool's log replaces the kept one", "tmp", both,
       {{"cwd/error.log", "new"}, {"tmp/error.log", "old"}},
       {{"cwd/error.log", "new"}, {"tmp/error.log", "old"}, {"tmp/FWUpd.exe", "MZ tool"}, {"tmp/UpdTmp.bin", "ME image"}},
       {{"tmp/error.log", "new"}}},
      {"no new log: the kept one stays", "tmp", both, {{"tmp/error.log", "old"}},
       {{"tmp/error.log", "old"}, {"tmp/FWUpd.exe", "MZ tool"}, {"tmp/UpdTmp.bin", "ME image"}},
       {{"tmp/error.log", "old"}}},
      {"a file not written stays", "tmp", {{ModuleSlotId::kMe, "ME image"}}, {{"tmp/FWUpd.exe", "someone's"}},
       {{"tmp/FWUpd.exe", "someone's"}, {"tmp/UpdTmp.bin", "ME image"}}, {{"tmp/FWUpd.exe", "someone's"}}},
      {"no temporary directory: the current one, and the log stays", {}, both, {{"cwd/error.log", "log"}},
       {{"cwd/error.log", "log"}, {"cwd/FWUpd.exe", "MZ tool"}, {"cwd/UpdTmp.bin", "ME image"}},
       {{"cwd/error.log", "log"}}},
      {"a temporary directory that cannot be written", "gone", both, none, none, none},
      {"an image slot that claims more than it holds", "tmp", both, none, {{"tmp/FWUpd.exe", "MZ tool"}}, none, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset(c.temp, c.before);
    if (c.temp == "gone") fs::remove(base_ / "gone");
    // Slots hold more than their content, as an expanded module does.
    for (const auto& [id, content] : c.modules) Put(id, content, 32768);
    if (c.imageClaimsMore) modules_[ModuleSlotId::kMe].data.resize(modules_[ModuleSlotId::kMe].size - 1);
    const MeToolFiles files = PrepareMeTool(modules_, *os_);
    EXPECT_EQ(World(), c.prepared);
    CleanUpMeTool(files, *os_);
    EXPECT_EQ(World(), c.after);
  }
}

}  // namespace
}  // namespace nox::ecme

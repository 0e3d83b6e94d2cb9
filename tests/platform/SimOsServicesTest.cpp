// The operating-system services of a simulated run. That every other effect lands in the
// machine's journal, and is undone by the end of a run, is proven by the whole runs (tests/app);
// that a restart takes the machine down until the next run boots it, by the noxsim scenario.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/SimOsServices.h"

namespace nox::sim {
namespace {

TEST(SimOsServices, InstancesPausesAndFirmwareTables) {
  std::string error;
  const auto machine = Machine::InMemory(*MakePreset("legacy-8m"), error);
  std::set<std::string> taken;
  SimOsServices os(*machine, [&](const std::string& name) { return taken.insert(name).second; }, [](uint32_t) {});
  // A second instance is refused the services' mutex.
  EXPECT_EQ(os.InitOsServices(), 0u);
  EXPECT_EQ(os.InitOsServices(), 97u);
  EXPECT_TRUE(os.CreateInstanceMutex("NOXWINGUI"));
  EXPECT_FALSE(os.CreateInstanceMutex("NOXWINGUI"));
  os.SleepMs(1000);  // the pause is journaled
  const auto last = machine->GetJournal().Entries().back();
  EXPECT_EQ(std::pair(last.value("event", ""), last.value("ms", 0)), std::pair(std::string("pause"), 1000));
  // The FADT of the profile, its size asked for first, and no other table.
  const uint32_t size = os.ReadTable(0x41435049, 0x50434146, {});
  ASSERT_GT(size, 50u);
  std::vector<uint8_t> fadt(size);
  EXPECT_EQ(os.ReadTable(0x41435049, 0x50434146, fadt), size);
  EXPECT_EQ(fadt[48] | (fadt[49] << 8), 0xB2);
  EXPECT_EQ(os.ReadTable(0x41435049, 0x54445344, fadt), 0u);
}

// The host's temporary directory and shell; a command also lands in the journal.
TEST(SimOsServices, TemporaryDirectoryAndCommands) {
  std::string error;
  const auto machine = Machine::InMemory(*MakePreset("minimal-1m"), error);
  SimOsServices os(*machine, nullptr, [](uint32_t) {});
  const char* kept = std::getenv("TMPDIR");
  const std::string saved = kept != nullptr ? kept : "";
  const auto setTmpdir = [](const char* value) { value != nullptr ? setenv("TMPDIR", value, 1) : unsetenv("TMPDIR"); };
  const std::string longest = "/" + std::string(258, 'a');  // with its separator: the limit
  const std::string tooLong = longest + "a";
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {nullptr, "/tmp/"}, {"", "/tmp/"}, {"/var/x", "/var/x/"}, {"/var/x/", "/var/x/"},
      {longest.c_str(), longest + "/"}, {tooLong.c_str(), std::nullopt}};
  for (const auto& [tmpdir, expected] : cases) {
    setTmpdir(tmpdir);
    EXPECT_EQ(os.TempDirectory(), expected) << (tmpdir != nullptr ? tmpdir : "(unset)");
  }
  setTmpdir(kept != nullptr ? saved.c_str() : nullptr);

  EXPECT_EQ(os.RunCommand("exit 3"), 3);
  const auto last = machine->GetJournal().Entries().back();
  EXPECT_EQ(std::make_tuple(last.value("event", ""), last.value("line", ""), last.value("status", 0)),
            std::make_tuple(std::string("command"), std::string("exit 3"), 3));
}

}  // namespace
}  // namespace nox::sim

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

namespace fs = std::filesystem;

class MachineDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* unit = ::testing::UnitTest::GetInstance();
    dir = fs::temp_directory_path() /
          ("noxsim-test-" + std::to_string(unit->random_seed()) + "-" + unit->current_test_info()->name());
    fs::remove_all(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  std::string error;
};

TEST_F(MachineDirectory, PowerLossEndsTheRunAndFlashBinKeepsExactlyWhatWasWritten) {
  Profile p = Preset("minimal-1m");
  p.faults.powerLossAfterSmi = 4;
  ASSERT_TRUE(Machine::Create(dir, p, error)) << error;
  {
    auto opened = Machine::Open(dir, error);
    ASSERT_TRUE(opened) << error;
    Rig rig(std::move(opened));
    ASSERT_EQ(rig.Enable(), 0);                  // SMI 1
    ASSERT_EQ(rig.Erase(0x20000, 0x1000), 0);    // SMI 2
    ASSERT_EQ(rig.Write(0x20000, 0x12), 0);      // SMI 3
    try {
      rig.Write(0x20400, 0x34);  // SMI 4 is served, then the lights go out
      ADD_FAILURE() << "the run went on";
    } catch (const PowerLost& lost) {
      EXPECT_EQ(lost.code, kPowerLossExitCode);
    }
    // What is on disk now is what a killed process leaves: check before any destructor runs.
    std::ifstream in(dir / "flash.bin", std::ios::binary);
    const std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto flash = rig.machine->Flash().Bytes();
    EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), flash.begin(), flash.end()));
    EXPECT_EQ(onDisk[0x20000], 0x12);
    EXPECT_EQ(onDisk[0x20400], 0x34);
    EXPECT_EQ(onDisk[0x20800], 0xFF);
  }
  auto again = Machine::Open(dir, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->State().smiCount, 4u);
  EXPECT_EQ(again->GetJournal().Entries().back()["event"], "power-loss");
  EXPECT_EQ(again->Flash().EraseCounts()[0], 1u);
}

TEST_F(MachineDirectory, StateAndClockSurviveReopeningAndLookingRewritesNothing) {
  {
    auto m = Machine::Create(dir, Preset("legacy-8m"), error);
    ASSERT_TRUE(m) << error;
    m->Pause(1000);
    m->Advance(500);
    m->RecordEffect("keep-awake", {{"on", true}});
  }
  const auto flashTime = fs::last_write_time(dir / "flash.bin");
  const auto stateTime = fs::last_write_time(dir / "state.json");
  {
    auto m = Machine::Open(dir, error);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(m->Now(), 1500u);
    EXPECT_FALSE(m->Flash().Modified());
    const auto entries = m->GetJournal().Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(Carries(entries[1], {{"event", "pause"}, {"ms", 1000}}));
    EXPECT_TRUE(Carries(entries[2], {{"event", "keep-awake"}, {"t", 1500}, {"on", true}}));
  }
  EXPECT_EQ(fs::last_write_time(dir / "flash.bin"), flashTime);
  EXPECT_EQ(fs::last_write_time(dir / "state.json"), stateTime);
}

TEST_F(MachineDirectory, OpeningABrokenMachineSaysWhatIsWrong) {
  auto fails = [&](bool made, const std::string& text) {
    EXPECT_FALSE(made);
    EXPECT_NE(error.find(text), std::string::npos) << error;
  };
  fails(bool(Machine::Open(dir, error)), "machine.json");
  ASSERT_TRUE(Machine::Create(dir, Preset("minimal-1m"), error));
  fails(bool(Machine::Create(dir, Preset("minimal-1m"), error)), "holds a machine already");
  fs::resize_file(dir / "flash.bin", 4096);
  fails(bool(Machine::Open(dir, error)), "4096 bytes, but flash.size is 1048576");
  EXPECT_EQ(fs::file_size(dir / "flash.bin"), 4096u);  // a refused machine is not rewritten

  Profile outside = Preset("minimal-1m");
  outside.flash.blocks[1].size = 0x40000;  // past the end of the part
  EXPECT_FALSE(Machine::InMemory(outside, error));
  EXPECT_EQ(error, "profile: flash.blocks[1]: ends at 0x120000, past the flash size 0x100000");
  json j = ProfileToJson(Preset("minimal-1m"));
  j["flash"]["replyVersion"] = 14;
  std::ofstream(dir / "machine.json") << j.dump();
  fails(bool(Machine::Open(dir, error)), "flash.replyVersion: must be 9 to 13");
}

}  // namespace
}  // namespace nox::sim::test

// The machine directory and its journal: what a power loss leaves on disk, what survives
// reopening, what a broken directory is refused for, and when journal lines reach the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimRig.h"
#include "platform/sim/Journal.h"

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
  {
    auto created = Machine::Create(dir, p, error);
    ASSERT_TRUE(created) << error;
    Rig rig(std::move(created));
    ASSERT_EQ(rig.Enable(), 0);                        // SMI 1
    ASSERT_EQ(rig.Request(34, 0x20000, 0x1000), 0);    // SMI 2
    std::memset(rig.block.data() + 17, 0x12, 1024);
    ASSERT_EQ(rig.Request(35, 0x20000), 0);            // SMI 3
    std::memset(rig.block.data() + 17, 0x34, 1024);
    try {
      rig.Request(35, 0x20400);  // SMI 4 is served, then the lights go out
      ADD_FAILURE() << "the run went on";
    } catch (const PowerLost& lost) {
      EXPECT_EQ(lost.code, kPowerLossExitCode);
    }
    // What is on disk now is what a killed process leaves: check before any destructor runs.
    std::ifstream in(dir / "flash.bin", std::ios::binary);
    const std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto flash = rig.machine->Flash().Bytes();
    EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), flash.begin(), flash.end()));
    EXPECT_EQ(std::make_pair(onDisk.at(0x203FF), onDisk.at(0x20400)), std::make_pair(uint8_t{0x12}, uint8_t{0x34}));
  }
  auto again = Machine::Open(dir, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(std::make_pair(again->State().smiCount, again->Flash().EraseCounts()[0]), std::make_pair(uint64_t{4}, 1u));
  EXPECT_EQ(again->GetJournal().Entries().back()["event"], "power-loss");
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
  ASSERT_TRUE(Machine::Create(dir, Preset("minimal-1m"), error));
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
  fails(bool(Machine::Open(dir, error)), "machine.json: flash.replyVersion: must be 9 to 13");
}

TEST(Journal, SmiLinesAreJsonWithTheRequestFields) {
  Journal j;
  j.RecordSmi({7, 1000, 35, "write", 0x7E0400, 1024, 0, "quote \" and backslash \\", nullptr});
  j.RecordSmi({.op = "disable"});
  const auto e = j.Entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0], nlohmann::json::parse(R"({"n":7,"t":1000,"smi":35,"op":"write","addr":8258560,"len":1024,
                                            "status":0,"misuse":"quote \" and backslash \\"})"));
  EXPECT_FALSE(e[1].contains("status"));
}

// Lines wait in memory, where they are seen, until a flush, the journal's end or a large
// backlog writes them; a journal on a file appends to it.
TEST(Journal, FileJournalWritesAtItsEndOrWhenTheBacklogGrows) {
  const fs::path file = fs::temp_directory_path() / "noxsim-journal-test.jsonl";
  fs::remove(file);
  {
    Journal j(file);
    j.RecordEvent(1, 2, "keep-awake", {{"on", true}});
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(Carries(j.Entries().at(0), {{"event", "keep-awake"}, {"t", 2}}));
  }
  Journal again(file);
  EXPECT_EQ(again.Entries().size(), 1u) << "written at the journal's end";
  const auto written = fs::file_size(file);
  for (int i = 0; i < 5000; ++i) again.RecordSmi({.op = "read"});
  EXPECT_GT(fs::file_size(file), written);  // without an explicit flush
  EXPECT_EQ(again.Entries().size(), 5001u);
  fs::remove(file);
}

}  // namespace
}  // namespace nox::sim::test

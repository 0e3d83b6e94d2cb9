#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

namespace fs = std::filesystem;

TEST(StuckFault, FromSmiNumberLeavesStatusAt255ForNAttempts) {
  Profile p = Preset("minimal-1m");
  p.faults.stuck = {{3, std::nullopt, 2}};
  Rig rig(p);
  ASSERT_EQ(rig.Read(0), 0);       // SMI 1
  ASSERT_EQ(rig.Read(0x400), 0);   // SMI 2
  EXPECT_EQ(rig.Read(0x800), 255); // SMI 3
  EXPECT_EQ(rig.Read(0x800), 255); // SMI 4
  EXPECT_EQ(rig.Read(0x800), 0);   // the fault is used up
  EXPECT_EQ(rig.SmiLines()[2]["fault"], "status left at 255");
}

TEST(StuckFault, AtAnAddressOnlyThatAddressIsIgnored) {
  Profile p = Preset("minimal-1m");
  p.faults.stuck = {{0, 0x1000, 6}};
  Rig rig(p);
  EXPECT_EQ(rig.Read(0x0C00), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(rig.Read(0x1000), 255) << i;
  EXPECT_EQ(rig.Read(0x1000), 0);
}

struct RangeCase {
  FlashOp op;
  uint8_t command;
  uint32_t address;
  bool fails;
};

const char* OpText(FlashOp op) {
  return op == FlashOp::Read ? "read" : op == FlashOp::Erase ? "erase" : "write";
}

class FailingRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(FailingRange, FailsOnlyItsOperationInsideTheRange) {
  Profile p = Preset("minimal-1m");
  p.faults.fail = {{GetParam().op, 0x40000, 0x10000}};
  Rig rig(p);
  ASSERT_EQ(rig.Enable(), 0);
  const auto before = std::vector<uint8_t>(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
  uint8_t status = 0;
  switch (GetParam().command) {
    case 33: status = rig.Read(GetParam().address); break;
    case 34: status = rig.Erase(GetParam().address, 0x1000); break;
    case 35: status = rig.Write(GetParam().address, 0x00); break;
  }
  EXPECT_EQ(status, GetParam().fails ? 1 : 0);
  if (GetParam().fails) {
    EXPECT_EQ(rig.LastSmi()["fault"], "failing range");
    EXPECT_TRUE(std::equal(before.begin(), before.end(), rig.machine->Flash().Bytes().begin()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, FailingRange,
    ::testing::Values(RangeCase{FlashOp::Read, 33, 0x40000, true}, RangeCase{FlashOp::Read, 33, 0x4FC00, true},
                      RangeCase{FlashOp::Read, 33, 0x50000, false}, RangeCase{FlashOp::Read, 35, 0x40000, false},
                      RangeCase{FlashOp::Erase, 34, 0x4F000, true}, RangeCase{FlashOp::Erase, 34, 0x3F000, false},
                      RangeCase{FlashOp::Write, 35, 0x40400, true}, RangeCase{FlashOp::Write, 34, 0x40000, false}),
    [](const auto& param) {
      return std::string(OpText(param.param.op)) + "_fault_smi" +
             std::to_string(param.param.command) + "_at_" + std::to_string(param.param.address);
    });

TEST(BitFlips, OnlyTheFirstKWritesInTheRangeAreCorruptedAndAllReportSuccess) {
  Profile p = Preset("minimal-1m");
  p.faults.bitFlips = {{0x30000, 0x1000, 2, 0x04}};
  Rig rig(p);
  ASSERT_EQ(rig.Enable(), 0);
  ASSERT_EQ(rig.Erase(0x30000, 0x2000), 0);
  ASSERT_EQ(rig.Write(0x2FC00, 0x00), 0);  // outside: clean
  for (uint32_t a : {0x30000u, 0x30400u, 0x30800u}) ASSERT_EQ(rig.Write(a, 0x00), 0);
  const auto flash = rig.machine->Flash().Bytes();
  EXPECT_EQ(flash[0x2FC00], 0x00);
  EXPECT_EQ(flash[0x30000], 0x04);
  EXPECT_EQ(flash[0x30400], 0x04);
  EXPECT_EQ(flash[0x30800], 0x00);
  EXPECT_EQ(flash[0x30001], 0x00);
}

TEST(WriteProtection, RefusesEnableAndEveryWriteEvenWhenForced) {
  Profile p = Preset("minimal-1m");
  p.faults.writeProtected = true;
  Rig rig(p);
  EXPECT_EQ(rig.Enable(), 1);
  EXPECT_EQ(rig.Erase(0, 0x1000), 1);
  EXPECT_EQ(rig.LastSmi()["fault"], "write-protected");
  EXPECT_EQ(rig.Read(0), 0);
}

class MachineDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("noxsim-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                       "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(MachineDirectory, PowerLossEndsTheRunAndFlashBinKeepsExactlyWhatWasWritten) {
  Profile p = Preset("minimal-1m");
  p.faults.powerLossAfterSmi = 4;
  std::string error;
  std::vector<uint8_t> expected;
  {
    auto m = Machine::Create(dir, p, error);
    ASSERT_TRUE(m) << error;
  }
  {
    auto m = Machine::Open(dir, error);
    ASSERT_TRUE(m) << error;
    int code = 0;
    m->SetExitHook([&](int c) { code = c; throw PowerLost(c); });
    Rig rig(p);  // only for its request helpers; drive the opened machine instead
    rig.machine = std::move(m);
    rig.machine->SetExitHook([&](int c) { code = c; throw PowerLost(c); });
    rig.Allocate(65536);
    ASSERT_EQ(rig.Enable(), 0);                  // SMI 1
    ASSERT_EQ(rig.Erase(0x20000, 0x1000), 0);    // SMI 2
    ASSERT_EQ(rig.Write(0x20000, 0x12), 0);      // SMI 3
    EXPECT_THROW(rig.Write(0x20400, 0x34), PowerLost);  // SMI 4 is served, then the lights go out
    EXPECT_EQ(code, kPowerLossExitCode);
    expected.assign(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
    // What is on disk now is what a killed process leaves: check before any destructor runs.
    std::ifstream in(dir / "flash.bin", std::ios::binary);
    std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(onDisk.size(), expected.size());
    EXPECT_TRUE(onDisk == expected);
    EXPECT_EQ(onDisk[0x20000], 0x12);
    EXPECT_EQ(onDisk[0x20400], 0x34);
    EXPECT_EQ(onDisk[0x20800], 0xFF);
  }
  auto again = Machine::Open(dir, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->State().smiCount, 4u);
  auto entries = again->GetJournal().Entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back()["event"], "power-loss");
  EXPECT_EQ(again->Flash().EraseCounts()[0], 1u);
}

TEST_F(MachineDirectory, StateAndClockSurviveReopening) {
  std::string error;
  {
    auto m = Machine::Create(dir, Preset("legacy-8m"), error);
    ASSERT_TRUE(m) << error;
    m->Pause(1000);
    m->Advance(500);
    m->RecordEffect("keep-awake", {{"on", true}});
  }
  auto m = Machine::Open(dir, error);
  ASSERT_TRUE(m) << error;
  EXPECT_EQ(m->Now(), 1500u);
  auto entries = m->GetJournal().Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1]["event"], "pause");
  EXPECT_EQ(entries[1]["ms"], 1000);
  EXPECT_EQ(entries[2]["event"], "keep-awake");
  EXPECT_EQ(entries[2]["t"], 1500);
  EXPECT_EQ(entries[2]["on"], true);
}

TEST_F(MachineDirectory, LookingAtAMachineDoesNotRewriteIt) {
  std::string error;
  ASSERT_TRUE(Machine::Create(dir, Preset("minimal-1m"), error));
  const auto flashTime = fs::last_write_time(dir / "flash.bin");
  const auto stateTime = fs::last_write_time(dir / "state.json");
  {
    auto m = Machine::Open(dir, error);
    ASSERT_TRUE(m) << error;
    EXPECT_FALSE(m->Flash().Modified());
  }
  EXPECT_EQ(fs::last_write_time(dir / "flash.bin"), flashTime);
  EXPECT_EQ(fs::last_write_time(dir / "state.json"), stateTime);
}

TEST_F(MachineDirectory, OpeningABrokenMachineSaysWhatIsWrong) {
  std::string error;
  EXPECT_FALSE(Machine::Open(dir, error));
  EXPECT_NE(error.find("machine.json"), std::string::npos);
  ASSERT_TRUE(Machine::Create(dir, Preset("minimal-1m"), error));
  EXPECT_FALSE(Machine::Create(dir, Preset("minimal-1m"), error));
  EXPECT_NE(error.find("holds a machine already"), std::string::npos);

  fs::resize_file(dir / "flash.bin", 4096);
  EXPECT_FALSE(Machine::Open(dir, error));
  EXPECT_NE(error.find("4096 bytes, but flash.size is 1048576"), std::string::npos) << error;
  EXPECT_EQ(fs::file_size(dir / "flash.bin"), 4096u);  // a refused machine is not rewritten

  Profile outside = Preset("minimal-1m");
  outside.flash.blocks[1].size = 0x40000;  // past the end of the part
  EXPECT_FALSE(Machine::InMemory(outside, error));
  EXPECT_EQ(error, "profile: flash.blocks[1]: ends at 0x120000, past the flash size 0x100000");

  nlohmann::json j = ProfileToJson(Preset("minimal-1m"));
  j["enableAnswer"] = 9;
  std::ofstream(dir / "machine.json") << j.dump();
  EXPECT_FALSE(Machine::Open(dir, error));
  EXPECT_NE(error.find("enableAnswer: must be 0, 1, 2 or 3"), std::string::npos) << error;
}

}  // namespace
}  // namespace nox::sim::test

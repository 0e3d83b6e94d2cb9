// The machine directory, its profile and its journal: what a power loss leaves on disk, what
// survives reopening, what a broken directory or profile is refused for, and when journal
// lines reach the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimRig.h"
#include "platform/sim/Journal.h"
#include "platform/sim/Profile.h"

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

// --- profiles ------------------------------------------------------------------------------

TEST(Presets, EveryPresetIsValidAndSurvivesItsJsonForm) {
  for (const std::string& name : PresetNames()) {
    const nlohmann::json json = ProfileToJson(MakePreset(name).value());
    ProfileResult back = ProfileFromJson(json);
    ASSERT_TRUE(back.profile) << name << ": " << back.error;
    EXPECT_EQ(ProfileToJson(*back.profile), json) << name;
  }
  EXPECT_FALSE(MakePreset("legacy-4m"));
}

// A refused setting names the field and the reason; settings at the edge of the rules pass.
TEST(ProfileJson, BadSettingsNameTheFieldAndTheReason) {
  // "" for accepted; `based`: on BasedPreset() rather than legacy-8m.
  struct Case { const char* assignment; const char* error; bool based = false; };
  const Case cases[] = {
      {"flash.replyVersion=8", "flash.replyVersion: must be 9 to 13"},
      {"flash.replyVersion=14", "flash.replyVersion: must be 9 to 13"},
      {"successStatus=1", "successStatus: must be below 255 and not 1 (1 means failure)"},
      // The blocks tile the part, in whatever order the table lists them.
      {"flash.blocks.6.size=0x40000", "flash.blocks[6]: ends at 0x820000, past the flash size 0x800000"},
      {"flash.blocks.1.start=0x8000", "flash.blocks[1].start: overlaps flash.blocks[0]"},
      {"flash.blocks.0.size=0x8000", "flash.blocks: nothing covers 0x8000-0xFFFF"},
      {"flash.blocks.6.size=0x10000", "flash.blocks: nothing covers 0x7F0000-0x7FFFFF"},
      {"flash.blocks.0.type=256", "flash.blocks[0].type: 256 is larger than 255"},
      // ... or, with a base, the part from there: the chip's other regions lie below it.
      {"flash.base=0x10000", "flash.blocks[0].start: 0x0 lies below flash.base 0x10000"},
      {"flash.base=0x8000", "flash.blocks: nothing covers 0x8000-0xFFFF", true},
      {"flash.base=0x10800", "flash.base: must be a multiple of 4096 below flash.size", true},
      {"flash.base=0x800000", "flash.base: must be a multiple of 4096 below flash.size", true},
      {"ecb.ecBlockStart=0x60000", "ecb.ecBlockStart: the EC block 0x60000+0x20000 is not covered by blocks of type 3"},
      // One port: the records name it, nothing else does.
      {"smiPort=0xB0", "smiPort: no such field"},
      {"asf.port=0", "asf.port: 0 is no port"},
      // Records in the segments: inside the mapped view, apart, and found by the search.
      {"asf.slotDistance=4", "asf.slotDistance: the address slot at +4 overlaps the record's own fields (bytes 0-4 and 12-13)"},
      {"asf.slotDistance=9", "asf.slotDistance: the address slot at +9 overlaps the record's own fields (bytes 0-4 and 12-13)"},
      {"asf.offset=65522", "asf.offset: the \"$ASF\" record at 0xFFF2-0xFFFF reaches past the 65535 bytes the utility maps of the segment"},
      {"asf.offset=65520", "asf.slotDistance: the address slot at 0x10000-0x10003 reaches past the 65535 bytes the utility maps of the segment"},
      {"identity.offset=0x110", "identity.offset: the identity marker blocks at 0x110-0x17F overlaps the \"$ASF\" record at 0x120-0x12D"},
      {"identity.offset=0x12E", "identity.offset: the identity marker blocks at 0x12E-0x19D overlaps the address slot at 0x130-0x133"},
      {"ecb1.offset=0x2E0", "ecb1.offset: the \"ECB1\" record at 0x2E0-0x2E5 overlaps the \"$ECB\" record and its texts at 0x200-0x2E4"},
      {"ecb.offset=0xFF40", "ecb.offset: the \"$ECB\" record and its texts at 0xFF40-0x10024 reaches past the 65535 bytes the utility maps of the segment"},
      {"ecb.messages=[\"Check ECB1 first\",\"\",\"\",\"\"]", "ecb1.offset: the utility's search finds \"ECB1\" first at 0x226, not at the record's 0x300"},
      {"identity.version=A6", "identity.version: must be a letter and two digits, like A06"},
      {"identity.systemId=\"0x1G\"", "identity.systemId: \"0x1G\" is not a number"},
      {"firmware=bios", "firmware: must be \"legacy\" or \"uefi\""},
      {"asf.present=1", "asf.present: must be true or false"},
      {"defaults.switchOn=-1", "defaults.switchOn: must not be negative"},
      {"faults.fail=[{\"op\":\"program\"}]", "faults.fail[0].op: must be \"read\", \"erase\" or \"write\""},
      {"faults.stuck=[{\"attempts\":2}]", "faults.stuck[0].fromSmi: give fromSmi or address"},
      {"faults.stuck=[{\"atempts\":2}]", "faults.stuck[0].atempts: unknown field"},
      {"ofbdPassword={\"enabled\":true,\"maxAttempts\":0}", "ofbdPassword.maxAttempts: must be at least 1"},
      {"flash.blocks.9.type=1", "flash.blocks.9.type: no such field"},
      {"noequals", "\"noequals\": expected key=value"},
      {"asf.slotDistance=5", ""},   // the slot in the bytes between the distance and the port
      {"asf.slotDistance=14", ""},  // right behind the port
      // The table in the firmware's order: boot block first, the main BIOS halves swapped.
      {"flash.blocks=[{\"start\":8257536,\"size\":131072,\"type\":0},{\"start\":4325376,\"size\":3932160,\"type\":1},"
       "{\"start\":393216,\"size\":3932160,\"type\":1},{\"start\":131072,\"size\":131072,\"type\":2},"
       "{\"start\":262144,\"size\":131072,\"type\":3},{\"start\":65536,\"size\":65536,\"type\":129},"
       "{\"start\":0,\"size\":65536,\"type\":128}]",
       ""}};
  for (const Case& c : cases) {
    nlohmann::json json = ProfileToJson(c.based ? BasedPreset() : *MakePreset("legacy-8m"));
    std::string error = ApplySetting(json, c.assignment);
    if (error.empty()) error = ProfileFromJson(json).error;
    EXPECT_EQ(error, c.error) << c.assignment;
  }
  nlohmann::json json = ProfileToJson(*MakePreset("minimal-1m"));
  json["ecb"]["flag"] = 1;  // unknown fields in a file are errors too
  EXPECT_EQ(ProfileFromJson(json).error, "ecb.flag: unknown field");
  EXPECT_EQ(ProfileFromJson(nlohmann::json::array()).error, "profile: must be an object");
}

// Settings take JSON values, hex text and plain text.
TEST(ProfileJson, SettingsTakeJsonValuesHexTextAndPlainText) {
  nlohmann::json json = ProfileToJson(*MakePreset("legacy-8m"));
  for (const char* setting : {"identity.systemId=0xFE", "identity.version=A09", "faults.writeProtected=true",
                              "faults.stuck=[{\"address\":\"0x7E0000\",\"attempts\":6}]",
                              "enableSilentOnSuccess=false", "ofbdPassword.prompt=Password please"}) {
    ASSERT_EQ(ApplySetting(json, setting), "") << setting;
  }
  ProfileResult r = ProfileFromJson(json);
  ASSERT_TRUE(r.profile) << r.error;
  const Profile& p = *r.profile;
  EXPECT_EQ(std::make_tuple(p.identity.systemId, p.identity.version, p.faults.writeProtected,
                            p.faults.stuck.at(0).address, p.enableSilentOnSuccess, p.ofbdPassword.prompt),
            std::make_tuple(uint8_t{0xFE}, "A09", true, std::optional<uint32_t>(0x7E0000), false, "Password please"));
}

TEST(EcLayout, EcbRecordWinsOverTheBlockTable) {
  Profile p = *MakePreset("legacy-8m");
  p.ecb.ecVersionOffset = 0x80;
  EXPECT_EQ(EcLayoutOf(p).versionOffset, 0x80u);
  p.ecb.present = false;
  const EcLayout table = EcLayoutOf(p);
  EXPECT_EQ(std::make_tuple(table.present, table.start, table.versionOffset), std::make_tuple(true, 0x40000u, 0x100u));
  EXPECT_FALSE(EcLayoutOf(*MakePreset("minimal-1m")).present);
}

}  // namespace
}  // namespace nox::sim::test

// The machine directory, its profile and its journal: what a killed process or a power loss
// leaves on disk, what survives reopening, who may open it at once, what a broken directory or
// profile is refused for, how a failed save is told, and what the journal tells of each region.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimRig.h"
#include "platform/sim/BootVerdict.h"
#include "platform/sim/Journal.h"
#include "platform/sim/Profile.h"
#include "platform/sim/Regions.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {

void PrintTo(const RegionActivity& a, std::ostream* os) {
  *os << RegionName(a.region.type) << " erase " << a.erase.requests << "/" << a.erase.bytes << " write "
      << a.write.requests << "/" << a.write.bytes << " read " << a.read.requests << "/" << a.read.bytes
      << " not carried out " << a.notCarriedOut;
}

namespace test {
namespace {

namespace fs = std::filesystem;

// A machine directory of the test's own, removed before and after.
struct MachineDirectory : ::testing::Test {
  void SetUp() override { fs::remove_all(dir); }
  void TearDown() override { fs::remove_all(dir); }
  const fs::path dir = fs::temp_directory_path() /
                       ("noxsim-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  std::string error;
};

std::vector<uint8_t> OnDisk(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

json LastLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return json::parse(last, nullptr, false);
}

// Every request reaches flash.bin and the journal as it is served, a flipped cell included, so
// that a process killed between two requests leaves both agreeing. A power loss ends the run
// with the state (clock, SMI count, erase counts) saved too; it survives reopening, and a
// machine that is only looked at is not rewritten.
TEST_F(MachineDirectory, EveryRequestIsOnDiskAsServedAPowerLossKeepsTheStateAndLookingRewritesNothing) {
  Profile p = Preset("minimal-1m");
  p.faults.powerLossAfterSmi = 4;
  p.faults.bitFlips = {{.start = 0x20010, .length = 1, .writes = 1, .mask = 0x01}};
  {
    auto created = Machine::Create(dir, p, error);
    ASSERT_TRUE(created) << error;
    Rig rig(std::move(created));
    rig.machine->Pause(1000);
    rig.machine->Advance(500);
    rig.machine->RecordEffect("keep-awake", {{"on", true}});
    ASSERT_EQ(rig.Enable(), 0);                        // SMI 1
    ASSERT_EQ(rig.Request(34, 0x20000, 0x1000), 0);    // SMI 2
    std::memset(rig.block.data() + 17, 0x12, 1024);
    ASSERT_EQ(rig.Request(35, 0x20000), 0);            // SMI 3
    const auto flash = rig.machine->Flash().Bytes();
    EXPECT_TRUE(std::ranges::equal(OnDisk(dir / "flash.bin"), flash));
    EXPECT_EQ(flash[0x20010], 0x13);
    // A request's line reaches the file before the part changes again.
    EXPECT_TRUE(Carries(LastLine(dir / "journal.jsonl"), {{"n", 2}, {"op", "erase"}}));
    std::memset(rig.block.data() + 17, 0x34, 1024);
    try {
      rig.Request(35, 0x20400);  // SMI 4 is served, then the lights go out
      ADD_FAILURE() << "the run went on";
    } catch (const PowerLost& lost) {
      EXPECT_EQ(lost.code, kPowerLossExitCode);
    }
    const std::vector<uint8_t> onDisk = OnDisk(dir / "flash.bin");
    EXPECT_EQ(std::make_pair(onDisk.at(0x203FF), onDisk.at(0x20400)), std::make_pair(uint8_t{0x12}, uint8_t{0x34}));
  }
  const auto flashTime = fs::last_write_time(dir / "flash.bin");
  const auto stateTime = fs::last_write_time(dir / "state.json");
  {
    auto again = Machine::Open(dir, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(std::make_tuple(again->State().smiCount, again->Flash().EraseCounts()[0], again->Now()),
              std::make_tuple(uint64_t{4}, 1u, uint64_t{1500}));
    const auto entries = again->GetJournal().Entries();
    EXPECT_TRUE(Carries(entries.at(2), {{"event", "pause"}, {"ms", 1000}}));
    EXPECT_TRUE(Carries(entries.at(3), {{"event", "keep-awake"}, {"t", 1500}, {"on", true}}));
    EXPECT_TRUE(Carries(entries.at(entries.size() - 3), {{"n", 3}, {"op", "write"}, {"fault", "bit flip"}}));
    EXPECT_EQ(entries.back()["event"], "power-loss");
    EXPECT_TRUE(again->Down());  // the next run powers it on first
  }
  EXPECT_EQ(fs::last_write_time(dir / "flash.bin"), flashTime);
  EXPECT_EQ(fs::last_write_time(dir / "state.json"), stateTime);
}

TEST_F(MachineDirectory, OpeningABrokenMachineSaysWhatIsWrong) {
  ASSERT_TRUE(Machine::Create(dir, Preset("minimal-1m"), error));
  fs::resize_file(dir / "flash.bin", 4096);
  EXPECT_FALSE(Machine::Open(dir, error));
  EXPECT_NE(error.find("4096 bytes, but flash.size is 1048576"), std::string::npos) << error;
  EXPECT_EQ(fs::file_size(dir / "flash.bin"), 4096u);  // a refused machine is not rewritten
  Profile outside = Preset("minimal-1m");
  outside.flash.blocks[1].size = 0x40000;  // past the end of the part
  EXPECT_FALSE(Machine::InMemory(outside, error));
  EXPECT_EQ(error, "profile: flash.blocks[1]: ends at 0x120000, past the flash size 0x100000");
  json j = ProfileToJson(Preset("minimal-1m"));
  j["flash"]["replyVersion"] = 14;
  std::ofstream(dir / "machine.json") << j.dump();
  EXPECT_FALSE(Machine::Open(dir, error));
  EXPECT_NE(error.find("machine.json: flash.replyVersion: must be 9 to 13"), std::string::npos) << error;
}

// One process changes a machine at a time while lookers share it; a looker that finds it in
// use is told so when it will not wait. A save that fails names the file and the reason.
TEST_F(MachineDirectory, OneChangerAtATimeAndAFailedSaveNamesTheFile) {
  auto changing = Machine::Create(dir, Preset("minimal-1m"), error);
  ASSERT_TRUE(changing) << error;
  int asked = 0;
  EXPECT_FALSE(Machine::Open(dir, error, Machine::Access::kLook, [&] { return ++asked == 0; }));
  EXPECT_EQ(std::make_pair(asked, error), std::make_pair(1, dir.string() + ": in use by another process"));
  fs::remove(dir / "state.json");
  fs::create_directory(dir / "state.json");
  changing->Advance(1);
  EXPECT_FALSE(changing->Persist(error));
  EXPECT_EQ(error, (dir / "state.json").string() + ": cannot be written: Is a directory");
  changing.reset();
  fs::remove(dir / "state.json");
  auto looking = Machine::Open(dir, error, Machine::Access::kLook);
  ASSERT_TRUE(looking) << error;
  EXPECT_TRUE(Machine::Open(dir, error, Machine::Access::kLook)) << error;
  EXPECT_FALSE(Machine::Open(dir, error));
}

// SMI lines are JSON with the request's fields. They stay in memory, where they are seen, until
// the journal starts appending; from then on every line reaches the file as it is recorded.
TEST(Journal, SmiLinesCarryTheRequestAndReachTheFileAsTheyAreRecordedOnceAppending) {
  const fs::path file = fs::temp_directory_path() / "noxsim-journal-test.jsonl";
  fs::remove_all(file);
  std::string error;
  {
    Journal j(file);
    j.RecordSmi({7, 1000, 35, "write", 0x7E0400, 1024, 0, "quote \" and backslash \\", nullptr});
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(j.Entries().at(0), nlohmann::json::parse(R"({"n":7,"t":1000,"smi":35,"op":"write","addr":8258560,
                                                          "len":1024,"status":0,"misuse":"quote \" and backslash \\"})"));
    ASSERT_TRUE(j.StartAppending(error)) << error;
    j.RecordSmi({.op = "read"});
    EXPECT_EQ(Journal(file).Entries().size(), 1u);  // gathered until the part changes
    j.WritePending();
    const auto written = Journal(file).Entries();
    EXPECT_EQ(written.size(), 2u);
    EXPECT_FALSE(written.back().contains("status"));
  }
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_FALSE(Journal(file).StartAppending(error));
  EXPECT_EQ(error, file.string() + ": cannot be written: Is a directory");
  fs::remove(file);
}

// --- profiles ------------------------------------------------------------------------------

// Every preset is valid and survives its JSON form. A refused setting names the field and the
// reason; settings at the edge of the rules pass.
TEST(ProfileJson, PresetsSurviveTheirJsonFormAndBadSettingsNameTheFieldAndTheReason) {
  for (const std::string& name : PresetNames()) {
    const nlohmann::json json = ProfileToJson(MakePreset(name).value());
    ProfileResult back = ProfileFromJson(json);
    ASSERT_TRUE(back.profile) << name << ": " << back.error;
    EXPECT_EQ(ProfileToJson(*back.profile), json) << name;
  }
  // "" for accepted; `based`: on BasedPreset() rather than legacy-8m.
  struct Case { const char* assignment; const char* error; bool based = false; };
  const Case cases[] = {
      {"flash.replyVersion=8", "flash.replyVersion: must be 9 to 13"},
      {"successStatus=1", "successStatus: must be below 255 and not 1 (1 means failure)"},
      // The blocks tile the part, in whatever order the table lists them.
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
      // One port: the records name it.
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
      // An ME region lies between the descriptor's sector and the firmware's part, which starts at the span.
      {"me={\"present\":true,\"span\":8192,\"regionStart\":0,\"regionSize\":4096}",
       "me.regionStart: must be a multiple of 4096 from 0x1000 on (the descriptor takes the first sector)"},
      {"me={\"present\":true,\"span\":8192,\"regionStart\":4096,\"regionSize\":8192}", "me.regionSize: the ME region ends past me.span"},
      {"me={\"present\":true,\"span\":\"0xF801000\",\"regionStart\":4096,\"regionSize\":4096}",
       "me.span: the chip (me.span + flash.size) is larger than 256 MiB"},
      {"me={\"present\":true,\"span\":8192,\"regionStart\":4096,\"regionSize\":4096}",
       "flash.base: must be 0 with an ME region: me.span places the firmware's part on the chip", true},
      {"ecFlash.faults=[{\"request\":\"end\",\"status\":1}]", "ecFlash.faults[0].status: 1 is the success answer"},
      {"identity.version=A6", "identity.version: must be a letter and two digits, like A06"},
      {"identity.systemId=\"0x1G\"", "identity.systemId: \"0x1G\" is not a number"},
      {"firmware=bios", "firmware: must be \"legacy\" or \"uefi\""},
      {"asf.present=1", "asf.present: must be true or false"},
      {"defaults.switchOn=-1", "defaults.switchOn: must not be negative"},
      {"faults.stuck=[{\"attempts\":2}]", "faults.stuck[0].fromSmi: give fromSmi or address"},
      {"faults.stuck=[{\"atempts\":2}]", "faults.stuck[0].atempts: unknown field"},
      {"ofbdPassword={\"enabled\":true,\"maxAttempts\":0}", "ofbdPassword.maxAttempts: must be at least 1"},
      {"flash.blocks.9.type=1", "flash.blocks.9.type: no such field"},
      {"noequals", "\"noequals\": expected key=value"},
      {"asf.slotDistance=5", ""},   // the slot in the bytes between the distance and the port
      {"asf.slotDistance=14", ""}};  // right behind the port
  for (const Case& c : cases) {
    nlohmann::json json = ProfileToJson(c.based ? BasedPreset() : *MakePreset("legacy-8m"));
    std::string error = ApplySetting(json, c.assignment);
    if (error.empty()) error = ProfileFromJson(json).error;
    EXPECT_EQ(error, c.error) << c.assignment;
  }
  EXPECT_EQ(ProfileFromJson(nlohmann::json::array()).error, "profile: must be an object");
  // The table in the firmware's order (boot block first, the main BIOS halves swapped) is as good.
  nlohmann::json reversed = ProfileToJson(*MakePreset("legacy-8m"));
  std::reverse(reversed["flash"]["blocks"].begin(), reversed["flash"]["blocks"].end());
  EXPECT_EQ(ProfileFromJson(reversed).error, "");
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

// --- regions ---------------------------------------------------------------------------------

// Listed as a firmware may list them: the main BIOS's upper half first.
const std::vector<BlockEntry> kBlocks = {
    {0x8000, 0x4000, 1}, {0x0000, 0x4000, 0x80}, {0x4000, 0x4000, 1}, {0xC000, 0x4000, 0}};

TEST(Regions, NamedByTypeInTheTablesOrderWithAbuttingEntriesMerged) {
  std::vector<std::string> names;
  for (const uint8_t type : {0, 1, 2, 3, 4, 0x7F, 0x80, 0xFF}) names.push_back(RegionName(type));
  EXPECT_EQ(names, (std::vector<std::string>{"boot block", "main BIOS", "NVRAM", "EC", "type 4", "type 127", "NCB 0x80",
                                             "NCB 0xFF"}));
  EXPECT_EQ(RegionsOf(kBlocks), (std::vector<Region>{{1, 0x4000, 0x8000}, {0x80, 0, 0x4000}, {0, 0xC000, 0x4000}}));
  // Entries of one type apart from each other stay apart.
  const std::vector<BlockEntry> apart = {{0, 0x1000, 0x81}, {0x1000, 0x1000, 1}, {0x2000, 0x1000, 0x81}};
  EXPECT_EQ(RegionsOf(apart), (std::vector<Region>{{0x81, 0, 0x1000}, {1, 0x1000, 0x1000}, {0x81, 0x2000, 0x1000}}));
}

TEST(Regions, RequestsOfTheLastRunTalliedPerRegion) {
  const std::vector<json> journal = {
      {{"event", "create"}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0}, {"len", 1024}, {"status", 0}},
      {{"event", "os-init"}},
      {{"smi", 34}, {"op", "erase"}, {"addr", 0x4000}, {"len", 0x8000}, {"status", 0}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0xBC00}, {"len", 0x800}, {"status", 0}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0xC400}, {"len", 1024}, {"status", 255}, {"fault", "status left at 255"}},
      {{"smi", 33}, {"op", "read"}, {"addr", 0x4000}, {"len", 1024}, {"status", 0}, {"misuse", "no signature"}},
      {{"smi", 33}, {"op", "read"}, {"addr", "0x4000"}, {"len", 1024}, {"status", 0}},
      {{"smi", 35}, {"op", "write"}, {"addr", 0x4000}, {"len", 1024}, {"status", 0}, {"chip", true}},  // not a block's
      {{"smi", 32}, {"op", "enable"}, {"addr", 0x4000}, {"len", 0}},
      {{"event", "input"}, {"addr", 0x4000}, {"len", 1024}},
  };
  ASSERT_EQ(LastRunStart(journal), 2u);
  EXPECT_EQ(LastRunStart(std::span(journal).first(2)), std::nullopt);
  const Region main{1, 0x4000, 0x8000}, ncb{0x80, 0, 0x4000}, boot{0, 0xC000, 0x4000};
  // Region, erase, write, read (requests, bytes), requests not carried out.
  const std::vector<RegionActivity> lastRun = {
      {main, {1, 0x8000}, {1, 0x400}, {1, 0}, 1}, {ncb, {}, {}, {}, 0}, {boot, {}, {2, 0x400}, {}, 1}};
  EXPECT_EQ(SummariseActivity(kBlocks, 0, std::span(journal).subspan(2)), lastRun);
  std::vector<RegionActivity> all = lastRun;
  all[1].write = {1, 1024};
  EXPECT_EQ(SummariseActivity(kBlocks, 0, journal), all);
  // A firmware that answers success with another status: status 0 is then a failure.
  EXPECT_EQ(SummariseActivity(kBlocks, 7, std::span(journal).subspan(2))[0],
            (RegionActivity{main, {1, 0}, {1, 0}, {1, 0}, 3}));
}

// --- what the next power-on boots -------------------------------------------------------------

// minimal-1m: main BIOS 0-0xE0000, boot block 0xE0000-0x100000. Each case changes the part
// after the old image booted; the part holds the new image where `fresh` says so.
TEST(BootVerdict, AsBootedWholeOrDamagedDecideWhatStarts) {
  const auto image = [](const Profile& p, uint64_t seed) {
    RomOptions o = RunningRomOptions(p);
    o.seed = seed;
    return BuildRomImage(p, o);
  };
  struct Case {
    const char* what;
    uint32_t fresh = 0, freshEnd = 0;  // [fresh, freshEnd) from the new image
    std::function<void(std::vector<uint8_t>&, const RomResult&)> hurt;
    const char* verdict;
    bool topBlockOnly = false;  // a table without boot-block entries
  };
  const auto erase = [](uint32_t at, uint32_t n) {
    return [=](std::vector<uint8_t>& part, const RomResult&) { std::fill_n(part.begin() + at, n, 0xFF); };
  };
  const Case cases[] = {
      {"as booted", 0, 0, {}, "old"},
      {"main BIOS new", 0, 0xE0000, {}, "new"},
      {"everything new", 0, 0x100000, {}, "new"},
      {"main BIOS volume header erased", 0, 0, erase(0, 0x1000), "recovery"},
      {"a sector inside a file of the main BIOS erased", 0, 0, erase(0x20000, 0x1000), "recovery"},
      {"a bit of file data cleared", 0, 0, [](auto& part, auto&) { part[0x30000] &= 0x7F; }, "recovery"},
      {"the identity file's version block lost, its checksum fixed", 0, 0,
       [](auto& part, const RomResult& r) {
         const RomFile& id = *std::ranges::find(r.files, IdentityFileGuid(), &RomFile::name);
         uint8_t* bv = &*std::search(part.begin() + id.offset, part.begin() + id.offset + id.size,
                                     std::begin("$BV#"), std::end("$BV#") - 1);
         bv[0] = 'X';
         part[id.offset + 17] = static_cast<uint8_t>(part[id.offset + 17] - ('X' - '$'));
       }, "recovery"},
      {"a boot block sector erased", 0, 0, erase(0xF0000, 0x1000), "no start"},
      {"the top block erased, no boot-block entries", 0, 0, erase(0xFF000, 0x1000), "no start", true},
      {"no boot-block entries", 0, 0, {}, "old", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Profile p = *MakePreset("minimal-1m");
    if (c.topBlockOnly) p.flash.blocks = {{0, 0x80000, 1}, {0x80000, 0x80000, 1}};
    const RomResult old = image(p, 1), fresh = image(p, 2);
    ASSERT_EQ(old.error + fresh.error, "");
    const BootDigests noted = NoteAtPowerOn(p, old.image, {});
    std::vector<uint8_t> part = old.image;
    std::copy(fresh.image.begin() + c.fresh, fresh.image.begin() + c.freshEnd, part.begin() + c.fresh);
    if (c.hurt) c.hurt(part, old);
    EXPECT_STREQ(VerdictName(JudgePart(p, part, noted).verdict), c.verdict);
    // A power-on notes only what it can boot: a damaged region is judged against what it
    // last booted, and a sound one becomes what it boots.
    const BootDigests after = NoteAtPowerOn(p, part, noted);
    EXPECT_STREQ(VerdictName(JudgePart(p, old.image, after).verdict), std::string(c.verdict) == "new" ? "new" : "old");
  }
  // The machine runs the identity of a part only when that part starts.
  std::string error;
  auto machine = Machine::InMemory(*MakePreset("minimal-1m"), error);
  ASSERT_TRUE(machine) << error;
  RomOptions next = RunningRomOptions(machine->GetProfile());
  next.version = "A02";
  std::vector<uint8_t> part = BuildRomImage(machine->GetProfile(), next).image;
  std::fill_n(part.begin() + 0x80000, 0x1000, 0xFF);
  ASSERT_TRUE(machine->Flash().Load(part));
  machine->Boot();
  EXPECT_EQ(machine->GetProfile().identity.version, "A01");
  ASSERT_TRUE(machine->Flash().Load(BuildRomImage(machine->GetProfile(), next).image));
  machine->Boot();
  EXPECT_EQ(machine->GetProfile().identity.version, "A02");
}

}  // namespace
}  // namespace test
}  // namespace nox::sim

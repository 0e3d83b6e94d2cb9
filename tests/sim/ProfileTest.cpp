#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/sim/Presets.h"
#include "platform/sim/Profile.h"

namespace nox::sim {
namespace {

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
  struct Case { const char* assignment; const char* error; };  // "" for accepted
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
      {"defaults.enabled=1", "defaults.enabled: must be true or false"},
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
    nlohmann::json json = ProfileToJson(*MakePreset("legacy-8m"));
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
}  // namespace nox::sim

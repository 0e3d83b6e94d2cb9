#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/sim/Presets.h"
#include "platform/sim/Profile.h"

namespace nox::sim {
namespace {

TEST(Presets, EveryPresetIsValidMatchesItsNameAndSurvivesItsJsonForm) {
  for (const std::string& name : PresetNames()) {
    auto preset = MakePreset(name);
    ASSERT_TRUE(preset) << name;
    const nlohmann::json json = ProfileToJson(*preset);
    ProfileResult back = ProfileFromJson(json);
    ASSERT_TRUE(back.profile) << name << ": " << back.error;
    EXPECT_EQ(ProfileToJson(*back.profile), json) << name;
    uint64_t covered = 0;
    for (const BlockEntry& b : preset->flash.blocks) covered += b.size;
    EXPECT_EQ(covered, preset->flash.size) << name << ": the block table covers the whole part";
    EXPECT_EQ(preset->flash.size, std::stoul(name.substr(name.find('-') + 1)) << 20) << name;
    EXPECT_EQ(preset->uefi, name.starts_with("uefi")) << name;
  }
  EXPECT_FALSE(MakePreset("legacy-4m"));
}

TEST(ProfileJson, BadSettingsNameTheFieldAndTheReason) {
  struct Case { const char* assignment; const char* error; };
  const Case cases[] = {
      {"enableAnswer=4", "enableAnswer: must be 0, 1, 2 or 3"},
      {"flash.replyVersion=13", "flash.replyVersion: must be 10, 11 or 12"},
      {"successStatus=1", "successStatus: must be below 255 and not 1 (1 means failure)"},
      {"flash.blocks.6.size=0x40000", "flash.blocks[6]: ends at 0x820000, past the flash size 0x800000"},
      {"flash.blocks.1.start=0x8000", "flash.blocks[1].start: overlaps the block before it"},
      {"flash.blocks.0.type=256", "flash.blocks[0].type: 256 is larger than 255"},
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
      {"enableAnswr=1", "enableAnswr: no such field"},
      {"flash.blocks.9.type=1", "flash.blocks.9.type: no such field"},
      {"noequals", "\"noequals\": expected key=value"}};
  for (const Case& c : cases) {
    nlohmann::json json = ProfileToJson(*MakePreset("legacy-8m"));
    std::string error = ApplySetting(json, c.assignment);
    if (error.empty()) {
      ProfileResult r = ProfileFromJson(json);
      EXPECT_FALSE(r.profile) << c.assignment;
      error = r.error;
    }
    EXPECT_EQ(error, c.error) << c.assignment;
  }
  nlohmann::json json = ProfileToJson(*MakePreset("minimal-1m"));
  json["ecb"]["flag"] = 1;  // unknown fields in a file are errors too
  EXPECT_EQ(ProfileFromJson(json).error, "ecb.flag: unknown field");
  EXPECT_EQ(ProfileFromJson(nlohmann::json::array()).error, "profile: must be an object");
}

TEST(ProfileJson, SettingsTakeJsonValuesHexTextAndPlainText) {
  nlohmann::json json = ProfileToJson(*MakePreset("legacy-8m"));
  for (const char* setting : {"identity.systemId=0xFE", "identity.version=A09", "faults.writeProtected=true",
                              "faults.stuck=[{\"address\":\"0x7E0000\",\"attempts\":6}]",
                              "enableSilentOnSuccess=false", "ofbdPassword.prompt=Password please"}) {
    ASSERT_EQ(ApplySetting(json, setting), "") << setting;
  }
  ProfileResult r = ProfileFromJson(json);
  ASSERT_TRUE(r.profile) << r.error;
  EXPECT_EQ(r.profile->identity.systemId, 0xFE);
  EXPECT_EQ(r.profile->identity.version, "A09");
  ASSERT_EQ(r.profile->faults.stuck.size(), 1u);
  EXPECT_EQ(r.profile->faults.stuck[0].address, 0x7E0000u);
  EXPECT_TRUE(r.profile->faults.writeProtected);
  EXPECT_FALSE(r.profile->enableSilentOnSuccess);
  EXPECT_EQ(r.profile->ofbdPassword.prompt, "Password please");
}

TEST(EcLayout, EcbRecordWinsOverTheBlockTable) {
  Profile p = *MakePreset("legacy-8m");
  p.ecb.ecVersionOffset = 0x80;
  EXPECT_EQ(EcLayoutOf(p).versionOffset, 0x80u);
  p.ecb.present = false;
  const EcLayout fromTable = EcLayoutOf(p);
  EXPECT_TRUE(fromTable.present);
  EXPECT_EQ(fromTable.start, 0x40000u);
  EXPECT_EQ(fromTable.versionOffset, 0x100u);
  EXPECT_FALSE(EcLayoutOf(*MakePreset("minimal-1m")).present);
}

}  // namespace
}  // namespace nox::sim

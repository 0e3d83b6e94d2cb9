#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/sim/Presets.h"
#include "platform/sim/Profile.h"

namespace nox::sim {
namespace {

TEST(Presets, EveryPresetIsValidAndSurvivesItsJsonForm) {
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
  }
  EXPECT_FALSE(MakePreset("legacy-4m"));
}

TEST(Presets, PresetsDifferWhereTheirNamesSay) {
  EXPECT_FALSE(MakePreset("legacy-8m")->uefi);
  EXPECT_TRUE(MakePreset("legacy-8m")->asf.present);
  EXPECT_TRUE(MakePreset("legacy-8m")->ecb.present);
  EXPECT_TRUE(MakePreset("uefi-16m")->uefi);
  EXPECT_EQ(MakePreset("uefi-16m")->identity.placement, IdentityPlacement::Oem);
  EXPECT_EQ(MakePreset("uefi-16m")->flash.size, 16u << 20);
  EXPECT_EQ(MakePreset("minimal-1m")->flash.replyVersion, 10);
  EXPECT_EQ(MakePreset("minimal-1m")->flash.blocks.size(), 2u);
}

struct BadSetting {
  const char* assignment;
  const char* error;
};

class InvalidProfile : public ::testing::TestWithParam<BadSetting> {};

TEST_P(InvalidProfile, NamesTheFieldAndTheReason) {
  nlohmann::json json = ProfileToJson(*MakePreset("legacy-8m"));
  const std::string applied = ApplySetting(json, GetParam().assignment);
  std::string error = applied;
  if (applied.empty()) {
    ProfileResult r = ProfileFromJson(json);
    EXPECT_FALSE(r.profile);
    error = r.error;
  }
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, InvalidProfile,
    ::testing::Values(
        BadSetting{"enableAnswer=4", "enableAnswer: must be 0, 1, 2 or 3"},
        BadSetting{"flash.replyVersion=13", "flash.replyVersion: must be 10, 11 or 12"},
        BadSetting{"successStatus=1", "successStatus: must be below 255 and not 1 (1 means failure)"},
        BadSetting{"flash.blocks.6.size=0x40000", "flash.blocks[6]: ends at 0x820000, past the flash size 0x800000"},
        BadSetting{"flash.blocks.1.start=0x8000", "flash.blocks[1].start: overlaps the block before it"},
        BadSetting{"flash.blocks.0.type=256", "flash.blocks[0].type: 256 is larger than 255"},
        BadSetting{"identity.version=A6", "identity.version: must be a letter and two digits, like A06"},
        BadSetting{"identity.systemId=\"0x1G\"", "identity.systemId: \"0x1G\" is not a number"},
        BadSetting{"firmware=bios", "firmware: must be \"legacy\" or \"uefi\""},
        BadSetting{"asf.present=1", "asf.present: must be true or false"},
        BadSetting{"defaults.enabled=1", "defaults.enabled: must be true or false"},
        BadSetting{"defaults.switchOn=-1", "defaults.switchOn: must not be negative"},
        BadSetting{"faults.fail=[{\"op\":\"program\"}]", "faults.fail[0].op: must be \"read\", \"erase\" or \"write\""},
        BadSetting{"faults.stuck=[{\"attempts\":2}]", "faults.stuck[0].fromSmi: give fromSmi or address"},
        BadSetting{"faults.stuck=[{\"atempts\":2}]", "faults.stuck[0].atempts: unknown field"},
        BadSetting{"enableAnswr=1", "enableAnswr: no such field"},
        BadSetting{"flash.blocks.9.type=1", "flash.blocks.9.type: no such field"},
        BadSetting{"noequals", "\"noequals\": expected key=value"}),
    [](const auto& param) {
      std::string key = param.param.assignment;
      key = key.substr(0, key.find('='));
      for (char& c : key) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return key + "_" + std::to_string(param.index);
    });

TEST(ProfileJson, UnknownFieldsInAFileAreErrors) {
  nlohmann::json json = ProfileToJson(*MakePreset("minimal-1m"));
  json["ecb"]["flag"] = 1;
  EXPECT_EQ(ProfileFromJson(json).error, "ecb.flag: unknown field");
  EXPECT_EQ(ProfileFromJson(nlohmann::json::array()).error, "profile: must be an object");
}

TEST(ProfileJson, SettingsTakeJsonValuesHexTextAndPlainText) {
  nlohmann::json json = ProfileToJson(*MakePreset("legacy-8m"));
  ASSERT_EQ(ApplySetting(json, "identity.systemId=0xFE"), "");
  ASSERT_EQ(ApplySetting(json, "identity.version=A09"), "");
  ASSERT_EQ(ApplySetting(json, "faults.stuck=[{\"address\":\"0x7E0000\",\"attempts\":6}]"), "");
  ASSERT_EQ(ApplySetting(json, "faults.writeProtected=true"), "");
  ProfileResult r = ProfileFromJson(json);
  ASSERT_TRUE(r.profile) << r.error;
  EXPECT_EQ(r.profile->identity.systemId, 0xFE);
  EXPECT_EQ(r.profile->identity.version, "A09");
  ASSERT_EQ(r.profile->faults.stuck.size(), 1u);
  EXPECT_EQ(r.profile->faults.stuck[0].address, 0x7E0000u);
  EXPECT_TRUE(r.profile->faults.writeProtected);
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

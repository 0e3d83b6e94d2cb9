#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SimRig.h"
#include "core/Bytes.h"
#include "platform/sim/Profile.h"

namespace nox::sim::test {
namespace {

constexpr uint32_t kPasswordClass = 0x20000000;

// A password block as the wire format describes it: header, one 'R' operation with its
// 4-byte record, then the end marker (query) or the password text (submission).
void PutQuery(Rig& rig) {
  uint8_t* b = rig.block.data();
  std::memset(b, 0, 1024);
  std::memcpy(b, "OFBD", 4);
  core::StoreLe16(b + 4, 0x0210);
  core::StoreLe16(b + 6, 30);
  core::StoreLe32(b + 8, kPasswordClass);
  core::StoreLe16(b + 14, 18);
  core::StoreLe16(b + 16, 2);
  b[18] = 'R';
  b[19] = 1;
  core::StoreLe16(b + 20, 4);
  b[24] = 1;
  core::StoreLe32(b + 26, 0xFFFF55AA);
}

void PutSubmission(Rig& rig, const std::string& password) {
  PutQuery(rig);
  uint8_t* b = rig.block.data();
  core::StoreLe16(b + 6, 26);
  core::StoreLe16(b + 22, static_cast<uint16_t>(password.size()));
  b[24] = 2;
  std::memset(b + 26, 0, 4);
  std::memcpy(b + 26, password.data(), password.size());
}

struct Answer {
  uint16_t flags;
  uint8_t state;
  std::string text;
};

Answer Read(Rig& rig) {
  const uint8_t* b = rig.block.data();
  Answer a{core::LoadLe16(b + 12), b[25], ""};
  if (a.flags & 0x10) a.text = reinterpret_cast<const char*>(b + core::LoadLe16(b + 6));
  return a;
}

Profile WithPassword() {
  Profile p = Preset("legacy-8m");
  p.ofbdPassword.enabled = true;
  p.ofbdPassword.password = "letmein";
  p.ofbdPassword.maxAttempts = 2;
  p.ofbdPassword.prompt = "Firmware password";
  p.ofbdPassword.wrongMessage = "Wrong";
  p.ofbdPassword.lockedMessage = "Locked";
  return p;
}

TEST(OfbdPassword, QueryAsksForThePasswordWithThePrompt) {
  Rig rig(WithPassword());
  PutQuery(rig);
  rig.Raise(38);
  const Answer a = Read(rig);
  EXPECT_EQ(a.flags, 0x11);
  EXPECT_EQ(a.state, 0x01);
  EXPECT_EQ(a.text, "Firmware password");
}

TEST(OfbdPassword, WrongSubmissionsLockAfterTheLimitAndTheRightOneIsThenRefused) {
  Rig rig(WithPassword());
  PutSubmission(rig, "nope");
  rig.Raise(38);
  Answer a = Read(rig);
  EXPECT_EQ(a.state, 0x01);
  EXPECT_EQ(a.text, "Wrong");
  PutSubmission(rig, "letmei");  // a prefix is not the password
  rig.Raise(38);
  a = Read(rig);
  EXPECT_EQ(a.state, 0x05);
  EXPECT_EQ(a.text, "Locked");
  PutSubmission(rig, "letmein");
  rig.Raise(38);
  EXPECT_EQ(Read(rig).state, 0x05);
  PutQuery(rig);
  rig.Raise(38);
  a = Read(rig);
  EXPECT_EQ(a.state, 0x05);
  EXPECT_EQ(a.text, "Locked");
  EXPECT_EQ(rig.machine->State().ofbdPasswordFailures, 2u);
}

TEST(OfbdPassword, RightSubmissionIsAcceptedAndTheJournalKeepsNoPassword) {
  Rig rig(WithPassword());
  PutSubmission(rig, "letmein");
  rig.Raise(38);
  const Answer a = Read(rig);
  EXPECT_EQ(a.flags & 0x01, 0x01);
  EXPECT_EQ(a.state, 0x02);
  EXPECT_EQ(rig.LastSmi().value("accepted", false), true);
  EXPECT_EQ(rig.LastSmi().dump().find("letmein"), std::string::npos);
}

TEST(OfbdPassword, MalformedBlocksAreMisuseWithoutAnAnswer) {
  Rig rig(WithPassword());
  PutQuery(rig);
  core::StoreLe16(rig.block.data() + 6, 34);  // a query that claims more than its record
  rig.Raise(38);
  EXPECT_EQ(Read(rig).flags & 0x01, 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
  PutSubmission(rig, "letmein");
  rig.block[24] = 3;  // neither query nor submission
  rig.Raise(38);
  EXPECT_EQ(Read(rig).flags & 0x01, 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
}

TEST(OfbdPassword, DisabledOrWithoutOfbdTheOperationIsUnknown) {
  Profile off = WithPassword();
  off.ofbdPassword.enabled = false;
  Profile noOfbd = WithPassword();
  noOfbd.ofbdVersion = 0;
  for (const Profile& p : {off, noOfbd}) {
    Rig rig(p);
    PutQuery(rig);
    rig.Raise(38);
    EXPECT_EQ(Read(rig).flags & 0x01, 0);
  }
}

TEST(OfbdPassword, ProfileKeysRoundTripAndAreChecked) {
  const Profile p = WithPassword();
  const ProfileResult back = ProfileFromJson(ProfileToJson(p));
  ASSERT_TRUE(back.profile) << back.error;
  EXPECT_EQ(back.profile->ofbdPassword.password, "letmein");
  EXPECT_EQ(back.profile->ofbdPassword.maxAttempts, 2u);
  EXPECT_EQ(back.profile->ofbdPassword.lockedMessage, "Locked");
  nlohmann::json j = ProfileToJson(p);
  j["ofbdPassword"]["maxAttempts"] = 0;
  EXPECT_EQ(ProfileFromJson(j).error, "ofbdPassword.maxAttempts: must be at least 1");
}

}  // namespace
}  // namespace nox::sim::test

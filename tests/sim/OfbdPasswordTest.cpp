#include <gtest/gtest.h>

#include <string>

#include "SimRig.h"
#include "platform/sim/Profile.h"

namespace nox::sim::test {
namespace {

// A password block as the wire format describes it: header, one 'R' operation with its
// 4-byte record, then the end marker (query) or the password text (submission).
void PutQuery(Rig& rig) {
  std::memset(rig.block.data(), 0, 1024);
  std::memcpy(rig.block.data(), "OFBD", 4);
  rig.Put16(4, 0x0210);
  rig.Put16(6, 30);
  rig.Put32(8, 0x20000000);
  rig.Put16(14, 18);
  rig.Put16(16, 2);
  rig.block[18] = 'R';
  rig.block[19] = 1;
  rig.Put16(20, 4);
  rig.block[24] = 1;
  rig.Put32(26, 0xFFFF55AA);
}

void PutSubmission(Rig& rig, const std::string& password) {
  PutQuery(rig);
  rig.Put16(6, 26);
  rig.Put16(22, static_cast<uint16_t>(password.size()));
  rig.block[24] = 2;
  rig.Put32(26, 0);
  std::memcpy(rig.block.data() + 26, password.data(), password.size());
}

struct Answer {
  uint16_t flags;
  uint8_t state;
  std::string text;
};

Answer Raise(Rig& rig) {
  rig.Raise(38);
  Answer a{rig.U16(12), rig.block[25], ""};
  if (a.flags & 0x10) a.text = reinterpret_cast<const char*>(rig.block.data() + rig.U16(6));
  return a;
}
Answer Query(Rig& rig) {
  PutQuery(rig);
  return Raise(rig);
}
Answer Submit(Rig& rig, const std::string& password) {
  PutSubmission(rig, password);
  return Raise(rig);
}

Profile WithPassword() {
  Profile p = Preset("legacy-8m");
  p.ofbdPassword = {true, "letmein", 2, "Firmware password", "Wrong", "Locked"};
  return p;
}

TEST(OfbdPassword, QueryAsksWithThePromptAndWrongSubmissionsLockAfterTheLimit) {
  Rig rig(WithPassword());
  Answer a = Query(rig);
  EXPECT_EQ(a.flags, 0x11);
  EXPECT_EQ(a.state, 0x01);
  EXPECT_EQ(a.text, "Firmware password");
  a = Submit(rig, "nope");
  EXPECT_EQ(a.state, 0x01);
  EXPECT_EQ(a.text, "Wrong");
  a = Submit(rig, "letmei");  // a prefix is not the password
  EXPECT_EQ(a.state, 0x05);
  EXPECT_EQ(a.text, "Locked");
  EXPECT_EQ(Submit(rig, "letmein").state, 0x05);  // the right one is now refused
  a = Query(rig);
  EXPECT_EQ(a.state, 0x05);
  EXPECT_EQ(a.text, "Locked");
  EXPECT_EQ(rig.machine->State().ofbdPasswordFailures, 2u);
}

TEST(OfbdPassword, RightSubmissionIsAcceptedAndTheJournalKeepsNoPassword) {
  Rig rig(WithPassword());
  const Answer a = Submit(rig, "letmein");
  EXPECT_EQ(a.flags & 0x01, 0x01);
  EXPECT_EQ(a.state, 0x02);
  EXPECT_EQ(rig.LastSmi().value("accepted", false), true);
  EXPECT_EQ(rig.LastSmi().dump().find("letmein"), std::string::npos);
}

TEST(OfbdPassword, MalformedBlocksAreMisuseWithoutAnAnswer) {
  Rig rig(WithPassword());
  PutQuery(rig);
  rig.Put16(6, 34);  // a query that claims more than its record
  EXPECT_EQ(Raise(rig).flags & 0x01, 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
  PutSubmission(rig, "letmein");
  rig.block[24] = 3;  // neither query nor submission
  EXPECT_EQ(Raise(rig).flags & 0x01, 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
}

TEST(OfbdPassword, DisabledOrWithoutOfbdTheOperationIsUnknown) {
  Profile off = WithPassword(), noOfbd = WithPassword();
  off.ofbdPassword.enabled = false;
  noOfbd.ofbdVersion = 0;
  for (const Profile& p : {off, noOfbd}) {
    Rig rig(p);
    EXPECT_EQ(Query(rig).flags & 0x01, 0);
  }
}

TEST(OfbdPassword, ProfileKeysRoundTripAndAreChecked) {
  json j = ProfileToJson(WithPassword());
  const ProfileResult back = ProfileFromJson(j);
  ASSERT_TRUE(back.profile) << back.error;
  EXPECT_EQ(ProfileToJson(*back.profile), j);
  EXPECT_EQ(j["ofbdPassword"]["password"], "letmein");
  j["ofbdPassword"]["maxAttempts"] = 0;
  EXPECT_EQ(ProfileFromJson(j).error, "ofbdPassword.maxAttempts: must be at least 1");
}

}  // namespace
}  // namespace nox::sim::test

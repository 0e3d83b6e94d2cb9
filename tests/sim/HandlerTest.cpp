#include <gtest/gtest.h>

#include "SimRig.h"
#include "core/Bytes.h"

namespace nox::sim::test {
namespace {

using core::LoadLe16;
using core::LoadLe32;

TEST(FlashCommands, ReadReturnsTheFlashBytesAndASuccessStatus) {
  Profile p = Preset("legacy-8m");
  p.successStatus = 7;  // any value below 255 other than 1 means success
  Rig rig(p);
  ASSERT_EQ(rig.Read(0x7E0000), 7);
  const auto flash = rig.machine->Flash().Bytes();
  EXPECT_TRUE(std::equal(rig.Data().begin(), rig.Data().end(), flash.begin() + 0x7E0000));
  const auto line = rig.LastSmi();
  EXPECT_EQ(line["op"], "read");
  EXPECT_EQ(line["addr"], 0x7E0000);
  EXPECT_EQ(line["len"], 1024);
  EXPECT_EQ(line["status"], 7);
}

TEST(FlashCommands, WritesAndErasesNeedFlashEnabledReadsDoNot) {
  Rig rig(Preset("minimal-1m"));
  EXPECT_EQ(rig.Erase(0x10000, 0x1000), 1);
  EXPECT_EQ(rig.Write(0x10000, 0x00), 1);
  EXPECT_NE(rig.Read(0x10000), 1);
  EXPECT_EQ(rig.LastSmi()["status"], 0);
  ASSERT_EQ(rig.Enable(), 0);
  EXPECT_EQ(rig.Erase(0x10000, 0x1000), 0);
  rig.Raise(36);  // disable
  EXPECT_EQ(rig.Write(0x10000, 0x00), 1);
  EXPECT_EQ(rig.LastSmi()["misuse"], "flash writes are not enabled");
}

TEST(FlashCommands, NorFlashStoresOldAndNewUntilErased) {
  Rig rig(Preset("minimal-1m"));
  ASSERT_EQ(rig.Enable(), 0);
  ASSERT_EQ(rig.Erase(0x20000, 0x1000), 0);
  ASSERT_EQ(rig.Write(0x20000, 0xF0), 0);
  ASSERT_EQ(rig.Write(0x20000, 0x3C), 0);  // no erase in between: bits only clear
  ASSERT_EQ(rig.Read(0x20000), 0);
  EXPECT_EQ(rig.Data()[0], 0x30);
  EXPECT_EQ(rig.Data()[1023], 0x30);
  ASSERT_EQ(rig.Erase(0x20000, 0x1000), 0);
  ASSERT_EQ(rig.Read(0x20000), 0);
  EXPECT_EQ(rig.Data()[0], 0xFF);
  // The second kilobyte of the sector was never written and stays as erased.
  ASSERT_EQ(rig.Read(0x20400), 0);
  EXPECT_EQ(rig.Data()[0], 0xFF);
}

TEST(FlashCommands, EraseCountersCountRequestsPerBlock) {
  Rig rig(Preset("minimal-1m"));  // blocks: main 0..0xDFFFF, boot 0xE0000..0xFFFFF
  ASSERT_EQ(rig.Enable(), 0);
  ASSERT_EQ(rig.Erase(0x0000, 0x1000), 0);
  ASSERT_EQ(rig.Erase(0xDF000, 0x2000), 0);  // straddles both blocks
  EXPECT_EQ(rig.machine->Flash().EraseCounts(), (std::vector<uint32_t>{2, 1}));
}

struct Misuse {
  const char* what;
  void (*spoil)(Rig&);
  int command;
  int status;  // expected status byte afterwards
};

class FlashRequestMisuse : public ::testing::TestWithParam<Misuse> {};

TEST_P(FlashRequestMisuse, IsJournaledAndNeverAnsweredAsSuccess) {
  Rig rig(Preset("legacy-8m"));
  ASSERT_EQ(rig.Enable(), 0);
  const uint8_t before = rig.machine->Flash().Bytes()[0x60000];
  rig.PutRequest(0x60000, GetParam().command == 34 ? 0x1000 : 1024);
  std::memset(rig.Data().data(), 0x00, 1024);
  GetParam().spoil(rig);
  rig.Raise(static_cast<uint8_t>(GetParam().command));
  EXPECT_EQ(rig.Status(), GetParam().status);
  EXPECT_TRUE(rig.LastSmi().contains("misuse")) << rig.LastSmi().dump();
  EXPECT_EQ(rig.machine->Flash().Bytes()[0x60000], before);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FlashRequestMisuse,
    ::testing::Values(
        Misuse{"no signature", [](Rig& r) { r.block[1041] = '#'; }, 35, 255},
        Misuse{"signature one byte early",
               [](Rig& r) { std::memcpy(r.block.data() + 1040, "$NOX", 4); r.block[1044] = 0; }, 34, 255},
        Misuse{"data address without +17",
               [](Rig& r) { core::StoreLe64(r.block.data(), r.physical); }, 35, 255},
        Misuse{"status not 255", [](Rig& r) { r.block[16] = 0; }, 35, 1},
        Misuse{"write of 512 bytes", [](Rig& r) { core::StoreLe32(r.block.data() + 12, 512); }, 35, 1},
        Misuse{"read of 2048 bytes", [](Rig& r) { core::StoreLe32(r.block.data() + 12, 2048); }, 33, 1},
        Misuse{"erase of half a sector", [](Rig& r) { core::StoreLe32(r.block.data() + 12, 0x800); }, 34, 1},
        Misuse{"address past the part", [](Rig& r) { core::StoreLe32(r.block.data() + 8, 0x7FFC00 + 0x400); }, 33, 1},
        Misuse{"erase wrapping past 4 GiB",
               [](Rig& r) { core::StoreLe32(r.block.data() + 8, 0xFFFFF000); }, 34, 1}),
    [](const auto& param) {
      std::string n = param.param.what;
      for (char& c : n) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(FlashCommands, AShortSharedBlockIsNeverReadPastItsEnd) {
  Rig rig(Preset("legacy-8m"), 1024);  // too small for "$NOX" at 1041
  rig.Raise(33);
  EXPECT_EQ(rig.LastSmi()["misuse"], "shared block too small");
  rig.Raise(37);
  rig.Raise(13);
  rig.Raise(38);
  EXPECT_EQ(rig.SmiLines().size(), 4u);
}

struct EnableCase {
  int answer;
  bool writeProtected;
  int expectedStatus;
};

class EnableAnswer : public ::testing::TestWithParam<EnableCase> {};

TEST_P(EnableAnswer, StatusByteCarriesTheAnswerAndOnlyZeroEnablesWrites) {
  Profile p = Preset("minimal-1m");
  p.enableAnswer = static_cast<uint8_t>(GetParam().answer);
  p.faults.writeProtected = GetParam().writeProtected;
  Rig rig(p);
  EXPECT_EQ(rig.Enable(), GetParam().expectedStatus);
  const uint8_t writeStatus = rig.Erase(0, 0x1000);
  EXPECT_EQ(writeStatus, GetParam().expectedStatus == 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, EnableAnswer,
                         ::testing::Values(EnableCase{0, false, 0}, EnableCase{1, false, 1},
                                           EnableCase{2, false, 2}, EnableCase{3, false, 3},
                                           EnableCase{0, true, 1}),
                         [](const auto& param) {
                           return "answer" + std::to_string(param.param.answer) +
                                  (param.param.writeProtected ? "_write_protected" : "");
                         });

struct InfoCase {
  int version;
  int refusal;
  size_t firstEntry;
};

class FlashInformation : public ::testing::TestWithParam<InfoCase> {};

TEST_P(FlashInformation, ReplyLayoutFollowsTheVersion) {
  Profile p = Preset("legacy-8m");
  p.flash.replyVersion = static_cast<uint8_t>(GetParam().version);
  p.flash.refusalMarker = static_cast<uint8_t>(GetParam().refusal);
  Rig rig(p);
  core::StoreLe64(rig.block.data(), uint64_t{rig.physical} + 17);
  std::memcpy(rig.block.data() + 1041, "$NOX", 4);
  rig.Raise(37);
  const uint8_t* b = rig.block.data();
  EXPECT_EQ(b[4], GetParam().refusal);
  EXPECT_EQ(b[5], GetParam().version);
  ASSERT_EQ(LoadLe16(b + 6), p.flash.blocks.size());
  if (GetParam().version >= 11) {
    EXPECT_EQ(LoadLe32(b + 8), 0x100u);
    EXPECT_EQ(LoadLe32(b + 12), 0x00FFFFFFu);
  }
  for (size_t i = 0; i < p.flash.blocks.size(); ++i) {
    const uint8_t* e = b + GetParam().firstEntry + 9 * i;
    EXPECT_EQ(LoadLe32(e), p.flash.blocks[i].start) << i;
    EXPECT_EQ(LoadLe32(e + 4), p.flash.blocks[i].size) << i;
    EXPECT_EQ(e[8], p.flash.blocks[i].type) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, FlashInformation,
                         ::testing::Values(InfoCase{10, 0, 8}, InfoCase{11, 0, 16}, InfoCase{12, 1, 16},
                                           InfoCase{11, 1, 16}),
                         [](const auto& param) {
                           return "version" + std::to_string(param.param.version) + "_marker" +
                                  std::to_string(param.param.refusal);
                         });

TEST(FlashInformationRequest, WithoutSignatureTheBlockIsLeftAlone) {
  Rig rig(Preset("legacy-8m"));
  core::StoreLe64(rig.block.data(), uint64_t{rig.physical} + 17);
  rig.Raise(37);
  EXPECT_EQ(rig.block[5], 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
}

// OFBD blocks built from the header layout: signature, version, total size, class, flags,
// first operation at 18, the value 2, then the operation header and the end marker.
void PutOfbd(Rig& rig, uint32_t opClass, uint8_t type, uint16_t recordSize) {
  uint8_t* b = rig.block.data();
  std::memcpy(b, "OFBD", 4);
  core::StoreLe16(b + 4, 0);
  const uint16_t total = static_cast<uint16_t>(18 + 4 + recordSize + 4);
  core::StoreLe16(b + 6, total);
  core::StoreLe32(b + 8, opClass);
  core::StoreLe16(b + 12, 0);
  core::StoreLe16(b + 14, 18);
  core::StoreLe16(b + 16, 2);
  b[18] = type;
  b[19] = 1;
  core::StoreLe16(b + 20, recordSize);
  core::StoreLe32(b + total - 4, 0xFFFF55AA);
}

TEST(Ofbd, VersionQueryAnswersTheVersionWithBitZero) {
  Rig rig(Preset("legacy-8m"));
  PutOfbd(rig, 0, 0, 0);
  rig.Raise(38);
  EXPECT_EQ(LoadLe16(rig.block.data() + 12) & 1, 1);
  EXPECT_EQ(LoadLe16(rig.block.data() + 4), 0x0210);
}

TEST(Ofbd, NoOfbdFirmwareAndUnknownOperationsAnswerWithoutBitZero) {
  Rig none(Preset("minimal-1m"));
  PutOfbd(none, 0, 0, 0);
  core::StoreLe16(none.block.data() + 12, 0xFFFF);  // stale flags must not look handled
  none.Raise(38);
  EXPECT_EQ(LoadLe16(none.block.data() + 12) & 1, 0);
  EXPECT_EQ(LoadLe16(none.block.data() + 4), 0);

  Rig rig(Preset("legacy-8m"));
  PutOfbd(rig, 0x08000000, 'T', 11);  // an EC transfer
  core::StoreLe16(rig.block.data() + 12, 1);
  rig.Raise(38);
  EXPECT_EQ(LoadLe16(rig.block.data() + 12) & 1, 0);
  EXPECT_EQ(rig.LastSmi()["unsupported"], true);
}

TEST(Ofbd, MalformedBlocksAreJournaledNotAnswered) {
  Rig rig(Preset("legacy-8m"));
  PutOfbd(rig, 0, 0, 0);
  core::StoreLe16(rig.block.data() + 6, 0xFFFF);  // total size beyond any block
  rig.Raise(38);
  EXPECT_EQ(LoadLe16(rig.block.data() + 4), 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
  PutOfbd(rig, 0, 0, 0);
  core::StoreLe32(rig.block.data() + 22, 0);  // end marker missing
  rig.Raise(38);
  EXPECT_EQ(LoadLe16(rig.block.data() + 12) & 1, 0);
}

// The command-line configuration record: (switch-off word, selected options) in, the
// profile's (switch off, switch on) out when the firmware has defaults.
struct DefaultsCase {
  const char* name;
  bool enabled;
  uint16_t recordSize;
  bool handled;
  uint32_t offAfter;
  uint32_t onAfter;
  const char* journalKey;  // what the journal line must carry besides the sent masks
};

class DefaultsExchange : public ::testing::TestWithParam<DefaultsCase> {};

TEST_P(DefaultsExchange, AnswersAsTheProfileSays) {
  const DefaultsCase& c = GetParam();
  Profile profile = Preset("legacy-8m");
  profile.defaults = {c.enabled, 0x0042, 0x0080};
  Rig rig(profile);
  PutOfbd(rig, 0x40000000, 'Q', c.recordSize);
  core::StoreLe32(rig.block.data() + 22, 0x17FF);
  if (c.recordSize >= 8) core::StoreLe32(rig.block.data() + 26, 0x0081);
  rig.Raise(38);
  EXPECT_EQ((LoadLe16(rig.block.data() + 12) & 1) != 0, c.handled);
  EXPECT_EQ(LoadLe32(rig.block.data() + 22), c.offAfter);
  if (c.recordSize >= 8) {
    EXPECT_EQ(LoadLe32(rig.block.data() + 26), c.onAfter);
  }
  const auto line = rig.LastSmi();
  EXPECT_TRUE(line.contains(c.journalKey)) << line.dump();
  if (!line.contains("misuse")) {
    EXPECT_EQ(line["offMask"], 0x17FF);
    EXPECT_EQ(line["selectedMask"], 0x0081);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, DefaultsExchange,
    ::testing::Values(DefaultsCase{"Answered", true, 8, true, 0x0080, 0x0042, "switchOn"},
                      DefaultsCase{"NoDefaults", false, 8, false, 0x17FF, 0x0081, "unsupported"},
                      DefaultsCase{"ShortRecord", true, 4, false, 0x17FF, 0, "misuse"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Commands, UnknownCodesAndOtherPortsAreJournaledOnly) {
  Rig rig(Preset("legacy-8m"));
  std::vector<uint8_t> before(rig.block.begin(), rig.block.end());
  rig.Raise(0x41);
  rig.Raise(35, 0x80);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), rig.block.begin()));
  auto lines = rig.machine->GetJournal().Entries();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2]["misuse"], "unknown command code");
  EXPECT_EQ(lines.back()["event"], "port-write");
  EXPECT_EQ(lines.back()["port"], 0x80);
  EXPECT_EQ(rig.machine->State().smiCount, 1u);
}

TEST(Commands, AnSmiWithoutTheBlockAddressInEbxFindsNoRequest) {
  Rig rig(Preset("minimal-1m"));
  ASSERT_EQ(rig.Enable(), 0);
  rig.PutRequest(0, 1024);
  rig.Raise(33, 0xB2, 0);
  EXPECT_EQ(rig.Status(), 255);
  EXPECT_EQ(rig.LastSmi()["misuse"], "EBX does not hold the shared block's address");
}

TEST(Commands, RefreshRewritesTheStatusRecordAfterTheConfiguredCount) {
  Profile p = Preset("legacy-8m");
  p.ecb1.flags = 0x0003;  // no power cord, no battery
  p.ecb1.refreshesUntilChange = 2;
  p.ecb1.flagsAfter = 0x0000;
  Rig rig(p);
  auto e = rig.machine->ESegment();
  EXPECT_EQ(LoadLe16(e.data() + p.ecb1.offset + 4), 0x0003);
  rig.Raise(39);
  EXPECT_EQ(LoadLe16(e.data() + p.ecb1.offset + 4), 0x0003);
  rig.Raise(39);
  EXPECT_EQ(LoadLe16(e.data() + p.ecb1.offset + 4), 0x0000);
  EXPECT_EQ(rig.LastSmi()["op"], "refresh-ecb");
}

}  // namespace
}  // namespace nox::sim::test

#include <gtest/gtest.h>

#include <algorithm>

#include "SimRig.h"

namespace nox::sim::test {
namespace {

TEST(FlashCommands, ReadReturnsTheFlashBytesAndASuccessStatus) {
  Profile p = Preset("legacy-8m");
  p.successStatus = 7;  // any value below 255 other than 1 means success
  Rig rig(p);
  ASSERT_EQ(rig.Read(0x7E0000), 7);
  EXPECT_TRUE(std::equal(rig.Data().begin(), rig.Data().end(), rig.machine->Flash().Bytes().begin() + 0x7E0000));
  EXPECT_TRUE(Carries(rig.LastSmi(), {{"op", "read"}, {"addr", 0x7E0000}, {"len", 1024}, {"status", 7}}));
}

TEST(FlashCommands, WritesAndErasesNeedFlashEnabledReadsDoNot) {
  Rig rig(Preset("minimal-1m"));
  EXPECT_EQ(rig.Erase(0x10000, 0x1000), 1);
  EXPECT_EQ(rig.Write(0x10000, 0x00), 1);
  EXPECT_EQ(rig.Read(0x10000), 0);
  ASSERT_EQ(rig.Enable(), 0);
  EXPECT_EQ(rig.Erase(0x10000, 0x1000), 0);
  rig.Raise(36);  // disable
  EXPECT_EQ(rig.Write(0x10000, 0x00), 1);
  EXPECT_EQ(rig.LastSmi()["misuse"], "flash writes are not enabled");
}

TEST(FlashCommands, NorBitsOnlyClearUntilErasedAndErasesAreCountedPerBlock) {
  Rig rig(Preset("minimal-1m"));  // blocks: main 0..0xDFFFF, boot 0xE0000..0xFFFFF
  ASSERT_EQ(rig.Enable(), 0);
  ASSERT_EQ(rig.Erase(0x20000, 0x1000), 0);
  ASSERT_EQ(rig.Write(0x20000, 0xF0), 0);
  ASSERT_EQ(rig.Write(0x20000, 0x3C), 0);  // no erase in between
  ASSERT_EQ(rig.Read(0x20000), 0);
  EXPECT_EQ(rig.Data()[0], 0x30);
  EXPECT_EQ(rig.Data()[1023], 0x30);
  ASSERT_EQ(rig.Erase(0x20000, 0x1000), 0);
  ASSERT_EQ(rig.Read(0x20000), 0);
  EXPECT_EQ(rig.Data()[0], 0xFF);
  ASSERT_EQ(rig.Read(0x20400), 0);  // never written
  EXPECT_EQ(rig.Data()[0], 0xFF);
  ASSERT_EQ(rig.Erase(0xDF000, 0x2000), 0);  // straddles both blocks
  EXPECT_EQ(rig.machine->Flash().EraseCounts(), (std::vector<uint32_t>{3, 1}));
}

TEST(FlashCommands, MisusedRequestsAreJournaledAndNeverAnsweredAsSuccess) {
  struct Case {
    const char* what;
    void (*spoil)(Rig&);
    uint8_t command, status;
  };
  const Case cases[] = {
      {"no signature", [](Rig& r) { r.block[1041] = '#'; }, 35, 255},
      {"signature one byte early", [](Rig& r) { std::memcpy(r.block.data() + 1040, "$NOX", 4); r.block[1044] = 0; }, 34, 255},
      {"data address without +17", [](Rig& r) { core::StoreLe64(r.block.data(), r.physical); }, 35, 255},
      {"status not 255", [](Rig& r) { r.block[16] = 0; }, 35, 1},
      {"write of 512 bytes", [](Rig& r) { r.Put32(12, 512); }, 35, 1},
      {"read of 2048 bytes", [](Rig& r) { r.Put32(12, 2048); }, 33, 1},
      {"erase of half a sector", [](Rig& r) { r.Put32(12, 0x800); }, 34, 1},
      {"address past the part", [](Rig& r) { r.Put32(8, 0x7FFC00 + 0x400); }, 33, 1},
      {"erase wrapping past 4 GiB", [](Rig& r) { r.Put32(8, 0xFFFFF000); }, 34, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig(Preset("legacy-8m"));
    ASSERT_EQ(rig.Enable(), 0);
    const uint8_t before = rig.machine->Flash().Bytes()[0x60000];
    rig.PutRequest(0x60000, c.command == 34 ? 0x1000 : 1024);
    c.spoil(rig);
    rig.Raise(c.command);
    EXPECT_EQ(rig.Status(), c.status);
    EXPECT_TRUE(rig.LastSmi().contains("misuse")) << rig.LastSmi().dump();
    EXPECT_EQ(rig.machine->Flash().Bytes()[0x60000], before);
  }
}

TEST(FlashCommands, AShortSharedBlockIsNeverReadPastItsEnd) {
  Rig rig(Preset("legacy-8m"), 1024);  // too small for "$NOX" at 1041
  for (uint8_t command : {33, 37, 13, 38}) rig.Raise(command);
  EXPECT_EQ(rig.SmiLines().size(), 4u);
  EXPECT_EQ(rig.SmiLines()[0]["misuse"], "shared block too small");
}

TEST(FlashCommands, EnableStatusCarriesTheAnswerAndOnlyTheRefusalsKeepWritesOff) {
  struct Case { uint8_t answer; bool writeProtected; uint8_t status; };
  for (const Case& c : {Case{0, false, 0}, Case{1, false, 1}, Case{2, false, 2}, Case{3, false, 3}, Case{4, false, 4},
                        Case{255, false, 255}, Case{0, true, 1}}) {
    SCOPED_TRACE(testing::Message() << int{c.answer} << c.writeProtected);
    Profile p = Preset("minimal-1m");
    p.enableAnswer = c.answer;
    p.faults.writeProtected = c.writeProtected;
    Rig rig(p);
    EXPECT_EQ(rig.Enable(), c.status);
    EXPECT_EQ(rig.Erase(0, 0x1000), c.status >= 1 && c.status <= 3 ? 1 : 0);
    EXPECT_EQ(rig.LastSmi().value("fault", ""), c.writeProtected ? "write-protected" : "");
    EXPECT_EQ(rig.Read(0), 0);
  }
}

TEST(FlashInformation, ReplyLayoutFollowsTheVersion) {
  struct Case { uint8_t version, refusal; size_t firstEntry; };
  for (const Case& c : {Case{9, 0, 8}, Case{10, 0, 8}, Case{11, 0, 16}, Case{12, 1, 16}, Case{13, 200, 16}}) {
    SCOPED_TRACE(int{c.version});
    Profile p = Preset("legacy-8m");
    p.flash.replyVersion = c.version;
    p.flash.refusalMarker = c.refusal;
    Rig rig(p);
    core::StoreLe64(rig.block.data(), uint64_t{rig.physical} + 17);
    std::memcpy(rig.block.data() + 1041, "$NOX", 4);
    rig.Raise(37);
    EXPECT_EQ(rig.block[4], c.refusal);
    EXPECT_EQ(rig.block[5], c.version);
    ASSERT_EQ(rig.U16(6), p.flash.blocks.size());
    if (c.version >= 11) {
      EXPECT_EQ(rig.U32(8), 0x100u);
      EXPECT_EQ(rig.U32(12), 0x00FFFFFFu);
    }
    for (size_t i = 0; i < p.flash.blocks.size(); ++i) {
      const size_t e = c.firstEntry + 9 * i;
      EXPECT_EQ(rig.U32(e), p.flash.blocks[i].start) << i;
      EXPECT_EQ(rig.U32(e + 4), p.flash.blocks[i].size) << i;
      EXPECT_EQ(rig.block[e + 8], p.flash.blocks[i].type) << i;
    }
  }
  Rig unsigned_(Preset("legacy-8m"));  // without "$NOX" the block is left alone
  core::StoreLe64(unsigned_.block.data(), uint64_t{unsigned_.physical} + 17);
  unsigned_.Raise(37);
  EXPECT_EQ(unsigned_.block[5], 0);
  EXPECT_TRUE(unsigned_.LastSmi().contains("misuse"));
}

TEST(Ofbd, VersionQueryIsAnsweredOnlyByOfbdFirmware) {
  Rig rig(Preset("legacy-8m"));
  PutOfbd(rig, 0, 0, 0);
  rig.Raise(38);
  EXPECT_EQ(rig.U16(12) & 1, 1);
  EXPECT_EQ(rig.U16(4), 0x0210);

  Rig none(Preset("minimal-1m"));
  PutOfbd(none, 0, 0, 0);
  none.Put16(12, 0xFFFF);  // stale flags must not look handled
  none.Raise(38);
  EXPECT_EQ(none.U16(12) & 1, 0);
  EXPECT_EQ(none.U16(4), 0);

  PutOfbd(rig, 0x08000000, 'T', 11);  // an EC transfer, not supported
  rig.Put16(12, 1);
  rig.Raise(38);
  EXPECT_EQ(rig.U16(12) & 1, 0);
  EXPECT_EQ(rig.LastSmi()["unsupported"], true);
}

TEST(Ofbd, MalformedBlocksAreJournaledNotAnswered) {
  Rig rig(Preset("legacy-8m"));
  PutOfbd(rig, 0, 0, 0);
  rig.Put16(6, 0xFFFF);  // total size beyond any block
  rig.Raise(38);
  EXPECT_EQ(rig.U16(4), 0);
  EXPECT_TRUE(rig.LastSmi().contains("misuse"));
  PutOfbd(rig, 0, 0, 0);
  rig.Put32(22, 0);  // end marker missing
  rig.Raise(38);
  EXPECT_EQ(rig.U16(12) & 1, 0);
}

// The command-line configuration record: (switch-off word, selected options) in, the
// profile's (switch off, switch on) out when the firmware has defaults.
TEST(Ofbd, DefaultsExchangeAnswersAsTheProfileSays) {
  struct Case { bool enabled; uint16_t recordSize; bool handled; uint32_t offAfter, onAfter; const char* key; };
  for (const Case& c : {Case{true, 8, true, 0x0080, 0x0042, "switchOn"}, Case{false, 8, false, 0x17FF, 0x0081, "unsupported"},
                        Case{true, 4, false, 0x17FF, 0, "misuse"}}) {
    SCOPED_TRACE(c.key);
    Profile profile = Preset("legacy-8m");
    profile.defaults = {c.enabled, 0x0042, 0x0080};
    Rig rig(profile);
    PutOfbd(rig, 0x40000000, 'Q', c.recordSize);
    rig.Put32(22, 0x17FF);
    if (c.recordSize >= 8) rig.Put32(26, 0x0081);
    rig.Raise(38);
    EXPECT_EQ((rig.U16(12) & 1) != 0, c.handled);
    EXPECT_EQ(rig.U32(22), c.offAfter);
    if (c.recordSize >= 8) { EXPECT_EQ(rig.U32(26), c.onAfter); }
    const json line = rig.LastSmi();
    EXPECT_TRUE(line.contains(c.key)) << line.dump();
    if (!line.contains("misuse")) { EXPECT_TRUE(Carries(line, {{"offMask", 0x17FF}, {"selectedMask", 0x0081}})); }
  }
}

TEST(Commands, UnknownCodesAndOtherPortsAreJournaledOnly) {
  Rig rig(Preset("legacy-8m"));
  std::vector<uint8_t> before(rig.block.begin(), rig.block.end());
  rig.Raise(0x41);
  rig.Raise(35, 0x80);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), rig.block.begin()));
  const auto lines = rig.Entries();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2]["misuse"], "unknown command code");
  EXPECT_TRUE(Carries(lines.back(), {{"event", "port-write"}, {"port", 0x80}}));
  EXPECT_EQ(rig.machine->State().smiCount, 1u);
}

// One port: the "$ASF" record's, else the FADT's SMI_CMD when it names one, else 0xB2.
TEST(Commands, TheHandlerListensOnThePortTheFirmwareRecordsName) {
  struct Case { bool asf; uint16_t asfPort; bool fadt; uint16_t smiCmd; uint16_t listens; };
  const Case cases[] = {{true, 0xB4, true, 0xB4, 0xB4}, {true, 0xB4, true, 0, 0xB4}, {true, 0xB4, false, 0, 0xB4},
                        {false, 0, true, 0xB0, 0xB0},   {false, 0, true, 0, 0xB2},     {false, 0, false, 0, 0xB2}};
  for (const Case& c : cases) {
    Profile p = Preset("legacy-8m");
    p.asf.present = c.asf;
    p.asf.port = c.asfPort;
    p.fadt = {c.fadt, c.smiCmd};
    Rig rig(p);
    for (uint16_t port : {0xB0, 0xB2, 0xB4}) rig.Raise(36, port);
    const auto lines = rig.Entries();
    const auto ignored = std::count_if(lines.begin(), lines.end(), [](const json& l) { return l.value("event", "") == "port-write"; });
    EXPECT_EQ(rig.SmiLines().size(), 1u) << c.listens;
    EXPECT_EQ(ignored, 2) << c.listens;
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [&](const json& l) { return l.value("port", 0) == c.listens; }))
        << c.listens;
  }
}

TEST(Commands, RefreshRewritesTheStatusRecordAfterTheConfiguredCount) {
  Profile p = Preset("legacy-8m");
  p.ecb1 = {true, p.ecb1.offset, 0x0003, 2, 0x0000};  // no power cord, no battery, then both
  Rig rig(p);
  auto flags = [&] { return core::LoadLe16(rig.machine->ESegment().data() + p.ecb1.offset + 4); };
  EXPECT_EQ(flags(), 0x0003);
  rig.Raise(39);
  EXPECT_EQ(flags(), 0x0003);
  rig.Raise(39);
  EXPECT_EQ(flags(), 0x0000);
  EXPECT_EQ(rig.LastSmi()["op"], "refresh-ecb");
}

}  // namespace
}  // namespace nox::sim::test

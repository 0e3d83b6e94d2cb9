// The management engine's region requests and the embedded controller's own flash, as the
// firmware serves them: which address space a flash request lands in before, inside and after
// an ME begin/end pair, what a pair unlocks, the EC transfer's answers and what ends up in the
// EC flash, and what survives a power loss, reopening and a boot.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "SimRig.h"
#include "platform/sim/EcFlash.h"

namespace nox::sim::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSpan = 0x800000;  // me-16m: where the firmware's part begins on the chip

// An ME region request with `selector`; the answer's record byte 0, or -1 when the firmware
// left the request unanswered.
int MeRequest(Rig& rig, uint8_t selector) {
  std::fill_n(rig.block.begin(), 1024, uint8_t{0});  // as the utility builds each request afresh
  PutOfbd(rig, 0x04000000, 'U', 18);
  rig.block[23] = selector;
  rig.Raise(38);
  return (rig.U16(12) & 1) ? rig.block[22] : -1;
}

// `length` bytes made from `seed`.
std::vector<uint8_t> EcData(uint32_t length, uint8_t seed) {
  std::vector<uint8_t> data(length);
  for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  return data;
}
// An EC transfer request: data at shared block + 1024, announced where the end marker stood,
// with its checksum (spoiled when asked). The answer's status, or -1 when the firmware left
// the request unanswered.
int EcSend(Rig& rig, uint8_t sub, std::span<const uint8_t> data = {}, bool badChecksum = false) {
  std::fill_n(rig.block.begin(), 1024, uint8_t{0});
  PutOfbd(rig, 0x08000000, 'T', 11, sub);
  if (!data.empty()) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= data.size(); i += 4) sum += core::LoadLe32(data.data() + i);
    std::copy(data.begin(), data.end(), rig.block.begin() + 1024);
    rig.Put32(25, ~sum + (badChecksum ? 1 : 0));
    rig.Put32(29, static_cast<uint32_t>(data.size()));
    core::StoreLe64(rig.block.data() + 33, uint64_t{rig.physical} + 1024);
  }
  rig.Raise(38);
  return (rig.U16(12) & 1) ? rig.U16(23) : -1;
}

// A step: an ME request (selector 0 to 5) or a flash request (command 33 read, 34 erase of
// `length`, 35 write of zeros), with the answer expected (record byte 0 or -1; the status) and,
// for a flash request, the chip address it reaches (-1: the chip stays as it was).
struct MeStep {
  int selector;
  int expect;
  uint8_t command = 0;
  uint32_t address = 0;
  int64_t landsAt = -1;
  uint32_t length = 1024;
};
MeStep Me(int selector, int expect) { return {selector, expect}; }
MeStep Flash(uint8_t command, uint32_t address, int status, int64_t landsAt, uint32_t length = 1024) {
  return {-1, status, command, address, landsAt, length};
}

void Step(Rig& rig, const MeStep& s) {
  if (s.selector >= 0) {
    EXPECT_EQ(MeRequest(rig, static_cast<uint8_t>(s.selector)), s.expect) << "selector " << s.selector;
    return;
  }
  const std::vector<uint8_t> before(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
  std::fill_n(rig.block.begin() + 17, 1024, uint8_t{0});
  EXPECT_EQ(rig.Request(s.command, s.address, s.length), s.expect) << rig.LastSmi().dump();
  const auto chip = rig.machine->Flash().Bytes();
  if (s.landsAt < 0) {
    EXPECT_TRUE(std::ranges::equal(before, chip)) << "the chip changed";
    return;
  }
  const auto at = chip.begin() + s.landsAt;
  switch (s.command) {
    case 33: EXPECT_TRUE(std::equal(at, at + 1024, rig.block.begin() + 17)) << "read from elsewhere"; break;
    case 34: EXPECT_TRUE(std::all_of(at, at + s.length, [](uint8_t b) { return b == 0xFF; })) << "erased elsewhere"; break;
    default: EXPECT_TRUE(std::all_of(at, at + 1024, [](uint8_t b) { return b == 0; })) << "written elsewhere"; break;
  }
}

// Outside a pair the block table's addresses start at the span, so the descriptor and the ME
// region cannot be named; a begin unlocks its variant's range, in chip addresses, and nothing
// else may be erased or written until its end; pairs do not nest or cross.
TEST(MeRegion, BeginAndEndDecideTheAddressSpaceAndWhatMayBeWritten) {
  struct Case { const char* what; std::function<void(Profile&)> change; std::vector<MeStep> steps; };
  const Case cases[] = {
      {"outside a pair", nullptr,
       {Flash(35, 0, 0, kSpan), Flash(34, 0x7FF000, 0, kSpan + 0x7FF000, 0x1000), Flash(33, 0, 0, kSpan)}},
      {"ignition", nullptr,
       {Me(1, 1), Flash(35, 0x1000, 0, 0x1000), Flash(33, 16, 0, 16), Flash(35, 0, 1, -1), Flash(35, kSpan, 1, -1),
        Flash(34, 0x7FF000, 1, -1, 0x2000), Me(2, 1), Flash(35, 0x1000, 0, kSpan + 0x1000)}},
      {"entire", nullptr,
       {Me(4, 1), Flash(35, 0, 0, 0), Flash(35, 0x7FFC00, 0, 0x7FFC00), Flash(34, 0x7FF000, 1, -1, 0x2000),
        Me(5, 1), Flash(35, 0, 0, kSpan)}},
      {"pairing", nullptr,
       {Me(2, 2), Me(5, 2), Me(1, 1), Me(1, 2), Me(4, 2), Me(5, 2), Flash(35, 0x2000, 0, 0x2000), Me(2, 1), Me(5, 2)}},
      // A failed begin unlocks nothing; a failed end locks all the same.
      {"failing selectors", [](Profile& p) { p.me.failSelectors = {1, 5}; },
       {Me(1, 2), Flash(35, 0x1000, 0, kSpan + 0x1000), Me(4, 1), Me(5, 2), Flash(35, 0, 0, kSpan), Me(2, 2)}},
      {"ignition not answered", [](Profile& p) { p.me.ignition = false; },
       {Me(0, -1), Me(1, -1), Me(3, 1), Flash(35, 0x1000, 0, kSpan + 0x1000)}},
      {"no ME", [](Profile& p) { p.me = {}; p.flash.size = 0x1000000; p.flash.blocks.back().size += kSpan; },
       {Me(0, -1), Me(4, -1), Flash(35, 0x800000, 0, 0x800000)}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Profile p = Preset("me-16m");
    if (c.change) c.change(p);
    Rig rig(p);
    ASSERT_EQ(rig.Enable(), 0);
    for (const MeStep& s : c.steps) Step(rig, s);
    for (const json& line : rig.SmiLines()) EXPECT_FALSE(line.contains("misuse")) << line.dump();
  }
  // The journal tells what a begin unlocked, which requests carried chip addresses and which
  // the firmware turned down.
  Rig rig(Preset("me-16m"));
  rig.Enable();
  MeRequest(rig, 1);
  EXPECT_TRUE(Carries(rig.LastSmi(), {{"selector", 1}, {"answer", 1}, {"unlocked", {0x1000, kSpan}}}));
  Step(rig, Flash(35, 0, 1, -1));
  EXPECT_TRUE(Carries(rig.LastSmi(), {{"chip", true}, {"refused", "outside the range the ME begin request unlocked"}}));
  MeRequest(rig, 2);
  EXPECT_TRUE(Carries(rig.LastSmi(), {{"selector", 2}, {"answer", 1}, {"locked", {0x1000, kSpan}}}));
}

// Both queries tell the ME region, the span and the firmware's part; the request's own answer
// fields must be empty.
TEST(MeRegion, QueriesAnswerTheLayoutAndTakeNoAnswerFieldsFromTheRequest) {
  Profile p = Preset("me-16m");
  p.me.span = 0x600000;
  p.me.regionStart = 0x3000;
  p.me.regionSize = 0x5FD000;
  Rig rig(p);
  for (const uint8_t selector : {0, 3}) {
    ASSERT_EQ(MeRequest(rig, selector), 1);
    EXPECT_EQ(std::make_tuple(core::LoadLe32(&rig.block[24]), core::LoadLe32(&rig.block[28]), core::LoadLe32(&rig.block[32]),
                              core::LoadLe32(&rig.block[36])),
              std::make_tuple(0x3000u, 0x5FD000u, 0x600000u, 0x800000u));
  }
  MeRequest(rig, 1);  // leaves its answer in the block, where a careless second request keeps it
  rig.block[23] = 2;
  rig.Raise(38);
  EXPECT_EQ(rig.LastSmi().value("misuse", ""), "ME region record bytes other than the selector are not 0");
}

// The transfer's answers in order, and what the EC flash holds afterwards: the data kept, in
// order, then erased bytes, once an end was answered 1; else what it held before.
TEST(EcFlash, TransfersAnswerEachRequestAndAnEndProgramsWhatWasKept) {
  struct Step { uint8_t sub; uint32_t length; int expect; bool badChecksum = false; };
  struct Case { const char* what; std::function<void(Profile&)> change; std::vector<Step> steps; bool written; };
  const auto fault = [](EcRequest request, uint32_t nth, uint16_t status, uint32_t times) {
    return [=](Profile& p) { p.ecFlash.faults = {{request, nth, status, times}}; };
  };
  const Case cases[] = {
      {"a transfer", nullptr, {{1, 0, 1}, {2, 4096, 1}, {2, 1002, 1}, {4, 0, 1}}, true},
      {"without a begin", nullptr, {{2, 64, 32}, {4, 0, 128}}, false},
      {"a second begin", nullptr, {{1, 0, 1}, {2, 128, 1}, {1, 0, 4}, {4, 0, 1}}, true},
      {"a wrong checksum", nullptr, {{1, 0, 1}, {2, 256, 2, true}, {2, 256, 1}, {4, 0, 1}}, true},
      {"larger than the EC flash", [](Profile& p) { p.ecFlash.size = 4096 + 128; },
       {{1, 0, 1}, {2, 4096, 1}, {2, 256, 64}, {2, 128, 1}, {4, 0, 1}}, true},
      {"the second data request fails once", fault(EcRequest::Data, 2, 8, 1),
       {{1, 0, 1}, {2, 512, 1}, {2, 512, 8}, {2, 512, 1}, {2, 512, 1}, {4, 0, 1}}, true},
      {"every data request fails", fault(EcRequest::Data, 1, 0x0300, 0), {{1, 0, 1}, {2, 64, 0x0300}, {2, 64, 0x0300}, {4, 0, 1}}, true},
      {"the begin fails", fault(EcRequest::Begin, 1, 256, 1), {{1, 0, 256}, {2, 64, 32}, {1, 0, 1}}, false},
      {"the end fails and closes", fault(EcRequest::End, 1, 0, 1), {{1, 0, 1}, {2, 64, 1}, {4, 0, 0}, {1, 0, 1}}, false},
      {"no EC flash", [](Profile& p) { p.ecFlash.present = false; }, {{1, 0, -1}, {2, 64, -1}}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Profile p = Preset("me-16m");
    if (c.change) c.change(p);
    Rig rig(p);
    rig.Reallocate(5120);  // as the utility does before a transfer
    const std::vector<uint8_t> before(rig.machine->Ec().Contents().begin(), rig.machine->Ec().Contents().end());
    std::vector<uint8_t> kept;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      const std::vector<uint8_t> data = EcData(s.length, static_cast<uint8_t>(i));
      EXPECT_EQ(EcSend(rig, s.sub, data, s.badChecksum), s.expect) << "step " << i;
      if (s.expect < 0) continue;
      json fields = {{"subFunction", s.sub}, {"length", s.length}, {"status", s.expect}};
      if (s.sub == 2) fields["checksumOk"] = !s.badChecksum;
      EXPECT_TRUE(Carries(rig.LastSmi(), fields));
      if (s.sub == 2 && s.expect == 1) kept.insert(kept.end(), data.begin(), data.end());
    }
    std::vector<uint8_t> expected = before;
    if (c.written) {
      expected.assign(p.ecFlash.size, 0xFF);
      std::copy(kept.begin(), kept.end(), expected.begin());
    }
    EXPECT_TRUE(std::ranges::equal(rig.machine->Ec().Contents(), expected));
  }
}

// The unlocked range and the EC flash are the machine's, kept in its directory between runs;
// a power loss forgets the range and an open transfer, and so does a boot.
TEST(MeEcState, AUnlockedRangeAndTheEcFlashOutliveARunButNotAPowerLossOrABoot) {
  const fs::path dir = fs::temp_directory_path() / "noxsim-test-MeEcState";
  fs::remove_all(dir);
  std::string error;
  Profile p = Preset("me-16m");
  p.faults.powerLossAfterSmi = 4;
  const std::vector<uint8_t> data = EcData(4096, 9);
  ASSERT_TRUE(Machine::Create(dir, p, error)) << error;
  {
    Rig rig(Machine::Open(dir, error));
    ASSERT_EQ(rig.Enable(), 0);
    ASSERT_EQ(MeRequest(rig, 1), 1);
    ASSERT_EQ(EcSend(rig, 1), 1);
    EXPECT_THROW(EcSend(rig, 2, data), PowerLost);
  }
  {
    Rig rig(Machine::Open(dir, error));
    rig.Enable();
    EXPECT_EQ(EcSend(rig, 2, data), 32);
    Step(rig, Flash(35, 0x1000, 0, kSpan + 0x1000));
    ASSERT_EQ(MeRequest(rig, 1), 1);
    for (const uint8_t sub : {1, 2, 4}) ASSERT_EQ(EcSend(rig, sub, sub == 2 ? data : std::vector<uint8_t>{}), 1);
    // On disk as soon as the end request wrote it, not when the run ends.
    std::ifstream file(dir / "ec.bin", std::ios::binary);
    const std::vector<uint8_t> onDisk{std::istreambuf_iterator<char>(file), {}};
    EXPECT_TRUE(onDisk.size() == 0x20000 && std::equal(data.begin(), data.end(), onDisk.begin()));
  }
  {
    Rig rig(Machine::Open(dir, error));
    rig.Enable();
    Step(rig, Flash(35, 0x2000, 0, 0x2000));
    rig.machine->Boot();
    Step(rig, Flash(35, 0x2000, 0, kSpan + 0x2000));
  }
  fs::resize_file(dir / "ec.bin", 4096);
  EXPECT_FALSE(Machine::Open(dir, error));
  EXPECT_EQ(error, (dir / "ec.bin").string() + ": 4096 bytes, but ecFlash.size is 131072");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace nox::sim::test

// The parts of the image layer that work on the machine's flash through the firmware: the
// block engine erases, writes and verifies it, the NCB preparation reads it. The simulated
// machine's flash part and journal prove what was read, erased, written and left alone.
#include <gtest/gtest.h>

#include <random>

#include "core/Format.h"
#include "firmware/SimRig.h"
#include "image/BlockEngine.h"
#include "image/FlashComparison.h"
#include "image/ImageBuilder.h"
#include "image/NcbPreparation.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileDef;
using testing::HoleName;
using testing::PlainName;
using Progress = std::vector<std::array<uint32_t, 3>>;  // the calls of a progress callback
using Range = std::pair<uint32_t, uint32_t>;  // address, length
constexpr int kRead = 33, kErase = 34, kWrite = 35;
constexpr RegionKind kMain = RegionKind::kMainBios, kBoot = RegionKind::kBootBlock;

// A machine whose flash is one 0x30000 main BIOS entry, two more main BIOS entries and a boot
// block, filled with a recognisable old image; the new image differs everywhere. As the
// engine's layout, its main BIOS and boot block passes take the blocks of their type, and its
// main BIOS holds the holes a test sets.
struct EngineRig : EngineLayout {
  explicit EngineRig(const std::function<void(sim::Profile&)>& tweak = {})
      : rig("minimal-1m", [&](sim::Profile& p) {
          p.flash.blocks = {{0x00000, 0x30000, 1}, {0x30000, 0x10000, 1}, {0x40000, 0xA0000, 1}, {0xE0000, 0x20000, 0}};
          if (tweak) tweak(p);
        }) {
    rig.Open();
    blocks = rig.smi->Info()->Entries();
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    std::ranges::generate(image, [random = std::mt19937(42)]() mutable { return static_cast<uint8_t>(random()); });
    rig.machine->Flash().Load(old);
  }
  std::span<const FlashBlockEntry> Blocks() const override { return blocks; }
  uint32_t RomSize() const override { return 0x100000; }
  bool BlockInRegion(size_t index, RegionKind kind) const override { return blocks[index].type == (kind == kMain ? 1 : 0); }
  std::vector<HoleSpan> HolesOfKind(uint8_t type) const override { return type == 1 ? holes : std::vector<HoleSpan>{}; }

  BlockEngine Engine(EngineSettings settings = {}) {
    return BlockEngine(*rig.smi, *rig.os, *this, image, settings, [this](const std::string& l) { log += l; });
  }
  bool Pass(RegionKind kind, EngineSettings settings = {}) {
    auto engine = Engine(settings);
    return engine.EraseRegion({}, kind) && engine.ProgramRegion({}, kind) && engine.VerifyRegion({}, kind);
  }
  // Whether the flash at [address, address + length) holds `from` at the same offsets.
  bool Holds(const std::vector<uint8_t>& from, uint32_t address, uint32_t length) {
    const auto flash = rig.machine->Flash().Bytes().subspan(address, length);
    return std::equal(flash.begin(), flash.end(), from.begin() + address);
  }
  // The requests of the given commands.
  std::vector<Range> Smis(std::initializer_list<int> commands) {
    std::vector<Range> out;
    for (const auto& s : rig.Smis()) {
      if (std::ranges::count(commands, s.value("smi", 0)) != 0) out.emplace_back(s.value("addr", 0u), s.value("len", 0u));
    }
    return out;
  }

  nox::testing::SimRig rig;
  std::vector<FlashBlockEntry> blocks;
  std::vector<HoleSpan> holes;
  std::vector<uint8_t> old = std::vector<uint8_t>(0x100000), image = old;
  std::string log;
};

// Whatever the pass, an unselected hole gets no erase and no write request, not even one
// that would put the machine's bytes back: a power cut in between would lose them.
TEST(BlockEngine, UnselectedHolesAreNeverErasedOrWritten) {
  // flips: bad writes, which the verify pass repairs; erases, when given: the erase requests in the first entry.
  struct Case { std::string what; std::vector<HoleSpan> holes; bool allNcbs = false;
                std::vector<sim::BitFlipFault> flips = {}; std::vector<Range> erases = {}; };
  std::vector<Case> cases = {
      {"at the entry's start, sizes differ", {{0x0, 0x2000}, {0x2000, 0x1000}}},
      {"a picked hole between kept ones, across chunks", {{0xE000, 0x1000}, {0xF000, 0x2000, true}, {0x11000, 0x1000}}},
      {"across the boundary of two entries", {{0x2F000, 0x1000}, {0x30000, 0x1000}}},
      {"covers a whole entry", {{0x30000, 0x10000}}},
      {"all NCBs", {{0x8000, 0x4000}}, true},
      {"repairs after bad writes", {{0x17000, 0x1000}, {0x18000, 0x1000}}, false,
       {{0x10000, 0x400, 1, 1}, {0x19000, 0x400, 1, 1}}}};
  // Two, three and four holes back to back at the start, in the middle and at the end of
  // the second 64 KiB erase block of the first entry.
  for (uint32_t n = 2; n <= 4; ++n) {
    for (const uint32_t at : {0x10000u, 0x17000u, 0x20000u - n * 0x1000}) {
      Case& c = cases.emplace_back(core::Format("%u back to back at 0x%X", n, at));
      for (uint32_t i = 0; i < n; ++i) c.holes.push_back({at + i * 0x1000, 0x1000});
      if (n == 3 && at == 0x17000) c.erases = {{0, 0x10000}, {0x10000, 0x7000}, {0x1A000, 0xD000}, {0x27000, 0x9000}};
    }
  }
  for (const Case& c : cases) {
    for (const bool compare : {false, true}) {
      SCOPED_TRACE(c.what + (compare ? " (compare)" : ""));
      EngineRig e([&](sim::Profile& p) { p.faults.bitFlips = c.flips; });
      e.holes = c.holes;
      // The image carries the machine's bytes in the kept holes, as the NCB preparation leaves it.
      for (const HoleSpan& h : c.holes) {
        if (!h.selected && !c.allNcbs) std::copy_n(e.old.begin() + h.offset, h.size, e.image.begin() + h.offset);
      }
      ASSERT_TRUE(compare ? e.Engine({5, c.allNcbs}).CompareRegion({}, {}, {}, kMain) : e.Pass(kMain, {5, c.allNcbs}));
      for (const auto& [address, length] : e.Smis({kErase, kWrite})) {
        for (const HoleSpan& h : c.holes) {
          EXPECT_TRUE(h.selected || c.allNcbs || address >= h.offset + h.size || h.offset >= address + length)
              << std::hex << "request at 0x" << address << " + 0x" << length;
        }
      }
      EXPECT_TRUE(e.Holds(e.image, 0, 0xE0000));
      auto erases = e.Smis({kErase});
      std::erase_if(erases, [](const Range& r) { return r.first >= 0x30000; });
      if (!compare && !c.erases.empty()) { EXPECT_EQ(erases, c.erases); }
    }
  }
}

// Bad writes within the budget are repaired by the verify pass (see the holes above).
TEST(BlockEngine, RetryBudget) {
  // A verify that never matches is repaired five times, then fails.
  EngineRig never([](sim::Profile& p) { p.faults.bitFlips.push_back({0xE0000, 0x10000, 1000, 0x01}); });
  EXPECT_FALSE(never.Pass(kBoot));
  EXPECT_EQ(never.Smis({kErase}).size(), 2u + 5u);
  EXPECT_EQ(never.Smis({kWrite}).size(), 2u * 64u + 5u * 64u);
  // A write that always fails costs one repair erase per failed cycle until the budget is spent.
  EngineRig broken([](sim::Profile& p) { p.faults.fail.push_back({sim::FlashOp::Write, 0xE8000, 0x400}); });
  auto engine = broken.Engine({3, false});
  ASSERT_TRUE(engine.EraseRegion({}, kBoot));
  EXPECT_FALSE(engine.ProgramRegion({}, kBoot));
  EXPECT_EQ(broken.Smis({kErase}).size(), 2u + 3u);
}

// Compare only reads an equal image, and blanks the last entry when the first one changed.
// Every pass reports each request to the progress callback between the markers and ends
// with its pause (the log lines are proven by the whole runs that write Flash.log); an image
// shorter than the flash fails the passes instead of being read past its end.
TEST(BlockEngine, CompareProgressAndAShortImage) {
  EngineRig e;
  e.image = e.old;
  ASSERT_TRUE(e.Engine().CompareRegion({}, {}, {}, kMain));
  EXPECT_EQ(e.Smis({kErase, kWrite}).size(), 0u);
  EXPECT_EQ(e.Smis({kRead}).size(), 0xE0000u / 1024);
  EXPECT_TRUE(e.log.empty());
  e.image[0x100] ^= 0xFF;    // one byte in the first main BIOS entry
  e.image[0x45000] ^= 0xFF;  // and one in the last
  std::optional<bool> lastBlank;
  auto onVerify = [&](uint32_t address, uint32_t, uint32_t) {
    // Looked at while the walk is in the middle entry: the last entry must be blank.
    if (!lastBlank && address == 0x30000) lastBlank = e.Holds(std::vector<uint8_t>(0x50000, 0xFF), 0x40000, 0x10000);
  };
  ASSERT_TRUE(e.Engine().CompareRegion(onVerify, {}, {}, kMain));
  EXPECT_EQ(lastBlank, true);
  EXPECT_TRUE(e.Holds(e.image, 0, 0xE0000));
  EXPECT_NE(e.log.find(" [Erase]  Addr : 0x00000000, Size : 0x00010000\r\n"), std::string::npos);

  Progress calls;
  const uint64_t before = e.rig.machine->Now();
  ASSERT_TRUE(e.Engine().EraseRegion([&](uint32_t a, uint32_t b, uint32_t c) { calls.push_back({a, b, c}); }, kBoot));
  EXPECT_EQ(e.rig.machine->Now(), before + BlockEngine::kTrailingDelayMs);
  EXPECT_EQ(calls, (Progress{{core::kProgressStart, 0, 0}, {0xE0000, 0x100000, 0x10000}, {0xF0000, 0x100000, 0x10000},
                             {core::kProgressEnd, 0x100000, 0}}));
  e.image.resize(0x20000);
  auto engine = e.Engine();
  ASSERT_TRUE(engine.EraseRegion({}, kMain));
  EXPECT_FALSE(engine.ProgramRegion({}, kMain));
  EXPECT_FALSE(engine.VerifyRegion({}, kMain));
}

// Main BIOS split by NVRAM, then a boot block longer than one read piece.
constexpr uint32_t kRomSize = 0x48000;
const std::vector<FlashBlockEntry> kBlocks = {
    {0x00000, 0x10000, 1}, {0x10000, 0x10000, 2}, {0x20000, 0x10000, 1}, {0x30000, 0x18000, 0}};

// The files of the volumes: first main BIOS run, second main BIOS run, and two in the boot
// block.
using Side = std::array<std::vector<FileDef>, 4>;
const Side kImageSide = {
    {{{PlainName(0), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}}, {{HoleName(2), 0x40}}, {{HoleName(3), 0x200}}, {}}};
// The machine's holes lie elsewhere than the image's, so a copy from the image offset shows.
// A hole behind the last one the image has, in the same volume, is not looked at.
const Side kMachineSide = {{{{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x80}},
                            {{PlainName(1), 0x20}, {HoleName(2), 0x40}}, {{HoleName(3), 0x200}, {HoleName(6), 0x40}}, {}}};

// The image of `side`; the body of its n-th hole is filled with `fill` + n, or with 0xA0 + n,
// the machine's value, where `machine` has an 'm' at n.
std::vector<uint8_t> Build(const Side& side, uint8_t fill, std::string_view machine = "") {
  testing::ImageBuilder builder(kRomSize);
  for (size_t v = 0, n = 0; v < side.size(); ++v) {
    const auto offsets = builder.AddVolume(std::array{0x00000, 0x20000, 0x30000, 0x40000}[v], side[v]);
    for (size_t i = 0; i < side[v].size(); ++i) {
      if (!HoleTable::IsRomHoleName(side[v][i].name)) continue;
      const uint8_t value = n < machine.size() && machine[n] == 'm' ? 0xA0 : fill;
      std::fill_n(&builder.bytes[offsets[i] + 24], side[v][i].size - 24, static_cast<uint8_t>(value + n++));
    }
  }
  return builder.bytes;
}

// Unselected holes of the kinds a run needs get the machine's bytes, read with progress; a
// machine whose holes do not match the image's, or a read that fails, leaves the image as
// it was loaded.
TEST(NcbPreparation, UnselectedHolesOfNeededKindsGetTheMachineBytesOrNothingChanges) {
  // holes: per hole, 'm' ends up with the machine's bytes, 'i' keeps the image's; none: refused. reads: the whole
  // flash is read; a table the flash copy cannot hold is refused before any read. machine: the files of one of
  // the machine's volumes.
  struct Case { const char* what; const char* holes = "";
                RegionSelection selection = {.programBootBlock = true, .programMainBios = true};
                bool reads = true, failReads = false; Side image = kImageSide;
                std::pair<size_t, std::vector<FileDef>> machine = {0, kMachineSide[0]}; size_t imageLength = kRomSize;
                std::vector<FlashBlockEntry> blocks = kBlocks; bool headersErased = false; const char* lost = ""; };
  const Case cases[] = {
      {"main BIOS", "mmmi", {.programMainBios = true}}, {"boot block", "iiim", {.programBootBlock = true}},
      {"main BIOS, all NCBs", "iiii", {.programMainBios = true, .programNcbs = true, .allNcbs = true}},
      {"main BIOS, hole 0", "immm", {.programMainBios = true, .programNcbs = true, .ncbMask = 1}},
      {"mask without NCBs", "mmmi", {.programMainBios = true, .ncbMask = 1}}, {"nothing", "iiii", {}, false},
      {"hole 3 alone", "mmmi", {.programNcbs = true, .ncbMask = 1u << 3}},
      {"all NCBs alone", "iiii", {.programNcbs = true, .allNcbs = true}},
      {"no main BIOS holes", "i", {.programMainBios = true}, false, false,
       {{{{PlainName(0), 0x40}}, {}, {{HoleName(3), 0x200}}, {}}}},
      {.what = "a main hole larger", .machine = {0, {{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x88}}}},
      {.what = "holes in other order", .machine = {0, {{HoleName(1), 0x80}, {HoleName(0), 0x100}}}},
      {.what = "extra hole", .machine = {0, {{HoleName(4), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}}}},
      // An interrupted update erased what lies in front of a hole, or the hole itself.
      {.what = "main BIOS volume headers erased", .holes = "mmmm", .headersErased = true},
      {.what = "missing hole", .holes = "mmmi", .machine = {2, {{PlainName(2), 0x40}}}, .lost = "3"},
      {.what = "holes in other order, headers erased", .machine = {0, {{HoleName(1), 0x80}, {HoleName(0), 0x100}}},
       .headersErased = true},
      {.what = "unreadable", .failReads = true},
      {.what = "boot hole renamed", .machine = {2, {{HoleName(5), 0x200}}}},
      {.what = "a hole in a later volume of the run", .machine = {3, {{HoleName(7), 0x40}}}},
      {.what = "image ends inside the third hole", .imageLength = 0x20060},
      {.what = "table runs past the ROM", .reads = false, .blocks = {{0x0, 0x10000, 1}, {0x20000, 0x10000, 1}}}};
  // Whenever a kind needs it, the whole flash is read in pieces of up to 64 KiB within a
  // block; the firmware moves 1 KiB a request, and the progress page sees every request.
  Progress wholeFlash = {{core::kProgressStart, 0, 0}};
  // The boot block's second piece is short.
  for (uint32_t at = 0; at < kRomSize; at += 1024) wholeFlash.push_back({at, kRomSize, at < 0x40000 ? 0x10000u : 0x8000u});
  wholeFlash.push_back({core::kProgressEnd, kRomSize, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nox::testing::SimRig rig("minimal-1m", [&](sim::Profile& p) {
      p.flash.size = kRomSize;
      p.flash.blocks.clear();
      for (const auto& b : kBlocks) p.flash.blocks.push_back({b.start, b.size, b.type});
      if (c.failReads) p.faults.fail.push_back({sim::FlashOp::Read, 0, kRomSize});
    });
    rig.Open();
    Side machine = kMachineSide;
    machine[c.machine.first] = c.machine.second;
    std::vector<uint8_t> machineBytes = Build(machine, 0xA0);
    if (c.headersErased) {
      for (const size_t volume : {0x00000, 0x20000}) std::fill_n(machineBytes.begin() + volume, 72, 0xFF);
    }
    ASSERT_TRUE(rig.machine->Flash().Load(machineBytes));
    FlashLayout layout;
    layout.SetBlockTable(c.blocks);
    std::vector<uint8_t> bytes = Build(c.image, 0x10);
    ASSERT_EQ(layout.AnalyseImage(bytes), 0u);
    Progress progress;  // one call a firmware read request, between the markers
    std::string lost;
    const bool prepared = PrepareNcbsForWriting(
        layout, c.selection, std::span(bytes).first(c.imageLength), *rig.smi,
        [&](uint32_t a, uint32_t b, uint32_t n) { progress.push_back({a, b, n}); },
        [&](const HoleRecord& hole) { lost += std::to_string(hole.name.data1 - HoleName(0).data1); });
    EXPECT_EQ(std::tuple(prepared, progress.empty(), lost), std::tuple(*c.holes != 0, !c.reads, std::string(c.lost)));
    EXPECT_EQ(bytes, Build(c.image, 0x10, c.holes));
    if (prepared && c.reads) { EXPECT_EQ(progress, wholeFlash); }
  }
}

// Whether the part already holds the image decides whether an image of the running version
// is an update cut off halfway; what an update keeps from the machine does not count.
TEST(FlashHoldsImage, TheWrittenBlocksDecideNotTheKeptHolesOrSmbiosArea) {
  nox::testing::SimRig rig("legacy-8m");  // main BIOS 0x60000-0x7E0000, holes 0 and 1, BSA_ in the boot block
  rig.Open();
  FlashLayout layout;
  layout.SetBlockTable(*rig.smi->Info());
  const std::vector<uint8_t> flash(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
  ASSERT_EQ(layout.AnalyseImage(flash), 0u);
  const HoleRecord hole = layout.Holes()[0];
  const uint32_t smbios = static_cast<uint32_t>(std::search(flash.begin() + 0x7E0000, flash.end(), "BSA_", "BSA_" + 4) - flash.begin());
  const RegionSelection mainAndBoot{.programBootBlock = true, .programMainBios = true};
  struct Case { const char* what; uint32_t changed; RegionSelection selection; std::optional<bool> holds; bool failReads = false; };
  const Case cases[] = {
      {"the same", 0, mainAndBoot, true},
      {"a main BIOS byte", 0x100000, mainAndBoot, false},
      {"a boot block byte", 0x7F0000, mainAndBoot, false},
      {"the NVRAM, not written", 0x30000, mainAndBoot, true},
      {"a kept hole", hole.imageOffset + 100, mainAndBoot, true},
      {"a hole picked for writing", hole.imageOffset + 100,
       {.programMainBios = true, .programNcbs = true, .ncbMask = 1u << 2}, false},
      {"the SMBIOS area", smbios + 12, mainAndBoot, true},
      {"an NCB picked", 0x8000, {.programNcbs = true, .ncbMask = 1}, false},
      {"unreadable", 0, mainAndBoot, std::nullopt, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image = flash;
    if (c.changed != 0) image[c.changed] ^= 0x5A;
    const auto reads = [&](uint32_t address, std::span<uint8_t> to) {
      if (c.failReads) return false;
      return rig.smi->ReadFlash(address, static_cast<uint32_t>(to.size()), to);
    };
    EXPECT_EQ(FlashHoldsImage(layout, c.selection, image, reads), c.holds);
  }
}

}  // namespace
}  // namespace nox::image

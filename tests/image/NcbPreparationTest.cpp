#include <gtest/gtest.h>

#include "firmware/SimRig.h"
#include "image/ImageBuilder.h"
#include "image/NcbPreparation.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileDef;
using testing::HoleName;
using testing::PlainName;
using Progress = std::vector<std::array<uint32_t, 3>>;

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
    const auto offsets = builder.AddVolume(std::array{0x00000, 0x20000, 0x30000, 0x40000}[v], {}, side[v]);
    for (size_t i = 0; i < side[v].size(); ++i) {
      if (!HoleTable::IsRomHoleName(side[v][i].name)) continue;
      const auto body = builder.bytes.begin() + static_cast<std::ptrdiff_t>(offsets[i]);
      const uint8_t value = n < machine.size() && machine[n] == 'm' ? 0xA0 : fill;
      std::fill(body + 24, body + side[v][i].size, static_cast<uint8_t>(value + n++));
    }
  }
  return builder.bytes;
}

// Prepares the image of `image` against a simulated machine with the block table kBlocks
// whose flash holds `machine`, the layout knowing the table `blocks`.
struct Preparation {
  Preparation(const Side& image, const Side& machine, const RegionSelection& selection, size_t imageLength = kRomSize,
              bool failReads = false, const std::vector<FlashBlockEntry>& blocks = kBlocks)
      : rig("minimal-1m", [&](sim::Profile& p) {
          p.flash.size = kRomSize;
          p.flash.blocks.clear();
          for (const auto& b : kBlocks) p.flash.blocks.push_back({b.start, b.size, b.type});
          if (failReads) p.faults.fail.push_back({sim::FlashOp::Read, 0, kRomSize});
        }),
        bytes(Build(image, 0x10)) {
    rig.Open();
    rig.machine->Flash().Load(Build(machine, 0xA0));
    layout.SetBlockTable(blocks);
    EXPECT_EQ(layout.AnalyseImage(bytes), 0u);
    prepared = PrepareNcbsForWriting(layout, selection, std::span(bytes).first(imageLength), *rig.smi,
                                     [this](uint32_t a, uint32_t b, uint32_t c) { progress.push_back({a, b, c}); });
  }

  nox::testing::SimRig rig;
  std::vector<uint8_t> bytes;
  FlashLayout layout;
  bool prepared = false;
  Progress progress;  // one call a firmware read request, between the markers
};

TEST(NcbPreparation, UnselectedHolesOfNeededKindsGetTheMachineBytesReadWithProgress) {
  const Side noMainHoles = {{{{PlainName(0), 0x40}}, {}, {{HoleName(3), 0x200}}, {}}};
  struct Case {
    RegionSelection selection;
    const char* holes;  // per hole: 'm' ends up with the machine's bytes, 'i' keeps the image's
    bool reads = true;  // the whole flash is read
    const Side& image = kImageSide;
  };
  // Whenever a kind needs it, the whole flash is read in pieces of up to 64 KiB within a
  // block; the firmware moves 1 KiB a request, and the progress page sees every request.
  Progress wholeFlash = {{core::kProgressStart, 0, 0}};
  for (uint32_t at = 0; at < kRomSize; at += 1024) {
    wholeFlash.push_back({at, kRomSize, at < 0x40000 ? 0x10000u : 0x8000u});  // the boot block's second piece is short
  }
  wholeFlash.push_back({core::kProgressEnd, kRomSize, 0});
  for (const Case& c : {Case{{.programMainBios = true}, "mmmi"},
                        Case{{.programMainBios = true, .programNcbs = true, .allNcbs = true}, "iiii"},
                        Case{{.programMainBios = true, .programNcbs = true, .ncbMask = 1}, "immm"},
                        Case{{.programMainBios = true, .ncbMask = 1}, "mmmi"},  // mask ignored without NCBs
                        Case{{.programNcbs = true, .ncbMask = 1u << 3}, "mmmi"},
                        Case{{.programNcbs = true, .allNcbs = true}, "iiii"},
                        Case{{.programBootBlock = true}, "iiim"}, Case{{}, "iiii", false},
                        Case{{.programMainBios = true}, "i", false, noMainHoles}}) {
    SCOPED_TRACE(c.holes);
    const Preparation p(c.image, kMachineSide, c.selection);
    ASSERT_TRUE(p.prepared);
    EXPECT_EQ(p.progress, c.reads ? wholeFlash : Progress{});
    EXPECT_EQ(p.bytes, Build(c.image, 0x10, c.holes));
  }
}

TEST(NcbPreparation, RefusalLeavesTheImageAsLoaded) {
  struct Case {
    const char* what;
    size_t volume;
    std::vector<FileDef> files;
    bool failReads = false, reads = true;  // a table the flash copy cannot hold is refused before any read
    size_t imageLength = kRomSize;
    std::vector<FlashBlockEntry> blocks = kBlocks;
  };
  const Case cases[] = {
      {"second main hole larger", 0, {{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x88}}},
      {"holes in other order", 0, {{HoleName(1), 0x80}, {HoleName(0), 0x100}}},
      {"extra hole", 0, {{HoleName(4), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}}},
      {"missing hole", 1, {{PlainName(1), 0x20}}},
      {"boot hole renamed", 2, {{HoleName(5), 0x200}}},
      {"a hole in a later volume of the run", 3, {{HoleName(7), 0x40}}},
      {"unreadable", 2, kMachineSide[2], true},
      {"image ends inside the third hole", 2, kMachineSide[2], false, true, 0x20060},
      {"table runs past the ROM", 2, kMachineSide[2], false, false, kRomSize, {{0x0, 0x10000, 1}, {0x20000, 0x10000, 1}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Side machine = kMachineSide;
    machine[c.volume] = c.files;
    const Preparation p(kImageSide, machine, {.programBootBlock = true, .programMainBios = true}, c.imageLength,
                        c.failReads, c.blocks);
    EXPECT_FALSE(p.prepared);
    EXPECT_EQ(p.bytes, Build(kImageSide, 0x10));
    EXPECT_EQ(!p.progress.empty(), c.reads);
  }
}

}  // namespace
}  // namespace nox::image

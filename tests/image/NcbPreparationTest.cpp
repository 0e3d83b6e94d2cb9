#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "firmware/SimRig.h"
#include "image/ImageBuilder.h"
#include "image/NcbPreparation.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileDef;
using testing::HoleName;
using testing::PlainName;

// Main BIOS split by NVRAM, then a boot block longer than one read piece.
constexpr uint32_t kRomSize = 0x48000;
const std::vector<FlashBlockEntry> kBlocks = {
    {0x00000, 0x10000, 1}, {0x10000, 0x10000, 2}, {0x20000, 0x10000, 1}, {0x30000, 0x18000, 0}};

// The files of the volumes: first main BIOS run, second main BIOS run, and two in the boot
// block.
using Side = std::array<std::vector<FileDef>, 4>;
const Side kImageSide = {{{{PlainName(0), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}},
                          {{HoleName(2), 0x40}},
                          {{HoleName(3), 0x200}},
                          {}}};
// The machine's holes lie elsewhere than the image's, so a copy from the image offset shows.
// A hole behind the last one the image has, in the same volume, is not looked at.
const Side kMachineSide = {{{{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x80}},
                            {{PlainName(1), 0x20}, {HoleName(2), 0x40}},
                            {{HoleName(3), 0x200}, {HoleName(6), 0x40}},
                            {}}};

struct Built {
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> holes;  // file offsets of the holes, in the order found
};

// `fill` != 0 gives each hole body its own byte value, unlike anything the builder writes.
Built Build(const Side& side, uint8_t fill) {
  testing::ImageBuilder builder(kRomSize);
  Built built;
  for (size_t v = 0; v < side.size(); ++v) {
    const auto offsets = builder.AddVolume(std::array{0x00000, 0x20000, 0x30000, 0x40000}[v], {}, side[v]);
    for (size_t i = 0; i < side[v].size(); ++i) {
      if (!HoleTable::IsRomHoleName(side[v][i].name)) continue;
      auto body = builder.Bytes().begin() + static_cast<std::ptrdiff_t>(offsets[i]);
      if (fill != 0) std::fill(body + 24, body + side[v][i].size, static_cast<uint8_t>(fill + built.holes.size()));
      built.holes.push_back(offsets[i]);
    }
  }
  built.bytes = std::move(builder.Bytes());
  return built;
}

// The machine's flash is read through the firmware of a simulated machine with this
// block table; `failReads` makes its handler refuse every read.
std::unique_ptr<nox::testing::SimRig> MachineWith(const std::vector<FlashBlockEntry>& blocks, bool failReads = false) {
  auto rig = std::make_unique<nox::testing::SimRig>("minimal-1m", [&](sim::Profile& p) {
    p.flash.size = kRomSize;
    p.flash.blocks.clear();
    for (const auto& b : blocks) p.flash.blocks.push_back({b.start, b.size, b.type});
    if (failReads) p.faults.fail.push_back({sim::FlashOp::Read, 0, kRomSize});
  });
  rig->Open();
  return rig;
}

class NcbPreparationTest : public ::testing::Test {
 protected:
  void LoadImage(const Side& side, const std::vector<FlashBlockEntry>& blocks = kBlocks) {
    image_ = Build(side, 0);
    original_ = image_.bytes;
    layout_.SetBlockTable(blocks);
    ASSERT_EQ(layout_.AnalyseImage(image_.bytes), 0u);
  }
  void SetUp() override { LoadImage(kImageSide); }

  bool Prepare(const RegionSelection& selection, size_t imageLength = kRomSize) {
    rig_->machine->Flash().Load(machine_.bytes);
    mark_ = rig_->Mark();
    progress_.clear();
    return PrepareNcbsForWriting(layout_, selection, std::span(image_.bytes).first(imageLength), *rig_->smi,
                                 [this](uint32_t a, uint32_t b, uint32_t c) { progress_.push_back({a, b, c}); });
  }
  // The read requests the machine served in the last preparation: address, length.
  std::vector<std::pair<uint32_t, uint32_t>> Reads() const {
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (const auto& smi : rig_->Smis(mark_)) {
      if (smi.value("op", "") == "read") reads.emplace_back(smi.value("addr", 0u), smi.value("len", 0u));
    }
    return reads;
  }

  std::unique_ptr<nox::testing::SimRig> rig_ = MachineWith(kBlocks);
  size_t mark_ = 0;
  FlashLayout layout_;
  Built image_;
  Built machine_ = Build(kMachineSide, 0xA0);
  std::vector<uint8_t> original_;
  std::vector<std::array<uint32_t, 3>> progress_;
};

TEST_F(NcbPreparationTest, UnselectedHolesOfNeededKindsGetTheMachineBytesReadWithProgress) {
  const Side noMainHoles = {{{{PlainName(0), 0x40}}, {}, {{HoleName(3), 0x200}}, {}}};
  struct Case {
    RegionSelection selection;
    const char* holes;  // per hole: 'm' ends up with the machine's bytes, 'i' keeps the image's
    bool reads = true;
    const Side& image = kImageSide;
  };
  // Whenever a kind needs it, the whole flash is read in pieces of up to 64 KiB within a
  // block; the firmware moves 1 KiB a request, and the progress page sees every request.
  std::vector<std::pair<uint32_t, uint32_t>> wholeFlash;
  std::vector<std::array<uint32_t, 3>> progress = {{core::kProgressStart, 0, 0}};
  for (const auto& [piece, length] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0x00000, 0x10000}, {0x10000, 0x10000}, {0x20000, 0x10000}, {0x30000, 0x10000}, {0x40000, 0x8000}}) {
    for (uint32_t at = piece; at < piece + length; at += 1024) {
      wholeFlash.emplace_back(at, 1024);
      progress.push_back({at, kRomSize, length});
    }
  }
  progress.push_back({core::kProgressEnd, kRomSize, 0});
  for (const Case& c : {Case{{.programMainBios = true}, "mmmi"},
                        Case{{.programMainBios = true, .programNcbs = true, .allNcbs = true}, "iiii"},
                        Case{{.programMainBios = true, .programNcbs = true, .ncbMask = 1}, "immm"},
                        Case{{.programMainBios = true, .ncbMask = 1}, "mmmi"},  // mask ignored without NCBs
                        Case{{.programNcbs = true, .ncbMask = 1u << 3}, "mmmi"},
                        Case{{.programNcbs = true, .allNcbs = true}, "iiii"},
                        Case{{.programBootBlock = true}, "iiim"}, Case{{}, "iiii", false},
                        Case{{.programMainBios = true}, "i", false, noMainHoles}}) {
    LoadImage(c.image);
    ASSERT_TRUE(Prepare(c.selection)) << c.holes;
    EXPECT_EQ(Reads(), c.reads ? wholeFlash : decltype(wholeFlash){}) << c.holes;
    EXPECT_EQ(progress_, c.reads ? progress : decltype(progress){}) << c.holes;
    for (size_t h = 0; c.holes[h] != 0; ++h) {
      const Built& from = c.holes[h] == 'm' ? machine_ : Built{original_, image_.holes};
      EXPECT_TRUE(std::equal(image_.bytes.begin() + image_.holes[h], image_.bytes.begin() + image_.holes[h] + layout_.Holes()[h].size,
                             from.bytes.begin() + from.holes[h])) << c.holes << " " << h;
      if (c.holes[h] == 'm') {
        EXPECT_EQ(layout_.Holes()[h].flashOffset, machine_.holes[h]) << c.holes << " " << h;
      }
    }
  }
}

TEST_F(NcbPreparationTest, RefusalLeavesTheImageAsLoaded) {
  struct Case {
    const char* what;
    size_t volume;
    std::vector<FileDef> files;
    bool failReads = false;
    size_t imageLength = kRomSize;
    std::vector<FlashBlockEntry> blocks = kBlocks;
    bool reads = true;  // a table the flash copy cannot hold is refused before any read
  };
  const Case cases[] = {
      {"second main hole larger", 0, {{PlainName(0), 0x200}, {HoleName(0), 0x100}, {HoleName(1), 0x88}}},
      {"holes in other order", 0, {{HoleName(1), 0x80}, {HoleName(0), 0x100}}},
      {"extra hole", 0, {{HoleName(4), 0x40}, {HoleName(0), 0x100}, {HoleName(1), 0x80}}},
      {"missing hole", 1, {{PlainName(1), 0x20}}},
      {"boot hole renamed", 2, {{HoleName(5), 0x200}}},
      {"a hole in a later volume of the run", 3, {{HoleName(7), 0x40}}},
      {"unreadable", 2, kMachineSide[2], true},
      {"image ends inside the third hole", 2, kMachineSide[2], false, 0x20060},
      {"table runs past the ROM", 2, kMachineSide[2], false, kRomSize, {{0x0, 0x10000, 1}, {0x20000, 0x10000, 1}}, false}};
  for (const Case& c : cases) {
    LoadImage(kImageSide, c.blocks);
    Side machine = kMachineSide;
    machine[c.volume] = c.files;
    machine_ = Build(machine, 0xA0);
    rig_ = MachineWith(kBlocks, c.failReads);
    EXPECT_FALSE(Prepare({.programBootBlock = true, .programMainBios = true}, c.imageLength)) << c.what;
    EXPECT_EQ(image_.bytes, original_) << c.what;
    EXPECT_EQ(!Reads().empty(), c.reads) << c.what;
  }
}

}  // namespace
}  // namespace nox::image

// The parts of the image layer that read images and a flash held in memory: the volume
// scan, the layout of regions, ROM holes and NCBs, the EC version check and the SMBIOS area.
#include <gtest/gtest.h>

#include "image/FirmwareVolumes.h"
#include "image/FlashLayout.h"
#include "image/ImageBuilder.h"
#include "image/SmbiosArea.h"

namespace nox::image {
namespace {

using firmware::FlashBlockEntry;
using testing::FileDef;
using testing::HoleName;
using testing::PlainName;
using Bytes = std::vector<uint8_t>;
using Range = std::pair<uint32_t, uint32_t>;  // low, end

using Offsets = std::vector<uint64_t>;

// The offsets of the volumes and of the files the scan finds.
std::pair<Offsets, Offsets> ScanAll(core::ByteSpan bytes) {
  std::pair<Offsets, Offsets> seen;
  const auto onFile = [&](const FirmwareFile& file) {
    seen.second.push_back(file.offset);
    return WalkControl::kContinue;
  };
  FirmwareVolumes::Scan(bytes, 0, bytes.size(), onFile, [&](const FirmwareVolume& v) { seen.first.push_back(v.offset); });
  return seen;
}

// One image with every kind of damage the scan must step over, each followed by volumes
// that it must still find and walk.
TEST(VolumeScan, DamagedForeignAndCutVolumesAndStraySignaturesHideNothingBehindThem) {
  testing::ImageBuilder image(0x50000);
  std::pair<Offsets, Offsets> expected;  // volumes, files
  auto expect = [&](size_t at, const std::vector<FileDef>& files, uint32_t length, const core::Guid& fs = testing::kFfs2) {
    expected.first.push_back(at);
    const auto offsets = image.AddVolume(at, files, length, fs);
    expected.second.insert(expected.second.end(), offsets.begin(), offsets.end());
    return offsets;
  };
  for (const size_t at : {0x10, 0x27}) std::copy_n("_FVH", 4, image.bytes.begin() + at);  // no room for a header before
  // Headers whose first 64 bytes do not sum to 0 are no volumes, even when the whole header
  // does; nor are those with a bad checksum. A later one in the same search window is.
  image.AddVolume(0x1000, {{HoleName(0), 0x100}}, 0x1000);
  core::StoreLe16(&image.bytes[0x1000 + 8], 1);
  core::StoreLe16(&image.bytes[0x1000 + 64], 0xFFFF);
  image.AddVolume(0x2000, {{HoleName(0), 0x100}}, 0x1000);
  image.bytes[0x2000 + 50] ^= 1;
  expect(0x4000, {{HoleName(1), 0x100}}, 0x1000);
  // Another file system is skipped whole: a volume nested in it is part of its contents.
  image.AddVolume(0x10000, {{HoleName(0), 0x100}}, 0x10000, core::GuidLiteral("FFF12B8D-7696-4C8B-A985-2747075B4F50"));
  image.AddVolume(0x18000, {{HoleName(1), 0x100}}, 0x1000);
  expected.first.push_back(0x10000);
  // A signature that starts in one search window and ends in the next, in a volume of the
  // older firmware file system; then a volume that claims no length.
  expect(0x30000 - 42, {{PlainName(1), 0x40}}, 0x1000, core::GuidLiteral("7A9354D9-0468-444A-81CE-0BF617D890DF"));
  expect(0x34000, {}, 0);
  // Sizes that cannot describe a file of the volume end its walk: zero, erased, shorter
  // than a header, past the volume end.
  for (size_t at = 0x40000; const uint32_t size : {0u, 0xFFFFFFu, 8u, 0x2000u}) {
    const auto files = expect(at, {{PlainName(1), 0x40}, {PlainName(2), 0x40}, {PlainName(3), 0x40}}, 0x2000);
    at += 0x2000;
    image.SetFileSize(files[1], size);
    expected.second.resize(expected.second.size() - 2);
  }
  EXPECT_EQ(ScanAll(image.bytes), expected);
  // A header or a file cut off by the end of the bytes is not read.
  const auto last = image.AddVolume(0x48000, {{PlainName(1), 0x60}, {PlainName(2), 0x80}}, 0x1000);
  for (size_t kept : {44u, 50u, 63u}) EXPECT_EQ(ScanAll(std::span(image.bytes).first(0x48000 + kept)), expected) << kept;
  expected.first.push_back(0x48000);
  expected.second.push_back(last[0]);
  EXPECT_EQ(ScanAll(std::span(image.bytes).first(last[1] + 0x7F)), expected);
}

// The name comes from the extended header of the volume that holds the identity file (here
// inside a pad file, where build tools put it), and only when that header lies wholly inside
// its volume and the bytes: the volume is the last one and claims more than the bytes hold.
TEST(VolumeScan, TheIdentityFilesVolumeIsNamedByASoundExtendedHeader) {
  const core::Guid other = PlainName(7), name = PlainName(8);
  struct Case { uint16_t at; uint32_t size; size_t kept; bool named; };
  for (const Case& c : {Case{96, 20, 0x20000, true}, Case{96, 0x8000 - 96, 0x20000, true}, Case{0, 20, 0x20000, false},
                        Case{64, 20, 0x20000, false}, Case{96, 19, 0x20000, false}, Case{96, 0x8000 - 95, 0x20000, false},
                        Case{0x8000 - 19, 20, 0x20000, false}, Case{0x6000, 20, 0x16000 + 19, false}}) {
    SCOPED_TRACE(::testing::Message() << c.at << " " << c.size << " " << c.kept);
    testing::ImageBuilder image(0x20000);
    image.AddVolume(0, {{PlainName(0), 44}}, 0x10000);
    image.SetExtendedHeader(0, 96, other);
    image.AddVolume(0x10000, {{PlainName(0), 44}, {testing::kIdentity, 0x100}}, 0x8000);
    image.SetExtendedHeader(0x10000, c.at, name, c.size);
    const core::ByteSpan bytes = std::span(image.bytes).first(c.kept);
    PlatformIdentityFile file;
    file.ScanRange(bytes, 0, bytes.size());
    ASSERT_TRUE(file.Found());
    EXPECT_EQ(IdentityVolumeName(bytes, file), c.named ? std::optional(name) : std::nullopt);
  }
  // Without an identity file the volume at the start of the image does not lend its name.
  testing::ImageBuilder bare(0x10000);
  bare.AddVolume(0, {}, 0x10000);
  bare.SetExtendedHeader(0, 96, other);
  EXPECT_EQ(IdentityVolumeName(bare.bytes, PlatformIdentityFile{}), std::nullopt);
}

TEST(HoleTable, OnlyTheSixteenNamesAreHoles) {
  const std::pair<const char*, bool> names[] = {
      {"05CA01FC-0FC1-11DC-9011-00173153EBA8", true},  {"05CA020B-0FC1-11DC-9011-00173153EBA8", true},
      {"05CA01FB-0FC1-11DC-9011-00173153EBA8", false}, {"05CA020C-0FC1-11DC-9011-00173153EBA8", false},
      {"05CA0200-0FC1-11DC-9011-00173153EBA9", false}, {"05CA0200-0FC2-11DC-9011-00173153EBA8", false},
      {"05CA0200-0FC1-11DD-9011-00173153EBA8", false}};
  for (const auto& [name, hole] : names) EXPECT_EQ(HoleTable::IsRomHoleName(core::GuidLiteral(name)), hole) << name;
}

// Each kind spans from its lowest start to its highest end, also when the table is out of
// address order; each run of one NCB type is a group, and the NCB type list takes a type
// again after another NCB type, but not after a block of another kind.
TEST(RegionBounds, KindsSpanTheirBlocksAndNcbRunsFormGroupsNoMoreThanKept) {
  const Range none{RegionBounds::kNoLow, 0};
  // The blocks; the spans of main BIOS, NVRAM, EC, boot block, then the NCB groups; the NCB types.
  const std::tuple<std::vector<FlashBlockEntry>, std::vector<Range>, std::vector<uint8_t>> cases[] = {
      {{{0x200, 0x100, 1}, {0x100, 0x100, 1}, {0x300, 0x80, 2}, {0x380, 0x80, 3}, {0x400, 0x200, 0}, {0x600, 0x10, 7}},
       {{0x100, 0x300}, {0x300, 0x380}, {0x380, 0x400}, {0x400, 0x600}}, {}},
      {{{0, 0x100, 0x80}, {0x100, 0x100, 0x81}, {0x200, 0x100, 0x80}},
       {none, none, none, none, {0x0, 0x100}, {0x100, 0x200}, {0x200, 0x300}}, {0x80, 0x81, 0x80}},
      {{{0, 0x100, 0x80}, {0x100, 0x100, 1}, {0x200, 0x100, 0x80}}, {{0x100, 0x200}, none, none, none, {0, 0x300}}, {0x80}},
      {{{0, 0x100, 1}, {0x100, 0x100, 0xFF}, {0x200, 0x200, 0xFF}}, {{0, 0x100}, none, none, none, {0x100, 0x400}}, {0xFF}},
      {{{0, 0x100, 0}, {0x100, 0x100, 4}, {0x200, 0x100, 127}}, {none, none, none, {0x0, 0x100}}, {}}};
  for (const auto& [blocks, spans, types] : cases) {
    FlashLayout layout;
    layout.SetBlockTable(blocks);
    ASSERT_EQ(layout.AnalyseImage({}), 0u);
    const RegionBounds& b = layout.Bounds();
    std::vector<Range> got, expected = spans;
    for (const auto& s : {b.mainBios, b.nvram, b.ec, b.bootBlock}) got.emplace_back(s.low, s.end);
    for (const auto& s : b.ncb) got.emplace_back(s.low, s.end);
    expected.resize(got.size(), none);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(std::vector<uint8_t>(layout.NcbTypes().begin(), layout.NcbTypes().end()), types);
  }
  // More groups than are kept: the last one kept is the 16th run, untouched by the four after it.
  std::vector<FlashBlockEntry> blocks;
  for (uint32_t i = 0; i < 20; ++i) blocks.push_back({i * 0x1000, 0x1000, static_cast<uint8_t>(0x80 + (i & 1))});
  const auto last = RegionBounds::Compute(blocks).ncb[15];
  EXPECT_EQ(Range(last.low, last.end), Range(0xF000, 0x10000));
}

// NCB types and main BIOS and boot block holes count together.
TEST(ImageAnalysis, MoreThanEightNcbsEndTheSessionWithError6) {
  const std::array<uint32_t, 4> cases[] = {{9, 0, 0, 6}, {8, 0, 0, 0}, {2, 7, 0, 6}, {2, 6, 0, 0},
                                           {2, 4, 3, 6}, {2, 3, 3, 0}, {0, 16, 0, 6}, {8, 0, 1, 6}};
  for (const auto& [types, mainHoles, bootHoles, error] : cases) {
    std::vector<FlashBlockEntry> blocks = {{0, 0x10000, 1}, {0x10000, 0x10000, 0}};
    for (uint32_t i = 0; i < types; ++i) blocks.push_back({0x20000 + i * 0x100, 0x100, static_cast<uint8_t>(0x80 + i)});
    testing::ImageBuilder image(0x20000 + types * 0x100);
    std::vector<FileDef> holes;
    for (uint32_t n = 0; n < mainHoles + bootHoles; ++n) holes.push_back({HoleName(n), 0x40});
    image.AddVolume(0, {holes.begin(), holes.begin() + mainHoles});
    image.AddVolume(0x10000, {holes.begin() + mainHoles, holes.end()});
    FlashLayout layout;
    layout.SetBlockTable(blocks);
    EXPECT_EQ(layout.AnalyseImage(image.bytes), error) << types << " " << mainHoles << " " << bootHoles;
  }
}

// Blocks: 0 main (hole 0), 1 main (hole 1), 2 NVRAM, 3 boot (hole 2), 4 type 0x80, 5 type 0x81,
// 6 EC, 7 no region. The holes' flash offsets are filled as the NCB preparation fills them,
// from a machine holding the image.
TEST(ImageAnalysis, EachRegionTakesItsOwnBlocksOnlyWhenSelectedAndNcbsFollowTheirNumbering) {
  testing::ImageBuilder image(0x44000);
  auto main = image.AddVolume(0, {{PlainName(0), 0x40}, {HoleName(0), 0x100}, {PlainName(1), 0x10000}, {HoleName(1), 0x80},
                                  {testing::kIdentity, 0x123}, {testing::kIdentity, 0x40}}, 0x20000);
  auto boot = image.AddVolume(0x30000, {{HoleName(5), 0x200}, {testing::kIdentity, 0x60}});
  FlashLayout layout;
  layout.SetBlockTable(std::vector<FlashBlockEntry>{{0, 0x10000, 1}, {0x10000, 0x10000, 1}, {0x20000, 0x10000, 2},
                                                    {0x30000, 0x10000, 0}, {0x40000, 0x1000, 0x80}, {0x41000, 0x1000, 0x81},
                                                    {0x42000, 0x1000, 3}, {0x43000, 0x1000, 4}});
  ASSERT_EQ(layout.AnalyseImage(image.bytes), 0u);
  size_t cursor = 0;
  ASSERT_TRUE(layout.Holes().MatchFlashRange(image.bytes, 0, 0x40000, cursor, layout.Holes().Count()));
  // Per block whether a pass over `kind` takes it; none past the table.
  auto in = [&](RegionKind kind, const RegionSelection& selection) {
    std::string out;
    for (size_t i = 0; i < layout.Blocks().size(); ++i) out += layout.BlockInRegion(i, kind, selection) ? '1' : '0';
    EXPECT_FALSE(layout.BlockInRegion(layout.Blocks().size(), kind, selection));
    return out;
  };
  using enum RegionKind;
  const std::tuple<RegionKind, RegionSelection, const char*> cases[] = {
      {kMainBios, {.programMainBios = true}, "11000000"}, {kBootBlock, {.programBootBlock = true}, "00010000"},
      {kNvram, {.programNvram = true}, "00100000"},       {kEc, {.programEc = true}, "00000010"}};
  for (const auto& [kind, selection, expected] : cases) {
    EXPECT_EQ(in(kind, selection), expected) << static_cast<int>(kind);
    // With every flag but its own a region takes nothing; "only if newer" alone neither,
    // without the EC-newer flag.
    EXPECT_EQ(in(kind, {!selection.programBootBlock, !selection.programMainBios, !selection.programNvram,
                        !selection.programEc, true, true, true, ~0u}), "00000000") << static_cast<int>(kind);
  }
  // NCB bits: 0 -> 0x80, 1 -> 0x81, 2 -> hole 0, 3 -> hole 1, 4 -> hole 2, 5 -> nothing.
  for (uint32_t bit = 0; const char* expected : {"00001000", "00000100", "10000000", "01000000", "00010000", "00000000"}) {
    EXPECT_EQ(in(kNcb, {.programNcbs = true, .ncbMask = 1u << bit}), expected) << bit;
    ++bit;
  }
  // A region written whole never counts for the NCBs.
  EXPECT_EQ(in(kNcb, {.programMainBios = true, .programNcbs = true, .allNcbs = true}), "00011100");
  EXPECT_EQ(in(kNcb, {.programBootBlock = true, .programMainBios = true, .programNcbs = true, .allNcbs = true}), "00001100");
  // The identity file that counts is the first one in table order, and the next image
  // analysed does not inherit it.
  EXPECT_EQ(std::pair(layout.IdentityFile().imageOffset, layout.IdentityFile().size), std::pair(uint32_t(main[4]), 0x123u));
  layout.SetBlockTable(std::vector<FlashBlockEntry>(layout.Blocks().rbegin(), layout.Blocks().rend()));
  ASSERT_EQ(layout.AnalyseImage(image.bytes), 0u);
  EXPECT_EQ(layout.IdentityFile().imageOffset, boot[1]);
  ASSERT_EQ(layout.AnalyseImage(testing::ImageBuilder(0x44000).bytes), 0u);
  EXPECT_FALSE(layout.IdentityFile().Found());
}

// An EC block after one main BIOS block, read through a work buffer followed by guard
// bytes; flash and image differ only in the version words.
TEST(EcCheck, OnlyAHigherMaskedVersionWordInTheImageSetsTheFlag) {
  constexpr uint32_t kEcStart = 0x10000, kScratch = 0x10000;
  struct Case { const char* what; uint32_t ecSize = 0x1000, offset = 0x10, mask = ~0u, flash = 0x0102, image = 0x0102,
                imageEnd = ~0u; std::optional<EcBlockRecord> ecb = std::nullopt; bool newer = false, read = true; };
  const EcBlockRecord ecb{EcBlockRecord::kCompareVersions, kEcStart + 0x800, 0x800, 0x24, 0x0000FFFF};
  std::vector<Case> cases = {
      {.what = "equal"},
      {.what = "lower", .flash = 0x0103},
      {.what = "equal under the mask", .mask = 0xFFFF0000, .flash = 0x01020000, .image = 0x0102FFFF},
      {.what = "higher under the mask", .mask = 0xFFFF0000, .flash = 0x00FF0000, .image = 0x01000000, .newer = true},
      {.what = "word straddles the block's end", .offset = 0xFFE, .read = false},
      {.what = "image ends before the EC block", .image = 0x0103, .imageEnd = kEcStart},
      // The record overrides the table, whose mask would hide every difference.
      {.what = "record", .offset = 0x824, .mask = 0, .flash = 7, .image = 8, .ecb = ecb, .newer = true},
      {.what = "record switches the check off", .offset = 0x824, .mask = 0, .flash = 7, .image = 8,
       .ecb = EcBlockRecord{0xFE, ecb.address, ecb.size, ecb.versionOffset, ecb.versionMask}, .read = false}};
  // An EC block larger than the work buffer is read through a window that holds the word.
  for (const uint32_t offset : {0x10u, 0xFFFCu, 0xFFFEu, 0x28000u, 0x2FFFCu}) {
    cases.push_back({.what = "large block", .ecSize = 0x30000, .offset = offset, .image = 0x0103, .newer = true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.what << " 0x" << std::hex << c.offset);
    FlashLayout layout;
    layout.SetBlockTable(std::vector<FlashBlockEntry>{{0, kEcStart, 1}, {kEcStart, c.ecSize, 3}}, c.offset, c.mask);
    std::vector<uint8_t> flash(kEcStart + c.ecSize, 0x11), image = flash;
    if (c.offset + 4 <= c.ecSize) {
      core::StoreLe32(&flash[kEcStart + c.offset], c.flash);
      core::StoreLe32(&image[kEcStart + c.offset], c.image);
    }
    image.resize(std::min<size_t>(image.size(), c.imageEnd));
    std::vector<uint8_t> scratch(kScratch + 64, 0xCD);  // 64 guard bytes
    // A read past the block fails: the flash ends with it. A newer answer from a large block
    // proves that the window held the version word.
    EXPECT_EQ(layout.CheckEcNewer(image, c.ecb, std::span(scratch).first(kScratch), testing::ReadsOf(flash)), 0u);
    EXPECT_EQ(layout.EcNewer(), c.newer);
    // The read takes as much of the EC block as the work buffer holds, and nothing past it.
    const size_t length = c.read ? std::min<size_t>(c.ecb ? c.ecb->size : c.ecSize, kScratch) : 0;
    EXPECT_EQ(static_cast<size_t>(std::count(scratch.begin(), scratch.end(), 0xCD)), kScratch + 64 - length);
  }
}

using Puts = std::vector<std::pair<size_t, Bytes>>;  // offset, bytes
using enum SmbiosArea::SaveResult;

constexpr size_t kFlashArea = 0x2100, kImageArea = 0x2340;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Entries of type `type` with `n` bytes after their 4-byte head, one per pair.
Bytes Entries(std::initializer_list<std::pair<uint8_t, uint8_t>> typesAndLengths) {
  Bytes e;
  for (const auto& [type, n] : typesAndLengths) {
    e = e + Bytes{type, 0x5A, n, 0xA5};
    for (uint8_t i = 0; i < n; ++i) e.push_back(static_cast<uint8_t>(type * 16 + i));
  }
  return e;
}

// "BSA_", the length, the entries.
Bytes Area(const Bytes& entries, uint32_t length = ~0u) {
  Bytes area = {'B', 'S', 'A', '_', 0, 0, 0, 0};
  core::StoreLe32(&area[4], length == ~0u ? static_cast<uint32_t>(entries.size()) : length);
  return area + entries;
}

// flash, image: laid over a part of 0xEE bytes, over an image of 0x11 bytes; restored: the saved area is
// laid over the image's first area.
struct AreaCase { const char* what; Puts flash, image; std::vector<std::string> types = {};
                  SmbiosArea::SaveResult result = kSaved; Bytes saved = {}; std::vector<int> warnings = {};
                  bool restored = true; };

// The part's area of `entries`, saved with the values `types`, holds its head and `packed`,
// then 0xFF; it is laid over the image's area of the same length.
AreaCase Packs(const char* what, const Bytes& entries, std::vector<std::string> types, const Bytes& packed,
           std::vector<int> warnings = {}) {
  const Bytes area = Area(entries);
  Bytes saved = Bytes(area.begin(), area.begin() + 8) + packed;
  saved.resize(area.size(), 0xFF);
  return {what, {{kFlashArea, area}}, {{kImageArea, Area(Bytes(entries.size(), 0x33))}}, std::move(types), kSaved, saved,
          std::move(warnings)};
}

TEST(SmbiosArea, ChosenTypesArePackedAndLaidOverTheImagesAreaOfTheSameLength) {
  const Bytes one = Area(Entries({{1, 3}}));
  const AreaCase cases[] = {
      Packs("whole area", Entries({{1, 3}, {2, 9}}), {}, Entries({{1, 3}, {2, 9}})),
      Packs("missing type warns once", Entries({{1, 3}, {4, 2}, {1, 5}}), {"1", "2"}, Entries({{1, 3}, {1, 5}}), {2}),
      Packs("order of the values", Entries({{1, 3}, {4, 2}}), {"4", "1"}, Entries({{4, 2}, {1, 3}})),
      Packs("type named twice", Entries({{4, 2}, {1, 30}}), {"4", "4"}, Entries({{4, 2}, {4, 2}})),
      Packs("entry ending at the length", Entries({{1, 2}, {9, 1}}), {"9"}, Entries({{9, 1}})),
      Packs("entry in the last four bytes is not looked at", Entries({{1, 2}, {9, 0}}), {"9"}, {}, {9}),
      Packs("none found", Entries({{1, 2}}), {"3", "17"}, {}, {3, 17}),
      // Its claimed length runs past the area: only what the area holds is kept.
      Packs("truncated last entry", Entries({{1, 2}}) + Bytes{7, 0, 200, 0, 1, 2}, {"7"}, {7, 0, 200, 0, 1, 2}),
      // The second copy of the big entry does not fit: packing stops at the area's end.
      Packs("repeats never outgrow the area", Entries({{1, 20}, {2, 0}}), {"1", "1"},
            Entries({{1, 20}}) + Bytes{1, 0x5A, 20, 0xA5}),
      {"area in a main BIOS block only", {{0x100, one}}, {{kImageArea, one}}, {}, kNone, {}, {}, false},
      {"head and entries not both in the block", {{0x2FF0, Area(Entries({{1, 3}}), 0x10)}}, {}, {}, kNone, {}, {}, false},
      {"first area in table order", {{kFlashArea, Area(Entries({{2, 3}}))}, {0x1800, one}},
       {{kImageArea, Area(Entries({{5, 3}}))}}, {}, kSaved, one},
      // One running from the first boot block into the second is not taken, and the search
      // is not carried on to the good area behind it.
      {"area across two boot blocks", {{kFlashArea, one}, {0x1FFC, one}}, {{kImageArea, one}}, {}, kNone, {}, {}, false},
      {"image without an area", {{kFlashArea, one}}, {}, {}, kSaved, one, {}, false},
      {"image area longer", {{kFlashArea, one}}, {{kImageArea, Area(Entries({{1, 4}}))}}, {}, kSaved, one, {}, false}};
  // A main BIOS block, then two boot blocks; areas are put in the second boot block.
  FlashLayout layout;
  layout.SetBlockTable(std::vector<FlashBlockEntry>{{0x0000, 0x1000, 1}, {0x1000, 0x1000, 0}, {0x2000, 0x1000, 0}});
  for (const AreaCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes flash(0x3000, 0xEE), image(0x3000, 0x11);
    for (const auto& [at, bytes] : c.flash) std::copy(bytes.begin(), bytes.end(), flash.begin() + at);
    for (const auto& [at, bytes] : c.image) std::copy(bytes.begin(), bytes.end(), image.begin() + at);
    SmbiosArea area;
    std::vector<int> warnings;
    ASSERT_EQ(area.Save(layout, testing::ReadsOf(flash), c.types, [&](int type) { warnings.push_back(type); }), c.result);
    EXPECT_EQ(Bytes(area.Bytes().begin(), area.Bytes().end()), c.saved);
    EXPECT_EQ(warnings, c.warnings);
    Bytes expected = image;
    if (c.restored) std::copy(c.saved.begin(), c.saved.end(), expected.begin() + c.image[0].first);
    EXPECT_EQ(area.Restore(layout, image), c.restored);
    EXPECT_EQ(image, expected);
  }
}

}  // namespace
}  // namespace nox::image

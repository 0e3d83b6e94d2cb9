#include <gtest/gtest.h>

#include <algorithm>

#include "image/SmbiosArea.h"

namespace nox::image {
namespace {

using Bytes = std::vector<uint8_t>;

// A main BIOS block, then two boot blocks; areas are put in the second boot block.
const std::vector<firmware::FlashBlockEntry> kBlocks = {{0x0000, 0x1000, 1}, {0x1000, 0x1000, 0}, {0x2000, 0x1000, 0}};
constexpr size_t kFlashArea = 0x2100;
constexpr size_t kImageArea = 0x2340;

// An entry of type `type` with `n` bytes after its 4-byte head.
Bytes Entry(uint8_t type, uint8_t n) {
  Bytes e = {type, 0x5A, n, 0xA5};
  for (uint8_t i = 0; i < n; ++i) e.push_back(static_cast<uint8_t>(type * 16 + i));
  return e;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// "BSA_", the length, the entries.
Bytes Area(const Bytes& entries, uint32_t length) {
  Bytes area = {'B', 'S', 'A', '_', 0, 0, 0, 0};
  core::StoreLe32(&area[4], length);
  area.insert(area.end(), entries.begin(), entries.end());
  return area;
}
Bytes Area(const Bytes& entries) { return Area(entries, static_cast<uint32_t>(entries.size())); }

class SmbiosAreaTest : public ::testing::Test {
 protected:
  SmbiosAreaTest() : flash_(0x3000, 0xEE), image_(0x3000, 0x11) { layout_.SetBlockTable(kBlocks); }

  static void Put(Bytes& into, size_t at, const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), into.begin() + at); }

  SmbiosArea::SaveResult Save(std::vector<std::string> types = {}) {
    return area_.Save(
        layout_,
        [this](uint32_t address, std::span<uint8_t> to) {
          if (failReads_ || !core::InRange(flash_.size(), address, to.size())) return false;
          std::copy_n(flash_.begin() + address, to.size(), to.begin());
          return true;
        },
        types, [this](int type) { warnings_.push_back(type); });
  }

  FlashLayout layout_;
  Bytes flash_;
  Bytes image_;
  SmbiosArea area_;
  bool failReads_ = false;
  std::vector<int> warnings_;
};

TEST_F(SmbiosAreaTest, WholeAreaIsLaidOverTheImagesAreaOfTheSameLength) {
  const Bytes machine = Area(Concat({Entry(1, 3), Entry(2, 9)}));
  Put(flash_, kFlashArea, machine);
  Put(image_, kImageArea, Area(Concat({Entry(2, 9), Entry(1, 3)})));
  ASSERT_EQ(Save(), SmbiosArea::SaveResult::kSaved);
  EXPECT_EQ(Bytes(area_.Bytes().begin(), area_.Bytes().end()), machine);

  Bytes expected = image_;
  Put(expected, kImageArea, machine);
  ASSERT_TRUE(area_.Restore(layout_, image_));
  EXPECT_EQ(image_, expected);
  EXPECT_TRUE(warnings_.empty());
}

struct PackCase {
  const char* what;
  Bytes entries;
  std::vector<std::string> types;
  Bytes packed;  // followed by 0xFF up to the area's length
  std::vector<int> warnings;
};

class Packing : public SmbiosAreaTest, public ::testing::WithParamInterface<PackCase> {};

TEST_P(Packing, ChosenTypesArePackedAndWrittenIntoTheImage) {
  const auto& c = GetParam();
  const Bytes machine = Area(c.entries);
  Put(flash_, kFlashArea, machine);
  Put(image_, kImageArea, Area(Bytes(c.entries.size(), 0x33)));
  ASSERT_EQ(Save(c.types), SmbiosArea::SaveResult::kSaved);

  Bytes expected(machine.begin(), machine.begin() + 8);
  expected.insert(expected.end(), c.packed.begin(), c.packed.end());
  expected.resize(machine.size(), 0xFF);
  EXPECT_EQ(Bytes(area_.Bytes().begin(), area_.Bytes().end()), expected);
  EXPECT_EQ(warnings_, c.warnings);

  ASSERT_TRUE(area_.Restore(layout_, image_));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image_.begin() + kImageArea));
}

INSTANTIATE_TEST_SUITE_P(
    Types, Packing,
    ::testing::Values(
        PackCase{"MissingTypeWarnsOnce", Concat({Entry(1, 3), Entry(4, 2), Entry(1, 5)}), {"1", "2"},
                 Concat({Entry(1, 3), Entry(1, 5)}), {2}},
        PackCase{"OrderOfTheValues", Concat({Entry(1, 3), Entry(4, 2)}), {"4", "1"},
                 Concat({Entry(4, 2), Entry(1, 3)}), {}},
        PackCase{"TypeNamedTwiceIsCopiedTwice", Concat({Entry(4, 2), Entry(1, 30)}), {"4", "4"},
                 Concat({Entry(4, 2), Entry(4, 2)}), {}},
        PackCase{"EntryEndingAtTheLengthIsTaken", Concat({Entry(1, 2), Entry(9, 1)}), {"9"}, Entry(9, 1), {}},
        PackCase{"EntryInTheLastFourBytesIsNotLookedAt", Concat({Entry(1, 2), Entry(9, 0)}), {"9"}, {}, {9}},
        PackCase{"NoneFoundLeavesHeadAndErasedBytes", Concat({Entry(1, 2)}), {"3", "17"}, {}, {3, 17}},
        // Its claimed length runs past the area: only what the area holds is kept.
        PackCase{"TruncatedLastEntryIsCut", Concat({Entry(1, 2), Bytes{7, 0, 200, 0, 1, 2}}), {"7"},
                 Bytes{7, 0, 200, 0, 1, 2}, {}},
        // The second copy of the big entry does not fit: packing stops at the area's end.
        PackCase{"RepeatsNeverOutgrowTheArea", Concat({Entry(1, 20), Entry(2, 0)}), {"1", "1"},
                 Concat({Entry(1, 20), Bytes{1, 0x5A, 20, 0xA5}}), {}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(SmbiosAreaTest, NothingIsSavedWithoutAUsableAreaInABootBlock) {
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);

  Put(flash_, 0x0100, Area(Entry(1, 3)));  // main BIOS block: not searched
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);

  // Head and entries must both lie in the block.
  Put(flash_, 0x2FF0, Area(Entry(1, 3), 0x10));
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);
  EXPECT_FALSE(area_.Restore(layout_, image_));

  failReads_ = true;
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kReadFailed);
}

TEST_F(SmbiosAreaTest, FirstSignatureInTableOrderEndsTheSearch) {
  Put(flash_, kFlashArea, Area(Entry(2, 3)));
  Put(flash_, 0x1800, Area(Entry(1, 3)));
  ASSERT_EQ(Save(), SmbiosArea::SaveResult::kSaved);
  EXPECT_EQ(Bytes(area_.Bytes().begin(), area_.Bytes().end()), Area(Entry(1, 3)));

  // An area running from the first boot block into the second is not taken, nor is the
  // search carried on to the good area behind it.
  Put(flash_, 0x1800, Bytes(15, 0xEE));
  Put(flash_, 0x1FFC, Area(Entry(1, 3)));
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);
}

TEST_F(SmbiosAreaTest, ImageAreaOfAnotherLengthOrNoneIsLeftAlone) {
  Put(flash_, kFlashArea, Area(Entry(1, 3)));
  ASSERT_EQ(Save(), SmbiosArea::SaveResult::kSaved);
  const Bytes withoutArea = image_;
  EXPECT_FALSE(area_.Restore(layout_, image_));
  EXPECT_EQ(image_, withoutArea);

  Put(image_, kImageArea, Area(Entry(1, 4)));
  const Bytes longer = image_;
  EXPECT_FALSE(area_.Restore(layout_, image_));
  EXPECT_EQ(image_, longer);

  area_.Clear();
  Put(image_, kImageArea, Area(Entry(1, 3)));
  const Bytes sameLength = image_;
  EXPECT_FALSE(area_.Restore(layout_, image_));
  EXPECT_EQ(image_, sameLength);
}

}  // namespace
}  // namespace nox::image

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

// Entries of type `type` with `n` bytes after their 4-byte head, one per pair.
Bytes Entries(std::initializer_list<std::pair<uint8_t, uint8_t>> typesAndLengths) {
  Bytes e;
  for (const auto& [type, n] : typesAndLengths) {
    e.insert(e.end(), {type, 0x5A, n, 0xA5});
    for (uint8_t i = 0; i < n; ++i) e.push_back(static_cast<uint8_t>(type * 16 + i));
  }
  return e;
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "BSA_", the length, the entries.
Bytes Area(const Bytes& entries, uint32_t length = ~0u) {
  Bytes area = {'B', 'S', 'A', '_', 0, 0, 0, 0};
  core::StoreLe32(&area[4], length == ~0u ? static_cast<uint32_t>(entries.size()) : length);
  return area + entries;
}

class SmbiosAreaTest : public ::testing::Test {
 protected:
  SmbiosAreaTest() { layout_.SetBlockTable(kBlocks); }

  static void Put(Bytes& into, size_t at, const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), into.begin() + at); }
  Bytes Saved() const { return Bytes(area_.Bytes().begin(), area_.Bytes().end()); }

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
  Bytes flash_ = Bytes(0x3000, 0xEE);
  Bytes image_ = Bytes(0x3000, 0x11);
  SmbiosArea area_;
  bool failReads_ = false;
  std::vector<int> warnings_;
};

TEST_F(SmbiosAreaTest, ChosenTypesArePackedAndLaidOverTheImagesAreaOfTheSameLength) {
  struct Case {
    const char* what;
    Bytes entries;
    std::vector<std::string> types;
    Bytes packed;  // followed by 0xFF up to the area's length; no types keeps the area whole
    std::vector<int> warnings;
  };
  const Case cases[] = {
      {"whole area", Entries({{1, 3}, {2, 9}}), {}, Entries({{1, 3}, {2, 9}}), {}},
      {"missing type warns once", Entries({{1, 3}, {4, 2}, {1, 5}}), {"1", "2"}, Entries({{1, 3}, {1, 5}}), {2}},
      {"order of the values", Entries({{1, 3}, {4, 2}}), {"4", "1"}, Entries({{4, 2}, {1, 3}}), {}},
      {"type named twice", Entries({{4, 2}, {1, 30}}), {"4", "4"}, Entries({{4, 2}, {4, 2}}), {}},
      {"entry ending at the length", Entries({{1, 2}, {9, 1}}), {"9"}, Entries({{9, 1}}), {}},
      {"entry in the last four bytes is not looked at", Entries({{1, 2}, {9, 0}}), {"9"}, {}, {9}},
      {"none found", Entries({{1, 2}}), {"3", "17"}, {}, {3, 17}},
      // Its claimed length runs past the area: only what the area holds is kept.
      {"truncated last entry", Entries({{1, 2}}) + Bytes{7, 0, 200, 0, 1, 2}, {"7"}, {7, 0, 200, 0, 1, 2}, {}},
      // The second copy of the big entry does not fit: packing stops at the area's end.
      {"repeats never outgrow the area", Entries({{1, 20}, {2, 0}}), {"1", "1"},
       Entries({{1, 20}}) + Bytes{1, 0x5A, 20, 0xA5}, {}}};
  for (const Case& c : cases) {
    warnings_.clear();
    const Bytes machine = Area(c.entries);
    Put(flash_, kFlashArea, machine);
    Put(image_, kImageArea, Area(Bytes(c.entries.size(), 0x33)));
    ASSERT_EQ(Save(c.types), SmbiosArea::SaveResult::kSaved) << c.what;
    Bytes expected = Bytes(machine.begin(), machine.begin() + 8) + c.packed;
    expected.resize(machine.size(), 0xFF);
    EXPECT_EQ(Saved(), expected) << c.what;
    EXPECT_EQ(warnings_, c.warnings) << c.what;
    Bytes restored = image_;
    Put(restored, kImageArea, expected);
    ASSERT_TRUE(area_.Restore(layout_, image_)) << c.what;
    EXPECT_EQ(image_, restored) << c.what;
  }
}

TEST_F(SmbiosAreaTest, NothingIsSavedWithoutAUsableAreaInABootBlock) {
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);
  Put(flash_, 0x0100, Area(Entries({{1, 3}})));  // main BIOS block: not searched
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);
  // Head and entries must both lie in the block.
  Put(flash_, 0x2FF0, Area(Entries({{1, 3}}), 0x10));
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);
  EXPECT_FALSE(area_.Restore(layout_, image_));
  failReads_ = true;
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kReadFailed);
}

TEST_F(SmbiosAreaTest, FirstSignatureInTableOrderEndsTheSearch) {
  Put(flash_, kFlashArea, Area(Entries({{2, 3}})));
  Put(flash_, 0x1800, Area(Entries({{1, 3}})));
  ASSERT_EQ(Save(), SmbiosArea::SaveResult::kSaved);
  EXPECT_EQ(Saved(), Area(Entries({{1, 3}})));
  // An area running from the first boot block into the second is not taken, nor is the
  // search carried on to the good area behind it.
  Put(flash_, 0x1800, Bytes(15, 0xEE));
  Put(flash_, 0x1FFC, Area(Entries({{1, 3}})));
  EXPECT_EQ(Save(), SmbiosArea::SaveResult::kNone);
}

TEST_F(SmbiosAreaTest, ImageAreaOfAnotherLengthOrNoneIsLeftAlone) {
  Put(flash_, kFlashArea, Area(Entries({{1, 3}})));
  ASSERT_EQ(Save(), SmbiosArea::SaveResult::kSaved);
  for (const Bytes& imageArea : {Bytes{}, Area(Entries({{1, 4}}))}) {
    Put(image_, kImageArea, imageArea);
    const Bytes before = image_;
    EXPECT_FALSE(area_.Restore(layout_, image_));
    EXPECT_EQ(image_, before);
  }
  area_.Clear();
  Put(image_, kImageArea, Area(Entries({{1, 3}})));
  const Bytes sameLength = image_;
  EXPECT_FALSE(area_.Restore(layout_, image_));
  EXPECT_EQ(image_, sameLength);
}

}  // namespace
}  // namespace nox::image

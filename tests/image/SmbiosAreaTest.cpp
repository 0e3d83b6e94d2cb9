#include <gtest/gtest.h>

#include <algorithm>

#include "image/SmbiosArea.h"

namespace nox::image {
namespace {

using Bytes = std::vector<uint8_t>;
using Puts = std::vector<std::pair<size_t, Bytes>>;  // offset, bytes
using enum SmbiosArea::SaveResult;

// A main BIOS block, then two boot blocks; areas are put in the second boot block.
const std::vector<firmware::FlashBlockEntry> kBlocks = {{0x0000, 0x1000, 1}, {0x1000, 0x1000, 0}, {0x2000, 0x1000, 0}};
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

struct Case {
  const char* what;
  Puts flash, image;  // laid over a part of 0xEE bytes, over an image of 0x11 bytes
  std::vector<std::string> types = {};
  SmbiosArea::SaveResult result = kSaved;
  Bytes saved = {};
  std::vector<int> warnings = {};
  bool restored = true, failReads = false;  // restored: the saved area laid over the image's first area
};

// The part's area of `entries`, saved with the values `types`, holds its head and `packed`,
// then 0xFF; it is laid over the image's area of the same length.
Case Packs(const char* what, const Bytes& entries, std::vector<std::string> types, const Bytes& packed,
           std::vector<int> warnings = {}) {
  const Bytes area = Area(entries);
  Bytes saved = Bytes(area.begin(), area.begin() + 8) + packed;
  saved.resize(area.size(), 0xFF);
  return {what, {{kFlashArea, area}}, {{kImageArea, Area(Bytes(entries.size(), 0x33))}}, std::move(types), kSaved, saved,
          std::move(warnings)};
}

TEST(SmbiosArea, ChosenTypesArePackedAndLaidOverTheImagesAreaOfTheSameLength) {
  const Bytes one = Area(Entries({{1, 3}}));
  const Case cases[] = {
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
      {"unreadable", {{kFlashArea, one}}, {}, {}, kReadFailed, {}, {}, false, true},
      {"first area in table order", {{kFlashArea, Area(Entries({{2, 3}}))}, {0x1800, one}}, {{kImageArea, Area(Entries({{5, 3}}))}},
       {}, kSaved, one},
      // One running from the first boot block into the second is not taken, and the search
      // is not carried on to the good area behind it.
      {"area across two boot blocks", {{kFlashArea, one}, {0x1FFC, one}}, {{kImageArea, one}}, {}, kNone, {}, {}, false},
      {"image without an area", {{kFlashArea, one}}, {}, {}, kSaved, one, {}, false},
      {"image area one byte longer", {{kFlashArea, one}}, {{kImageArea, Area(Entries({{1, 4}}))}}, {}, kSaved, one, {}, false}};
  FlashLayout layout;
  layout.SetBlockTable(kBlocks);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes flash(0x3000, 0xEE), image(0x3000, 0x11);
    for (const auto& [at, bytes] : c.flash) std::copy(bytes.begin(), bytes.end(), flash.begin() + at);
    for (const auto& [at, bytes] : c.image) std::copy(bytes.begin(), bytes.end(), image.begin() + at);
    SmbiosArea area;
    std::vector<int> warnings;
    const auto read = [&](uint32_t address, std::span<uint8_t> to) {
      if (c.failReads || !core::InRange(flash.size(), address, to.size())) return false;
      std::copy_n(flash.begin() + address, to.size(), to.begin());
      return true;
    };
    ASSERT_EQ(area.Save(layout, read, c.types, [&](int type) { warnings.push_back(type); }), c.result);
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

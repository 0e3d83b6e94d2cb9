// ROM holes: firmware files inside the main BIOS and boot block whose contents an update
// keeps from the machine unless the user picks them as non-critical blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/Bytes.h"
#include "core/Guid.h"

namespace nox::image {

struct HoleRecord {
  core::Guid name;
  uint32_t imageOffset = 0;  // of the file header in the image
  uint32_t flashOffset = 0;  // of the same hole in the machine's flash, once it was matched
  uint32_t size = 0;         // the file's 24-bit size

  friend bool operator==(const HoleRecord&, const HoleRecord&) = default;
};

// The holes of one image in the order found: those of the main BIOS first, then those of
// the boot block. It grows as needed, so a range with more holes than any image may carry
// is still recorded whole before the caller refuses the image.
class HoleTable {
 public:
  // The 16 names run 05CA01FC-... to 05CA020B-...; only the first group differs.
  static bool IsRomHoleName(const core::Guid& name);

  void Clear();

  // Appends every ROM hole of the volumes in [start, start + length) of the image.
  void CollectRange(core::ByteSpan image, uint64_t start, uint64_t length);

  // Matches the holes found in [start, start + length) of a copy of the machine's flash
  // against records [cursor, limit): names and sizes must agree one for one and in order.
  // Matched records get their flash offset and move the cursor; once the cursor reaches
  // the limit the rest of that volume is ignored, but a hole in a later volume fails.
  bool MatchFlashRange(core::ByteSpan flash, uint64_t start, uint64_t length, size_t& cursor, size_t limit);

  // Looks for the holes of records [first, limit) by their own file headers (8-byte aligned,
  // header checksum valid) anywhere in the ranges of a copy of the machine's flash, for a
  // part whose volume headers an interrupted update erased. Found records get their flash
  // offset and are marked in `found` (indexed from `first`). False when what is there
  // cannot be this image's machine: a hole name the records lack, a size that differs, a
  // hole found twice or out of the records' order.
  bool LocateByFileHeaders(core::ByteSpan flash, std::span<const std::pair<uint64_t, uint64_t>> ranges, size_t first,
                           size_t limit, std::vector<bool>& found);

  void SetMainCount(size_t count) { mainCount_ = count; }
  size_t Count() const { return records_.size(); }
  size_t MainCount() const { return mainCount_; }
  size_t BootBlockCount() const { return records_.size() - mainCount_; }
  std::span<const HoleRecord> Records() const { return records_; }
  const HoleRecord& operator[](size_t index) const { return records_[index]; }

 private:
  std::vector<HoleRecord> records_;
  size_t mainCount_ = 0;
};

}  // namespace nox::image

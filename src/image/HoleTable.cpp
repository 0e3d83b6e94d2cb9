#include "image/HoleTable.h"

#include <algorithm>

#include "image/FirmwareVolumes.h"

namespace nox::image {

namespace {
constexpr uint32_t kFirstHole = 0x05CA01FC;
constexpr uint32_t kLastHole = 0x05CA020B;
const core::Guid kHoleNameBase = core::GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8");
}  // namespace

bool HoleTable::IsRomHoleName(const core::Guid& name) {
  return name.data1 >= kFirstHole && name.data1 <= kLastHole && name.data2 == kHoleNameBase.data2 &&
         name.data3 == kHoleNameBase.data3 && name.data4 == kHoleNameBase.data4;
}

void HoleTable::Clear() {
  records_.clear();
  mainCount_ = 0;
}

void HoleTable::CollectRange(core::ByteSpan image, uint64_t start, uint64_t length) {
  FirmwareVolumes::Scan(image, start, length, [&](const FirmwareFile& file) {
    if (IsRomHoleName(file.name)) {
      records_.push_back({file.name, static_cast<uint32_t>(file.offset), 0, file.size});
    }
    return WalkControl::kContinue;
  });
}

bool HoleTable::MatchFlashRange(core::ByteSpan flash, uint64_t start, uint64_t length, size_t& cursor,
                                size_t limit) {
  limit = std::min(limit, records_.size());
  bool matched = true;
  FirmwareVolumes::Scan(flash, start, length, [&](const FirmwareFile& file) {
    if (!IsRomHoleName(file.name)) return WalkControl::kContinue;
    // A hole beyond the image's own count is a mismatch like any other.
    if (cursor >= limit || records_[cursor].name != file.name || records_[cursor].size != file.size) {
      matched = false;
      return WalkControl::kEndScan;
    }
    records_[cursor].flashOffset = static_cast<uint32_t>(file.offset);
    ++cursor;
    return cursor == limit ? WalkControl::kEndVolume : WalkControl::kContinue;
  });
  return matched;
}

}  // namespace nox::image

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

bool HoleTable::LocateByFileHeaders(core::ByteSpan flash, std::span<const std::pair<uint64_t, uint64_t>> ranges,
                                    size_t first, size_t limit, std::vector<bool>& found) {
  limit = std::min(limit, records_.size());
  found.assign(limit > first ? limit - first : 0, false);
  size_t next = first;  // holes must turn up in the records' order
  for (const auto& [start, length] : ranges) {
    const uint64_t end = std::min<uint64_t>(flash.size(), start + length);
    for (uint64_t at = (start + 7) & ~uint64_t{7}; at + FirmwareFile::kHeaderSize <= end; at += 8) {
      const uint8_t* h = flash.data() + at;
      if (core::LoadLe32(h) < kFirstHole || core::LoadLe32(h) > kLastHole) continue;
      const auto header = flash.subspan(at, FirmwareFile::kHeaderSize);
      const core::Guid name = *core::Guid::FromBytes(header.first(core::Guid::kSize));
      // The file checksum and the state byte are outside the header's own checksum.
      if (!IsRomHoleName(name) || static_cast<uint8_t>(core::Sum8(header) - h[17] - h[23]) != 0) continue;
      const uint32_t size = core::LoadLe32(h + 20) & 0xFFFFFF;
      if (size < FirmwareFile::kHeaderSize || size > end - at) continue;
      const auto record = std::find_if(records_.begin() + first, records_.begin() + limit,
                                       [&](const HoleRecord& r) { return r.name == name; });
      const size_t index = static_cast<size_t>(record - records_.begin());
      if (record == records_.begin() + limit || record->size != size || index < next) return false;
      record->flashOffset = static_cast<uint32_t>(at);
      found[index - first] = true;
      next = index + 1;
      at += ((size + 7) & ~uint64_t{7}) - 8;  // the hole's own bytes are not searched
    }
  }
  return true;
}

}  // namespace nox::image

#include "platform/sim/Segments.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/Bytes.h"
#include "core/Format.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

using core::Format;

constexpr size_t kAsfLength = 14;     // signature, slot distance, unread bytes, port
constexpr size_t kEcbLength = 32;     // the fields end at 31; the texts follow
constexpr size_t kEcb1Length = 6;
constexpr size_t kSystemBlockLength = 32;
constexpr size_t kSlotLength = 4;

std::vector<uint8_t> Tag(const char* tag, size_t length) {
  std::vector<uint8_t> bytes(length, 0);
  std::memcpy(bytes.data(), tag, std::min(std::strlen(tag), length));
  return bytes;
}

bool Overlap(const SegmentRecord& a, const SegmentRecord& b) {
  const uint64_t aEnd = uint64_t{a.offset} + a.bytes.size();
  const uint64_t bEnd = uint64_t{b.offset} + b.bytes.size();
  return a.segment == b.segment && a.offset < bEnd && b.offset < aEnd;
}

std::string Extent(const SegmentRecord& r) {
  return Format("%s at 0x%X-0x%llX", r.what, r.offset,
                static_cast<unsigned long long>(uint64_t{r.offset} + r.bytes.size() - 1));
}

// The first offset at which the utility's search meets `signature`, if any.
std::optional<uint32_t> FirstMatch(const std::array<uint8_t, 0x10000>& segment, const char* signature) {
  for (uint32_t at = 0; at <= kLastSignatureOffset; ++at) {
    if (std::memcmp(segment.data() + at, signature, 4) == 0) return at;
  }
  return std::nullopt;
}

}  // namespace

std::vector<SegmentRecord> SegmentRecords(const Profile& p, uint16_t ecb1Flags) {
  std::vector<SegmentRecord> out;
  if (p.asf.present) {
    std::vector<uint8_t> rec = Tag("$ASF", kAsfLength);
    rec[4] = p.asf.slotDistance;
    core::StoreLe16(rec.data() + 12, p.asf.port);
    out.push_back({SegmentId::F, p.asf.offset, std::move(rec), "the \"$ASF\" record", "asf.offset", "$ASF"});
    out.push_back({SegmentId::F, p.asf.offset + p.asf.slotDistance, std::vector<uint8_t>(kSlotLength, 0),
                   "the address slot", "asf.slotDistance", nullptr, true});
  }
  if (p.identity.placement == IdentityPlacement::Segment) {
    std::vector<uint8_t> blocks = RunningIdentityBlocks(p.identity);
    std::vector<uint8_t> system = Tag("Korv System", 12);
    system.insert(system.end(), p.identity.systemName.begin(), p.identity.systemName.end());
    system.resize(kSystemBlockLength, 0);
    blocks.insert(blocks.end(), system.begin(), system.end());
    out.push_back({SegmentId::F, p.identity.offset, std::move(blocks), "the identity marker blocks",
                   "identity.offset", nullptr});
  }
  if (p.ecb.present) {
    std::vector<uint8_t> rec = Tag("$ECB", kEcbLength);
    rec[4] = p.ecb.flags;
    core::StoreLe32(rec.data() + 5, p.ecb.ecBlockStart);
    core::StoreLe32(rec.data() + 9, p.ecb.ecBlockSize);
    core::StoreLe16(rec.data() + 17, p.ecb.ecVersionOffset);
    core::StoreLe32(rec.data() + 19, p.ecb.ecVersionMask);
    // The refusal texts follow the record; their offsets count from the segment's start.
    // An offset that does not fit 16 bits makes the record reach past the view, which the
    // profile check refuses.
    for (size_t i = 0; i < p.ecb.messages.size() && i < 4; ++i) {
      const std::string& msg = p.ecb.messages[i];
      if (msg.empty()) continue;
      core::StoreLe16(rec.data() + 23 + 2 * i, static_cast<uint16_t>(p.ecb.offset + rec.size()));
      rec.insert(rec.end(), msg.begin(), msg.end());
      rec.push_back(0);
    }
    out.push_back({SegmentId::E, p.ecb.offset, std::move(rec), "the \"$ECB\" record and its texts", "ecb.offset",
                   "$ECB"});
  }
  if (p.ecb1.present) {
    std::vector<uint8_t> rec = Tag("ECB1", kEcb1Length);
    core::StoreLe16(rec.data() + 4, ecb1Flags);
    out.push_back({SegmentId::E, p.ecb1.offset, std::move(rec), "the \"ECB1\" record", "ecb1.offset", "ECB1"});
  }
  return out;
}

std::string CheckSegmentRecords(const Profile& p) {
  const std::vector<SegmentRecord> records = SegmentRecords(p, p.ecb1.flags);
  for (size_t i = 0; i < records.size(); ++i) {
    const SegmentRecord& r = records[i];
    if (uint64_t{r.offset} + r.bytes.size() > kSegmentViewLength) {
      return Format("%s: %s reaches past the 65535 bytes the utility maps of the segment", r.field,
                    Extent(r).c_str());
    }
    for (size_t j = 0; j < i; ++j) {
      if (r.addressSlot && j + 1 == i) {
        // Bytes 5 to 11 of the record carry nothing the utility reads; the slot may use them.
        const uint32_t d = p.asf.slotDistance;
        if (d < 5 || (d < 14 && d + kSlotLength > 12)) {
          return Format("asf.slotDistance: the address slot at +%u overlaps the record's own fields "
                        "(bytes 0-4 and 12-13)", d);
        }
      } else if (Overlap(r, records[j])) {
        return Format("%s: %s overlaps %s", r.field, Extent(r).c_str(), Extent(records[j]).c_str());
      }
    }
  }
  // The search takes the first match, so a signature inside an earlier record (a model
  // name, a refusal text) would hide the real one.
  std::array<uint8_t, 0x10000> e{}, f{};
  for (const SegmentRecord& r : records) {
    auto& segment = r.segment == SegmentId::E ? e : f;
    std::copy(r.bytes.begin(), r.bytes.end(), segment.begin() + r.offset);
  }
  for (const SegmentRecord& r : records) {
    if (r.signature == nullptr) continue;
    const auto found = FirstMatch(r.segment == SegmentId::E ? e : f, r.signature);
    if (found != r.offset) {
      return Format("%s: the utility's search finds \"%s\" first at 0x%X, not at the record's 0x%X", r.field,
                    r.signature, found.value_or(0), r.offset);
    }
  }
  return "";
}

}  // namespace nox::sim
